#include "iso9660/layout.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/console.h"

namespace {

DirectoryEntry* add_file(DirectoryNode* node, const std::string& name, uint32_t size) {
  auto entry = std::make_unique<DirectoryEntry>();
  entry->name = name;
  entry->host_name = name;
  entry->size = size;
  node->entries.push_back(std::move(entry));
  return node->entries.back().get();
}

DirectoryNode* add_folder(DirectoryNode* node, const std::string& name) {
  DirectoryEntry* entry = add_file(node, name, 0);
  entry->flags = ENTRY_DIRECTORY;
  node->children.push_back(new_directory_node(node, entry, node->path + name + "/", name,
                                              static_cast<uint16_t>(node->level + 1)));
  return node->children.back().get();
}

std::unique_ptr<DirectoryNode> empty_root() { return new_root_node(make_root_entry(0), "src/"); }

std::vector<std::string> entry_names(const DirectoryNode& node) {
  std::vector<std::string> names;
  for (const auto& entry : node.entries) names.push_back(entry->name);
  return names;
}

// The message a failing call prints and its status.
std::pair<int, std::string> failure_of(const std::function<void()>& action) {
  testing::internal::CaptureStderr();
  const int status = run_tool([&] {
    action();
    return 0;
  });
  return {status, testing::internal::GetCapturedStderr()};
}

TEST(NameOrder, DotSortsFirstAndPrefixesBeforeLongerNames) {
  auto root = empty_root();
  for (const char* name : {"A0", "AB.C", "A.B", "AB", "A", "A0.TXT", "A.TXT", "B"})
    add_file(root.get(), name, 0);
  size_directories(root.get());
  EXPECT_EQ(entry_names(*root),
            (std::vector<std::string>{"A", "A.B", "A.TXT", "A0", "A0.TXT", "AB", "AB.C", "B"}));
  EXPECT_TRUE(name_order_before("A.B", "A0"));
  EXPECT_FALSE(name_order_before("A0", "A.B"));
  EXPECT_FALSE(name_order_before("A", "A"));
}

TEST(DirectorySizing, ThirtyTwoSectorsAreTooManyFiles) {
  // 48-byte records: 41 in the first sector, 42 in each further one.
  auto root = empty_root();
  DirectoryNode* full = add_folder(root.get(), "FULL");
  for (int i = 0; i < 41 + 30 * 42; ++i)
    add_file(full, "F" + std::to_string(1000000 + i) + ".TXT", 0);
  size_directories(root.get());
  EXPECT_EQ(full->sector_count, 31);
  add_file(full, "G0000000.TXT", 0);
  const auto [status, err] = failure_of([&] { size_directories(root.get()); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "Error: Too many files in directory!\n\"src/FULL/\"\n");
}

TEST(ExtentAssignment, DirectoriesLevelByLevelThenFilesDepthFirst) {
  auto root = empty_root();
  DirectoryNode* b = add_folder(root.get(), "B");
  DirectoryNode* a = add_folder(root.get(), "A");
  DirectoryNode* a_deep = add_folder(a, "DEEP");
  DirectoryEntry* top = add_file(root.get(), "TOP.BIN", 2049);
  DirectoryEntry* empty = add_file(root.get(), "EMPTY", 0);
  DirectoryEntry* in_b = add_file(b, "INB", 2048);
  DirectoryEntry* in_deep = add_file(a_deep, "INDEEP", 1);
  DirectoryEntry* in_a = add_file(a, "INA", 4096);
  size_directories(root.get());
  // Root 10, A 10, B 10, DEEP 12.
  EXPECT_EQ(path_table_size(root.get()), 42u);
  const uint32_t volume_blocks = assign_extents(root.get(), 20);
  const std::vector<DirectoryNode*> order = directories_in_path_table_order(root.get());
  EXPECT_EQ(order, (std::vector<DirectoryNode*>{root.get(), a, b, a_deep}));
  EXPECT_EQ(root->extent, 20u);
  EXPECT_EQ(a->extent, 21u);
  EXPECT_EQ(b->extent, 22u);
  EXPECT_EQ(a_deep->extent, 23u);
  EXPECT_EQ(a->own_entry->extent, 21u);
  EXPECT_EQ(a_deep->directory_number, 4);
  // Root's files, then A's, then DEEP's, then B's.
  EXPECT_EQ(empty->extent, 0u);
  EXPECT_EQ(top->extent, 24u);
  EXPECT_EQ(in_a->extent, 26u);
  EXPECT_EQ(in_deep->extent, 28u);
  EXPECT_EQ(in_b->extent, 29u);
  EXPECT_EQ(volume_blocks, 30u);
}

TEST(VolumeLayoutTest, PathTableBeyond31SectorsIsRefusedBeforeExtentsAreSet) {
  auto root = empty_root();
  // 4,000 directories with names of 8 characters: 16 bytes each in the path table.
  for (int i = 0; i < 4; ++i) {
    DirectoryNode* group = add_folder(root.get(), "GROUP" + std::to_string(i));
    for (int j = 0; j < 1000; ++j) add_folder(group, "D" + std::to_string(1000000 + j));
  }
  const auto [status, err] = failure_of([&] { lay_out_volume(root.get()); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "Error: Path table exceeds 31 sectors (too many directories)!\n");
  EXPECT_EQ(root->extent, 0u);
}

}  // namespace

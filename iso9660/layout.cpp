#include "iso9660/layout.h"

#include <algorithm>

#include "common/console.h"
#include "iso9660/joliet.h"
#include "iso9660/records.h"
#include "iso9660/rock_ridge.h"

namespace {

// Bytes left in a directory's first sector after the "." and ".." records.
constexpr std::size_t kFirstSectorFree = ISO_BLOCK_SIZE - 2 * 34;

template <typename Item>
void sort_by_name(std::vector<std::unique_ptr<Item>>* list) {
  if (list->size() < 2) return;
  std::sort(list->begin(), list->end(),
            [](const std::unique_ptr<Item>& a, const std::unique_ptr<Item>& b) {
              return name_order_before(a->name, b->name);
            });
}

uint32_t sectors_for_entries(const DirectoryNode& node) {
  std::vector<std::size_t> lengths;
  lengths.reserve(node.entries.size());
  if (!format_of(node).rock_ridge) {
    for (const auto& entry : node.entries)
      lengths.push_back(directory_record_length(entry->name.size()));
    return pack_sectors(ISO_BLOCK_SIZE - kFirstSectorFree, lengths);
  }
  for (const auto& entry : node.entries)
    lengths.push_back(rock_ridge_record_length(node, entry.get(), RecordRole::Entry));
  return pack_sectors(rock_ridge_record_length(node, nullptr, RecordRole::Self) +
                          rock_ridge_record_length(node, nullptr, RecordRole::Parent),
                      lengths);
}

void collect_level(DirectoryNode* node, std::vector<std::vector<DirectoryNode*>>* levels) {
  if (levels->size() < node->level) levels->resize(node->level);
  (*levels)[node->level - 1].push_back(node);
  for (const auto& child : node->children) collect_level(child.get(), levels);
}

void assign_file_extents(DirectoryNode* node, uint64_t* next_block) {
  for (const auto& entry : node->entries) {
    if (entry->flags & ENTRY_DIRECTORY) continue;
    if (entry->size == 0) {
      entry->extent = 0;
      continue;
    }
    entry->extent = static_cast<uint32_t>(*next_block);
    *next_block += blocks_of(entry->size);
  }
  for (const auto& child : node->children) assign_file_extents(child.get(), next_block);
}

}  // namespace

bool name_order_before(const std::string& a, const std::string& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const auto x = static_cast<signed char>(a[i]);
    const auto y = static_cast<signed char>(b[i]);
    if (x == y) continue;
    if (x == '.') return true;
    if (y == '.') return false;
    return x < y;
  }
  return a.size() < b.size();
}

uint32_t pack_sectors(std::size_t dot_bytes, const std::vector<std::size_t>& record_lengths) {
  std::size_t free_bytes = ISO_BLOCK_SIZE - dot_bytes;
  uint32_t sectors = 1;
  for (const std::size_t length : record_lengths) {
    if (length > free_bytes) {
      ++sectors;
      free_bytes = ISO_BLOCK_SIZE;
    }
    free_bytes -= length;
  }
  return sectors;
}

std::size_t directory_record_length(std::size_t name_length) {
  return (name_length & ~std::size_t{1}) + 36;
}

uint32_t max_directory_sectors(const VolumeFormat& format) {
  return format.joliet || format.rock_ridge ? MAX_EXTENDED_DIRECTORY_SECTORS : MAX_EXTENT_SECTORS;
}

std::size_t max_directory_entries(const VolumeFormat& format) {
  return MAX_DIRECTORY_ENTRIES +
         (max_directory_sectors(format) - MAX_EXTENT_SECTORS) * (ISO_BLOCK_SIZE / 36);
}

uint32_t blocks_of(uint32_t size) {
  return static_cast<uint32_t>((uint64_t{size} + ISO_BLOCK_SIZE - 1) / ISO_BLOCK_SIZE);
}

void fail_too_many_files(const std::string& path) {
  fail_with(format_text("Error: Too many files in directory!\n\"%s\"\n", path.c_str()));
}

void size_directory(DirectoryNode* node) {
  sort_by_name(&node->entries);
  sort_by_name(&node->children);
  const uint32_t sectors = sectors_for_entries(*node);
  if (sectors > max_directory_sectors(format_of(*node))) fail_too_many_files(node->path);
  node->sector_count = static_cast<uint16_t>(sectors);
  node->own_entry->size = sectors * static_cast<uint32_t>(ISO_BLOCK_SIZE);
  if (format_of(*node).joliet && !node->relocation_directory) size_joliet_directory(node);
}

void size_directories(DirectoryNode* root) {
  size_directory(root);
  for (const auto& child : root->children) size_directories(child.get());
}

uint32_t path_table_record_length(const std::string& name) {
  const std::size_t length = name.size();
  return static_cast<uint32_t>(8 + length + (length & 1));
}

uint32_t path_table_size(const DirectoryNode* root) {
  uint32_t bytes = path_table_record_length(root->name);
  for (const auto& child : root->children) bytes += path_table_size(child.get());
  return bytes;
}

void check_path_table_bytes(uint64_t bytes) {
  if (bytes > MAX_PATH_TABLE_BYTES)
    fail_with("Error: Path table exceeds 31 sectors (too many directories)!\n");
}

void check_volume_blocks(uint64_t blocks) {
  if (blocks > MAX_VOLUME_BLOCKS) fail_with("Error: Volume exceeds 4294967295 blocks!\n");
}

std::vector<DirectoryNode*> directories_in_path_table_order(DirectoryNode* root) {
  std::vector<std::vector<DirectoryNode*>> levels;
  collect_level(root, &levels);
  std::vector<DirectoryNode*> order;
  for (const auto& level : levels) order.insert(order.end(), level.begin(), level.end());
  return order;
}

uint64_t assign_directory_extents(DirectoryNode* root, uint64_t next_block) {
  uint16_t number = 0;
  for (DirectoryNode* node : directories_in_path_table_order(root)) {
    node->extent = static_cast<uint32_t>(next_block);
    node->own_entry->extent = node->extent;
    node->directory_number = ++number;
    next_block += node->sector_count;
  }
  check_volume_blocks(next_block);
  return next_block;
}

uint32_t assign_extents(DirectoryNode* root, uint32_t first_directory_block) {
  uint64_t next_block = assign_directory_extents(root, first_directory_block);
  assign_file_extents(root, &next_block);
  check_volume_blocks(next_block);
  return static_cast<uint32_t>(next_block);
}

uint32_t continuation_blocks(const VolumeLayout& layout, uint32_t first_block) {
  ContinuationPool pool(first_block, false);
  std::vector<uint8_t> extent;
  for (const DirectoryNode* node : layout.directory_order) {
    extent.assign(node->sector_count * ISO_BLOCK_SIZE, 0);
    build_directory_extent(*node, extent.data(), &pool);
  }
  return pool.blocks();
}

VolumeLayout lay_out_volume(DirectoryNode* root, uint32_t origin) {
  const VolumeFormat& format = format_of(*root);
  size_directories(root);
  VolumeLayout layout;
  layout.origin = origin;
  layout.path_table_bytes = path_table_size(root);
  check_path_table_bytes(layout.path_table_bytes);
  // The descriptor set: primary, boot record, Joliet, terminator.
  uint32_t next = PRIMARY_DESCRIPTOR_BLOCK + 1;
  if (format.bootable()) layout.boot_record_block = next++;
  if (format.joliet) layout.joliet_descriptor_block = next++;
  layout.terminator_block = next++;
  // Descriptors sit at their places in the volume; every address recorded
  // counts from the disc block where the volume begins.
  layout.l_table_block = origin + next;
  layout.path_table_blocks = blocks_of(layout.path_table_bytes);
  layout.m_table_block = layout.l_table_block + layout.path_table_blocks;
  next = layout.m_table_block + layout.path_table_blocks;
  if (format.joliet) next = lay_out_joliet_tables(root, next, &layout.joliet);
  layout.root_extent = next;
  uint64_t next_block = assign_directory_extents(root, layout.root_extent);
  layout.directory_order = directories_in_path_table_order(root);
  if (format.rock_ridge) {
    layout.continuation_block = static_cast<uint32_t>(next_block);
    layout.continuation_blocks = continuation_blocks(layout, layout.continuation_block);
    next_block += layout.continuation_blocks;
  }
  if (format.joliet) next_block = assign_joliet_extents(layout.joliet, next_block);
  check_volume_blocks(next_block);
  assign_file_extents(root, &next_block);
  check_volume_blocks(next_block);
  layout.volume_blocks = static_cast<uint32_t>(next_block - origin);
  return layout;
}

// Volumes built from trees on disk into memory, read back field by field.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

#include "common/console.h"
#include "iso9660/emit.h"
#include "iso9660/image_sink.h"
#include "iso9660/records.h"
#include "support/scratch_tree.h"
#include "volume_reader.h"

namespace {

// Collects the volume and checks what every sink may rely on.
class MemorySink : public BlockSink {
 public:
  void append(const uint8_t* data, std::size_t length) override {
    EXPECT_EQ(length % ISO_BLOCK_SIZE, 0u);
    EXPECT_LE(length, MAX_PIECE_BYTES);
    EXPECT_GT(length, 0u);
    bytes.insert(bytes.end(), data, data + length);
  }
  std::vector<uint8_t> bytes;
};

struct Built {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<uint8_t> volume;
  VolumeLayout layout;
  std::unique_ptr<DirectoryNode> root;
};

// 2024-03-05 06:07:08 UTC.
constexpr std::time_t kNow = 1709618828;

Built build(const std::string& source, ScanOptions options = {}, const std::string& label = "",
            const std::function<void()>& before_emission = {}) {
  Built built;
  options.now = kNow;
  MemorySink sink;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  built.status = run_tool([&] {
    built.root = scan_tree(source, options);
    built.layout = lay_out_volume(built.root.get());
    if (before_emission) before_emission();
    emit_volume(built.layout, *built.root, label, &sink, true);
    return 0;
  });
  built.out = testing::internal::GetCapturedStdout();
  built.err = testing::internal::GetCapturedStderr();
  built.volume = std::move(sink.bytes);
  if (built.status == 0) {
    EXPECT_EQ(built.volume.size(), std::size_t{built.layout.volume_blocks} * 2048);
  }
  return built;
}

std::vector<ReadRecord> root_directory(const Built& built) {
  return read_directory(built.volume, le32_at(built.volume, 16 * 2048 + 158),
                        le32_at(built.volume, 16 * 2048 + 166) / 2048);
}

std::vector<uint8_t> extent_bytes(const std::vector<uint8_t>& volume, const ReadRecord& record) {
  const auto begin =
      volume.begin() + static_cast<std::ptrdiff_t>(std::size_t{record.extent} * 2048);
  return std::vector<uint8_t>(begin, begin + record.size);
}

class TimeZone {
 public:
  explicit TimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) {
      saved_ = old;
      had_ = true;
    }
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZone() {
    had_ ? setenv("TZ", saved_.c_str(), 1) : unsetenv("TZ");
    tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

TEST(Volume, EmptyDirectoryMakesTwentyOneBlocks) {
  TimeZone zone("UTC0");
  ScratchTree tree;
  const Built built = build(tree.path() + "/", {}, "MY_LABEL");
  ASSERT_EQ(built.status, 0) << built.err;
  const std::vector<uint8_t>& v = built.volume;
  ASSERT_EQ(v.size(), 21u * 2048);
  for (std::size_t i = 0; i < 16 * 2048; ++i) ASSERT_EQ(v[i], 0) << i;
  const std::size_t pvd = 16 * 2048;
  EXPECT_EQ(text_at(v, pvd, 7), std::string("\x01"
                                            "CD001\x01",
                                            7));
  EXPECT_EQ(text_at(v, pvd + 8, 32), std::string(32, ' '));
  EXPECT_EQ(text_at(v, pvd + 40, 32), "MY_LABEL" + std::string(24, ' '));
  EXPECT_EQ(both32_at(v, pvd + 80), 21u);
  EXPECT_EQ(le16_at(v, pvd + 120), 1u);
  EXPECT_EQ(be16_at(v, pvd + 126), 1u);
  EXPECT_EQ(le16_at(v, pvd + 128), 2048u);
  EXPECT_EQ(both32_at(v, pvd + 132), 10u);
  EXPECT_EQ(le32_at(v, pvd + 140), 18u);
  EXPECT_EQ(be32_at(v, pvd + 148), 19u);
  // Root record: extent 20, one sector, recorded at the scan's time.
  EXPECT_EQ(v[pvd + 156], 34);
  EXPECT_EQ(both32_at(v, pvd + 158), 20u);
  EXPECT_EQ(both32_at(v, pvd + 166), 2048u);
  EXPECT_EQ(text_at(v, pvd + 174, 7), std::string("\x7c\x03\x05\x06\x07\x08\x00", 7));
  EXPECT_EQ(v[pvd + 181], 0x02);
  EXPECT_EQ(text_at(v, pvd + 446, 28), "ISO9660 Image File Formatter");
  EXPECT_EQ(text_at(v, pvd + 446, 128).find_last_not_of(' ') + 1,
            std::string(DATA_PREPARER_TEXT).size());
  EXPECT_EQ(text_at(v, pvd + 813, 17), std::string("2024030506070800\0", 17));
  EXPECT_EQ(text_at(v, pvd + 830, 17), std::string("2024030506070800\0", 17));
  EXPECT_EQ(text_at(v, pvd + 847, 17), std::string("0000000000000000\0", 17));
  EXPECT_EQ(v[pvd + 881], 1);
  EXPECT_EQ(text_at(v, 17 * 2048, 7), std::string("\xff"
                                                  "CD001\x01",
                                                  7));
  // Path tables: the root alone, little- and big-endian.
  EXPECT_EQ(text_at(v, 18 * 2048, 10), std::string("\x01\x00\x14\x00\x00\x00\x01\x00\x00\x00", 10));
  EXPECT_EQ(text_at(v, 19 * 2048, 10), std::string("\x01\x00\x00\x00\x00\x14\x00\x01\x00\x00", 10));
  const std::vector<ReadRecord> root = root_directory(built);
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].identifier, std::string(1, '\0'));
  EXPECT_EQ(root[1].identifier, std::string(1, '\1'));
  EXPECT_EQ(root[1].extent, 20u);
  EXPECT_EQ(root[1].size, 2048u);
  EXPECT_EQ(built.out, "");
}

TEST(Volume, FilesTakeWholeBlocksAndHoldTheirBytes) {
  ScratchTree tree;
  tree.write_file("src/exact.bin", 2048, 1);
  tree.write_file("src/over.bin", 2049, 2);
  tree.write_file("src/empty.txt", 0);
  tree.write_file("src/big.bin", 200000, 3);
  const Built built = build(tree / "src/");
  ASSERT_EQ(built.status, 0) << built.err;
  const std::vector<ReadRecord> root = root_directory(built);
  EXPECT_EQ(names_in(root),
            (std::vector<std::string>{"BIG.BIN", "EMPTY.TXT", "EXACT.BIN", "OVER.BIN"}));
  const ReadRecord big = find_record(root, "BIG.BIN");
  const ReadRecord empty = find_record(root, "EMPTY.TXT");
  const ReadRecord exact = find_record(root, "EXACT.BIN");
  const ReadRecord over = find_record(root, "OVER.BIN");
  EXPECT_EQ(big.extent, 21u);
  EXPECT_EQ(empty.extent, 0u);
  EXPECT_EQ(empty.size, 0u);
  EXPECT_EQ(exact.extent, 21u + 98);
  EXPECT_EQ(over.extent, exact.extent + 1);
  EXPECT_EQ(built.layout.volume_blocks, over.extent + 2);
  EXPECT_EQ(extent_bytes(built.volume, big), read_file_bytes(tree / "src/big.bin"));
  EXPECT_EQ(extent_bytes(built.volume, exact), read_file_bytes(tree / "src/exact.bin"));
  EXPECT_EQ(extent_bytes(built.volume, over), read_file_bytes(tree / "src/over.bin"));
  // The identifier length counts the name; ";1" follows it inside the record.
  EXPECT_EQ(over.length, 44u);
  EXPECT_EQ(over.after_identifier, std::string(";1\0", 3));
  EXPECT_EQ(big.after_identifier, std::string(";1", 2));
  EXPECT_EQ(over.flags, 0);
  // Logged paths, in file order, as the host names them.
  EXPECT_EQ(built.out, tree / "src/big.bin\n" + tree / "src/empty.txt\n" +
                           tree / "src/exact.bin\n" + tree / "src/over.bin\n");
}

TEST(Volume, ARecordThatDoesNotFitStartsTheNextSector) {
  ScratchTree tree;
  for (int i = 0; i < 46; ++i) tree.write_file("src/FILE" + std::to_string(1000 + i), 0);
  const Built built = build(tree / "src/");
  ASSERT_EQ(built.status, 0) << built.err;
  const std::vector<ReadRecord> root = read_directory(built.volume, 20, 2);
  ASSERT_EQ(root.size(), 48u);
  EXPECT_EQ(root[46].offset, 20u * 2048 + 68 + 44 * 44);
  EXPECT_EQ(root[46].offset + 44, 21u * 2048);  // the first sector is full to its last byte
  EXPECT_EQ(root[47].offset, 21u * 2048);
  EXPECT_EQ(root[47].identifier, "FILE1045");
  EXPECT_EQ(root[0].size, 4096u);
}

TEST(Volume, DirectoriesCarryTheirExtentsAndPathTableOrder) {
  TimeZone zone("UTC0");
  ScratchTree tree;
  tree.write_file("src/b/one.txt", 10);
  tree.write_file("src/a/deep/two.txt", 20);
  tree.write_text("src/top.txt", "top");
  tree.set_time("src/a", 1000000000);  // 2001-09-09 01:46:40
  ScanOptions options;
  options.recurse = true;
  const Built built = build(tree / "src/", options);
  ASSERT_EQ(built.status, 0) << built.err;
  const std::vector<uint8_t>& v = built.volume;
  const std::vector<ReadRecord> root = root_directory(built);
  EXPECT_EQ(names_in(root), (std::vector<std::string>{"A", "B", "TOP.TXT"}));
  const ReadRecord a = find_record(root, "A");
  EXPECT_EQ(a.flags, 0x02);
  EXPECT_EQ(a.extent, 21u);
  EXPECT_EQ(a.size, 2048u);
  EXPECT_EQ(a.after_identifier, ";1");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.date), 7),
            std::string("\x65\x09\x09\x01\x2e\x28\x00", 7));
  EXPECT_EQ(find_record(root, "B").extent, 22u);
  // "." of A carries A's own date; ".." the root's extent with A's date.
  const std::vector<ReadRecord> in_a = read_directory(v, 21, 1);
  EXPECT_EQ(in_a[0].extent, 21u);
  EXPECT_EQ(in_a[1].extent, 20u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(in_a[1].date), 7),
            std::string(reinterpret_cast<const char*>(a.date), 7));
  EXPECT_EQ(find_record(in_a, "DEEP").extent, 23u);
  // Path table: root, A, B (level 2), DEEP (level 3, parent 2).
  EXPECT_EQ(built.layout.path_table_bytes, 10u + 10 + 10 + 12);
  EXPECT_EQ(text_at(v, 18 * 2048 + 10, 10), std::string("\x01\x00\x15\x00\x00\x00\x01\x00"
                                                        "A\x00",
                                                        10));
  EXPECT_EQ(text_at(v, 18 * 2048 + 30, 12), std::string("\x04\x00\x17\x00\x00\x00\x02\x00"
                                                        "DEEP",
                                                        12));
  EXPECT_EQ(text_at(v, 19 * 2048 + 30, 12), std::string("\x04\x00\x00\x00\x00\x17\x00\x02"
                                                        "DEEP",
                                                        12));
}

TEST(Volume, WithoutRecursionSubdirectoriesAreLeftOutEntirely) {
  ScratchTree tree;
  tree.write_file("src/sub/inner.txt", 10);
  tree.write_file("src/outer.txt", 10);
  const Built built = build(tree / "src/");
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(names_in(root_directory(built)), (std::vector<std::string>{"OUTER.TXT"}));
  EXPECT_EQ(built.layout.path_table_bytes, 10u);
  EXPECT_EQ(built.layout.volume_blocks, 22u);
}

TEST(Volume, HiddenAndSystemFilesOnlyWhenAskedAndSpecialFilesAreNeverOpened) {
  ScratchTree tree;
  tree.write_file("src/plain.txt", 5);
  tree.write_file("src/.secret", 5);
  tree.write_file("src/.hid/inside.txt", 5);
  ASSERT_EQ(mkfifo((tree / "src/pipe").c_str(), 0600), 0);  // opening it would block
  ASSERT_EQ(symlink("nowhere", (tree / "src/dangling").c_str()), 0);
  ScanOptions options;
  options.recurse = true;
  Built built = build(tree / "src/", options);
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(names_in(root_directory(built)), (std::vector<std::string>{"PLAIN.TXT"}));

  options.include_hidden = true;
  built = build(tree / "src/", options);
  ASSERT_EQ(built.status, 0) << built.err;
  std::vector<ReadRecord> root = root_directory(built);
  EXPECT_EQ(names_in(root), (std::vector<std::string>{"HID", "PLAIN.TXT", "SECRET"}));
  EXPECT_EQ(find_record(root, "SECRET").flags, 0x01);
  EXPECT_EQ(find_record(root, "HID").flags, 0x03);

  options.include_system = true;
  built = build(tree / "src/", options);
  ASSERT_EQ(built.status, 0) << built.err;
  root = root_directory(built);
  EXPECT_EQ(names_in(root),
            (std::vector<std::string>{"DANGLING", "HID", "PIPE", "PLAIN.TXT", "SECRET"}));
  EXPECT_EQ(find_record(root, "PIPE").size, 0u);
  EXPECT_EQ(find_record(root, "PIPE").extent, 0u);
  EXPECT_EQ(built.out.find("pipe"), std::string::npos);
}

TEST(Volume, DepthEightIsTheLimitAndNineStopsTheScan) {
  ScratchTree tree;
  tree.write_file("src/2/3/4/5/6/7/8/deepest.txt", 3);
  ScanOptions options;
  options.recurse = true;
  Built built = build(tree / "src/", options);
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.layout.directory_order.size(), 8u);
  EXPECT_EQ(built.layout.directory_order.back()->level, 8);

  tree.make_folder("src/2/3/4/5/6/7/8/9");
  built = build(tree / "src/", options);
  EXPECT_EQ(built.status, 1);
  EXPECT_EQ(built.err,
            "Error: Directory depth exceeds 8 levels!\n\"" + tree / "src/2/3/4/5/6/7/8/9/\"\n");
  EXPECT_TRUE(built.volume.empty());
  // Without recursion the deep tree is no concern.
  built = build(tree / "src/");
  EXPECT_EQ(built.status, 0);
}

TEST(Volume, LinksAreFollowedButNeverBackIntoTheirAncestry) {
  ScratchTree tree;
  tree.write_text("src/a/file.txt", "data");
  ASSERT_EQ(symlink("..", (tree / "src/a/up").c_str()), 0);
  ASSERT_EQ(symlink("a/file.txt", (tree / "src/alias.txt").c_str()), 0);
  ScanOptions options;
  options.recurse = true;
  const Built built = build(tree / "src/", options);
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(
      built.err,
      "Warning: \"" + tree / "src/a/up/\" leads back into its own ancestry; it is not descended\n");
  EXPECT_EQ(names_in(root_directory(built)), (std::vector<std::string>{"A", "ALIAS.TXT"}));
  const std::vector<ReadRecord> alias = root_directory(built);
  EXPECT_EQ(extent_bytes(built.volume, find_record(alias, "ALIAS.TXT")),
            read_file_bytes(tree / "src/a/file.txt"));
}

TEST(Volume, DatesAreModificationTimesInLocalTime) {
  TimeZone zone("XYZ-3");  // three hours east of Greenwich
  ScratchTree tree;
  tree.write_text("src/f.txt", "x");
  tree.set_time("src/f.txt", 1000000000);  // 2001-09-09 01:46:40 UTC
  const Built built = build(tree / "src/");
  ASSERT_EQ(built.status, 0) << built.err;
  const ReadRecord file = find_record(root_directory(built), "F.TXT");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.date), 7),
            std::string("\x65\x09\x09\x04\x2e\x28\x00", 7));
  EXPECT_EQ(text_at(built.volume, 16 * 2048 + 813, 16), "2024030509070800");
}

TEST(Volume, AFileSwappedForAFifoAfterTheScanIsRefusedWithoutWaiting) {
  ScratchTree tree;
  tree.write_file("src/data.bin", 3000);
  tree.write_file("src/later.bin", 10);
  const auto swap = [&] {
    ASSERT_EQ(unlink((tree / "src/data.bin").c_str()), 0);
    ASSERT_EQ(mkfifo((tree / "src/data.bin").c_str(), 0600),
              0);  // no writer: a blocking open waits forever
  };
  Built built = build(tree / "src/", {}, "", swap);
  EXPECT_EQ(built.status, 1);
  EXPECT_EQ(built.err,
            "\nError: Unable to open \"" + tree / "src/data.bin\"\nNot a regular file\n");
  EXPECT_EQ(built.out, "");

  // The check before any output is begun finds it the same way.
  ASSERT_EQ(unlink((tree / "src/data.bin").c_str()), 0);
  tree.write_file("src/data.bin", 3000);
  built = build(tree / "src/", {}, "", [&] {
    swap();
    check_files_readable(*built.root);
  });
  EXPECT_EQ(built.status, 1);
  EXPECT_EQ(built.err,
            "\nError: Unable to open \"" + tree / "src/data.bin\"\nNot a regular file\n");
  EXPECT_TRUE(built.volume.empty());
}

TEST(Volume, AFileThatChangedSizeStillFillsExactlyItsBlocks) {
  ScratchTree tree;
  tree.write_file("src/grows.bin", 3000, 1);
  tree.write_file("src/shrinks.bin", 70000, 2);
  tree.write_file("src/z_after.bin", 100, 3);
  const std::vector<uint8_t> grows_before = read_file_bytes(tree / "src/grows.bin");
  const Built built = build(tree / "src/", {}, "", [&] {
    tree.write_file("src/grows.bin", 9000, 1);
    tree.write_file("src/shrinks.bin", 5000, 2);
  });
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(
      built.err,
      "Warning: \"" +
          tree / "src/grows.bin\" grew since the scan; only its first 3000 bytes are copied\n" +
          "Warning: \"" +
          tree / "src/shrinks.bin\" shrank since the scan; its blocks are padded with zeros\n");
  const std::vector<ReadRecord> root = root_directory(built);
  const ReadRecord grows = find_record(root, "GROWS.BIN");
  const ReadRecord shrinks = find_record(root, "SHRINKS.BIN");
  EXPECT_EQ(grows.size, 3000u);
  EXPECT_EQ(extent_bytes(built.volume, grows), grows_before);
  EXPECT_EQ(shrinks.size, 70000u);
  std::vector<uint8_t> expected = read_file_bytes(tree / "src/shrinks.bin");
  expected.resize(70000, 0);
  EXPECT_EQ(extent_bytes(built.volume, shrinks), expected);
  // The next file is still where the layout put it.
  EXPECT_EQ(extent_bytes(built.volume, find_record(root, "Z_AFTER.BIN")),
            read_file_bytes(tree / "src/z_after.bin"));
}

// An image file holds exactly the volume a sink in memory receives, whether
// its file data went file to file or through memory: over an older, longer
// image, and with files that shrank to the middle of a block or grew after
// the scan.
TEST(Volume, AnImageFileHoldsTheVolumeThatMemoryReceives) {
  const struct {
    const char* why;
    uint64_t old_image_bytes;  // 0: no image before
    bool change_files;
  } cases[] = {{"a new image", 0, false},
               {"over a longer image", 900000, false},
               {"files changed after the scan", 0, true},
               {"files changed, over a longer image", 900000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchTree tree;
    tree.write_file("src/big.bin", 300001, 1);
    tree.write_file("src/shrinks.bin", 70000, 2);
    tree.write_file("src/grows.bin", 4096, 3);
    tree.write_file("src/small.bin", 100, 4);
    if (c.old_image_bytes != 0) tree.write_file("out.iso", c.old_image_bytes, 5);
    // One scan for both sinks: the files change between it and the emissions.
    MemorySink memory;
    testing::internal::CaptureStderr();
    const int status = run_tool([&] {
      ScanOptions options;
      options.now = kNow;
      const auto root = scan_tree(tree / "src/", options);
      const VolumeLayout layout = lay_out_volume(root.get());
      if (c.change_files) {
        tree.write_file("src/shrinks.bin", 5000, 2);
        tree.write_file("src/grows.bin", 9000, 3);
      }
      emit_volume(layout, *root, "", &memory, false);
      ImageFileSink file(tree / "out.iso", false);
      emit_volume(layout, *root, "", &file, false);
      file.finish();
      return 0;
    });
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0) << err;
    EXPECT_EQ(err.find("shrank") != std::string::npos, c.change_files) << err;
    EXPECT_EQ(read_file_bytes(tree / "out.iso"), memory.bytes);
  }
}

TEST(Volume, AnUnreadableSourceIsAnErrorAndAnUnreadableSubdirectoryIsLeftEmpty) {
  ScratchTree tree;
  Built built = build(tree / "missing/");
  EXPECT_EQ(built.status, 1);
  EXPECT_EQ(built.err, "Error: Unable to read directory \"" + tree / "missing/\"\n");
  EXPECT_TRUE(built.volume.empty());

  // A subdirectory whose path grows too long to be opened, which even the
  // superuser cannot read.
  tree.write_file("src/sub/lost.txt", 5);
  std::string source = tree / "src/";
  while (source.size() + 2 <= 4094) source += "./";
  ScanOptions options;
  options.recurse = true;
  built = build(source, options);
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(built.err,
            "Warning: Unable to read directory \"" + source + "sub/\"; it is left empty\n");
  EXPECT_EQ(names_in(root_directory(built)), (std::vector<std::string>{"SUB"}));
  EXPECT_EQ(read_directory(built.volume, 21, 1).size(), 2u);
}

TEST(Volume, FilesOfFourGibibytesAreRefusedBeforeAnythingIsProduced) {
  ScratchTree tree;
  tree.write_file("src/small.txt", 5);
  ASSERT_EQ(truncate((tree / "src/small.txt").c_str(), 0x100000000LL), 0);  // a sparse 4 GiB file
  Built built = build(tree / "src/");
  EXPECT_EQ(built.status, 1);
  EXPECT_EQ(built.err,
            "Error: File \"" +
                tree / "src/small.txt\" is 4 GiB or larger; an ISO9660 volume cannot hold it!\n");
  EXPECT_TRUE(built.volume.empty());
  // A hidden one that is left out is no concern.
  ASSERT_EQ(rename((tree / "src/small.txt").c_str(), (tree / "src/.huge").c_str()), 0);
  built = build(tree / "src/");
  EXPECT_EQ(built.status, 0) << built.err;
}

}  // namespace

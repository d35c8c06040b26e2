// volbuild run as a user runs it; its images read back by ISO9660 readers
// that no one here wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

#include "common/sector.h"
#include "common/timecode.h"
#include "iso9660/layout.h"
#include "support/patterns.h"
#include "support/scratch_tree.h"
#include "support/sector_checks.h"

namespace {

ProgramRun volbuild(const std::vector<std::string>& arguments, const std::string& folder = "") {
  return run_program("volbuild", arguments, folder);
}

// Little-endian 32-bit field of an image file.
uint32_t image_le32(const std::vector<uint8_t>& image, std::size_t offset) {
  return image.at(offset) | (uint32_t{image.at(offset + 1)} << 8) |
         (uint32_t{image.at(offset + 2)} << 16) | (uint32_t{image.at(offset + 3)} << 24);
}

const char kUsage[] =
    "VOLBUILD.EXE - Version 2.4A (November 1996)\n"
    "\n"
    "Usage: VOLBUILD <pathname> <isofile> [/BATCH] [/RAW] [/RECURSE]\n"
    "         [/VOLUME=label] [/HIDDEN] [/SYSTEM]\n"
    "         [/JOLIET] [/ROCKRIDGE] [/KEEPOWNERS] [/BOOT=path] [/BOOTLOAD=n] [/BOOTINFO]\n"
    "pathname - Directory pathname (must end with '/')\n"
    "isofile  - Output ISO9660 image filename\n"
    "/BATCH   - Disable all logging messages\n"
    "/RAW     - Generate raw data sectors\n"
    "/RECURSE - Recurse all subdirectories\n"
    "/VOLUME  - Volume label (maximum 32 characters)\n"
    "/HIDDEN  - Process \"hidden\" files\n"
    "/SYSTEM  - Process \"system\" files\n"
    "/JOLIET      - Add Joliet names (up to 64 Unicode characters)\n"
    "/ROCKRIDGE   - Add Rock Ridge names, modes, times, links, deep trees\n"
    "/KEEPOWNERS  - Keep owners and modes as they are (Rock Ridge only)\n"
    "/BOOT=path   - Boot image (path in the tree) for El Torito booting\n"
    "/BOOTLOAD=n  - 512-byte sectors the BIOS loads (default is 4)\n"
    "/BOOTINFO    - Patch a boot information table into the boot image\n"
    "e.g. VOLBUILD /DIR1/DIR2/ TEST.ISO\n"
    "e.g. VOLBUILD /TEST/ TEST.ISO /RECURSE /VOLUME=MY_FILES\n"
    "e.g. VOLBUILD /TEST/ TEST.ISO /RECURSE /JOLIET /ROCKRIDGE\n";

TEST(VolbuildTool, UsageScreenAndCommandLineFaults) {
  ScratchTree tree;
  tree.make_folder("src");
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    std::string err;
  };
  const std::vector<Case> cases = {
      {{}, kUsage, ""},
      {{"/?"}, kUsage, ""},
      {{"src/", "/batch", "/?"}, kUsage, ""},
      {{"/BATCH"}, "", "Error: Filename must be specified!\n"},
      {{"src/"}, "", "Error: ISO filename must be specified!\n"},
      {{"src/", "a.iso", "b.iso"}, "", "Too many parameters - b.iso\n"},
      {{"src/", "a.iso", "/Fast"}, "", "Invalid switch - /Fast\n"},
      {{"src/", "a.iso", "/VOLUME"}, "", "Error: Illegal /VOLUME format!\n"},
      {{"src/", "a.iso", "/volumes"}, "", "Error: Illegal /VOLUME format!\n"},
      {{"src/", "a.iso", "/VOLUME=" + std::string(33, 'x'), "/Fast"},
       "",
       "Error: Volume label is too long!\n"},
      {{"src", "a.iso"}, "", "Error: Invalid pathname specification!\n"},
      {{"src/a.txt", "a.iso"}, "", "Error: Invalid pathname specification!\n"},
      {{"missing/", "a.iso"}, "", "Error: Unable to read directory \"missing/\"\n"},
      {{"src/", "nowhere/a.iso"},
       "",
       "Error: Unable to create ISO9660 image file \"nowhere/a.iso\"\nNo such file or directory\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun result = volbuild(c.arguments, tree.path());
    EXPECT_EQ(result.status, 1) << c.err;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_FALSE(file_exists(tree / "a.iso")) << c.err;
  }
}

TEST(VolbuildTool, LogsEachFileAndBatchIsSilent) {
  ScratchTree tree;
  tree.write_file("src/b.txt", 10);
  tree.write_file("src/A.txt", 3000);
  tree.write_file("src/sub/c.txt", 5);
  ProgramRun result = volbuild({"src/", "out.iso", "/RECURSE"}, tree.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "src/A.txt\nsrc/b.txt\nsrc/sub/c.txt\n");
  EXPECT_EQ(result.err, "");
  const std::vector<uint8_t> image = read_file_bytes(tree / "out.iso");
  // Root at 20, SUB at 21, then 2 + 1 + 1 blocks of files.
  EXPECT_EQ(image_le32(image, 16 * 2048 + 80), 26u);
  EXPECT_EQ(image.size(), 26u * 2048);

  result = volbuild({"src/", "out.iso", "/batch"}, tree.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(read_file_bytes(tree / "out.iso").size(), 24u * 2048);
}

TEST(VolbuildTool, LabelsAreUpperCaseAndAtMost32Characters) {
  ScratchTree tree;
  tree.make_folder("src");
  ProgramRun result = volbuild({"src/", "out.iso", "/volume=my_files"}, tree.path());
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<uint8_t> image = read_file_bytes(tree / "out.iso");
  EXPECT_EQ(std::string(image.begin() + 16 * 2048 + 40, image.begin() + 16 * 2048 + 72),
            "MY_FILES" + std::string(24, ' '));
  result = volbuild({"src/", "out.iso", "/VOLUME=" + std::string(32, 'q')}, tree.path());
  ASSERT_EQ(result.status, 0) << result.err;
  image = read_file_bytes(tree / "out.iso");
  EXPECT_EQ(std::string(image.begin() + 16 * 2048 + 40, image.begin() + 16 * 2048 + 72),
            std::string(32, 'Q'));
  result = volbuild({"src/", "out.iso"}, tree.path());
  image = read_file_bytes(tree / "out.iso");
  EXPECT_EQ(std::string(image.begin() + 16 * 2048 + 40, image.begin() + 16 * 2048 + 72),
            std::string(32, ' '));
}

TEST(VolbuildTool, TreeFaultsStopTheRunBeforeTheImageIsCreated) {
  ScratchTree tree;
  tree.make_folder("src/2/3/4/5/6/7/8/9");
  ProgramRun result = volbuild({"src/", "out.iso", "/RECURSE"}, tree.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: Directory depth exceeds 8 levels!\n\"src/2/3/4/5/6/7/8/9/\"\n");
  EXPECT_FALSE(file_exists(tree / "out.iso"));

  std::filesystem::remove_all(tree / "src/2");
  for (int i = 0; i < 1302; ++i) tree.write_file("src/F" + std::to_string(1000000 + i) + ".TXT", 0);
  result = volbuild({"src/", "out.iso", "/BATCH"}, tree.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error: Too many files in directory!\n\"src/\"\n");
  EXPECT_FALSE(file_exists(tree / "out.iso"));
}

TEST(VolbuildTool, AFullDiskIsReportedAsAWriteError) {
  ScratchTree tree;
  tree.write_file("src/a.bin", 100000);
  const ProgramRun result = volbuild({"src/", "/dev/full", "/BATCH"}, tree.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "\nUnexpected error writing image file (disk full?)!\nImage file \"/dev/full\" is "
            "incomplete.\n");
}

TEST(VolbuildTool, AnImageBeingReplacedInsideTheTreeIsLeftOut) {
  ScratchTree tree;
  tree.write_file("src/data.bin", 5000);
  ASSERT_EQ(volbuild({"src/", "src/out.iso", "/BATCH"}, tree.path()).status, 0);
  const ProgramRun result = volbuild({"src/", "src/out.iso"}, tree.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "src/data.bin\n");
  EXPECT_EQ(read_file_bytes(tree / "src/out.iso").size(), 24u * 2048);
}

TEST(VolbuildTool, RawImagesHoldMode1SectorsOfThePlainBlocks) {
  ScratchTree tree;
  tree.write_file("src/a.bin", 200000, 1);
  tree.write_file("src/sub/b.bin", 3000, 2);
  // The two runs must date their volumes alike, whenever the clock ticks.
  ASSERT_EQ(setenv("SOURCE_DATE_EPOCH", "851990400", 1), 0);
  ASSERT_EQ(volbuild({"src/", "plain.iso", "/RECURSE", "/BATCH"}, tree.path()).status, 0);
  ASSERT_EQ(volbuild({"src/", "again.iso", "/RECURSE", "/BATCH"}, tree.path()).status, 0);
  EXPECT_EQ(read_file_bytes(tree / "plain.iso"), read_file_bytes(tree / "again.iso"));
  const std::vector<uint8_t> descriptor = read_file_bytes(tree / "plain.iso");
  EXPECT_EQ(std::string(descriptor.begin() + 16 * 2048 + 813, descriptor.begin() + 16 * 2048 + 817),
            "1996");
  const ProgramRun result = volbuild({"src/", "raw.bin", "/RECURSE", "/raw"}, tree.path());
  unsetenv("SOURCE_DATE_EPOCH");
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, "src/a.bin\nsrc/sub/b.bin\n");
  const std::vector<uint8_t> plain = read_file_bytes(tree / "plain.iso");
  const std::vector<uint8_t> raw = read_file_bytes(tree / "raw.bin");
  const uint32_t volume_blocks = image_le32(plain, 16 * 2048 + 80);
  ASSERT_EQ(plain.size(), std::size_t{volume_blocks} * 2048);
  ASSERT_EQ(raw.size(), std::size_t{volume_blocks} * 2352);
  // The first sector is LBA 0: 00:02:00.
  EXPECT_EQ(std::vector<uint8_t>(raw.begin() + 12, raw.begin() + 16),
            (std::vector<uint8_t>{0x00, 0x02, 0x00, 0x01}));
  for (uint32_t i = 0; i < volume_blocks; ++i) {
    cdm_test::ExpectedSector expected;
    expected.lba = static_cast<int32_t>(i);
    expected.data = plain.data() + std::size_t{i} * 2048;
    ASSERT_EQ(cdm_test::raw_sector_faults(raw.data() + std::size_t{i} * 2352, expected), "") << i;
  }
}

// Seven real directories, each holding `links` symbolic links to the next:
// a tree that multiplies itself to links^6 directories in the volume.
void write_fan_out(const ScratchTree& tree, int links) {
  for (int k = 1; k <= 7; ++k) tree.make_folder("src/d" + std::to_string(k));
  for (int k = 1; k < 7; ++k) {
    for (int l = 0; l < links; ++l) {
      const std::string link = tree / ("src/d" + std::to_string(k) + "/l" + std::to_string(l));
      ASSERT_EQ(symlink(("../d" + std::to_string(k + 1)).c_str(), link.c_str()), 0);
    }
  }
}

// A sparse file of `size` bytes: no data on disk, nothing to read before
// the run fails.
void write_sparse(const ScratchTree& tree, const std::string& relative, uint64_t size) {
  tree.write_file(relative, 0);
  std::filesystem::resize_file(tree / relative, size);
}

const char kLabelCharacters[] =
    "Error: Illegal /VOLUME format!\nA volume label may hold only the letters A-Z, the digits 0-9 "
    "and '_'.\n";
const char kBadEpoch[] =
    "Error: SOURCE_DATE_EPOCH must be a whole number of seconds since 1970 that falls before the "
    "year 10000!\n";
const char kPreviousImage[] = "an image of an earlier run";

TEST(VolbuildHostile, EveryCaseFailsWithItsMessageAndLeavesTheOldImageAlone) {
  struct Case {
    std::string why;
    std::function<void(const ScratchTree&)> setup;
    std::vector<std::string> arguments;  // after "src/" "out.iso" "/BATCH"
    std::string environment;             // "NAME=value", or empty
    std::string err;
  };
  const std::string path_table = "Error: Path table exceeds 31 sectors (too many directories)!\n";
  const std::vector<Case> cases = {
      {"8 links a level: 8^6 directories through links",
       [](const ScratchTree& t) { write_fan_out(t, 8); },
       {"/RECURSE"},
       "",
       path_table},
      {"10 links a level: a million directories",
       [](const ScratchTree& t) { write_fan_out(t, 10); },
       {"/RECURSE"},
       "",
       path_table},
      {"4096 links to one file of 4 GiB less a byte",
       [](const ScratchTree& t) {
         write_sparse(t, "src/big.bin", 0xFFFFFFFFull);
         const std::vector<std::string> levels = {"a", "b", "c", "d"};
         for (std::size_t k = 0; k < levels.size(); ++k) {
           t.make_folder("src/" + levels[k]);
           for (int l = 0; l < 8; ++l) {
             const std::string target = k == 0 ? "../big.bin" : "../" + levels[k - 1];
             const std::string link = t / ("src/" + levels[k] + "/l" + std::to_string(l));
             ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
           }
         }
       },
       {"/RECURSE"},
       "",
       "Error: Volume exceeds 4294967295 blocks!\n"},
      {"1000 files seen through each of 8^5 links",
       [](const ScratchTree& t) {
         write_fan_out(t, 8);
         for (int i = 0; i < 1000; ++i) t.write_file("src/d7/f" + std::to_string(i), 0);
       },
       {"/RECURSE"},
       "",
       "Error: Too many files in volume (more than 1000000)!\n"},
      {"more names in one directory than 31 sectors can hold",
       [](const ScratchTree& t) {
         for (std::size_t i = 0; i <= MAX_DIRECTORY_ENTRIES; ++i)
           t.write_file("src/many/" + std::to_string(i), 0);
       },
       {"/RECURSE"},
       "",
       "Error: Too many files in directory!\n\"src/many/\"\n"},
      {"a link loop reached at level 9",
       [](const ScratchTree& t) {
         t.make_folder("src/2/3/4/5/6/7/8");
         ASSERT_EQ(symlink("../../..", (t / "src/2/3/4/5/6/7/8/loop").c_str()), 0);
       },
       {"/RECURSE"},
       "",
       "Error: Directory depth exceeds 8 levels!\n\"src/2/3/4/5/6/7/8/loop/\"\n"},
      {"a file no one may read",
       [](const ScratchTree& t) {
         t.write_file("src/a.bin", 5000);
         if (geteuid() == 0) {
           // Root reads any file by its mode; this one refuses reading to all.
           ASSERT_EQ(symlink("/proc/sys/vm/drop_caches", (t / "src/locked.bin").c_str()), 0);
         } else {
           t.write_file("src/locked.bin", 10);
           ASSERT_EQ(chmod((t / "src/locked.bin").c_str(), 0), 0);
         }
       },
       {},
       "",
       "\nError: Unable to open \"src/locked.bin\"\nPermission denied\n"},
      {"a raw volume one block past 99:59:74",
       [](const ScratchTree& t) {
         write_sparse(t, "src/huge.bin", (MAX_RAW_IMAGE_SECTORS - 20) * 2048);
       },
       {"/RAW"},
       "",
       "Error: Volume of 449851 blocks is too large for /RAW: raw sector addresses end at 99:59:74 "
       "(449850 "
       "blocks)!\n"},
      {"a slash in the label", {}, {"/VOLUME=my/files"}, "", kLabelCharacters},
      {"a star in the label", {}, {"/VOLUME=A*"}, "", kLabelCharacters},
      {"a control byte in the label",
       {},
       {"/VOLUME=A\x01"
        "B"},
       "",
       kLabelCharacters},
      {"UTF-8 in the label", {}, {"/VOLUME=caf\xc3\xa9"}, "", kLabelCharacters},
      {"a blank in the label", {}, {"/VOLUME=my files"}, "", kLabelCharacters},
      {"a negative epoch", {}, {}, "SOURCE_DATE_EPOCH=-1", kBadEpoch},
      {"a word for an epoch", {}, {}, "SOURCE_DATE_EPOCH=abc", kBadEpoch},
      {"an exponent", {}, {}, "SOURCE_DATE_EPOCH=1e9", kBadEpoch},
      {"a fraction", {}, {}, "SOURCE_DATE_EPOCH=851990400.5", kBadEpoch},
      {"blanks around the number", {}, {}, "SOURCE_DATE_EPOCH= 851990400", kBadEpoch},
      {"an empty epoch", {}, {}, "SOURCE_DATE_EPOCH=", kBadEpoch},
      {"past the year 9999", {}, {}, "SOURCE_DATE_EPOCH=999999999999", kBadEpoch},
      {"more digits than any time", {}, {}, "SOURCE_DATE_EPOCH=99999999999999999999999", kBadEpoch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    ScratchTree tree;
    tree.make_folder("src");
    if (c.setup) c.setup(tree);
    tree.write_text("out.iso", kPreviousImage);
    std::vector<std::string> arguments = {"src/", "out.iso", "/BATCH"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ProgramRun result;
    if (c.environment.empty()) {
      result = volbuild(arguments, tree.path());
    } else {
      arguments.insert(arguments.begin(), {c.environment, std::string(CDM_BIN_DIR) + "/volbuild"});
      result = run_command("env", arguments, tree.path());
    }
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(read_file(tree / "out.iso"), kPreviousImage);
  }
}

TEST(VolbuildHostile, AnImageNoOneReadsFromIsRefusedAtOnce) {
  ScratchTree tree;
  tree.write_file("src/a.bin", 10);
  ASSERT_EQ(mkfifo((tree / "pipe").c_str(), 0600), 0);
  const ProgramRun result = volbuild({"src/", "pipe", "/BATCH"}, tree.path());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "Error: Unable to create ISO9660 image file \"pipe\"\nNo such device or address\n");
}

TEST(VolbuildHostile, ARawVolumeEndingAt995974IsWritten) {
  ScratchTree tree;
  // 21 blocks of system area, descriptors, path tables and root.
  write_sparse(tree, "src/huge.bin", (MAX_RAW_IMAGE_SECTORS - 21) * 2048);
  const ProgramRun result = volbuild({"src/", "/dev/null", "/BATCH", "/RAW"}, tree.path());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

TEST(VolbuildHostile, NamesThatCollideOrHoldOtherBytesStayLevel1ForStrictReaders) {
  ScratchTree tree;
  std::vector<std::string> sources;
  for (int i = 0; i < 12; ++i) sources.push_back("src/longfilename" + std::to_string(i) + ".text");
  for (const char* name : {"caf\xc3\xa9.txt", "caf\xc3\xa8.txt", "cafe.txt", "LONGFI~1.TEX",
                           "a b;1.txt", "tab\there", "new\nline"})
    sources.push_back(std::string("src/") + name);
  sources.push_back("src/" + std::string(246, 'x') + ".text");
  sources.push_back("src/" + std::string(250, 'x') + ".text");
  for (std::size_t i = 0; i < sources.size(); ++i)
    tree.write_file(sources[i], 100 + i, static_cast<unsigned>(i + 1));
  ASSERT_EQ(volbuild({"src/", "out.iso", "/BATCH"}, tree.path()).status, 0);

  const ProgramRun check = run_command("isovfy", {tree / "out.iso"});
  EXPECT_EQ(check.status, 0);
  EXPECT_NE(check.out.find("No errors found"), std::string::npos) << check.out;
  const ProgramRun listing = run_command("isoinfo", {"-f", "-i", tree / "out.iso"});
  ASSERT_EQ(listing.status, 0) << listing.err;
  EXPECT_EQ(
      listing.out,
      "/A_B_1.TXT\n/CAFE.TXT\n/CAF__.TXT\n/CAF___1.TXT\n/LONGFILE.TEX\n/LONGFI_1.TEX\n/"
      "LONGFI_2.TEX\n"
      "/LONGFI_3.TEX\n/LONGFI_4.TEX\n/LONGFI_5.TEX\n/LONGFI_6.TEX\n/LONGFI_7.TEX\n/LONGFI_8.TEX\n"
      "/LONGFI_9.TEX\n/LONGF_10.TEX\n/LONGF_11.TEX\n/LONGF_12.TEX\n/NEW_LINE\n/TAB_HERE\n/"
      "XXXXXXXX.TEX\n"
      "/XXXXXX_1.TEX\n");

  // Every file comes back whole under its volume name.
  const ProgramRun extracted = run_command(
      "xorriso",
      {"-osirrox", "on", "-indev", "stdio:" + tree / "out.iso", "-extract", "/", tree / "copy"});
  ASSERT_EQ(extracted.status, 0) << extracted.err;
  std::multiset<std::vector<uint8_t>> expected;
  std::multiset<std::vector<uint8_t>> found;
  for (const std::string& source : sources) expected.insert(read_file_bytes(tree / source));
  for (const auto& item : std::filesystem::directory_iterator(tree / "copy")) {
    found.insert(read_file_bytes(item.path().string()));
    EXPECT_TRUE(cdm_test::Pattern("[A-Z0-9_]{1,8}(\\.[A-Z0-9_]{1,3})?")
                    .matches(item.path().filename().string()))
        << item.path();
  }
  EXPECT_EQ(found, expected);
}

TEST(VolbuildReadBack, ExtractedTreeMatchesTheSourceFileByFile) {
  ScratchTree tree;
  const SampleTree sample = write_sample_tree(tree);
  const ProgramRun built =
      volbuild({"src/", "out.iso", "/RECURSE", "/BATCH", "/VOLUME=sample"}, tree.path());
  ASSERT_EQ(built.status, 0) << built.err;

  EXPECT_EQ(extracted_tree_faults(tree, tree / "out.iso", sample), "");
}

TEST(VolbuildReadBack, ReadersReportTheDirectoryListingAndDescriptor) {
  ScratchTree tree;
  write_sample_tree(tree);
  ASSERT_EQ(
      volbuild({"src/", "out.iso", "/RECURSE", "/BATCH", "/VOLUME=sample"}, tree.path()).status, 0);

  const ProgramRun descriptor = run_command("isoinfo", {"-d", "-i", tree / "out.iso"});
  ASSERT_EQ(descriptor.status, 0) << descriptor.err;
  EXPECT_NE(descriptor.out.find("Volume id: SAMPLE\n"), std::string::npos) << descriptor.out;
  EXPECT_NE(descriptor.out.find("Data preparer id: ISO9660 Image File Formatter"),
            std::string::npos);
  const std::vector<uint8_t> image = read_file_bytes(tree / "out.iso");
  EXPECT_NE(descriptor.out.find("Volume size is: " + std::to_string(image.size() / 2048) + "\n"),
            std::string::npos);

  // The reader walks the directories in path table order (level by level)
  // and lists each in name order.
  const ProgramRun listing = run_command("isoinfo", {"-f", "-i", tree / "out.iso"});
  ASSERT_EQ(listing.status, 0) << listing.err;
  EXPECT_EQ(listing.out,
            "/BIG_DATA.RAW\n/BLOCK.BIN\n/BLOCK1.BIN\n/DOCS\n/EMPTY.TXT\n/MUSIC\n/ONE.BIN\n"
            "/DOCS/DEEP\n/DOCS/LONG_FIL.TEX\n/DOCS/LONG_F_1.TEX\n/DOCS/README.MD\n"
            "/MUSIC/TRACK01.WAV\n/DOCS/DEEP/ER\n/DOCS/DEEP/ER/X.DAT\n");

  // Sizes in a second reader's long listing.
  const ProgramRun info = run_command("iso-info", {"--no-header", "-l", tree / "out.iso"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("     2049 "), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("   300000 "), std::string::npos);

  // A single file read through a third path.
  const ProgramRun read = run_command(
      "iso-read", {"-i", tree / "out.iso", "-e", "/DOCS/DEEP/ER/X.DAT", "-o", tree / "x.dat"});
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_EQ(read_file_bytes(tree / "x.dat"), read_file_bytes(tree / "src/docs/deep/er/x.dat"));
}

}  // namespace

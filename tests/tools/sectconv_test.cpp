// sectconv run as a program: exact texts, exit statuses and output bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <random>

#include "common/sector.h"
#include "support/run_program.h"
#include "support/sector_checks.h"

namespace {

const char kUsage[] =
    "SECTCONV.EXE - Version 2.4A (November 1996)\n"
    "\n"
    "Usage: SECTCONV <isofile> <rawfile> [/POSTGAP] [/SCRAMBLE]\n"
    "isofile   - ISO9660 input file (2048 byte sectors)\n"
    "rawfile   - RAW output file (2352 byte sectors)\n"
    "/MODE2    - Generate MODE2 sectors (default is MODE1)\n"
    "/POSTGAP  - Write 150 sector postgap to output file\n"
    "/SCRAMBLE - Scramble sectors\n";

const char kEmptyRun[] =
    "File contains 0Mb of data (0 blocks)\n"
    "Processing...\n"
    " 0% completed.\r"
    "Conversion completed!\n";

std::string random_image(std::size_t blocks, unsigned seed) {
  std::mt19937 engine(seed);
  std::string bytes(blocks * 2048, '\0');
  for (char& c : bytes) c = static_cast<char>(engine());
  return bytes;
}

const uint8_t* sector_at(const std::string& raw, std::size_t index) {
  return reinterpret_cast<const uint8_t*>(raw.data()) + index * RAW_SECTOR_SIZE;
}

const uint8_t* block_at(const std::string& image, std::size_t index) {
  return reinterpret_cast<const uint8_t*>(image.data()) + index * DATA_BLOCK_SIZE;
}

// What sectconv prints for an image of `blocks` blocks: the percentages of
// a conversion that goes 27 blocks at a time.
std::string expected_run(std::size_t blocks, bool postgap) {
  std::string shown = "File contains " + std::to_string((blocks * 2048 + 1048575) / 1048576) +
                      "Mb of data (" + std::to_string(blocks) +
                      " blocks)\nProcessing...\n 0% completed.\r";
  std::size_t last = 0;
  for (std::size_t done = 27; done < blocks + 27; done += 27) {
    const std::size_t percent = std::min(done, blocks) * 100 / blocks;
    if (percent > last) shown += " " + std::to_string(percent) + "% completed.\r";
    last = percent;
  }
  return shown + "Conversion completed!\n" + (postgap ? "Writing POSTGAP (150 blocks)...\n" : "");
}

std::string header_of(const std::string& raw, std::size_t index) {
  return raw.substr(index * RAW_SECTOR_SIZE + 12, 4);
}

TEST(Sectconv, UsageScreen) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"/?"}, {"in", "/?"}}) {
    const ProgramRun run = run_program("sectconv", args);
    EXPECT_EQ(run.out, kUsage);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);
  }
}

TEST(Sectconv, CommandLineErrorsDoNothingElse) {
  ScratchDirectory dir;
  write_file(dir.file("in.iso"), random_image(1, 1));
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"/MODE2"}, "Error: Input ISO filename must be specified!\n"},
      {{"in.iso"}, "Error: Output RAW filename must be specified!\n"},
      {{"in.iso", "out.bin", "/FAST"}, "Invalid switch - /FAST\n"},
      {{"/postgapx", "in.iso", "out.bin"}, "Invalid switch - /postgapx\n"},
      {{"in.iso", "out.bin", "extra"}, "Too many parameters - extra\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = run_program("sectconv", c.args, dir.path());
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1);
    struct stat info {};
    EXPECT_NE(stat(dir.file("out.bin").c_str(), &info), 0) << "output created";
  }
}

TEST(Sectconv, FileErrors) {
  ScratchDirectory dir;
  ProgramRun run = run_program("sectconv", {"missing.iso", "out.bin"}, dir.path());
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error opening \"missing.iso\"\nNo such file or directory\n");
  EXPECT_EQ(run.status, 1);

  run = run_program("sectconv", {dir.path() + "/", "out.bin"}, dir.path());  // a directory
  EXPECT_EQ(run.err, "Error opening \"" + dir.path() + "/\"\nIs a directory\n");
  EXPECT_EQ(run.status, 1);

  const std::string image = random_image(2, 2);
  write_file(dir.file("in.iso"), image);
  run = run_program("sectconv", {"in.iso", "no/such/dir/out.bin"}, dir.path());
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error creating \"no/such/dir/out.bin\"\nNo such file or directory\n");
  EXPECT_EQ(run.status, 1);

  // The input named as the output too is refused before it is emptied.
  run = run_program("sectconv", {"in.iso", "./in.iso"}, dir.path());
  EXPECT_EQ(run.err, "Error creating \"./in.iso\"\nIt is the input file\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(read_file(dir.file("in.iso")), image);

  // 2049 bytes: refused before the output is created or emptied.
  write_file(dir.file("odd.iso"), std::string(2049, 'x'));
  write_file(dir.file("odd.bin"), "old contents");
  run = run_program("sectconv", {"odd.iso", "odd.bin"}, dir.path());
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error: Input file length is not a multiple of 2048!\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(read_file(dir.file("odd.bin")), "old contents");

  // A full disk.
  run = run_program("sectconv", {"in.iso", "/dev/full", "/POSTGAP"}, dir.path());
  EXPECT_EQ(run.out, "File contains 1Mb of data (2 blocks)\nProcessing...\n 0% completed.\r");
  EXPECT_EQ(run.err,
            "\nUnexpected error writing output file!\nOutput file \"/dev/full\" is incomplete.\n");
  EXPECT_EQ(run.status, 1);
}

TEST(Sectconv, EmptyInputWithAndWithoutPostgap) {
  ScratchDirectory dir;
  write_file(dir.file("empty.iso"), "");
  ProgramRun run = run_program("sectconv", {"empty.iso", "empty.bin"}, dir.path());
  EXPECT_EQ(run.out, kEmptyRun);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(read_file(dir.file("empty.bin")), "");

  run = run_program("sectconv", {"empty.iso", "gap.bin", "/POSTGAP"}, dir.path());
  EXPECT_EQ(run.out, std::string(kEmptyRun) + "Writing POSTGAP (150 blocks)...\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  const std::string raw = read_file(dir.file("gap.bin"));
  ASSERT_EQ(raw.size(), 150 * RAW_SECTOR_SIZE);
  EXPECT_EQ(header_of(raw, 0), std::string("\x00\x02\x00\x01", 4));
  EXPECT_EQ(header_of(raw, 149), std::string("\x00\x03\x74\x01", 4));  // LBA 149 = 00:03:74
}

TEST(Sectconv, Mode1ImageWithPostgapThroughAbsolutePaths) {
  ScratchDirectory dir;
  const std::string image = random_image(300, 3);
  write_file(dir.file("in.iso"), image);
  const ProgramRun run =
      run_program("sectconv", {dir.file("in.iso"), dir.file("out.bin"), "/POSTGAP"});
  EXPECT_EQ(run.out, expected_run(300, true));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  const std::string raw = read_file(dir.file("out.bin"));
  ASSERT_EQ(raw.size(), 450 * RAW_SECTOR_SIZE);
  EXPECT_EQ(header_of(raw, 0), std::string("\x00\x02\x00\x01", 4));
  EXPECT_EQ(header_of(raw, 299), std::string("\x00\x05\x74\x01", 4));  // LBA 299
  EXPECT_EQ(header_of(raw, 300), std::string("\x00\x06\x00\x01", 4));  // postgap goes on
  EXPECT_EQ(header_of(raw, 449), std::string("\x00\x07\x74\x01", 4));
  for (std::size_t i = 0; i < 450; ++i) {
    cdm_test::ExpectedSector expected;
    expected.lba = static_cast<int32_t>(i);
    expected.data = i < 300 ? block_at(image, i) : nullptr;
    ASSERT_EQ(cdm_test::raw_sector_faults(sector_at(raw, i), expected), "") << i;
  }
  EXPECT_NE(raw.substr(300 * RAW_SECTOR_SIZE + 2064, 4),
            std::string(4, '\0'));  // EDC over the header
}

TEST(Sectconv, LowerCaseMode2) {
  ScratchDirectory dir;
  const std::string image = random_image(3, 4);
  write_file(dir.file("in.iso"), image);
  const ProgramRun run =
      run_program("sectconv", {"in.iso", "out.bin", "/mode2", "/postgap"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::string raw = read_file(dir.file("out.bin"));
  ASSERT_EQ(raw.size(), 153 * RAW_SECTOR_SIZE);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(raw.substr(i * RAW_SECTOR_SIZE + 12, 12),
              std::string("\x00\x02", 2) + static_cast<char>(i) +
                  std::string("\x02\0\0\x08\0\0\0\x08\0", 9));
    EXPECT_EQ(raw.substr(i * RAW_SECTOR_SIZE + 24, 2048), image.substr(i * 2048, 2048));
  }
  // The mode 2 postgap: sync, header, then 2336 zeros.
  EXPECT_EQ(header_of(raw, 3), std::string("\x00\x02\x03\x02", 4));
  EXPECT_EQ(raw.substr(3 * RAW_SECTOR_SIZE + 16, 2336), std::string(2336, '\0'));
}

TEST(Sectconv, ScrambledOutputIsClearOutputXorScrambler) {
  ScratchDirectory dir;
  write_file(dir.file("in.iso"), random_image(40, 5));
  const std::vector<uint8_t>& scrambler = cdm_test::scrambler_sequence();
  for (const char* mode : {"/POSTGAP", "/MODE2"}) {
    ASSERT_EQ(run_program("sectconv", {"in.iso", "clear.bin", mode, "/POSTGAP"}, dir.path()).status,
              0);
    ASSERT_EQ(run_program("sectconv", {"in.iso", "scrambled.bin", mode, "/SCRAMBLE", "/POSTGAP"},
                          dir.path())
                  .status,
              0);
    const std::string clear = read_file(dir.file("clear.bin"));
    const std::string scrambled = read_file(dir.file("scrambled.bin"));
    ASSERT_EQ(clear.size(), 190 * RAW_SECTOR_SIZE);
    ASSERT_EQ(scrambled.size(), clear.size());
    for (std::size_t i = 0; i < clear.size(); ++i)
      ASSERT_EQ(static_cast<uint8_t>(scrambled[i]),
                static_cast<uint8_t>(clear[i]) ^ scrambler[i % RAW_SECTOR_SIZE])
          << mode << " " << i;
  }
}

// Thousands of blocks: many chunks, so that both threads read, encode and
// write, every sector checked against the independent encoders in each mode.
TEST(Sectconv, EveryModeOfALongImageCheckedSectorBySector) {
  constexpr std::size_t kBlocks = 864 * 4 + 101;
  ScratchDirectory dir;
  const std::string image = random_image(kBlocks, 6);
  write_file(dir.file("in.iso"), image);
  const uint8_t data_subheader[4] = {0, 0, 0x08, 0};
  struct Case {
    std::vector<std::string> switches;
    SectorType type;
    bool scrambled;
    bool postgap;
  };
  const Case cases[] = {
      {{}, SECTOR_MODE1, false, false},
      {{"/MODE2"}, SECTOR_MODE2_FORM1, false, false},
      {{"/SCRAMBLE"}, SECTOR_MODE1, true, false},
      {{"/POSTGAP"}, SECTOR_MODE1, false, true},
      {{"/MODE2", "/SCRAMBLE", "/POSTGAP"}, SECTOR_MODE2_FORM1, true, true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"in.iso", "out.bin"};
    args.insert(args.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = run_program("sectconv", args, dir.path());
    EXPECT_EQ(run.out, expected_run(kBlocks, c.postgap));
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(run.status, 0);
    const std::string raw = read_file(dir.file("out.bin"));
    const std::size_t sectors = kBlocks + (c.postgap ? 150 : 0);
    ASSERT_EQ(raw.size(), sectors * RAW_SECTOR_SIZE);
    for (std::size_t i = 0; i < sectors; ++i) {
      cdm_test::ExpectedSector expected;
      expected.lba = static_cast<int32_t>(i);
      expected.type = c.type;
      expected.data = i < kBlocks ? block_at(image, i) : nullptr;
      expected.subheader = data_subheader;
      expected.scrambled = c.scrambled;
      ASSERT_EQ(cdm_test::raw_sector_faults(sector_at(raw, i), expected), "")
          << args.back() << " sector " << i;
    }
  }
}

}  // namespace

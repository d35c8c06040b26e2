// sectconv run as a program: exact texts, exit statuses and output bytes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <random>

#include "common/sector.h"
#include "support/run_program.h"

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
  EXPECT_EQ(run.err, "Error opening \"missing.iso\"\n");
  EXPECT_EQ(run.status, 1);

  run = run_program("sectconv", {dir.path() + "/", "out.bin"}, dir.path());  // a directory
  EXPECT_EQ(run.err, "Error opening \"" + dir.path() + "/\"\n");
  EXPECT_EQ(run.status, 1);

  const std::string image = random_image(2, 2);
  write_file(dir.file("in.iso"), image);
  run = run_program("sectconv", {"in.iso", "no/such/dir/out.bin"}, dir.path());
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error creating \"no/such/dir/out.bin\"\n");
  EXPECT_EQ(run.status, 1);

  // The input named as the output too is refused before it is emptied.
  run = run_program("sectconv", {"in.iso", "./in.iso"}, dir.path());
  EXPECT_EQ(run.err, "Error creating \"./in.iso\"\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(read_file(dir.file("in.iso")), image);

  // 2049 bytes: refused before anything is written; the output exists, empty.
  write_file(dir.file("odd.iso"), std::string(2049, 'x'));
  write_file(dir.file("odd.bin"), "old contents");
  run = run_program("sectconv", {"odd.iso", "odd.bin"}, dir.path());
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Error: Input file length is not a multiple of 2048!\n");
  EXPECT_EQ(run.status, 1);
  struct stat info {};
  ASSERT_EQ(stat(dir.file("odd.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_size, 0);

  // A full disk.
  run = run_program("sectconv", {"in.iso", "/dev/full", "/POSTGAP"}, dir.path());
  EXPECT_EQ(run.out,
            "File contains 1Mb of data (2 blocks)\nProcessing...\n 0% completed.\r");
  EXPECT_EQ(run.err, "\nUnexpected error writing output file!\n");
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
  const ProgramRun run = run_program("sectconv", {dir.file("in.iso"), dir.file("out.bin"), "/POSTGAP"});
  std::string progress = " 0% completed.\r";
  for (unsigned done = 27; done < 300 + 27; done += 27)
    progress += " " + std::to_string(std::min(done, 300u) * 100 / 300) + "% completed.\r";
  EXPECT_EQ(run.out, "File contains 1Mb of data (300 blocks)\nProcessing...\n" + progress +
                         "Conversion completed!\nWriting POSTGAP (150 blocks)...\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  const std::string raw = read_file(dir.file("out.bin"));
  ASSERT_EQ(raw.size(), 450 * RAW_SECTOR_SIZE);
  EXPECT_EQ(header_of(raw, 0), std::string("\x00\x02\x00\x01", 4));
  EXPECT_EQ(header_of(raw, 299), std::string("\x00\x05\x74\x01", 4));  // LBA 299
  EXPECT_EQ(header_of(raw, 300), std::string("\x00\x06\x00\x01", 4));  // postgap goes on
  EXPECT_EQ(header_of(raw, 449), std::string("\x00\x07\x74\x01", 4));
  for (std::size_t i = 0; i < 300; i += 37) {
    EXPECT_EQ(raw.substr(i * RAW_SECTOR_SIZE, 12), std::string(reinterpret_cast<const char*>(SECTOR_SYNC.data()), 12));
    EXPECT_EQ(raw.substr(i * RAW_SECTOR_SIZE + 16, 2048), image.substr(i * 2048, 2048));
    EXPECT_EQ(sector_edc(sector_at(raw, i)), *reinterpret_cast<const uint32_t*>(sector_at(raw, i) + 2064));
  }
  for (std::size_t i = 300; i < 450; ++i) {
    EXPECT_EQ(raw.substr(i * RAW_SECTOR_SIZE + 16, 2048), std::string(2048, '\0'));
    EXPECT_NE(raw.substr(i * RAW_SECTOR_SIZE + 2064, 4), std::string(4, '\0'));  // EDC over the header
  }
}

TEST(Sectconv, LowerCaseMode2) {
  ScratchDirectory dir;
  const std::string image = random_image(3, 4);
  write_file(dir.file("in.iso"), image);
  const ProgramRun run = run_program("sectconv", {"in.iso", "out.bin", "/mode2", "/postgap"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::string raw = read_file(dir.file("out.bin"));
  ASSERT_EQ(raw.size(), 153 * RAW_SECTOR_SIZE);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(raw.substr(i * RAW_SECTOR_SIZE + 12, 12),
              std::string("\x00\x02", 2) + static_cast<char>(i) + std::string("\x02\0\0\x08\0\0\0\x08\0", 9));
    EXPECT_EQ(raw.substr(i * RAW_SECTOR_SIZE + 24, 2048), image.substr(i * 2048, 2048));
  }
  // The mode 2 postgap: sync, header, then 2336 zeros.
  EXPECT_EQ(header_of(raw, 3), std::string("\x00\x02\x03\x02", 4));
  EXPECT_EQ(raw.substr(3 * RAW_SECTOR_SIZE + 16, 2336), std::string(2336, '\0'));
}

TEST(Sectconv, ScrambledOutputIsClearOutputXorScrambler) {
  ScratchDirectory dir;
  write_file(dir.file("in.iso"), random_image(40, 5));
  for (const char* mode : {"/POSTGAP", "/MODE2"}) {
    ASSERT_EQ(run_program("sectconv", {"in.iso", "clear.bin", mode, "/POSTGAP"}, dir.path()).status, 0);
    ASSERT_EQ(run_program("sectconv", {"in.iso", "scrambled.bin", mode, "/SCRAMBLE", "/POSTGAP"}, dir.path()).status, 0);
    const std::string clear = read_file(dir.file("clear.bin"));
    const std::string scrambled = read_file(dir.file("scrambled.bin"));
    ASSERT_EQ(clear.size(), 190 * RAW_SECTOR_SIZE);
    ASSERT_EQ(scrambled.size(), clear.size());
    for (std::size_t i = 0; i < clear.size(); ++i)
      ASSERT_EQ(static_cast<uint8_t>(scrambled[i]),
                static_cast<uint8_t>(clear[i]) ^ SCRAMBLER_TABLE[i % RAW_SECTOR_SIZE]) << mode << " " << i;
  }
}

}  // namespace

// sectconv run as a hostile user would: inputs that are not files, outputs
// that are the input, inputs too large to address, places that cannot be
// written, standard output closed or failing. Each case has its exact
// messages and status, and whatever it must not touch is compared after.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/sector.h"
#include "support/run_program.h"

namespace {

const char kRun[] =
    "File contains 1Mb of data (2 blocks)\n"
    "Processing...\n"
    " 0% completed.\r"
    " 100% completed.\r"
    "Conversion completed!\n";

// Two blocks whose bytes differ from block to block and place to place.
std::string two_blocks() {
  std::string bytes(2 * DATA_BLOCK_SIZE, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(i * 7 + i / DATA_BLOCK_SIZE);
  return bytes;
}

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// A folder no one may create files in: permission bits do not bind root,
// and sysfs refuses new files to everyone.
std::string unwritable_place(const ScratchDirectory& dir) {
  if (geteuid() == 0) return "/sys/sectconv-out.bin";
  std::filesystem::create_directory(dir.file("locked"));
  chmod(dir.file("locked").c_str(), 0555);
  return dir.file("locked/out.bin");
}

// A scratch folder with a file of every kind the cases need.
class SectconvHostile : public testing::Test {
 protected:
  void SetUp() override {
    write_file(dir.file("in.iso"), image);
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0644), 0);
    ASSERT_EQ(link(dir.file("in.iso").c_str(), dir.file("hard.iso").c_str()), 0);
    ASSERT_EQ(symlink("in.iso", dir.file("sym.iso").c_str()), 0);
    std::filesystem::create_directory(dir.file("folder"));
    write_file(dir.file("odd.iso"), std::string(2049, 'x'));
    write_file(dir.file("keep.bin"), kKept);
    // Sparse images one block longer than the addresses allow, without and
    // with the 150 sectors of the postgap.
    write_file(dir.file("big.iso"), "");
    write_file(dir.file("gap.iso"), "");
    std::filesystem::resize_file(dir.file("big.iso"),
                                 (MAX_RAW_IMAGE_SECTORS + 1) * DATA_BLOCK_SIZE);
    std::filesystem::resize_file(dir.file("gap.iso"),
                                 (MAX_RAW_IMAGE_SECTORS - 149) * DATA_BLOCK_SIZE);
  }
  void TearDown() override { chmod(dir.file("locked").c_str(), 0755); }

  static constexpr const char* kKept = "old contents";
  ScratchDirectory dir;
  const std::string image = two_blocks();
};

TEST_F(SectconvHostile, RefusedBeforeTheOutputIsTouched) {
  const std::string locked = unwritable_place(dir);
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      // Inputs that are not a regular file or a block device: a pipe would
      // wait for a writer for ever, /dev/zero never ends.
      {{"pipe", "keep.bin"}, "Error opening \"pipe\"\nNot a regular file or block device\n"},
      {{"/dev/zero", "keep.bin"},
       "Error opening \"/dev/zero\"\nNot a regular file or block device\n"},
      {{"folder/", "keep.bin"}, "Error opening \"folder/\"\nIs a directory\n"},
      {{"missing.iso", "keep.bin"}, "Error opening \"missing.iso\"\nNo such file or directory\n"},
      // Inputs that cannot be converted whole.
      {{"odd.iso", "keep.bin"}, "Error: Input file length is not a multiple of 2048!\n"},
      {{"big.iso", "keep.bin"},
       "Error: Input file has 449851 blocks, more than the 449850 that sector addresses up to "
       "99:59:74 allow!\n"},
      {{"gap.iso", "keep.bin", "/POSTGAP"},
       "Error: Input file has 449701 blocks, more than the 449700 that sector addresses up to "
       "99:59:74 allow "
       "with the postgap!\n"},
      // The input reached under another name is never emptied.
      {{"in.iso", "hard.iso"}, "Error creating \"hard.iso\"\nIt is the input file\n"},
      {{"sym.iso", "in.iso"}, "Error creating \"in.iso\"\nIt is the input file\n"},
      {{"in.iso", "sym.iso"}, "Error creating \"sym.iso\"\nIt is the input file\n"},
      // Outputs that cannot be created; a pipe no one reads is not waited for.
      {{"in.iso", "pipe"}, "Error creating \"pipe\"\nNo such device or address\n"},
      {{"in.iso", "folder/"}, "Error creating \"folder/\"\nIs a directory\n"},
      {{"in.iso", "no/such/out.bin"},
       "Error creating \"no/such/out.bin\"\nNo such file or directory\n"},
      {{"in.iso", locked}, "Error creating \"" + locked + "\"\nPermission denied\n"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = run_program("sectconv", c.args, dir.path());
    EXPECT_EQ(run.out, "") << c.args[0] << " " << c.args[1];
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1) << c.err;
    EXPECT_EQ(read_file(dir.file("keep.bin")), kKept) << c.err;
    EXPECT_EQ(read_file(dir.file("in.iso")), image) << c.err;
    EXPECT_FALSE(exists(locked)) << c.err;
    EXPECT_FALSE(exists(dir.file("out.bin"))) << c.err;
  }
}

TEST_F(SectconvHostile, OutputThatFailsAfterItWasCreatedIsCalledIncomplete) {
  const ProgramRun run = run_program("sectconv", {"in.iso", "/dev/full"}, dir.path());
  EXPECT_EQ(run.out, "File contains 1Mb of data (2 blocks)\nProcessing...\n 0% completed.\r");
  EXPECT_EQ(run.err,
            "\nUnexpected error writing output file!\nOutput file \"/dev/full\" is incomplete.\n");
  EXPECT_EQ(run.status, 1);
}

TEST_F(SectconvHostile, StandardOutputClosedOrFailing) {
  const ProgramRun plain = run_program("sectconv", {"in.iso", "plain.bin"}, dir.path());
  ASSERT_EQ(plain.out, kRun);
  ASSERT_EQ(plain.status, 0);
  const std::string converted = read_file(dir.file("plain.bin"));
  ASSERT_EQ(converted.size(), 2 * RAW_SECTOR_SIZE);

  struct Case {
    StdoutPlace place;
    std::string path;
    std::string err;
    int status;
  };
  const Case cases[] = {
      // Closed: the output file must not take descriptor 1 and get the texts.
      {StdoutPlace::kClosed, "", "", 0},
      // With standard input closed too, the input takes descriptor 0 and the
      // output descriptor 1, unless they are opened on /dev/null first.
      {StdoutPlace::kAllClosed, "", "", 0},
      {StdoutPlace::kFile, "/dev/full",
       "\nError writing standard output: No space left on device\n", 1},
      {StdoutPlace::kBrokenPipe, "", "\nError writing standard output: Broken pipe\n", 1},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(dir.file("out.bin"));
    const ProgramRun run =
        run_program_with_stdout("sectconv", {"in.iso", "out.bin"}, dir.path(), c.place, c.path);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status) << c.err;
    // The conversion itself is whole either way.
    EXPECT_EQ(read_file(dir.file("out.bin")), converted) << c.err;
  }
}

TEST(ProgramOutput, EveryProgramReportsAStandardOutputItCouldNotWrite) {
  // The usage screen of each program, written to a full disk.
  for (const char* program :
       {"sectconv", "discinfo", "volbuild", "cueburn", "dircast", "sheetgen", "ripspan"}) {
    if (!exists(std::string(CDM_BIN_DIR) + "/" + program)) continue;
    const ProgramRun run =
        run_program_with_stdout(program, {"/?"}, "", StdoutPlace::kFile, "/dev/full");
    EXPECT_EQ(run.err, "\nError writing standard output: No space left on device\n") << program;
    EXPECT_EQ(run.status, 1) << program;
  }
}

}  // namespace

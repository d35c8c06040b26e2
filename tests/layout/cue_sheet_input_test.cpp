// The cue sheet parser against hostile input: sheets and images that are no
// regular files, sheets too large to be real, lines of any length.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>

#include "common/msgvec.h"
#include "layout/cue_sheet.h"
#include "support/cue_images.h"
#include "support/raised.h"
#include "support/scratch.h"

namespace {

using cdm_test::raised_text;

// Virtual memory in use now, in bytes (0 when unknown).
uint64_t virtual_size() {
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  unsigned long long pages = 0;
  if (statm) {
    if (std::fscanf(statm, "%llu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  return pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

// What `body` raises, run in a child process: a body that blocks is ended by
// an alarm, one that takes memory without bound by a limit of 1 GB more than
// the test holds, and either shows as a text ending in "(child ended by
// signal N)" instead of stopping the test run.
std::string raised_in_child(const std::function<void()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return "(no pipe)";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    alarm(60);
    const uint64_t now = virtual_size();
    if (now != 0) {
      const rlimit limit{now + (1ull << 30), now + (1ull << 30)};
      setrlimit(RLIMIT_AS, &limit);
    }
    std::string text = "(nothing raised)";
    try {
      body();
    } catch (const MSGVEC& record) {
      text = message_vector_text(record);
    }
    const ssize_t ignored = write(channel[1], text.data(), text.size());
    (void)ignored;
    _exit(0);
  }
  close(channel[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status))
    text += "(child ended by signal " + std::to_string(WTERMSIG(status)) + ")";
  return text;
}

class CueSheetInput : public testing::Test {
 protected:
  void SetUp() override { write_cue_fixture_images(folder_); }

  // A valid one-track sheet of exactly `size` bytes, padded with a REM line.
  std::string sheet_of_size(std::size_t size) {
    std::string text = "FILE audio100.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nREM ";
    text += std::string(size - text.size() - 1, 'x') + "\n";
    return text;
  }

  std::string fault_of_text(const std::string& text) {
    return raised_text([&] { parse_cue_sheet_text(text, folder_); });
  }

  ScratchDirectory scratch_;
  std::string folder_ = scratch_.path();
};

TEST_F(CueSheetInput, SheetsThatAreNoRegularFileOrTooLargeAreRefused) {
  const std::string fifo = folder_ + "/fifo.cue";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string link = folder_ + "/link.cue";
  ASSERT_EQ(symlink(fifo.c_str(), link.c_str()), 0);
  const std::string large = folder_ + "/large.cue";
  write_file(large, sheet_of_size((1 << 20) + 1));
  const std::string not_regular = "\nCue sheet is not a regular file!\n";
  struct Case {
    std::string path;
    std::string cause;
  };
  const Case cases[] = {
      {folder_ + "/none.cue", "\n"},
      {folder_, not_regular},
      {fifo, not_regular},
      {link, not_regular},
      {"/dev/zero", not_regular},
      {"/dev/null", not_regular},
      {large, "\nCue sheet is larger than 1 MB!\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(raised_in_child([&] { parse_cue_sheet(c.path); }),
              "\nError: Unable to open file \"" + c.path + "\"" + c.cause)
        << c.path;
  }
  // The largest sheet taken: exactly 1 MB.
  const std::string largest = folder_ + "/largest.cue";
  write_file(largest, sheet_of_size(1 << 20));
  EXPECT_EQ(parse_cue_sheet(largest)->total_frames, 100u);
}

TEST_F(CueSheetInput, ImagesThatAreNoRegularFileAreRefused) {
  ASSERT_EQ(mkfifo((folder_ + "/fifo.bin").c_str(), 0600), 0);
  ASSERT_EQ(symlink("fifo.bin", (folder_ + "/link.bin").c_str()), 0);
  for (const std::string name : {"fifo.bin", "link.bin", "folder.bin", "/dev/zero", "/dev/null"}) {
    const std::string sheet =
        "REM an image\nFILE " + name + " BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    for (const std::string type : {"BINARY", "WAVE"}) {
      std::string text = sheet;
      text.replace(text.find("BINARY"), 6, type);
      EXPECT_EQ(raised_in_child([&] { parse_cue_sheet_text(text, folder_); }),
                "\nError: Invalid CUE SHEET command at line 2\nUnable to open file \"" + name +
                    "\": Not a regular file\n")
          << name << " " << type;
    }
  }
}

TEST_F(CueSheetInput, LongLinesAreWholeLines) {
  // The tail of a long REM line is part of the comment: no flags are set.
  const std::string rem = "REM " + std::string(251, '-') + "FLAGS DCP PRE\n";
  auto sheet = parse_cue_sheet_text(
      "FILE audio100.bin BINARY\nTRACK 01 AUDIO\n" + rem + "INDEX 01 00:00:00\n", folder_);
  EXPECT_EQ(sheet->layout->tracks[0].track_flags, 0);

  // An image named by a path longer than any line piece.
  std::string path;
  for (int level = 0; level < 6; ++level) {
    path += std::string(60, static_cast<char>('a' + level)) + "/";
    ASSERT_EQ(mkdir((folder_ + "/" + path).c_str(), 0700), 0);
  }
  path += "image.bin";
  write_sized_file(folder_ + "/" + path, 3 * 2048);
  sheet = parse_cue_sheet_text(
      "FILE \"" + path + "\" BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n", folder_);
  EXPECT_EQ(sheet->files[0].path, folder_ + "/" + path);
  EXPECT_EQ(sheet->total_frames, 3u);

  // A line of 900,000 characters is one line: the error after it names line 4.
  EXPECT_EQ(fault_of_text("FILE audio100.bin BINARY\nTRACK 01 AUDIO\nREM " +
                          std::string(900000, 'y') + "\nFLAGS DCP FLAGS\n"),
            "\nError: Invalid CUE SHEET command at line 4\nIllegal FLAGS keyword specified!\n");
}

TEST_F(CueSheetInput, LineEndsKeepTheLineNumbers) {
  // Each sheet has its error on line 5; a CR alone ends lines only in a sheet
  // without any LF, and is white space within its line elsewhere.
  const std::string error =
      "\nError: Invalid CUE SHEET command at line 5\nIllegal syntax encountered\n";
  const std::string lines[] = {"FILE audio100.bin BINARY", "TRACK 01 AUDIO", "",
                               "INDEX 01 00:00:00", "BOGUS"};
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    std::string text;
    for (const std::string& line : lines) text += line + end;
    EXPECT_EQ(fault_of_text(text), error) << "line end " << end.size();
    EXPECT_EQ(fault_of_text("\xEF\xBB\xBF" + text), error) << "with a byte-order mark";
    text.resize(text.size() - end.size());
    EXPECT_EQ(fault_of_text(text), error) << "last line without its end";
  }
  EXPECT_EQ(fault_of_text("FILE audio100.bin BINARY\nTRACK 01\rAUDIO\r\r\n\r\nINDEX 01 00:00:00\r"
                          "\n REM \rINDEX 02 00:00:01\nBOGUS\n"),
            "\nError: Invalid CUE SHEET command at line 6\nIllegal syntax encountered\n");
}

}  // namespace

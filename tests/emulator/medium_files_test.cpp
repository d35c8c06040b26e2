// Which files the emulated bus says hold a device's medium: a program asks
// before it writes an output, so that it never writes over a disc.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "emulator/bus.h"
#include "support/scratch.h"

namespace {

// A recorded disc of one 300-frame audio track in a closed, open disc.
void write_recorded_disc(const std::string& path, const std::string& name) {
  write_file(path + ".cue",
             "FILE \"" + name + ".bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  write_file(path + ".bin", std::string(300 * 2352, '\x5A'));
  write_file(path + ".state", "capacity 332850\ndisc open\nnext 11700\nsession 1 1 1 300 closed\n");
}

TEST(MediumFiles, EveryFileThatKeepsADiscAndNoOther) {
  ScratchDirectory dir;
  write_file(dir.file("reader.cue"),
             "FILE \"image.bin\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n");
  write_file(dir.file("image.bin"), std::string(300 * 2048, '\0'));
  write_recorded_disc(dir.file("m"), "m");
  write_recorded_disc(dir.file("m-1"), "m-1");
  write_file(dir.file("other.bin"), "x");
  ASSERT_EQ(symlink("m.bin", dir.file("link.bin").c_str()), 0);
  ASSERT_EQ(link(dir.file("m.cue").c_str(), dir.file("hard.cue").c_str()), 0);
  EmulatedBus bus(parse_emulated_bus("0:3:0=CD-ROM PX-12CS,medium=" + dir.file("reader.cue") +
                                     ";0:4:0=CDD2000,medium=" + dir.file("m") +
                                     ";0:5:0=DISC TRANSPORTER"));
  struct Row {
    const char* file;
    bool held;
  };
  const Row rows[] = {
      {"reader.cue", true},                                            // a reader's sheet
      {"image.bin", true},                                             // and the image it names
      {"m.cue", true},                                                 // a recorder's disc
      {"m.bin", true},       {"m.state", true},   {"link.bin", true},  // through a link
      {"hard.cue", true},                                              // under another name
      {"m-1.cue", true},  // a disc the transporter put aside
      {"m-1.bin", true},     {"m-1.state", true}, {"other.bin", false},  // a file of no disc
      {"reader.bin", false},
  };
  write_file(dir.file("reader.bin"), "");
  for (const Row& row : rows) {
    struct stat info {};
    ASSERT_EQ(stat(dir.file(row.file).c_str(), &info), 0) << row.file;
    EXPECT_EQ(bus.holds_medium_file(info.st_dev, info.st_ino), row.held) << row.file;
  }
}

}  // namespace

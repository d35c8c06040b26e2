// The recording programs on a recorder of today: the blank's capacity and
// overburn, the speeds the drive reports, buffer underrun protection, and
// verification after recording.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/burn_discs.h"
#include "support/cue_images.h"
#include "support/run_program.h"

namespace {

using namespace cueburn_test;

constexpr uint32_t MINUTE = 4500;

class RecordingChecks : public CueBurn {
 protected:
  // A one-track audio sheet of `frames` frames (a sparse file: silence).
  void audio_sheet(uint64_t frames) {
    const std::string image = folder + "/audio.bin";
    std::FILE* file = std::fopen(image.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(ftruncate(fileno(file), static_cast<off_t>(frames * RAW)), 0);
    std::fclose(file);
    write_file(folder + "/disc.cue",
               "FILE audio.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
  }
  std::string mmc(const std::string& items) const {
    return "0:4:0=MMC CD-RW DRIVE,medium=" + disc + items;
  }
  // A blank disc in the recorder again.
  void blank() const {
    for (const char* ext : {".cue", ".bin", ".state"}) std::remove((disc + ext).c_str());
  }
  std::string disc = folder + "/burned";
};

std::string found_mmc(unsigned factor, bool bufe) {
  return "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED MMC CD-RW DRIVE  1.00 at " +
         std::to_string(factor) + "x\n" + (bufe ? "  Buffer underrun protection: on\n" : "") + "\n";
}

// What the blank takes decides, where the drive reports it; the 74-minute
// warning only where it does not, and then never ends the run.
TEST_F(RecordingChecks, CapacityAndOverburn) {
  const std::string refused_past_end =
      "The recording is longer than the disc: the CD-Recorder refused a block past its end\n";
  const struct {
    const char* what;
    std::string bus;
    uint32_t frames;
    std::vector<std::string> switches;
    int status;
    std::string err;  // exact, or its start when it ends in a refusal
  } cases[] = {
      {"an 80-minute album on an 80-minute blank",
       mmc(",capacity=80"),
       79 * MINUTE + 3000,
       {},
       0,
       ""},
      {"longer than the blank",
       mmc(",capacity=2"),
       2 * MINUTE + 1000,
       {},
       1,
       "\nError: The disc image (02:15:25) is longer than the blank disc (02:00:00)\n"},
      {"overburn within the drive's limit",
       mmc(",capacity=2"),
       2 * MINUTE + 1000,
       {"/OVERBURN"},
       0,
       "WARNING! The disc image (02:15:25) is longer than the blank disc (02:00:00): recording "
       "past its end (/OVERBURN)\n"},
      {"overburn past the drive's limit",
       mmc(",capacity=2,overburn=0"),
       2 * MINUTE + 1000,
       {"/OVERBURN"},
       1,
       "WARNING! The disc image (02:15:25) is longer than the blank disc (02:00:00): recording "
       "past its end (/OVERBURN)\n\nError: "},
      {"no capacity reported: the warning alone",
       "0:4:0=CDD2000,capacity=80,medium=" + disc,
       75 * MINUTE,
       {},
       0,
       "WARNING! Total disc time (75:02:00) exceeds 74 minutes!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    audio_sheet(c.frames);
    blank();
    std::vector<std::string> arguments = {"disc.cue", "/NOCONFIRM"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = cueburn(c.bus, arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.status == 0 || c.err.substr(0, 2) == "\nE") {
      EXPECT_EQ(run.err, c.err);
    } else {
      EXPECT_EQ(run.err.substr(0, c.err.size()), c.err);
      EXPECT_EQ(run.err.substr(run.err.size() - refused_past_end.size()), refused_past_end);
    }
    if (c.status == 0) {
      EXPECT_NE(run.out.find("CD successfully recorded!\n"), std::string::npos);
      // Every frame of the silence is on the disc, though the recorder
      // keeps it as a hole: the image is as long as the track.
      struct stat image {};
      ASSERT_EQ(stat((disc + ".bin").c_str(), &image), 0);
      EXPECT_EQ(image.st_size, static_cast<off_t>(c.frames) * RAW);
      EXPECT_LT(image.st_blocks * 512, image.st_size / 2);
    }
    // The refusal comes before anything is written.
    if (c.err.substr(0, 2) == "\nE") {
      EXPECT_EQ(run.out.find("Writing"), std::string::npos);
    }
  }
  // A disc recorded past its capacity is full.
  audio_sheet(1000);
  const ProgramRun again =
      cueburn("0:4:0=MMC CD-RW DRIVE,capacity=2,medium=" + disc, {"disc.cue", "/NOCONFIRM"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("is closed and takes no further recording"), std::string::npos)
      << again.err;
}

// The factors the drive reports, the next lower one for another, the seed
// families' codes; the device line and the estimate show the factor used.
TEST_F(RecordingChecks, SpeedsAndUnderrunProtection) {
  const struct {
    std::string items;
    std::string speed;  // the /SPEED= value, or none
    std::string head;   // the output up to the counts
    unsigned estimate_factor;
  } cases[] = {
      {"", "", found_mmc(48, true), 48},
      {"", "16", found_mmc(16, true), 16},
      {"", "20",
       found_mmc(16, true) + "Note: The CD-Recorder does not record at 20x: "
                             "recording at 16x\n",
       16},
      {"", "2",
       found_mmc(4, true) + "Note: The CD-Recorder does not record at 2x: recording "
                            "at 4x\n",
       4},
      {",speeds=2/6/10,bufe=0", "8",
       found_mmc(6, false) + "Note: The CD-Recorder does not "
                             "record at 8x: recording at 6x\n",
       6},
      {",speeds=2/6/10", "", found_mmc(10, true), 10},
  };
  audio_sheet(2000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.items + " /SPEED=" + c.speed);
    std::vector<std::string> arguments = {"disc.cue", "/NOCONFIRM"};
    if (!c.speed.empty()) arguments.push_back("/SPEED=" + c.speed);
    blank();
    const ProgramRun run = cueburn(mmc(c.items), arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, c.head.size()), c.head);
    EXPECT_NE(run.out.find("Approximate recording time at " + std::to_string(c.estimate_factor) +
                           "x speed"),
              std::string::npos)
        << run.out;
  }
  // The seed's families keep their codes.
  const ProgramRun seed = cueburn("0:4:0=CDD2000,medium=" + disc, {"disc.cue", "/SPEED=8"});
  EXPECT_EQ(seed.status, 1);
  EXPECT_EQ(seed.err, "Error: Illegal recording speed specified!\n");
  EXPECT_EQ(seed.out, "");
  const ProgramRun mmc_zero = cueburn(mmc(""), {"disc.cue", "/SPEED=0"});
  EXPECT_EQ(mmc_zero.err, "Error: Illegal recording speed specified!\n");
}

// Every block read back and compared: corrupt= leaves something to find in
// audio and in data, through the recorder or another reader.
TEST_F(RecordingChecks, VerificationAfterRecording) {
  write_bytes(folder + "/audio.bin", pattern(1200, RAW, 3));
  write_bytes(folder + "/data.bin", pattern(600, 2048, 9));
  // Raw sectors as a file may hold them: any bytes after the sync field.
  write_bytes(folder + "/raw.bin", pattern(300, RAW, 5));
  write_file(folder + "/disc.cue",
             "FILE data.bin BINARY\n TRACK 01 MODE1/2048\n  INDEX 01 00:00:00\n"
             "FILE audio.bin BINARY\n TRACK 02 AUDIO\n  PREGAP 00:02:00\n  INDEX 01 00:00:00\n"
             "FILE raw.bin BINARY\n TRACK 03 MODE1/2352\n  PREGAP 00:02:00\n"
             "  INDEX 01 00:00:00\n");
  const std::string differences =
      "\nError: Verification found differences between the disc and what was sent\n";
  const struct {
    std::string items;
    std::vector<std::string> switches;
    int status;
    std::string err;
  } cases[] = {
      {"", {"/VERIFY"}, 0, ""},
      {",corrupt=1000-1009",
       {"/VERIFY"},
       1,
       "TRACK 02: 10 blocks differ, the first at LBA 001000 (00:15:25)\n" + differences},
      {",corrupt=10",
       {"/VERIFY"},
       1,
       "TRACK 01: 1 block differs, the first at LBA 000010 (00:02:10)\n" + differences},
      // A reader that holds the same disc, pressed from the sheet.
      {",corrupt=10;0:5:0=MMC CD-ROM DRIVE,medium=" + folder + "/disc.cue",
       {"/VERIFY=0:5:0"},
       0,
       ""},
      {"", {"/VERIFY=0:6:0"}, 1, "\nError: Specified device (0:6:0) is not a CDROM!\n"},
      {"", {"/VERIFY=0:6"}, 1, "Error: Illegal /VERIFY format!\n"},
      // A test recording burns nothing to compare.
      {",corrupt=10", {"/VERIFY", "/TEST"}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.items + " " + c.switches[0]);
    std::vector<std::string> arguments = {"disc.cue", "/NOCONFIRM"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    blank();
    const ProgramRun run = cueburn(mmc(c.items), arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    const bool verified = c.err.find("Illegal") == std::string::npos &&
                          c.err.find("CDROM") == std::string::npos && c.switches.back() != "/TEST";
    EXPECT_EQ(run.out.find("Verifying TRACK 03... 100%\n") != std::string::npos, verified)
        << run.out;
    EXPECT_EQ(run.out.find("Verification completed: no differences\n") != std::string::npos,
              verified && c.status == 0);
  }
}

// dircast makes the volume again and compares it with the track.
TEST_F(RecordingChecks, DircastVerifiesTheTrack) {
  std::filesystem::create_directories(folder + "/tree");
  write_file(folder + "/tree/a.txt", std::string(50000, 'a'));
  write_file(folder + "/tree/b.txt", std::string(9000, 'b'));
  const struct {
    std::string items;
    int status;
    std::string err;
  } cases[] = {
      {"", 0, ""},
      {",corrupt=20", 1,
       "TRACK 01: 1 block differs, the first at LBA 000020 (00:02:20)\n\nError: Verification found "
       "differences between the disc and what was sent\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.items);
    blank();
    cdm_test::ScopedEnv emulated("EMULATED_SCSI_BUS", mmc(c.items));
    const ProgramRun run = run_program("dircast", {"tree/", "/NOCONFIRM", "/VERIFY"}, folder);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    EXPECT_NE(run.out.find("Verifying TRACK 01... 100%\n"), std::string::npos) << run.out;
  }
}

// A used CD-RW blanked alone or before a recording, with the drive's
// progress; what cannot be blanked is refused before anything is sent.
TEST_F(RecordingChecks, Blanking) {
  audio_sheet(1000);
  const std::string rewritable = ",erasable=1";
  const struct {
    const char* what;
    std::string bus;
    std::string program;
    std::vector<std::string> arguments;
    int status;
    std::string err;
    std::string shown;  // a line the run prints
    bool blank_after;   // the disc is blank afterwards
  } cases[] = {
      {"fast, alone",
       mmc(rewritable),
       "cueburn",
       {"/BLANK=FAST", "/NOCONFIRM"},
       0,
       "",
       "Blanking the disc (FAST)...  50%\r",
       true},
      {"full, alone",
       mmc(rewritable),
       "cueburn",
       {"/blank=full", "/NOCONFIRM"},
       0,
       "",
       "Blanking the disc (FULL)...  99%\rBlanking the disc (FULL)... 100%\n",
       true},
      {"then the recording",
       mmc(rewritable),
       "cueburn",
       {"disc.cue", "/BLANK=FAST", "/NOCONFIRM"},
       0,
       "",
       "Blanking the disc (FAST)... 100%\nWriting TRACK 01",
       false},
      {"dircast onto a used CD-RW",
       mmc(rewritable),
       "dircast",
       {"tree/", "/BLANK=FULL", "/NOCONFIRM"},
       0,
       "",
       "Blanking the disc (FULL)... 100%\n",
       false},
      {"a used CD-RW without /BLANK",
       mmc(rewritable),
       "cueburn",
       {"disc.cue", "/NOCONFIRM"},
       1,
       "\nError: The disc in the CD-Recorder is a used CD-RW: blank it before recording "
       "(/BLANK=FAST or /BLANK=FULL)\n",
       "",
       false},
      {"a family that cannot blank",
       "0:4:0=CDD2000,medium=" + disc,
       "cueburn",
       {"/BLANK=FAST"},
       1,
       "Error: CD-Recorder does not support blanking!\n",
       "",
       false},
      {"a test recording",
       mmc(rewritable),
       "cueburn",
       {"disc.cue", "/BLANK=FAST", "/TEST"},
       1,
       "Error: /BLANK erases the disc and cannot go with /TEST!\n",
       "",
       false},
      {"another kind",
       mmc(rewritable),
       "cueburn",
       {"/BLANK=QUICK"},
       1,
       "Error: Illegal /BLANK format!\n",
       "",
       false},
  };
  std::filesystem::create_directories(folder + "/tree");
  write_file(folder + "/tree/a.txt", "a");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A used disc in the drive.
    blank();
    ASSERT_EQ(cueburn(mmc(rewritable), {"disc.cue", "/NOCONFIRM"}).status, 0);
    cdm_test::ScopedEnv emulated("EMULATED_SCSI_BUS", c.bus);
    const ProgramRun run = run_program(c.program, c.arguments, folder);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    if (!c.shown.empty()) {
      EXPECT_NE(run.out.find(c.shown), std::string::npos) << run.out;
    }
    EXPECT_EQ(!std::filesystem::exists(disc + ".state"), c.blank_after);
  }
}

// A full blank erases the recorded sectors (what still holds the image
// reads zeros); a fast one erases the table of contents alone, and both
// leave a blank disc.
TEST_F(RecordingChecks, FullBlankErasesTheSectors) {
  audio_sheet(1000);
  write_bytes(folder + "/audio.bin", pattern(1000, RAW, 7));
  const struct {
    const char* kind;
    bool zeroed;
  } cases[] = {{"FAST", false}, {"FULL", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    blank();
    ASSERT_EQ(cueburn(mmc(",erasable=1"), {"disc.cue", "/NOCONFIRM"}).status, 0);
    // Another link to the stored sectors, as the disc's surface.
    const std::string kept = folder + "/kept.bin";
    std::remove(kept.c_str());
    std::filesystem::create_hard_link(disc + ".bin", kept);
    const std::string before = read_file(kept);
    const ProgramRun run =
        cueburn(mmc(",erasable=1"), {std::string("/BLANK=") + c.kind, "/NOCONFIRM"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(std::filesystem::exists(disc + ".state"));
    const std::string after = read_file(kept);
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(after == std::string(before.size(), '\0'), c.zeroed);
    EXPECT_EQ(after == before, !c.zeroed);
  }
}

}  // namespace

// cueburn run as a user runs it: its switches, devices, figures, prompts,
// copies with and without the disc transporter, test and session-at-once
// recordings, and a recording that fails half way.
#include "tools/cueburn/cueburn.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/recorder_driver.h"
#include "support/burn_discs.h"
#include "support/cue_images.h"
#include "support/patterns.h"
#include "support/run_program.h"
#include "support/scsi_fakes.h"

namespace {

using namespace cueburn_test;
using cdm_test::ScopedEnv;

TEST_F(CueBurn, SwitchErrorsStopBeforeAnyDrive) {
  const std::string usage =
      "CUEBURN.EXE - Version 2.4A (November 1996)\n\n"
      "Usage: CUEBURN <cuefile> [/ID=ha:id:lun] [/BEEP] [/COPIES=n] [/EJECT]\n"
      "         [/NOCONFIRM] [/NOWARN] [/SESSION] [/SPEED=n] [/TEST]\n"
      "cuefile    - Cue sheet filename\n"
      "/ID        - SCSI ID of CD recorder (default is first found)\n"
      "/BEEP      - Issue an audible 'beep' when recording has finished\n"
      "/COPIES=n  - Number of discs to be recorded (default is 1)\n"
      "/EJECT     - Eject CD when recording has finished\n"
      "/NOCONFIRM - Disable all confirmation prompts\n"
      "/NOWARN    - Disable all warning messages\n"
      "/SESSION   - Enable session-at-once recording (default is disc-at-once)\n"
      "/SPEED=n   - Recording speed (default is maximum)\n"
      "/TEST      - Enable test recording mode\n";
  const struct {
    std::vector<std::string> arguments;
    std::string out, err;
  } cases[] = {
      {{}, usage, ""},
      {{"disc.cue", "/?"}, usage, ""},
      {{"a.cue", "b.cue"}, "", "Too many parameters - b.cue\n"},
      {{"disc.cue", "/SPEED=3"}, "", "Error: Illegal recording speed specified!\n"},
      {{"disc.cue", "/SPEEDY=2"}, "", "Error: Illegal /SPEED format!\n"},
      {{"disc.cue", "/speed="}, "", "Error: Illegal /SPEED format!\n"},
      {{"disc.cue", "/COPIES=0"}, "", "Error: Illegal copy count specified!\n"},
      {{"disc.cue", "/copies=x"}, "", "Error: Illegal /COPIES format!\n"},
      {{"disc.cue", "/ID=1:2"}, "", "Error: Illegal /ID format!\n"},
      {{"disc.cue", "/Nope"}, "", "Invalid switch - /Nope\n"},
      {{"/BEEP", "/eject", "/TRANSPORT"}, "", "Error: CUE SHEET filename must be specified!\n"},
  };
  for (const auto& c : cases) {
    const ProgramRun run = cueburn("0:4:0=CDD2000,medium=" + folder + "/burned", c.arguments);
    EXPECT_EQ(run.status, 1) << c.err;
    EXPECT_EQ(run.out, c.out) << c.err;
    EXPECT_EQ(run.err, c.err);
  }
}

TEST_F(CueBurn, DeviceErrors) {
  write_file(folder + "/disc.cue", "FILE a.bin BINARY\n TRACK 01 AUDIO\n  INDEX 01 00:00:00\n");
  write_bytes(folder + "/a.bin", pattern(10, RAW, 0));
  const std::string found =
      "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED CDD521/02        1.00\n\n";
  const struct {
    std::string bus;
    std::vector<std::string> arguments;
    std::string out, err;
  } cases[] = {
      {"0:3:0=CD-ROM PX-12CS",
       {"disc.cue"},
       "",
       "\nError: Unable to find a known CD-Recorder device on the SCSI bus!\n"},
      {"0:3:0=CD-ROM PX-12CS;0:4:0=CDD2000",
       {"disc.cue", "/ID=0:3:0"},
       "",
       "\nError: Specified device (0:3:0) is not a CD-Recorder or is unknown!\n"},
      {"0:4:0=CDD2000",
       {"disc.cue", "/ID=0:4:300"},
       "",
       "\nError: Specified device (0:4:300) is not a CD-Recorder or is unknown!\n"},
      {"0:4:0=CDD521/02",
       {"disc.cue"},
       found,
       "Error: CD-Recorder does not support 'disc-at-once' recording!\n"},
      {"0:4:0=RO1060C",
       {"disc.cue"},
       "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED RO1060C          1.00\n\n",
       "Error: CD-Recorder does not support 'disc-at-once' recording!\n"},
      {"0:4:0=CDD2000",
       {"disc.cue", "/TRANSPORT"},
       "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED CDD2000          1.00\n\n",
       "\nError: Unable to find a known Disc-Transporter device on the SCSI bus!\n"},
      {"0:4:0=CDD2000",
       {"missing.cue"},
       "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED CDD2000          1.00\n\n",
       "\nError: Unable to open file \"missing.cue\"\n"},
  };
  for (const auto& c : cases) {
    const ProgramRun run = cueburn(c.bus, c.arguments);
    EXPECT_EQ(run.status, 1) << c.err;
    EXPECT_EQ(run.out, c.out) << c.err;
    EXPECT_EQ(run.err, c.err);
  }
  // CDWRITER_ID names the recorder; /ID= replaces it.
  ScopedEnv writer("CDWRITER_ID", "0:3:0");
  ProgramRun run = cueburn("0:3:0=CD-ROM PX-12CS;0:4:0=CDD521/02", {"disc.cue"});
  EXPECT_EQ(run.err, "\nError: Specified device (0:3:0) is not a CD-Recorder or is unknown!\n");
  run = cueburn("0:3:0=CD-ROM PX-12CS;0:4:0=CDD521/02", {"disc.cue", "/ID=0:4:0"});
  EXPECT_EQ(run.err, "Error: CD-Recorder does not support 'disc-at-once' recording!\n");
}

std::string found_recorder(const std::string& product) {
  std::string padded = product;
  padded.resize(16, ' ');
  return "CD-Recorder device found...\n  HA #0 - SCSI ID #4 - EMULATED " + padded + " 1.00\n\n";
}

const char LIST_HEADER[] =
    "              Start     Length   Start   Length\n"
    "TRACK INDEX  MM:SS:FF  MM:SS:FF   LBA     LBA\n"
    "----- -----  --------  --------   ---     ---\n";

// One audio track of `bytes` bytes from a sparse file.
std::string one_track_sheet(const std::string& folder, uint64_t bytes) {
  const std::string image = folder + "/audio.bin";
  std::FILE* file = std::fopen(image.c_str(), "wb");
  if (file == nullptr || ftruncate(fileno(file), static_cast<off_t>(bytes)) != 0)
    ADD_FAILURE() << "cannot make " << image;
  if (file != nullptr) std::fclose(file);
  write_file(folder + "/disc.cue",
             "FILE audio.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  return "disc.cue";
}

bool disc_files_exist(const std::string& disc) {
  for (const char* ext : {".cue", ".bin", ".state"})
    if (std::FILE* file = std::fopen((disc + ext).c_str(), "rb")) {
      std::fclose(file);
      return true;
    }
  return false;
}

// 1048577 bytes: 446 frames, the last one partial, and 2 Mb.
TEST_F(CueBurn, FiguresPromptsAndTestRecording) {
  const std::string cue = one_track_sheet(folder, 1048577);
  const std::string disc = folder + "/burned";
  const std::string layout = std::string("\nHit <RETURN> to view disc layout...\n") + LIST_HEADER +
                             " 01    01    00:02:00  00:05:71  000000  000446\n";
  const std::string counts =
      "The CUE SHEET file has been successfully parsed...\n"
      "  Number of files     : 001\n"
      "  Number of tracks    : 001\n"
      "  Number of cuepoints : 001\n";
  const struct {
    std::string product;
    std::vector<std::string> switches;
    std::string before_recording;
  } cases[] = {
      // /SPEED=6 on a 2x recorder records at 2x: (446 + 9000 + 19999) / 9000.
      {"CDD2000",
       {"/SPEED=6", "/TEST"},
       counts + layout +
           "\nImage file(s) contain 2Mb of data\n"
           "Approximate recording time at 2x speed is 3 minutes\n"
           "\nTEST recording mode is enabled!\n"
           "Hit <RETURN> to begin recording (or CTRL/C to exit)...\n"},
      // Without /SPEED the recorder's maximum (6x); no prompt, no layout.
      {"KHSW/OB-01",
       {"/NOCONFIRM", "/TEST"},
       counts + "\nImage file(s) contain 2Mb of data\n"
                "Approximate recording time at 6x speed is 1 minutes\n\n"},
      {"KHSW/OB-01",
       {"/NOCONFIRM", "/TEST", "/speed=1"},
       counts + "\nImage file(s) contain 2Mb of data\n"
                "Approximate recording time at 1x speed is 5 minutes\n\n"},
      {"CDD2600",
       {"/NOCONFIRM", "/TEST", "/SPEED=4"},
       counts + "\nImage file(s) contain 2Mb of data\n"
                "Approximate recording time at 2x speed is 3 minutes\n\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments{cue};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = cueburn("0:4:0=" + c.product + ",medium=" + disc, arguments);
    SCOPED_TRACE(c.product);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string head = found_recorder(c.product) + c.before_recording;
    EXPECT_EQ(run.out.substr(0, head.size()), head);
    EXPECT_NE(run.out.find("Writing TRACK 01 (446 blocks)\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - 26), "CD successfully recorded!\n");
    // A test recording leaves the disc blank.
    EXPECT_FALSE(disc_files_exist(disc));
  }
}

// 333000 frames fill 74 minutes; one frame more is warned about on a
// recorder that reports no capacity, and recorded after the warning (or
// after RETURN): the disc may well be longer. A 74-minute blank disc holds
// 150 frames less than 74 minutes from LBA 0, so the recorder refuses each
// table before any block is written.
TEST_F(CueBurn, SeventyFourMinuteWarning) {
  const std::string bus = "0:4:0=CDD2000,medium=" + folder + "/burned";
  const std::string refused =
      "\nError: 'WRITE SESSION' command failed on device 0:4:0\nThe recording is longer than the "
      "disc: the CD-Recorder refused a block past its end\n";
  const std::string warning = "WARNING! Total disc time (74:02:01) exceeds 74 minutes!\n";
  const std::string counts =
      "The CUE SHEET file has been successfully parsed...\n"
      "  Number of files     : 001\n"
      "  Number of tracks    : 001\n"
      "  Number of cuepoints : 001\n";

  one_track_sheet(folder, 333000ull * RAW);
  ProgramRun run = cueburn(bus, {"disc.cue", "/NOCONFIRM", "/SPEED=1"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, refused);
  EXPECT_EQ(run.out, found_recorder("CDD2000") + counts +
                         "\nImage file(s) contain 747Mb of data\n"
                         "Approximate recording time at 1x speed is 79 minutes\n\n");

  one_track_sheet(folder, 333001ull * RAW);
  run = cueburn(bus, {"disc.cue", "/NOCONFIRM", "/NOWARN"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, warning + refused);
  EXPECT_EQ(run.out.substr(0, found_recorder("CDD2000").size() + counts.size()),
            found_recorder("CDD2000") + counts);

  run = cueburn(bus, {"disc.cue"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, warning + refused);
  EXPECT_EQ(run.out.substr(0, found_recorder("CDD2000").size() + 48),
            found_recorder("CDD2000") + "Hit <RETURN> to continue (or CTRL/C to exit)...\n");
}

TEST_F(CueBurn, FailureHalfWayEndsTheRunAndLeavesTheDiscAsItWas) {
  write_fixture(fixtures()[0]);
  const std::string disc = folder + "/burned";
  const ProgramRun run =
      cueburn("0:4:0=CDD2000,medium=" + disc + ",fail=2A:3/0C/00", {"disc.cue", "/NOCONFIRM"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "\nError: 'WRITE' command failed on device 0:4:0\nBad medium detected\n");
  EXPECT_EQ(run.out.find("CD successfully recorded!"), std::string::npos);
  EXPECT_FALSE(disc_files_exist(disc));
}

// The recorder's disc file stops growing (a file size limit): part way, or
// with only the last blocks left, which the drive's cache holds until the
// recording ends. Either way the run fails with the drive's write error at
// once and leaves no disc.
TEST_F(CueBurn, DiscFileThatCannotGrowFailsTheRecording) {
  const Fixture fixture = fixtures()[0];
  write_fixture(fixture);
  uint64_t frames = 0;
  for (const Segment& segment : fixture.segments) frames += segment.frames;
  const std::string disc = folder + "/burned";
  struct Case {
    uint64_t limit;
    const char* command;
  };
  for (const Case& c : {Case{100 * RAW, "WRITE"}, Case{frames * RAW - 1, "SYNCHRONIZE CACHE"}}) {
    SCOPED_TRACE(c.command);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limited = old;
    limited.rlim_cur = c.limit;
    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);  // writes fail with EFBIG
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const ProgramRun run = cueburn("0:4:0=CDD2000,medium=" + disc, {"disc.cue", "/NOCONFIRM"});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "\nError: '" + std::string(c.command) +
                           "' command failed on device 0:4:0\nBad medium detected\n");
    EXPECT_EQ(run.out.find("CD successfully recorded!"), std::string::npos);
    EXPECT_FALSE(disc_files_exist(disc));
  }
}

// The control bytes of every EXCHANGE MEDIUM in a trace, in order.
std::vector<std::string> exchange_controls(const std::string& trace) {
  std::vector<std::string> controls;
  static const cdm_test::Pattern exchange(
      R"(^SCSI 0:5:0 \[A6(?: [0-9A-F]{2}){10} ([0-9A-F]{2})\].*result 1$)");
  std::istringstream lines(trace);
  std::string line;
  cdm_test::Groups match;
  while (std::getline(lines, line))
    if (exchange.search(line, match)) controls.push_back(match[1]);
  return controls;
}

// Copies with and without the transporter: the exchanges around them, the
// prompts, and every recorded disc readable as the transporter kept it.
TEST_F(CueBurn, CopiesWithAndWithoutTheTransporter) {
  const std::vector<Fixture> all = fixtures();
  const Fixture& fixture = all[0];
  write_fixture(fixture);
  const std::string disc = folder + "/burned";
  const std::string recorder = "0:4:0=CDD2000,medium=" + disc;
  const std::string transporter = ";0:5:0=DISC TRANSPORTER";
  const std::string begin = "Hit <RETURN> to begin recording (or CTRL/C to exit)...";
  const auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
    return n;
  };
  const struct {
    unsigned copies;
    std::vector<std::string> controls;
  } cases[] = {{1, {"40", "C0"}}, {3, {"40", "00", "00", "C0"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.copies);
    ScopedEnv trace("TRACE_SCSI_ENABLED", "1");
    const ProgramRun run = cueburn(
        recorder + transporter, {"disc.cue", "/COPIES=" + std::to_string(c.copies), "/TRANSPORT"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(exchange_controls(run.err), c.controls) << run.err;
    EXPECT_EQ(count(run.out, begin), 1u);
    EXPECT_EQ(count(run.out, "CD successfully recorded!\n"), c.copies);
    for (unsigned n = 1; n <= c.copies; ++n)
      EXPECT_NE(run.out.find("\nLOADING DISC #" + std::to_string(n) + "...\n\n"),
                std::string::npos);
    // The recorder is left empty; the discs lie on the output stack.
    EXPECT_FALSE(disc_files_exist(disc));
    for (unsigned n = 1; n <= c.copies; ++n) {
      const std::string kept = disc + "-" + std::to_string(n);
      const ProgramRun info =
          discinfo("0:3:0=CD-ROM PX-12CS,medium=" + kept + ".cue", {"/MCN", "/ISRC"});
      ASSERT_EQ(info.status, 0) << info.err;
      EXPECT_EQ(info.out.substr(info.out.find("\n\n") + 2), fixture.listing);
      expect_sectors(read_file(kept + ".bin"), folder, fixture.segments, kept);
      for (const char* ext : {".cue", ".bin", ".state"}) std::remove((kept + ext).c_str());
    }
  }

  // Without the transporter every copy is asked for, even with /NOCONFIRM; a
  // test recording leaves the disc blank for the next one.
  ProgramRun run = cueburn(recorder, {"disc.cue", "/COPIES=3", "/NOCONFIRM", "/TEST"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(count(run.out, "\nTEST recording mode is enabled!\n" + begin), 3u);
  EXPECT_EQ(count(run.out, "CD successfully recorded!\n"), 3u);
  // Nobody changes the disc: the second copy finds it closed.
  run = cueburn(recorder, {"disc.cue", "/COPIES=2", "/NOCONFIRM"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(count(run.out, begin), 2u);
  EXPECT_EQ(count(run.out, "CD successfully recorded!\n"), 1u);
  EXPECT_EQ(run.err,
            "\nError: 'WRITE SESSION' command failed on device 0:4:0\nThe disc in the CD-Recorder "
            "cannot be recorded: it is closed, or not a recordable disc\n");
  const ProgramRun info = discinfo(recorder, {"/MCN", "/ISRC"});
  EXPECT_EQ(info.out.substr(info.out.find("\n\n") + 2), fixture.listing);
}

// The transporter refuses what a changer cannot do.
TEST_F(CueBurn, TransporterRefusals) {
  write_fixture(fixtures()[0]);
  const std::string recorder = "0:4:0=CDD2000,medium=" + folder + "/burned";
  const struct {
    std::string transporter;
    std::vector<std::string> arguments;
    std::string sense;
    std::string error;
  } cases[] = {
      // The first disc is the blank one in the recorder, the second the one
      // blank disc of the stack; the third finds the stack empty.
      {"0:5:0=DISC TRANSPORTER,blanks=1",
       {"disc.cue", "/COPIES=3", "/TRANSPORT", "/TEST"},
       "sense key 5 ASC 3B ASCQ 0E",
       "\nError: 'EXCHANGE MEDIUM' command failed on device 0:5:0\nThe Disc-Transporter has no "
       "blank disc left on its input stack\n"},
      // No recorder at that address: nothing the arm can reach.
      {"0:5:0=DISC TRANSPORTER,recorder=0:6:0",
       {"disc.cue", "/TRANSPORT"},
       "sense key 5 ASC 3B ASCQ 11",
       "\nError: 'EXCHANGE MEDIUM' command failed on device 0:5:0\nIllegal command request\n"},
  };
  for (const auto& c : cases) {
    ScopedEnv trace("TRACE_SCSI_ENABLED", "1");
    const ProgramRun run = cueburn(recorder + ";" + c.transporter, c.arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("SCSI 0:5:0 [A6"), std::string::npos);
    EXPECT_NE(run.err.find(c.sense), std::string::npos) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - c.error.size()), c.error);
  }
}

// /SESSION closes the session and leaves the disc open: a second sheet then
// goes into a second session after the first one's lead-out at LBA 700 (6750 blocks),
// the next lead-in (4500) and a pregap (150).
TEST_F(CueBurn, SessionAtOnceLeavesTheDiscOpenForAnotherSession) {
  const std::vector<Fixture> all = fixtures();
  write_fixture(all[2]);
  write_file(folder + "/second.cue",
             "FILE audio.bin BINARY\n  TRACK 03 AUDIO\n    INDEX 01 00:00:00\n");
  const std::string recorder = "0:4:0=CDD2000,medium=" + folder + "/burned";
  ProgramRun run = cueburn(recorder, {"disc.cue", "/NOCONFIRM", "/SESSION"});
  ASSERT_EQ(run.status, 0) << run.err;
  run = cueburn(recorder, {"second.cue", "/NOCONFIRM"});
  ASSERT_EQ(run.status, 0) << run.err;
  const ProgramRun info = discinfo(recorder, {"/NOPROMPT"});
  EXPECT_EQ(info.out.substr(info.out.find("\n\n") + 2),
            std::string(HEADER) +
                "01   Data    00:02:00    000000     No        No        No     Not Available\n"
                "02   Audio   00:10:00    000600     No        No        No     Not Available\n"
                "03   Audio   02:43:25    012100     No        No        No     Not Available\n"
                "\nLeadout: 02:44:50 (LBA 012200)\n"
                "\nSession 01: Tracks 01 to 02, Leadout: 00:11:25 (LBA 000700)\n"
                "Session 02: Tracks 03 to 03, Leadout: 02:44:50 (LBA 012200)\n");
  // The second recording closed the disc.
  run = cueburn(recorder, {"second.cue", "/NOCONFIRM"});
  EXPECT_EQ(run.status, 1);
}

// The figures at their edges; the size is summed in 64 bits, so image data
// just under 4 GiB is not reported as 0 Mb.
TEST(CueBurnFigures, SizeTimeAndSpeed) {
  const struct {
    uint64_t bytes;
    unsigned long megabytes;
  } sizes[] = {{0, 0}, {1048576, 1}, {1048577, 2}, {0xFFFFFFFFull, 4096}};
  for (const auto& c : sizes) EXPECT_EQ(image_megabytes(c.bytes), c.megabytes) << c.bytes;
  const struct {
    uint32_t frames;
    unsigned factor;
    uint16_t minutes;
  } times[] = {{333000, 1, 79}, {333000, 2, 40}, {0, 1, 5}, {446, 6, 1}};
  for (const auto& c : times) EXPECT_EQ(recording_minutes(c.frames, c.factor), c.minutes);
  // The asked code, or the drive's maximum when it is not below it.
  EXPECT_EQ(clamp_speed_code(3, SPEED_2X), SPEED_2X);
  EXPECT_EQ(clamp_speed_code(255, SPEED_6X), SPEED_6X);
  EXPECT_EQ(clamp_speed_code(0, SPEED_2X), SPEED_1X);
  EXPECT_EQ(speed_factor(SPEED_4X), 4u);
}

}  // namespace

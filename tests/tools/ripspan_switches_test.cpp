// ripspan's command line, its checks and its output paths, run as a user
// runs it; the reset pause in the process with the sleep replaced.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/console.h"
#include "drivers/recording_events.h"
#include "scsi/scan.h"
#include "scsi/settings.h"
#include "scsi/transport.h"
#include "support/rip_discs.h"
#include "support/scsi_fakes.h"
#include "tools/ripspan/rip_span.h"
#include "tools/shared/drive_setup.h"

namespace {

using namespace ripspan_test;

const char kUsage[] =
    "RIPSPAN.EXE - Version 2.4A (November 1996)\n"
    "\n"
    "<hit any key to continue>\r"
    "Usage: RIPSPAN <imagefile> [/START=<start>] [/END=<end>] [/TRACK=n]\n"
    "         [/ID=ha:id:lun] [/APPEND] [/BATCH] [/CDG] [/DATA]\n"
    "         [/JC] [/NOJC] [/RESET] [/SPEED=n] [/BIN] [/WAV]\n"
    "imagefile - Output image data file\n"
    "/START    - Starting MSF/LBA (default is start of disc)\n"
    "/END      - Ending MSF/LBA (default is end of disc)\n"
    "/TRACK    - Copy specified track number (1 to 99)\n"
    "/ID       - SCSI ID of CDROM drive (default is first found)\n"
    "/APPEND   - Append data to existing file\n"
    "/BATCH    - Disable all logging messages\n"
    "/CDG      - Enable reading of CD+G subcodes\n"
    "/DATA     - Enable reading of raw (2352 byte) data sectors\n"
    "/JC       - Enable 'jitter' correction (audio only)\n"
    "/NOJC     - Disable 'jitter' correction (audio only)\n"
    "/RESET    - Reset device (workaround for firmware bugs)\n"
    "/SPEED=n  - Audio reading speed (default is maximum)\n"
    "/BIN      - Write output file in Intel binary format (default for data)\n"
    "/WAV      - Write output file in WAV format (default for audio)\n"
    "e.g. RIPSPAN /START=10:14:36 /END=13:55:11 /WAV TEST.WAV\n"
    "e.g. RIPSPAN /START=106232 /END=124443 /BIN TEST.BIN\n"
    "e.g. RIPSPAN /TRACK=5 /ID=0:3:0 /SPEED=4 /APPEND TRACK5.WAV\n";

class RipspanSwitches : public testing::Test {
 protected:
  ScratchDirectory scratch;
  ScratchDirectory disc_folder;
  Disc disc{disc_folder.path(), audio_disc(200)};
  std::string out = scratch.file("out.bin");
};

struct Refusal {
  const char* why;
  std::vector<std::string> switches;  // after the output file
  const char* err;
};

// Every refusal of the command line: its exact text, status 1, no output file.
TEST_F(RipspanSwitches, RefusedCommandLines) {
  const Refusal refusals[] = {
      {"a time before 00:02:00", {"/START=00:01:74"}, "Error: Illegal MM:SS:FF value specified\n"},
      {"81 minutes", {"/START=81:00:00"}, "Error: Illegal MM:SS:FF value specified\n"},
      {"60 seconds", {"/END=10:60:00"}, "Error: Illegal MM:SS:FF value specified!\n"},
      {"75 frames", {"/END=10:00:75"}, "Error: Illegal MM:SS:FF value specified!\n"},
      {"minutes that wrap a 16-bit scan",
       {"/START=65616:00:00"},
       "Error: Illegal MM:SS:FF value specified\n"},
      {"not a number", {"/START=ABC"}, "Error: Illegal /START value format!\n"},
      {"a sign", {"/START=-5"}, "Error: Illegal /START value format!\n"},
      {"trailing letters", {"/START=12X"}, "Error: Illegal /START value format!\n"},
      {"four numbers", {"/END=1:2:3:4"}, "Error: Illegal /END value format!\n"},
      {"an LBA beyond 32 bits", {"/END=4294967296"}, "Error: Illegal /END value format!\n"},
      {"no value", {"/END"}, "Error: Illegal /END value format!\n"},
      {"start after end",
       {"/START=100", "/END=99"},
       "Error: /START value is greater than /END value!\n"},
      {"start after end as times",
       {"/END=00:02:10", "/START=00:02:11"},
       "Error: /START value is greater than /END value!\n"},
      {"track 0", {"/TRACK=0"}, "Error: Illegal /TRACK number specified!\n"},
      {"track 100", {"/TRACK=100"}, "Error: Illegal /TRACK number specified!\n"},
      {"track that wraps a 16-bit scan",
       {"/TRACK=65541"},
       "Error: Illegal /TRACK number specified!\n"},
      {"track not a number", {"/TRACK=X"}, "Error: Illegal /TRACK value format!\n"},
      {"speed 3", {"/SPEED=3"}, "Error: Illegal reading speed specified!\n"},
      {"speed 0", {"/SPEED=0"}, "Error: Illegal reading speed specified!\n"},
      {"speed empty", {"/SPEED="}, "Error: Illegal /SPEED format!\n"},
      {"block length not a number", {"/BLKLEN=2K"}, "Error: Illegal /BLKLEN format!\n"},
      {"block length above 16 bits", {"/BLKLEN=65536"}, "Error: Illegal /BLKLEN format!\n"},
      {"block length by its first six characters",
       {"/BLKLEX=2048"},
       "Error: Illegal /BLKLEN format!\n"},
      {"address of two numbers", {"/ID=0:3"}, "Error: Illegal /ID value format!\n"},
      {"data and CD+G", {"/DATA", "/CDG"}, "Error: Cannot use both /DATA and /CDG\n"},
      {"unknown switch", {"/JCX"}, "Invalid switch - /JCX\n"},
      {"second file", {"second.bin"}, "Too many parameters - second.bin\n"},
      {"no such device", {"/ID=0:5:0"}, "\nError: Specified device (0:5:0) is not a CDROM!\n"},
      {"no such track", {"/TRACK=2"}, "Error: Specified track number (2) does not exist!\n"},
      {"a block length audio is not read in",
       {"/BLKLEN=2000", "/BATCH"},
       "Error: Illegal /BLKLEN value specified!\n"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.why);
    std::remove(out.c_str());
    std::vector<std::string> arguments = {out};
    arguments.insert(arguments.end(), r.switches.begin(), r.switches.end());
    const ProgramRun run = disc.rip(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, r.err);
    if (std::string(r.err).find("bugcheck") == std::string::npos) {
      EXPECT_EQ(read_file(out), "");
    }
  }
  const ProgramRun missing = disc.rip({"/BATCH"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "Error: Output filename must be specified!\n");
}

struct Accepted {
  const char* why;
  std::vector<std::string> switches;
  uint32_t first, last;
};

// Accepted positions, speeds and lower-case switches read the span they name.
TEST_F(RipspanSwitches, AcceptedPositions) {
  const Accepted cases[] = {
      {"00:02:00 is LBA 0", {"/START=00:02:00", "/END=00:02:04"}, 0, 4},
      {"times and LBAs mix", {"/START=00:03:00", "/END=80"}, 75, 80},
      {"two numbers are an LBA", {"/START=10:14", "/END=12"}, 10, 12},
      {"lower case and a speed", {"/start=5", "/end=7", "/speed=12", "/jc"}, 5, 7},
      {"end only", {"/END=2"}, 0, 2},
      {"start only: up to the last readable sector", {"/START=190"}, 190, 199},
  };
  for (const Accepted& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> arguments = {out, "/BIN", "/BATCH"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = disc.rip(arguments);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(read_file(out) == disc.frames(c.first, c.last));
  }
  // 80:59:74 (LBA 364349) is accepted as a position; it lies past the disc.
  const ProgramRun far = disc.rip({out, "/BATCH", "/START=80:59:74", "/END=80:59:74"});
  EXPECT_EQ(far.status, 1);
  EXPECT_EQ(far.err, "Error: /START value is past the last sector of the disc (199)!\n");
  // A start beyond the disc's last readable sector is no span.
  const ProgramRun beyond = disc.rip({out, "/BATCH", "/START=500"});
  EXPECT_EQ(beyond.status, 1);
  EXPECT_EQ(beyond.err, "Error: /START value is greater than /END value!\n");
}

TEST_F(RipspanSwitches, UsageScreenWaitsForAKey) {
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"/?"}, std::vector<std::string>{}}) {
    const ProgramRun run = disc.rip(arguments, "k");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kUsage);
    EXPECT_EQ(run.err, "");
  }
}

// Output paths that are no regular file are refused before anything is
// opened (a FIFO would block the tool).
TEST_F(RipspanSwitches, HostileOutputPaths) {
  const std::string fifo = scratch.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path :
       {fifo, scratch.path(), scratch.file("no-such-folder/out.wav"), std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    const ProgramRun run = disc.rip({path, "/BATCH", "/END=3"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error creating output file \"" + path + "\"\n");
  }
}

// /RESET: the message, the ten-second pause through the replaceable sleep,
// two line ends, then the span.
TEST_F(RipspanSwitches, ResetPausesTenSeconds) {
  cdm_test::ScopedEnv bus("EMULATED_SCSI_BUS", "0:3:0=MYSTERY CDROM,medium=" + disc.cue);
  cdm_test::ScopedEnv no_reader_id("CDREADER_ID", std::nullopt);
  cdm_test::SleepRecorder sleeps;
  install_rip_span_events();
  install_drive_setup();
  install_scsi_transport(nullptr);
  load_scsi_settings();
  const char* argv[] = {"ripspan", out.c_str(), "/RESET", "/NOJC", "/END=1"};
  testing::internal::CaptureStdout();
  const int status = run_tool([&] { return run_rip_span(parse_rip_span_command_line(5, argv)); });
  const std::string printed = testing::internal::GetCapturedStdout();
  install_scsi_transport(nullptr);
  clear_event_callback();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(sleeps.pauses, std::vector<unsigned>{10000});
  const std::string progress = device_lines() + "Resetting CDROM device... Please wait...\n\n" +
                               "Reading LBA 000000 to 000001 (2 blocks)\n"
                               "  LBA: 000000 to 000001 (Jitter: 0 stereo samples)      \r\n";
  EXPECT_EQ(printed.substr(0, progress.size()), progress);
  EXPECT_TRUE(is_track_report(printed.substr(progress.size()))) << printed;
  EXPECT_TRUE(read_file(out).substr(44) == disc.frames(0, 1));
}

}  // namespace

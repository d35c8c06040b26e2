// ripspan and sheetgen run as a hostile user would: spans off the disc, block
// lengths no read takes, outputs that are a disc's own files, discs of two
// sessions or of data and audio, short last tracks, a file size limit and a
// signal half way, and silence on a drive that jitters. Each case has its
// exact messages and status, and the files it leaves are checked: what must
// stay whole, and WAV headers against the bytes that follow them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "common/console.h"
#include "common/interrupt.h"
#include "engine/recording.h"
#include "scsi/settings.h"
#include "support/rip_discs.h"
#include "support/scsi_fakes.h"
#include "tools/ripspan/rip_span.h"
#include "tools/shared/drive_setup.h"
#include "tools/sheetgen/sheetgen.h"

namespace {

using namespace ripspan_test;
using cdm_test::ScopedEnv;

constexpr char kKept[] = "old contents";
constexpr char kDiscLine[] = "It holds the disc of a drive on the SCSI bus\n";
constexpr uint32_t kGap = 6750 + 4500 + 150;  // from session 1's lead-out to track 2

// The WAV file's header counts exactly the bytes behind it.
void expect_truthful_wav(const std::string& path) {
  const std::string file = read_file(path);
  ASSERT_GE(file.size(), 44u) << path;
  EXPECT_EQ(le32_at(file, 40), file.size() - 44) << path;
  EXPECT_EQ(le32_at(file, 4), file.size() - 8) << path;
}

class HostileReading : public testing::Test {
 protected:
  void SetUp() override {
    write_sample_disc(dir.path(), "a", audio_disc(3000));
    SampleDisc mixed;
    mixed.tracks = {{TrackType::Mode1, 300, 0, "", ""}, {TrackType::Audio, 200, 150, "", ""}};
    write_sample_disc(dir.path(), "mixed", mixed);
    SampleDisc short_last;
    short_last.tracks = {{TrackType::Audio, 300, 0, "", ""}, {TrackType::Audio, 40, 10, "", ""}};
    short_last.indexes = {{}, {20}};
    write_sample_disc(dir.path(), "short", short_last);
    write_two_session_disc("m", TrackType::Audio);
    write_two_session_disc("dm", TrackType::Mode1);
    write_file(dir.file("keep.wav"), kKept);
    ASSERT_EQ(symlink("m.bin", dir.file("link.wav").c_str()), 0);
    ASSERT_EQ(link(dir.file("m.cue").c_str(), dir.file("hard.wav").c_str()), 0);
  }

  // A recorder's disc of two closed sessions: track 1 (LBA 0 to 299, of
  // `first` type), then the lead-out, lead-in and pregap, then track 2
  // (200 audio frames).
  void write_two_session_disc(const std::string& name, TrackType first) {
    SampleDisc tracks;
    tracks.tracks = {{first, 300, 0, "", ""}, {TrackType::Audio, kGap + 200, 0, "", ""}};
    write_sample_disc(dir.path(), name, tracks);
    std::fstream image(dir.file(name + ".bin"), std::ios::in | std::ios::out | std::ios::binary);
    image.seekp(300 * RAW);
    const std::string zeros(std::size_t{kGap} * RAW, '\0');
    image.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    write_file(dir.file(name + ".cue"),
               "FILE \"" + name + ".bin\" BINARY\n  TRACK 01 " +
                   (first == TrackType::Audio ? "AUDIO" : "MODE1/2352") +
                   "\n    INDEX 01 00:00:00\n"
                   "REM SESSION 02\n  TRACK 02 AUDIO\n    INDEX 00 00:04:00\n"
                   "    INDEX 01 02:36:00\n");
    write_file(dir.file(name + ".state"),
               "capacity 333000\ndisc closed\nnext 18800\n"
               "session 1 1 1 300 closed\nsession 2 2 2 11900 closed\n");
  }

  std::string reader(const std::string& disc) const {
    return "0:3:0=MYSTERY CDROM,medium=" + dir.file(disc + ".cue");
  }
  std::string recorder(const std::string& disc = "m") const {
    return "0:4:0=MMC CD-RW DRIVE,medium=" + dir.file(disc);
  }

  ScratchDirectory dir;
  ScopedEnv no_reader_id{"CDREADER_ID", std::nullopt};
  ScopedEnv no_trace{"TRACE_SCSI_ENABLED", std::nullopt};
};

TEST_F(HostileReading, EachCaseEndsAsItShouldAndLeavesItsFiles) {
  const std::string m_files =
      read_file(dir.file("m.cue")) + read_file(dir.file("m.bin")) + read_file(dir.file("m.state"));
  const std::string created = "Error creating output file \"";
  const std::string sheet =
      "REM Add 'FILE <filename> <filetype>' command here!\n"
      "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n"
      "    INDEX 00 00:04:00\n    INDEX 01 00:04:10\n";
  // Session 1's lead-out and session 2's lead-in; session 2's pregap
  // (11550 to 11699, 02:34:00) reads, and its track starts at 02:36:00.
  const std::string between =
      "Error: LBA 000300 to 011549 lie between two sessions and cannot be read: copy each "
      "session's tracks with /TRACK=n\n";
  // The second session's track begins at the first one's lead-out.
  const std::string two_sessions =
      "REM Add 'FILE <filename> <filetype>' command here!\nREM SESSION 01\n"
      "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\nREM SESSION 02\n  TRACK 02 AUDIO\n"
      "    INDEX 00 00:04:00\n    INDEX 01 02:36:00\n";
  struct Case {
    const char* why;
    std::string program;
    std::string bus;
    std::vector<std::string> args;
    std::string err;
    int status;
    std::string file;      // the output it makes, or "" for none
    std::string contents;  // what `file` holds (a WAV file: its samples)
    unsigned limit = 0;    // a file size limit in 512-byte blocks, 0: none
  };
  const std::string a = read_file(dir.file("a.bin"));
  const std::string m = read_file(dir.file("m.bin"));
  const Case cases[] = {
      {"a span past the disc",
       "ripspan",
       reader("a"),
       {"keep.wav", "/START=5000", "/END=5010"},
       "Error: /START value is past the last sector of the disc (2999)!\n",
       1,
       "",
       ""},
      {"a span that ends past the disc",
       "ripspan",
       reader("a"),
       {"keep.wav", "/START=2990", "/END=3010"},
       "Error: /END value is past the last sector of the disc (2999)!\n",
       1,
       "",
       ""},
      {"a data block length of one byte",
       "ripspan",
       reader("a"),
       {"keep.wav", "/DATA", "/BLKLEN=1"},
       "Error: Illegal /BLKLEN value specified!\n",
       1,
       "",
       ""},
      {"an audio block length",
       "ripspan",
       reader("a"),
       {"keep.wav", "/BLKLEN=2448"},
       "Error: Illegal /BLKLEN value specified!\n",
       1,
       "",
       ""},
      {"a data span of an audio disc",
       "ripspan",
       reader("a"),
       {"keep.wav", "/DATA", "/BATCH"},
       "Error: LBA 000000 to 002999 lie in audio track 01: /DATA copies data tracks only\n",
       1,
       "",
       ""},
      {"a data span into the audio track",
       "ripspan",
       reader("mixed"),
       {"keep.wav", "/DATA", "/START=290", "/END=460", "/BATCH"},
       "Error: LBA 000300 to 000460 lie in audio track 02: /DATA copies data tracks only\n",
       1,
       "",
       ""},
      {"a data span into the audio track's pregap",
       "ripspan",
       reader("mixed"),
       {"keep.wav", "/DATA", "/START=290", "/END=310", "/BATCH"},
       "Error: LBA 000300 to 000310 lie in audio track 02: /DATA copies data tracks only\n",
       1,
       "",
       ""},
      {"the audio track as data",
       "ripspan",
       reader("mixed"),
       {"keep.wav", "/DATA", "/TRACK=2", "/BATCH"},
       "Error: LBA 000450 to 000649 lie in audio track 02: /DATA copies data tracks only\n",
       1,
       "",
       ""},
      {"the disc's image",
       "ripspan",
       recorder(),
       {"m.bin", "/END=299", "/BIN", "/BATCH"},
       created + "m.bin\"\n" + kDiscLine,
       1,
       "",
       ""},
      {"the disc's image through a link",
       "ripspan",
       recorder(),
       {"link.wav", "/END=299", "/BATCH"},
       created + "link.wav\"\n" + kDiscLine,
       1,
       "",
       ""},
      {"the disc's sheet appended to",
       "ripspan",
       recorder(),
       {"hard.wav", "/END=299", "/APPEND", "/BIN", "/BATCH"},
       "Error opening output file \"hard.wav\"\n" + std::string(kDiscLine),
       1,
       "",
       ""},
      {"a sheet over the disc's sheet",
       "sheetgen",
       recorder(),
       {"m.cue", "/BATCH"},
       "\nError: Unable to create file \"m.cue\"\n" + std::string(kDiscLine),
       1,
       "",
       ""},
      {"a copy over the disc's image",
       "sheetgen",
       recorder(),
       {"out.cue", "/COPY=m.bin", "/BATCH"},
       "\nError: Unable to create file \"m.bin\"\n" + std::string(kDiscLine),
       1,
       "",
       ""},
      {"a sheet over the disc's state",
       "sheetgen",
       recorder(),
       {"m.state", "/BATCH"},
       "\nError: Unable to create file \"m.state\"\n" + std::string(kDiscLine),
       1,
       "",
       ""},
      {"data up to the end of the data track",
       "ripspan",
       reader("mixed"),
       {"out.bin", "/DATA", "/BATCH"},
       "",
       0,
       "out.bin",
       read_file(dir.file("mixed.bin")).substr(0, 300 * RAW)},
      {"data up to the data track's last sector, given by /END",
       "ripspan",
       reader("mixed"),
       {"out.bin", "/DATA", "/START=250", "/END=299", "/BATCH"},
       "",
       0,
       "out.bin",
       read_file(dir.file("mixed.bin")).substr(250 * RAW, 50 * RAW)},
      {"the last track of session 1",
       "ripspan",
       recorder(),
       {"out.wav", "/TRACK=1", "/BATCH"},
       "",
       0,
       "out.wav",
       m.substr(0, 300 * RAW)},
      {"the track of session 2",
       "ripspan",
       recorder(),
       {"out.wav", "/TRACK=2", "/BATCH"},
       "",
       0,
       "out.wav",
       m.substr((300 + kGap) * RAW)},
      {"a span over the gap between sessions",
       "ripspan",
       recorder(),
       {"out.wav", "/BATCH"},
       between,
       1,
       "",
       ""},
      {"an existing output and a span one block into the gap",
       "ripspan",
       recorder(),
       {"keep.wav", "/START=200", "/END=300", "/BATCH"},
       between,
       1,
       "",
       ""},
      {"a span inside the gap",
       "ripspan",
       recorder(),
       {"out.bin", "/START=00:06:00", "/END=11549", "/BATCH"},
       between,
       1,
       "",
       ""},
      {"session 1 up to its lead-out, as a binary image",
       "ripspan",
       recorder(),
       {"out.bin", "/END=00:05:74", "/BIN", "/BATCH"},
       "",
       0,
       "out.bin",
       m.substr(0, 300 * RAW)},
      {"session 2 from its pregap",
       "ripspan",
       recorder(),
       {"out.wav", "/START=11550", "/END=" + std::to_string(300 + kGap + 199), "/BATCH"},
       "",
       0,
       "out.wav",
       read_file(dir.file("m.bin")).substr(std::size_t{150 + kGap} * RAW)},
      {"two sessions, every index",
       "sheetgen",
       recorder(),
       {"out.cue", "/SUBCODE=ALL", "/BATCH"},
       "",
       0,
       "out.cue",
       two_sessions},
      {"two sessions, every index by a search",
       "sheetgen",
       recorder(),
       {"out.cue", "/SUBCODE=FAST", "/BATCH"},
       "",
       0,
       "out.cue",
       two_sessions},
      {"two sessions, pregaps",
       "sheetgen",
       recorder(),
       {"out.cue", "/SUBCODE=SOME", "/BATCH"},
       "",
       0,
       "out.cue",
       two_sessions},
      {"a data session, then an audio session",
       "sheetgen",
       recorder("dm"),
       {"out.cue", "/SUBCODE=SOME", "/BATCH"},
       "",
       0,
       "out.cue",
       "REM Add 'FILE <filename> <filetype>' command here!\nREM SESSION 01\n"
       "  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\nREM SESSION 02\n  TRACK 02 AUDIO\n"
       "    INDEX 00 00:04:00\n    INDEX 01 02:36:00\n"},
      {"a short last track, every index",
       "sheetgen",
       reader("short"),
       {"out.cue", "/SUBCODE=ALL", "/BATCH"},
       "",
       0,
       "out.cue",
       sheet + "    INDEX 02 00:04:30\n"},
      {"a short last track, every index by a search",
       "sheetgen",
       reader("short"),
       {"out.cue", "/SUBCODE=FAST", "/BATCH"},
       "",
       0,
       "out.cue",
       sheet + "    INDEX 02 00:04:30\n"},
      {"a short last track, pregaps",
       "sheetgen",
       reader("short"),
       {"out.cue", "/SUBCODE=SOME", "/BATCH"},
       "",
       0,
       "out.cue",
       sheet},
      // The write that passes the limit fails and is reported.
      {"a file size limit",
       "ripspan",
       reader("a"),
       {"out.wav", "/BATCH"},
       "\nError: Unexpected failure writing file (disk full?)\n",
       1,
       "out.wav",
       a.substr(0, 6000 * 512 - 44),
       6000},
      {"a last second that cannot be read",
       "sheetgen",
       reader("short") + ",bad=305-349",
       {"out.cue", "/SUBCODE=ALL", "/BATCH"},
       "",
       0,
       "out.cue",
       sheet},
      {"a last second that cannot be read, by a search",
       "sheetgen",
       reader("short") + ",bad=305-349",
       {"out.cue", "/SUBCODE=FAST", "/BATCH"},
       "",
       0,
       "out.cue",
       sheet},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::filesystem::remove(dir.file("out.wav"));
    std::filesystem::remove(dir.file("out.bin"));
    std::filesystem::remove(dir.file("out.cue"));
    ScopedEnv bus("EMULATED_SCSI_BUS", c.bus);
    std::vector<std::string> limited = {
        "-c", "ulimit -f " + std::to_string(c.limit) + " && exec \"$0\" \"$@\"",
        std::string(CDM_BIN_DIR) + "/" + c.program};
    limited.insert(limited.end(), c.args.begin(), c.args.end());
    const ProgramRun run = c.limit ? run_command("/bin/sh", limited, dir.path())
                                   : run_program(c.program, c.args, dir.path());
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(read_file(dir.file("keep.wav")), kKept);
    EXPECT_TRUE(read_file(dir.file("m.cue")) + read_file(dir.file("m.bin")) +
                    read_file(dir.file("m.state")) ==
                m_files);
    EXPECT_TRUE(read_file(dir.file("a.bin")) == a);
    for (const char* name : {"out.wav", "out.bin", "out.cue"}) {
      if (c.file != name) {
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
      }
    }
    if (c.file.empty()) continue;
    const std::string made = read_file(dir.file(c.file));
    if (c.file == "out.wav") {
      expect_truthful_wav(dir.file(c.file));
      EXPECT_TRUE(made.substr(44) == c.contents) << made.size();
    } else {
      EXPECT_TRUE(made == c.contents) << made.substr(0, 400);
    }
  }
}

// SIGTERM half way: the rip ends at the next block with a header that counts
// exactly the blocks in the file.
TEST_F(HostileReading, ASignalEndsTheRipWithATruthfulHeader) {
  ScopedEnv bus("EMULATED_SCSI_BUS", reader("a"));
  install_rip_span_events();
  install_drive_setup();
  install_scsi_transport(nullptr);
  load_scsi_settings();
  int batches = 0;
  set_event_callback([&](const RecordingEvent& event) {
    if (event.type == EVENT_JITTER_PROGRESS && ++batches == 30) kill(getpid(), SIGTERM);
    return 1;
  });
  const std::string out = dir.file("out.wav");
  const char* argv[] = {"ripspan", out.c_str(), "/NOJC"};
  testing::internal::CaptureStderr();
  const int status = run_tool([&] { return run_rip_span(parse_rip_span_command_line(3, argv)); });
  const std::string err = testing::internal::GetCapturedStderr();
  install_scsi_transport(nullptr);
  clear_event_callback();
  reset_interrupt();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "\nError: Interrupted by SIGTERM\n");
  expect_truthful_wav(out);
  const std::string file = read_file(out);
  EXPECT_EQ(file.size() - 44, 30u * 27 * RAW);
  EXPECT_TRUE(file.substr(44) == read_file(dir.file("a.bin")).substr(0, file.size() - 44));
}

// The reset and its pause are announced whatever /BATCH says.
TEST_F(HostileReading, ResetIsAnnouncedInBatchMode) {
  ScopedEnv bus("EMULATED_SCSI_BUS", reader("a"));
  cdm_test::SleepRecorder sleeps;
  install_drive_setup();
  install_scsi_transport(nullptr);
  load_scsi_settings();
  const std::string out = dir.file("out.cue");
  const char* argv[] = {"sheetgen", out.c_str(), "/RESET", "/BATCH"};
  testing::internal::CaptureStdout();
  const int status = run_tool([&] { return run_sheet_gen(parse_sheet_gen_command_line(4, argv)); });
  const std::string printed = testing::internal::GetCapturedStdout();
  install_scsi_transport(nullptr);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(sleeps.pauses, std::vector<unsigned>{10000});
  EXPECT_EQ(printed, device_lines().substr(device_lines().find("Warning")) +
                         "Resetting CDROM device... Please wait...\n\n");
}

// Digital silence of one read and more, at the start, in the middle and at
// the end of a span (and a span without silence), on drives whose reads land
// up to 7, 30, 500 and 587 samples off (the README's examples and the largest
// jitter below one sector): every copy equals the image.
TEST_F(HostileReading, SilenceNeverLosesTheJitterCorrection) {
  const uint32_t frames = 600;
  const uint32_t runs[] = {0, 1, 25, 27, 100};
  for (const char* jitter : {"7", "30", "500", "587"})
    for (uint32_t seed = 1; seed <= 5; ++seed)
      for (const uint32_t run_length : runs)
        for (const uint32_t at : {0u, 250u, frames - run_length}) {
          if (run_length == 0 && at != 0) continue;
          SCOPED_TRACE(std::string("jitter ") + jitter + ", seed " + std::to_string(seed) + ", " +
                       std::to_string(run_length) + " silent at " + std::to_string(at));
          ScratchDirectory folder;
          const Disc disc(folder.path(), audio_disc(frames),
                          std::string(",jitter=") + jitter + ",seed=" + std::to_string(seed));
          if (run_length != 0) disc.silence(at, at + run_length - 1);
          const ProgramRun run = disc.rip({folder.file("span.bin"), "/BIN", "/BATCH", "/JC"});
          EXPECT_EQ(run.err, "");
          EXPECT_EQ(run.status, 0);
          EXPECT_TRUE(read_file(folder.file("span.bin")) == disc.frames(0, frames - 1));
        }
}

}  // namespace

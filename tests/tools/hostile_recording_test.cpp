// cueburn and dircast on recorders and discs that work against them: faults
// while the disc is asked whether it is blank, recorders that report
// success without a disc, switches a recorder cannot honour, discs too
// small or closed, an empty transporter, image files that go away before
// their turn. Each case has its exact error, its status and the disc files
// it leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/msgvec.h"
#include "emulator/bus.h"
#include "support/run_program.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"
#include "tools/cueburn/cueburn.h"
#include "tools/shared/drive_setup.h"

namespace {

using cdm_test::ScopedEnv;

constexpr const char* kSuccessLine = "CD successfully recorded!";

// What a case leaves of the recorder's disc.
enum class Left {
  kNothing,   // no disc files: the disc is blank
  kAsSetUp,   // the disc files the setup left, unchanged
  kRecorded,  // disc files the case itself wrote
};

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

class HostileRecording : public testing::Test {
 protected:
  void SetUp() override {
    // 300 audio blocks named in lower case, as the sheet writes them.
    write_file(dir.file("a.bin"), std::string(300 * 2352, '\x5a'));
    write_file(dir.file("a.cue"),
               "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    // One minute and a bit: longer than a disc of capacity=1.
    write_file(dir.file("long.bin"), std::string(4600 * 2352, '\0'));
    write_file(dir.file("long.cue"),
               "FILE \"long.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
    std::filesystem::create_directories(dir.file("src"));
    write_file(dir.file("src/f.dat"), std::string(100000, 'f'));
    std::filesystem::create_directories(dir.file("big"));
    write_file(dir.file("big/f.dat"), std::string(12000000, '\0'));
  }
  std::string bus(const std::string& product, const std::string& items = "") const {
    return "0:4:0=" + product + ",medium=" + disc + items;
  }
  // Runs `program` in the scratch folder; with `change`, the program waits
  // at its "begin recording" prompt while the shell command runs.
  ProgramRun run(const std::string& bus_value, const std::string& program,
                 const std::vector<std::string>& arguments, const std::string& change = "") {
    ScopedEnv emulated("EMULATED_SCSI_BUS", bus_value);
    if (change.empty()) return run_program(program, arguments, dir.path());
    std::string command = "\"$1\"";
    for (std::size_t i = 0; i < arguments.size(); ++i)
      command += " \"$" + std::to_string(i + 3) + "\"";
    const std::string script =
        "rm -f out.txt; i=0; { until grep -q 'begin recording' out.txt 2>/dev/null || "
        "[ $i -gt 600 ]; do sleep 0.05; i=$((i+1)); done; eval \"$2\"; echo; } | " +
        command + " > out.txt";
    std::vector<std::string> shell = {"-c", script, "sh", std::string(CDM_BIN_DIR) + "/" + program,
                                      change};
    shell.insert(shell.end(), arguments.begin(), arguments.end());
    ProgramRun result = run_command("sh", shell, dir.path());
    result.out = read_file(dir.file("out.txt"));
    return result;
  }

  ScratchDirectory dir;
  std::string disc = dir.file("disc");
  ScopedEnv no_writer_id{"CDWRITER_ID", std::nullopt};
  ScopedEnv no_trace{"TRACE_SCSI_ENABLED", std::nullopt};
};

TEST_F(HostileRecording, NoRecordingEndsInSuccessWithoutEvidence) {
  const std::string not_blank =
      "Error: The disc in the CD-Recorder is not blank!\nThe volume is laid out from the disc's "
      "first block: record it onto a blank disc.\n";
  const std::string no_session =
      "Error: CD-Recorder does not support 'session-at-once' recording!\n";
  const std::vector<std::string> open_session = {"a.cue", "/NOCONFIRM", "/SESSION"};
  const std::vector<std::string> cast = {"src/", "/BATCH"};
  const std::vector<std::string> burn = {"a.cue", "/NOCONFIRM"};
  const std::string toc_failed =
      "\nError: 'READ TOC' command failed on device 0:4:0\nUnrecoverable hardware error\n";
  const std::string toc_fault = ",fail=43:4/44/00";
  const std::string finished = ",fail=E1:6/80/00*1000";
  struct Case {
    std::string product;
    std::string items;                // faults of the recorder, after medium=
    std::vector<std::string> set_up;  // a cueburn run before the case, on a faultless bus
    std::string program;
    std::vector<std::string> arguments;
    std::string change;  // at the "begin recording" prompt
    std::string err;
    int status;
    Left left;
  };
  const Case cases[] = {
      // A disc with an open session is not blank, however the drive first answers.
      {"CDD2000", ",attention=1", open_session, "dircast", cast, "", not_blank, 1, Left::kAsSetUp},
      {"CDD2000", ",notready=1", open_session, "dircast", cast, "", not_blank, 1, Left::kAsSetUp},
      // A READ TOC that fails cannot show the disc to be blank.
      {"CDD2000", toc_fault, open_session, "dircast", cast, "", toc_failed, 1, Left::kAsSetUp},
      // Nor a blank one (an MMC drive shows it blank by READ DISC INFORMATION).
      {"CDD2000", toc_fault, {}, "dircast", cast, "", toc_failed, 1, Left::kNothing},
      // A Sony recorder that answers every write with its "finished" sense.
      {"CD-R   CDU924S",
       finished,
       {},
       "cueburn",
       burn,
       "",
       "\nError: The CD-Recorder reported success, but the disc holds no track 1\n",
       1,
       Left::kNothing},
      {"CD-R   CDU924S",
       finished,
       {},
       "dircast",
       cast,
       "",
       "\nError: Invalid table of contents on device 0:4:0\nLead-out at LBA 0 is not past track 1 "
       "at LBA 0\n",
       1,
       Left::kRecorded},
      // The end-of-medium bit beside another code is the end of the disc.
      {"CD-R   CDU924S",
       ",fail=E1:40/81/00",
       {},
       "cueburn",
       burn,
       "",
       "\nError: 'WRITE' command failed on device 0:4:0\nEnd of medium detected\n",
       1,
       Left::kNothing},
      // /SESSION on recorders whose disc-at-once always closes the disc.
      {"RO-1420C", "", {}, "cueburn", open_session, "", no_session, 1, Left::kNothing},
      {"CD-R   CDU924S", "", {}, "cueburn", open_session, "", no_session, 1, Left::kNothing},
      {"CDR100", "", {}, "cueburn", open_session, "", no_session, 1, Left::kNothing},
      // Too long for the blank disc the recorder reports.
      {"MMC CD-RW DRIVE",
       ",capacity=1",
       {},
       "dircast",
       {"big/", "/BATCH"},
       "",
       "\nError: The track (01:22:31) is longer than the blank disc (01:00:00)\n",
       1,
       Left::kNothing},
      // /OVERBURN records it, into the margin the recorder takes past its capacity.
      {"MMC CD-RW DRIVE",
       ",capacity=1",
       {},
       "dircast",
       {"big/", "/BATCH", "/OVERBURN"},
       "",
       "WARNING! The track (01:22:31) is longer than the blank disc (01:00:00): recording past "
       "its end (/OVERBURN)\n",
       0,
       Left::kRecorded},
      {"MMC CD-RW DRIVE",
       ",capacity=1",
       {},
       "cueburn",
       {"long.cue", "/NOCONFIRM"},
       "",
       "\nError: The disc image (01:03:25) is longer than the blank disc (01:00:00)\n",
       1,
       Left::kNothing},
      // A recorder that cannot tell its free blocks refuses the block past the end.
      {"CDD2000",
       ",capacity=1",
       {},
       "cueburn",
       {"long.cue", "/NOCONFIRM"},
       "",
       "\nError: 'WRITE SESSION' command failed on device 0:4:0\nThe recording is longer than the "
       "disc: the CD-Recorder refused a block past its end\n",
       1,
       Left::kNothing},
      // A closed disc, and a transporter with no blank disc for the second copy.
      {"CDD2000", "", burn, "cueburn", burn, "",
       "\nError: 'WRITE SESSION' command failed on device 0:4:0\nThe disc in the CD-Recorder "
       "cannot be recorded: it is closed, or not a recordable disc\n",
       1, Left::kAsSetUp},
      {"CDD2000",
       ";0:5:0=DISC TRANSPORTER,blanks=0",
       {},
       "cueburn",
       {"a.cue", "/NOCONFIRM", "/COPIES=2", "/TRANSPORT"},
       "",
       "\nError: 'EXCHANGE MEDIUM' command failed on device 0:5:0\nThe Disc-Transporter has no "
       "blank disc left on its input stack\n",
       1,
       Left::kRecorded},
      // The image goes away, or is replaced, while cueburn waits to begin.
      {"CDD2000",
       "",
       {},
       "cueburn",
       {"a.cue", "/NOCONFIRM", "/COPIES=2"},
       "rm a.bin",
       "\nError: Unable to open file \"a.bin\"\nNo such file or directory\n",
       1,
       Left::kNothing},
      {"CDD2000",
       "",
       {},
       "cueburn",
       {"a.cue", "/NOCONFIRM", "/COPIES=2"},
       "rm a.bin; mkfifo a.bin",
       "\nError: Unable to open file \"a.bin\"\nNot a regular file\n",
       1,
       Left::kNothing},
      {"CDD2000",
       "",
       {},
       "cueburn",
       {"a.cue", "/NOCONFIRM", "/COPIES=2"},
       "rm a.bin; mkdir a.bin",
       "\nError: Unable to open file \"a.bin\"\nIs a directory\n",
       1,
       Left::kNothing},
      {"CDD2000",
       "",
       {},
       "cueburn",
       {"a.cue", "/NOCONFIRM", "/COPIES=2"},
       "rm a.bin; ln -s /dev/zero a.bin",
       "\nError: Unable to open file \"a.bin\"\nNot a regular file\n",
       1,
       Left::kNothing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.product + c.items + " " + c.program + " " + c.change);
    for (const char* ext : {".cue", ".bin", ".state", "-1.state"})
      std::filesystem::remove(disc + ext);
    std::filesystem::remove_all(dir.file("a.bin"));
    write_file(dir.file("a.bin"), std::string(300 * 2352, '\x5a'));
    std::string state;
    if (!c.set_up.empty()) {
      const ProgramRun set_up = run(bus(c.product), "cueburn", c.set_up);
      ASSERT_EQ(set_up.status, 0) << set_up.err;
      state = read_file(disc + ".state");
      ASSERT_NE(state, "");
    }
    const ProgramRun result = run(bus(c.product, c.items), c.program, c.arguments, c.change);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
    // The run did not end in the closing line of the recording it failed.
    if (c.left != Left::kRecorded) {
      EXPECT_EQ(result.out.find(kSuccessLine), std::string::npos);
    }
    switch (c.left) {
      case Left::kNothing:
        for (const char* ext : {".cue", ".bin", ".state"}) EXPECT_FALSE(exists(disc + ext)) << ext;
        break;
      case Left::kAsSetUp: EXPECT_EQ(read_file(disc + ".state"), state); break;
      case Left::kRecorded:
        EXPECT_TRUE(exists(disc + ".state"));
        EXPECT_NE(read_file(disc + ".state"), state);
        break;
    }
  }
}

// The Yamaha drive writes the lead-out while it answers "aborted command";
// one that never stops has not finished the disc. Run in this process, so
// that the five-minute wait costs no time.
TEST_F(HostileRecording, ALeadOutThatNeverEndsIsAnError) {
  install_drive_setup();
  cdm_test::SleepRecorder sleeps;
  cdm_test::ScopedTransport<cdm_test::RecordingTransport> transport(
      std::make_unique<cdm_test::RecordingTransport>(
          make_emulated_bus(bus("CDR100", ",leadout=70"))));
  CueBurnSettings settings;
  settings.cue_sheet = dir.file("a.cue");
  settings.confirm = false;
  testing::internal::CaptureStdout();
  std::string err;
  try {
    run_cueburn(settings);
  } catch (const MSGVEC& record) {
    err = message_vector_text(record);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(err,
            "\nError: The CD-Recorder was still writing the lead-out after 305 seconds: the disc "
            "is not finished\n");
  EXPECT_EQ(out.find(kSuccessLine), std::string::npos);
  EXPECT_EQ(sleeps.pauses, std::vector<unsigned>(61, 5000));
}

}  // namespace

// The programs on drives of the multimedia command set: which driver the
// drive's own answers choose (and MMC_DISABLED), and recording sessions on
// an emulated MMC recorder until its disc takes no more.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/sample_discs.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;

const char HEADER[] =
    "                                  Copy       Pre      Four\n"
    "Trk  Type   Min:Sec:Frm   LBA   Permitted  Emphasis  Channel      ISRC\n"
    "---  ----   -----------   ---   ---------  --------  -------      ----\n";

class MmcDrives : public testing::Test {
 protected:
  ProgramRun run(const char* program, const std::string& bus,
                 const std::vector<std::string>& arguments, bool mmc_disabled = false) {
    ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
    ScopedEnv generic("MMC_DISABLED",
                      mmc_disabled ? std::optional<std::string>("1") : std::nullopt);
    return run_program(program, arguments, folder);
  }

  ScratchDirectory scratch;
  std::string folder = scratch.path();
  ScopedEnv no_reader_id{"CDREADER_ID", std::nullopt};
  ScopedEnv no_writer_id{"CDWRITER_ID", std::nullopt};
  ScopedEnv no_trace{"TRACE_SCSI_ENABLED", std::nullopt};
};

// A drive the model tables do not know is read by the MMC driver when it
// answers GET CONFIGURATION as a CD drive, without the generic driver's
// warning; MMC_DISABLED keeps it on the generic driver, and only an MMC
// drive that reports a way of recording is a recorder.
TEST_F(MmcDrives, TheDrivesOwnAnswersChooseItsDriver) {
  SampleDisc sample;
  sample.tracks = {{TrackType::Audio, 100, 0, "", ""}};
  const std::string cue = write_sample_disc(folder, "disc", sample);
  const std::string reader = "0:3:0=MMC CD-ROM DRIVE,medium=" + cue;
  const std::string recorder = "0:3:0=MMC CD-RW DRIVE,medium=" + folder + "/burned";
  auto found = [](const char* kind, const char* product) {
    return std::string(kind) + " device found...\n  HA #0 - SCSI ID #3 - EMULATED " + product +
           " 1.00\n\n";
  };
  const std::string warning =
      "Warning: CDROM device model is unknown to this program!\n"
      "The generic CDROM device driver will be used...\n\n";
  const std::string no_recorder =
      "\nError: Unable to find a known CD-Recorder device on the SCSI bus!\n";
  const struct {
    const char* name;
    const char* program;
    std::string bus;
    std::vector<std::string> arguments;
    bool mmc_disabled;
    int status;
    std::string out, err;
  } cases[] = {
      {"MMC reader",
       "ripspan",
       reader,
       {"span.bin", "/END=9"},
       false,
       0,
       found("CDROM", "MMC CD-ROM DRIVE"),
       ""},
      // The generic reader's READ CD-DA is a vendor command MMC drives refuse.
      {"MMC reader kept generic",
       "ripspan",
       reader,
       {"span.bin", "/END=9"},
       true,
       1,
       found("CDROM", "MMC CD-ROM DRIVE") + warning,
       "\nError: Unable to read AUDIO sectors 0 to 9 on device 0:3:0\nIllegal command request\n"},
      {"MMC reader is no recorder",
       "cueburn",
       reader,
       {"disc.cue", "/NOCONFIRM"},
       false,
       1,
       "",
       no_recorder},
      {"MMC recorder kept generic is no recorder",
       "cueburn",
       recorder,
       {"disc.cue"},
       true,
       1,
       "",
       no_recorder},
      {"MMC recorder",
       "discinfo",
       recorder + "," + "erasable=1",
       {"/NOPROMPT"},
       false,
       1,
       found("CDROM", "MMC CD-RW DRIVE "),
       "\nError: 'READ TOC' command failed on device 0:3:0\nBlank medium detected\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramRun ran = run(c.program, c.bus, c.arguments, c.mmc_disabled);
    EXPECT_EQ(ran.status, c.status);
    EXPECT_EQ(ran.out.substr(0, c.out.size()), c.out);
    EXPECT_EQ(ran.err, c.err);
  }
}

// Sessions go one after another on an MMC recorder's disc, each where READ
// TRACK INFORMATION says, until a disc-at-once recording closes it; a test
// recording changes nothing; a closed disc is refused before anything is
// written, a rewritable one with its own words.
TEST_F(MmcDrives, RecordsSessionsUntilTheDiscIsClosed) {
  SampleDisc sample;
  sample.tracks = {{TrackType::Audio, 100, 0, "", ""}};
  const std::string cue = write_sample_disc(folder, "disc", sample);
  const std::string bus = "0:4:0=MMC CD-RW DRIVE,medium=" + folder + "/burned";
  const std::string track1 =
      "01   Audio   00:02:00    000000     No        No        No     Not Available\n";
  const std::string track2 =
      "02   Audio   02:35:25    011500     No        No        No     Not Available\n";
  const std::string track3 =
      "03   Audio   04:08:50    018500     No        No        No     Not Available\n";
  // discinfo lists the sessions of a disc of several.
  const std::string two_sessions =
      "\nSession 01: Tracks 01 to 01, Leadout: 00:03:25 (LBA 000100)\n"
      "Session 02: Tracks 02 to 02, Leadout: 02:36:50 (LBA 011600)\n";
  const std::string three_sessions =
      two_sessions + "Session 03: Tracks 03 to 03, Leadout: 04:10:00 (LBA 018600)\n";
  const struct {
    const char* name;
    std::string bus;
    std::vector<std::string> switches;
    int status;
    std::string err;
    std::string tracks;  // discinfo's listing of the disc afterwards
  } steps[] = {
      {"first session",
       bus + ",erasable=1",
       {"/SESSION"},
       0,
       "",
       track1 + "\nLeadout: 00:03:25 (LBA 000100)\n"},
      {"test recording",
       bus + ",erasable=1",
       {"/SESSION", "/TEST"},
       0,
       "",
       track1 + "\nLeadout: 00:03:25 (LBA 000100)\n"},
      {"second session",
       bus + ",erasable=1",
       {"/SESSION"},
       0,
       "",
       track1 + track2 + "\nLeadout: 02:36:50 (LBA 011600)\n" + two_sessions},
      {"last session closes the disc",
       bus + ",erasable=1",
       {},
       0,
       "",
       track1 + track2 + track3 + "\nLeadout: 04:10:00 (LBA 018600)\n" + three_sessions},
      {"used CD-RW",
       bus + ",erasable=1",
       {},
       1,
       "\nError: The disc in the CD-Recorder is a used CD-RW: blank it before recording "
       "(/BLANK=FAST or /BLANK=FULL)\n",
       track1 + track2 + track3 + "\nLeadout: 04:10:00 (LBA 018600)\n" + three_sessions},
      {"closed CD-R",
       bus,
       {"/SESSION"},
       1,
       "\nError: The disc in the CD-Recorder is closed and takes no further recording\n",
       track1 + track2 + track3 + "\nLeadout: 04:10:00 (LBA 018600)\n" + three_sessions},
      {"a CD-R is not blanked",
       bus,
       {"/BLANK=FAST"},
       1,
       "\nError: The disc in the CD-Recorder is not rewritable (a CD-R): it cannot be blanked\n",
       track1 + track2 + track3 + "\nLeadout: 04:10:00 (LBA 018600)\n" + three_sessions},
      {"blanked fast, then recorded",
       bus + ",erasable=1",
       {"/BLANK=FAST", "/SESSION"},
       0,
       "",
       track1 + "\nLeadout: 00:03:25 (LBA 000100)\n"},
      {"blanked in full, then recorded",
       bus + ",erasable=1",
       {"/BLANK=FULL"},
       0,
       "",
       track1 + "\nLeadout: 00:03:25 (LBA 000100)\n"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    std::vector<std::string> arguments = {cue, "/NOCONFIRM"};
    arguments.insert(arguments.end(), step.switches.begin(), step.switches.end());
    const ProgramRun burned = run("cueburn", step.bus, arguments);
    EXPECT_EQ(burned.status, step.status) << burned.out;
    EXPECT_EQ(burned.err, step.err);
    const ProgramRun listed = run("discinfo", step.bus, {"/NOPROMPT"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out.substr(listed.out.find("\n\n") + 2), HEADER + step.tracks);
  }
}

}  // namespace

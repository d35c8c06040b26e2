// Every reader model of the model table, each on its own family's emulated
// drive, against the generic reader on the generic drive: the programs that
// read discs give the same listing, the same spans and the same cue sheet.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/sample_discs.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;

struct Model {
  const char* product;
  bool cdg;   // "Read CDG": ripspan /CDG runs
  bool subq;  // "Read SUBQ": sheetgen /SUBCODE=ALL runs
};

// One product of each model code (21 to 35), and two recorders read as
// generic readers (codes 4 and 5).
const Model kModels[] = {
    {"CD-ROM DRIVE:500", false, false}, {"CD-ROM DRIVE:501", false, false},
    {"CD-ROM DRIVE:502", false, false}, {"CD-ROM DRIVE:462", false, false},
    {"CD-ROM DR-U124X", false, true},   {"CD-ROM DR-U10X", false, true},
    {"CD-ROM PX-4XCH", true, true},     {"CD-ROM PX-6XCS", true, true},
    {"CD-ROM PX-8XCS", true, true},     {"CD-ROM PX-12CS", true, true},
    {"CD-ROM CDU-8003A", true, true},   {"CD-ROM CDU-76S", true, true},
    {"CD-ROM XM-4101TA", false, true},  {"CD-ROM XM-5901TD", false, true},
    {"CD-ROM XM-5601TA", false, true},  {"CDR4240", true, true},
    {"CD-R CR-2200CS", true, true},
};

struct ProgramCase {
  const char* name;
  const char* program;
  std::vector<std::string> arguments;  // "OUT" stands for the output file
  bool needs_cdg = false;
  bool needs_subq = false;
};

const ProgramCase kRuns[] = {
    {"listing", "discinfo", {"/MODE", "/MCN", "/ISRC", "/NOPROMPT"}},
    {"audio span across two tracks, jitter corrected",
     "ripspan",
     {"OUT", "/BIN", "/BATCH", "/JC", "/START=300", "/END=1200"}},
    {"audio track as WAV", "ripspan", {"OUT", "/BATCH", "/JC", "/TRACK=3"}},
    {"raw data span", "ripspan", {"OUT", "/DATA", "/BATCH", "/START=0", "/END=299"}},
    {"CD+G span", "ripspan", {"OUT", "/CDG", "/BATCH", "/START=380", "/END=460"}, true},
    // The cue sheet generator, once it is built: subcode scan for every index.
    {"cue sheet with subcode scan", "sheetgen", {"OUT", "/BATCH", "/SUBCODE=ALL"}, false, true},
};

// A data track, then two audio tracks with an index 0 each, ISRC codes and
// a catalog number.
SampleDisc mixed_disc() {
  SampleDisc disc;
  disc.catalog = "4006381333931";
  disc.tracks = {{TrackType::Mode1, 300, 0, "", ""},
                 {TrackType::Audio, 600, 75, "DEA129900001", ""},
                 {TrackType::Audio, 400, 150, "", "DCP"}};
  return disc;
}

bool program_built(const char* program) {
  return access((std::string(CDM_BIN_DIR) + "/" + program).c_str(), X_OK) == 0;
}

struct Outcome {
  ProgramRun run;
  std::string file;
};

class ReaderModels : public testing::Test {
 protected:
  Outcome run(const std::string& product, const ProgramCase& c) {
    ScopedEnv bus("EMULATED_SCSI_BUS", "0:3:0=" + product + ",medium=" + cue + ",jitter=7,seed=9");
    const std::string out = scratch.file("out");
    std::remove(out.c_str());
    std::vector<std::string> arguments = c.arguments;
    for (std::string& argument : arguments)
      if (argument == "OUT") argument = out;
    Outcome outcome{run_program(c.program, arguments), read_file(out)};
    // The device line names the product; what follows it must agree.
    const std::string found = "CDROM device found...\n";
    if (outcome.run.out.rfind(found, 0) == 0)
      outcome.run.out.erase(0, outcome.run.out.find("\n\n") + 2);
    return outcome;
  }

  ScratchDirectory scratch;
  std::string cue = write_sample_disc(scratch.path(), "disc", mixed_disc());
  ScopedEnv no_reader_id{"CDREADER_ID", std::nullopt};
  ScopedEnv no_trace{"TRACE_SCSI_ENABLED", std::nullopt};
};

TEST_F(ReaderModels, EveryModelReadsAsTheGenericDriveDoes) {
  for (const ProgramCase& c : kRuns) {
    SCOPED_TRACE(c.name);
    if (!program_built(c.program)) continue;
    const Outcome generic = run("MYSTERY CDROM", c);
    ASSERT_EQ(generic.run.status, 0) << generic.run.err;
    ASSERT_EQ(generic.run.err, "");
    for (const Model& model : kModels) {
      if ((c.needs_cdg && !model.cdg) || (c.needs_subq && !model.subq)) continue;
      SCOPED_TRACE(model.product);
      const Outcome family = run(model.product, c);
      EXPECT_EQ(family.run.status, 0);
      EXPECT_EQ(family.run.err, "");
      EXPECT_EQ(family.run.out, generic.run.out);
      EXPECT_EQ(family.file.size(), generic.file.size());
      EXPECT_TRUE(family.file == generic.file);
    }
  }
}

// What a model cannot read is refused before the disc is touched.
TEST_F(ReaderModels, ModelsWithoutCdgRefuseIt) {
  for (const Model& model : kModels) {
    if (model.cdg) continue;
    SCOPED_TRACE(model.product);
    const Outcome refused = run(model.product, kRuns[4]);
    EXPECT_EQ(refused.run.status, 1);
    EXPECT_EQ(refused.run.err,
              "Error: CDROM drive does not support the reading of CD+G subcodes!\n");
  }
}

}  // namespace

// The recording engine and the Philips drivers against the emulated
// recorders, written apart from each other: a disc-at-once job of a sample
// disc must come out as the same image.
#include <gtest/gtest.h>

#include <functional>

#include "drivers/philips_recorder.h"
#include "engine/recording.h"
#include "layout/cue_sheet.h"
#include "tests/emulator/recorder_harness.h"

namespace {

using namespace cdm_test;

class EngineToRecorder : public RecorderHarness {};

TEST_F(EngineToRecorder, DiscAtOnceGivesBackTheImage) {
  SampleDisc sample;
  sample.catalog = "0731454032326";
  sample.tracks = {{TrackType::Audio, 200, 0, "USABC9600001", "DCP"},
                   {TrackType::Mode1, 150, 150, "", ""},
                   {TrackType::Mode2, 100, 0, "", ""}};
  const std::string cue = write_sample_disc(folder, "sample", sample);
  struct Case {
    const char* product;
    std::function<std::unique_ptr<RecorderDriver>()> driver;
  };
  const std::vector<Case> cases = {
      {"CDD2000", [] { return std::make_unique<PhilipsClass8>(); }},
      {"CDD522/10", [] { return std::make_unique<PhilipsClass7>(); }},
      {"RO-1420C", [] { return std::make_unique<PhilipsClass14>(); }},
      {"KHSW/OB-01", [] { return std::make_unique<PhilipsClass2>(); }},
  };
  int discs = 0;
  for (const Case& row : cases) {
    SCOPED_TRACE(row.product);
    disc = folder + "/disc" + std::to_string(++discs);
    use(row.product);
    std::unique_ptr<RecorderDriver> recorder = row.driver();
    recorder->target = 4;
    std::unique_ptr<CueSheetLayout> job_sheet = parse_cue_sheet(cue);
    DiscAtOnceJob job;
    job.layout = job_sheet->layout.get();
    job.files = job_sheet->files.data();
    job.file_count = job_sheet->file_count;
    std::string failure = "none";
    try {
      record_disc_at_once(*recorder, job);
    } catch (const MSGVEC& record) {
      failure = message_vector_text(record);
    }
    ASSERT_EQ(failure, "none");
    unplug();
    EXPECT_EQ(file(".bin"), read_file(folder + "/sample.bin"));
    EXPECT_EQ(file(".state").substr(0, 27), "capacity 332850\ndisc closed");
    const std::string stored = file(".cue");
    EXPECT_NE(stored.find("CATALOG 0731454032326\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("ISRC USABC9600001\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("  TRACK 02 MODE1/2352\n    INDEX 00 00:02:50\n    INDEX 01 00:04:50\n"),
              std::string::npos)
        << stored;
  }
}

}  // namespace

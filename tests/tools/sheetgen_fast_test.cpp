// sheetgen /SUBCODE=FAST on a disc of many tracks: the sheet of the scan of
// every frame from a small share of the frames, counted by the emulated drive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/sample_discs.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;

// Twelve tracks of 1500 frames and more, pregaps of 0 to 374 frames, and
// indexes 2 to 4 here and there (one a frame after index 1, one on the last
// frame of a track), so that a search meets every kind of change.
SampleDisc many_tracks() {
  SampleDisc disc;
  for (uint32_t t = 0; t < 12; ++t) {
    const uint32_t frames = 1500 + 97 * t;
    disc.tracks.push_back({TrackType::Audio, frames, t == 0 ? 0 : (t * 131) % 375, "", ""});
    if (t % 3 == 1)
      disc.indexes.push_back({1, 700, frames - 1});
    else if (t % 3 == 2)
      disc.indexes.push_back({frames / 2});
    else
      disc.indexes.push_back({});
  }
  return disc;
}

struct Scan {
  std::string sheet;
  uint64_t frames_read = 0;
};

Scan scan(const std::string& folder, const std::string& product, const std::string& medium,
          const std::string& mode, const std::string& items = "") {
  const std::string count = folder + "/" + mode + ".count";
  ScopedEnv bus("EMULATED_SCSI_BUS",
                "0:3:0=" + product + ",medium=" + medium + ",read_count=" + count + items);
  ScopedEnv no_reader_id("CDREADER_ID", std::nullopt);
  const ProgramRun run =
      run_program("sheetgen", {mode + ".cue", "/SUBCODE=" + mode, "/BATCH"}, folder);
  EXPECT_EQ(run.status, 0) << run.err;
  return {read_file(folder + "/" + mode + ".cue"), std::stoull("0" + read_file(count))};
}

TEST(SheetgenFast, FindsEveryIndexOfTheFullScanFromAFewFrames) {
  ScratchDirectory scratch;
  const SampleDisc disc = many_tracks();
  const std::string medium = write_sample_disc(scratch.path(), "many", disc);
  const uint64_t frames = sample_track_starts(disc).back();
  // Drives that give the Q frame with its CRC, and one that gives none.
  for (const char* product : {"MYSTERY CDROM", "MMC CD-ROM DRIVE", "CD-ROM XM-3401TA"}) {
    SCOPED_TRACE(product);
    // What the analysis reads without any scan is no part of the scan's share.
    const Scan none = scan(scratch.path(), product, medium, "NONE");
    const Scan all = scan(scratch.path(), product, medium, "ALL");
    const Scan fast = scan(scratch.path(), product, medium, "FAST");
    EXPECT_EQ(fast.sheet, all.sheet);
    EXPECT_NE(all.sheet.find("INDEX 04"), std::string::npos) << all.sheet;
    EXPECT_GE(all.frames_read - none.frames_read, frames);
    EXPECT_LE((fast.frames_read - none.frames_read) * 100, frames * 5)
        << fast.frames_read - none.frames_read << " of " << frames;
  }
  // Every Q frame reads wrong once, with a CRC that says so: the scan of
  // every frame, which takes each as it comes, goes wrong; the search reads
  // again what fails its CRC.
  const std::string faults = ",qfault=0-99999";
  const Scan all = scan(scratch.path(), "MYSTERY CDROM", medium, "ALL");
  EXPECT_NE(scan(scratch.path(), "MYSTERY CDROM", medium, "ALL", faults).sheet, all.sheet);
  EXPECT_EQ(scan(scratch.path(), "MYSTERY CDROM", medium, "FAST", faults).sheet, all.sheet);
}

}  // namespace

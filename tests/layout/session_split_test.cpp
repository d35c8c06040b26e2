// The sessions of a sheet as the recorders take them: a later session's
// first track always begins with a pregap of 150 blocks, whatever the sheet
// gives before its index 1, and each session's image files start where its
// tracks' frames do.
#include "layout/session_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/timecode.h"
#include "layout/cue_sheet.h"
#include "support/cue_images.h"
#include "support/raised.h"
#include "support/scratch.h"

namespace {

using cdm_test::raised_text;

// Track 01 in audio100.bin (100 frames), then session 02 from the same
// file or from a file of its own, with what comes before its index 1.
TEST(SessionSplit, LaterSessionOpensWithAPregapOf150Blocks) {
  ScratchDirectory scratch;
  write_cue_fixture_images(scratch.path());
  const std::string one = "FILE audio100.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
  const struct {
    const char* why;
    std::string second;    // the sheet after track 01's index
    uint32_t pregap;       // generated frames before track 02's file frames
    uint32_t length;       // its frames from the file
    uint32_t offset;       // where they begin in the file
    uint32_t index1;       // LBA of its index 1 in the session
    uint32_t leadouts[2];  // of the two sessions
    std::string fault;
  } cases[] = {
      {"index 1 alone",
       "REM SESSION 02\nTRACK 02 AUDIO\nINDEX 01 00:00:40\n",
       150,
       60,
       40 * 2352,
       0,
       {40, 60},
       ""},
      {"a PREGAP longer than 150",
       "REM SESSION 02\nTRACK 02 AUDIO\nPREGAP 00:03:00\nINDEX 01 00:00:40\n",
       150,
       60,
       40 * 2352,
       0,
       {40, 60},
       ""},
      {"an INDEX 00 holding the gap",
       "FILE gap.bin BINARY\nREM SESSION 02\nTRACK 02 AUDIO\nINDEX 00 00:00:00\nINDEX 01 "
       "02:32:00\n",
       0,
       11400 + 20 - 11250,
       11250 * 2352,
       0,
       {100, 20},
       ""},
      {"an INDEX 00 of five seconds",
       "FILE gap.bin BINARY\nREM SESSION 02\nTRACK 02 AUDIO\nINDEX 00 00:00:00\nINDEX 01 "
       "00:05:00\n",
       0,
       0,
       0,
       0,
       {0, 0},
       "\nError: Track 02 opens session 02 with 00:05:00 of INDEX 00: a session's first track has "
       "00:02:00, or the gap between the sessions\n"},
  };
  write_file(scratch.file("gap.bin"), std::string((11400 + 20) * 2352, '\1'));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const auto sheet = parse_cue_sheet_text(one + c.second, scratch.path());
    if (!c.fault.empty()) {
      EXPECT_EQ(raised_text([&] { split_sessions(*sheet); }), c.fault);
      continue;
    }
    const std::vector<SheetSession> sessions = split_sessions(*sheet);
    ASSERT_EQ(sessions.size(), 2u);
    const DiscLayout& later = *sessions[1].layout;
    EXPECT_EQ(later.tracks[0].pregap, c.pregap);
    EXPECT_EQ(later.tracks[0].length, c.length);
    ASSERT_EQ(sessions[1].files.size(), 1u);
    EXPECT_EQ(sessions[1].files[0].data_offset, c.offset);
    EXPECT_EQ(later.cuepoints[0].index, 0);
    EXPECT_EQ(cuepoint_frames(later.cuepoints[0]), 0u);
    EXPECT_EQ(cuepoint_frames(later.cuepoints[1]) - LBA_OFFSET_FRAMES, c.index1);
    EXPECT_EQ(sessions[0].layout->leadout_position, c.leadouts[0]);
    EXPECT_EQ(later.leadout_position, c.leadouts[1]);
  }
}

}  // namespace

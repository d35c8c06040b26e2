// The disc identifiers and database entries of AccurateRip, on tables of
// contents whose figures are worked out by hand in the comments.
#include "engine/accuraterip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Tracks at LBA 0, 750 and 2250 (2, 12 and 32 seconds with the 2-second
// lead-in), the lead-out at 3000 (42 seconds); `data` makes the last a data track.
DiscLayout three_tracks(bool data) {
  DiscLayout layout;
  layout.first_track = 1;
  layout.track_count = 3;
  const uint32_t starts[] = {0, 750, 2250, 3000};
  for (unsigned i = 0; i < 4; ++i) {
    layout.tracks[i].start = starts[i];
    layout.tracks[i].track_number = i < 3 ? static_cast<uint8_t>(i + 1) : LEADOUT_TRACK;
  }
  if (data) layout.tracks[2].track_flags = TRACK_DATA;
  layout.leadout_position = 3000;
  return layout;
}

TEST(AccurateRip, DiscIdentifiersAndEntryName) {
  struct Case {
    bool data;
    AccurateRipDisc expected;
    const char* path;
  };
  const Case cases[] = {
      // id1 = 0 + 750 + 2250 + 3000; id2 = 1*1 + 750*2 + 2250*3 + 3000*4 = 20251;
      // CDDB: digit sums 2 + 3 + 5, 40 seconds, 3 tracks.
      {false, {3, 6000, 20251, 0x0A002803}, "0/7/7/dBAR-003-00001770-00004f1b-0a002803.bin"},
      // Audio tracks 1 and 2 only: id1 = 0 + 750 + 3000; id2 = 1 + 1500 + 3000*3.
      {true, {2, 3750, 10501, 0x0A002803}, "6/a/e/dBAR-002-00000ea6-00002905-0a002803.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const AccurateRipDisc disc = accuraterip_disc(three_tracks(c.data));
    EXPECT_EQ(disc.tracks, c.expected.tracks);
    EXPECT_EQ(disc.id1, c.expected.id1);
    EXPECT_EQ(disc.id2, c.expected.id2);
    EXPECT_EQ(disc.cddb, c.expected.cddb);
    EXPECT_EQ(accuraterip_entry_path(disc), c.path);
  }
}

// Samples of the first five and last five sectors of the disc do not count;
// a one-sector disc counts none, and its CRC is still the audio's.
TEST(AccurateRip, EdgesOfTheDiscAreLeftOut) {
  std::vector<uint8_t> audio(11 * 2352, 0);
  audio[5 * 2352 + 4] = 1;  // sample 2942 (from 1): p * s = 2942
  struct Case {
    bool first, last;
    uint32_t v1;
  };
  const Case cases[] = {{true, true, 2942}, {false, false, 2942}, {true, false, 2942}};
  for (const Case& c : cases) {
    TrackChecksum sum(11 * 588, c.first, c.last);
    sum.add(audio.data(), audio.size());
    EXPECT_EQ(sum.result().v1, c.v1);
  }
  audio.assign(2352, 0);
  audio[0] = 1;  // sample 1 lies in the first five sectors
  TrackChecksum tiny(588, true, true);
  tiny.add(audio.data(), audio.size());
  EXPECT_EQ(tiny.result().v1, 0u);
  EXPECT_EQ(tiny.result().v2, 0u);
  EXPECT_NE(tiny.result().crc, 0u);
}

}  // namespace

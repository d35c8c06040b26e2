#include "layout/disc_layout.h"

#include "common/timecode.h"

std::unique_ptr<DiscLayout> create_disc_layout() { return std::make_unique<DiscLayout>(); }

uint32_t cuepoint_frames(const CuePoint& point) {
  return point.minute * 4500u + point.second * 75u + point.frame;
}

uint32_t cuepoint_distance(const CuePoint& a, const CuePoint& b) {
  return cuepoint_frames(b) - cuepoint_frames(a);
}

void fill_cuepoint(CuePoint* point, uint8_t track_bcd, uint8_t index_bcd, uint8_t minute,
                   uint8_t second, uint8_t frame) {
  point->track = track_bcd;
  point->index = index_bcd;
  point->minute = minute;
  point->second = second;
  point->frame = frame;
}

void renumber_tracks(DiscLayout* layout, uint8_t first) {
  if (layout->track_count == 0) return;
  const int shift = first - layout->tracks[0].track_number;
  if (shift == 0) return;
  for (unsigned t = 0; t < layout->track_count && t < MAX_TRACK_ENTRIES; ++t)
    layout->tracks[t].track_number = static_cast<uint8_t>(layout->tracks[t].track_number + shift);
  for (unsigned i = 0; i < layout->cuepoint_count && i < MAX_CUEPOINTS; ++i) {
    CuePoint& point = layout->cuepoints[i];
    if (point.track != LEADOUT_TRACK)
      point.track = bin_to_bcd(static_cast<uint8_t>(bcd_to_bin(point.track) + shift));
  }
}

void compute_track_lengths(DiscLayout* layout) {
  if (layout->cuepoint_count == 0) return;
  const CuePoint* track_first = &layout->cuepoints[0];
  unsigned entry = 0;
  for (unsigned i = 1; i < layout->cuepoint_count && entry < MAX_TRACK_ENTRIES; ++i) {
    const CuePoint& point = layout->cuepoints[i];
    if (point.track != track_first->track) {
      TrackEntry& track = layout->tracks[entry];
      track.length = cuepoint_distance(*track_first, point) - track.pregap - track.postgap;
      track_first = &point;
      ++entry;
    }
    if (point.track == LEADOUT_TRACK) break;
  }
}

// Sample discs for the drive tests: a cue sheet and one image file of
// 2352-byte frames (the form every cue sheet reader knows), with data tracks
// stored as raw sectors and audio as a known pattern, so that a test can say
// what every sector of the disc must hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layout/disc_layout.h"

struct SampleTrack {
  TrackType type = TrackType::Audio;  // Audio, Mode1 or Mode2 (form 1 sectors)
  uint32_t frames = 100;              // frames from index 1 on
  uint32_t index0 = 0;                // frames of index 0 before index 1, taken from the image
  std::string isrc;                   // empty: no ISRC line
  std::string flags;                  // the FLAGS line's keywords, empty: none
};

struct SampleDisc {
  std::vector<SampleTrack> tracks;
  std::string catalog;      // empty: no CATALOG line
  uint8_t first_track = 1;  // number of the first track
  // Per track (in order; none when missing): frames after index 1 where
  // index 2, 3, ... begin.
  std::vector<std::vector<uint32_t>> indexes;
};

// Writes <name>.cue and <name>.bin into `folder` and returns the cue sheet's
// path. Frame k of the image is the sector at LBA k.
std::string write_sample_disc(const std::string& folder, const std::string& name,
                              const SampleDisc& disc);

// The 2352 bytes the sample image holds for the frame at `lba` of a track of
// type `type` (a raw sector for data tracks).
std::vector<uint8_t> sample_frame(TrackType type, uint32_t lba);

// The LBA where each track's index 1 lies, and the lead-out, in track order.
std::vector<uint32_t> sample_track_starts(const SampleDisc& disc);

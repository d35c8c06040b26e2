// The analysis of a disc in a reader that a cue sheet is made from: the
// tracks of the table of contents with their types and flags, the data mode
// of each data track, the ISRC codes and the catalog number, a check that
// the disc has a shape that can be copied (data tracks first, one data
// mode), the boundary between the data and the audio area, and the
// cuepoints of every index, from the table of contents alone, with assumed
// two-second pregaps, or from a scan of the Q subchannel.
//
// Failures: the drive's errors are raised as MSGVEC records; a disc of a
// shape that cannot be copied prints "\nError analyzing disc...\n" and the
// reason on standard error and throws ToolExit{1}.
#pragma once

#include <cstdint>
#include <memory>

#include "drivers/cd_reader.h"
#include "layout/disc_layout.h"

// How the cuepoints are found.
enum SubcodeScan : uint8_t {
  SCAN_NONE = 0,  // the table of contents only
  SCAN_SOME = 1,  // scan the Q subchannel for index 0 and 1
  SCAN_ALL = 2,   // scan the Q subchannel for every index
  SCAN_AUTO = 3,  // no scan: a 150-frame pregap before every audio track but the first
  // every index of SCAN_ALL, found by a search: Q frames at the tracks'
  // starts and a binary search for each change of track or index between
  // them, instead of every frame
  SCAN_FAST = 4,
};

// True for the modes that read the Q subchannel.
inline bool scan_reads_subcode(SubcodeScan mode) {
  return mode == SCAN_SOME || mode == SCAN_ALL || mode == SCAN_FAST;
}

// Frames before the next track's start where a SOME scan goes on after it
// has found a track's index 1.
constexpr uint16_t DEFAULT_SCAN_THRESHOLD = 300;

// Audio sector and its 16 bytes of Q subchannel, and the sectors one scan
// read asks for.
constexpr uint32_t SCAN_BLOCK_SIZE = 2368;
constexpr uint32_t SCAN_BATCH_BLOCKS = 65000 / SCAN_BLOCK_SIZE;

// The last LBA from `first` up to `last` that reads as a data sector whose
// header holds its own address (2340-byte blocks, each tried twice), or 0
// when `first` already does not. Sets the data block length to 2340 bytes;
// raises nothing.
uint32_t find_data_track_end(CdReader& reader, uint32_t first, uint32_t last);

// Where the data track at entry `audio_track` - 1 of a layout that
// ReadDiscToc filled ends, when the audio track at `audio_track` follows it:
// `last` is its last sector that reads as data (0 when none does), searched
// for in the 500 sectors before the audio, or before the gap between the
// sessions when the audio opens a session of its own (the gap is never
// read); `audio_area` is the first LBA the audio may use (0, or the block
// after that gap).
struct DataTrackEnd {
  uint32_t last = 0;
  uint32_t audio_area = 0;
};
DataTrackEnd find_end_before_audio(CdReader& reader, const DiscLayout& layout,
                                   unsigned audio_track);

// A new layout of the disc in the reader, with its cuepoints found as `mode`
// says. With `reset` the device is reset and given 10 seconds first; with
// `progress` the analysis and the scan raise their progress events (24, 25
// and 0 to 2). The drive is left at 2048-byte data blocks. A layout of more
// than MAX_CUEPOINTS cuepoints raises "Disc layout needs more than 500
// cuepoints!".
std::unique_ptr<DiscLayout> analyze_source_disc(CdReader& reader, uint8_t speed_code,
                                                SubcodeScan mode, uint16_t threshold, bool reset,
                                                bool read_catalog, bool read_isrcs, bool progress);

// Fills the cuepoints of an analysed layout (tracks, counts and the audio
// pregap in place) and returns their count, the first (00:00:00) and the
// lead-out included.
uint16_t scan_cuepoints(CdReader& reader, DiscLayout* layout, uint8_t speed_code, SubcodeScan mode,
                        uint16_t threshold, bool progress);

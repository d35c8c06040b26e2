// A copy of audio that proves itself: a span of a disc read plainly (with
// jitter correction where the drive needs it) or securely, corrected by the
// drive's read offset, with every track's copy CRC and AccurateRip
// checksums, and the report lines the reading programs print for it.
//
// This is the one road the programs take for audio: ripspan for its span,
// a whole-disc copy for every audio track in turn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drivers/cd_reader.h"
#include "engine/accuraterip.h"
#include "engine/read_offset.h"
#include "engine/secure_reading.h"
#include "engine/span_reading.h"

struct AudioRipOptions {
  bool secure = false;  // read_audio_secure instead of read_audio_span
  unsigned retries = SECURE_DEFAULT_RETRIES;
  JitterMode jitter = JITTER_DRIVE_DEFAULT;
  int32_t offset = 0;  // the drive's read offset in stereo samples
  bool progress = false;
};

struct AudioRipResult {
  std::vector<SpanTrack> tracks;     // every audio track the span touches
  std::vector<uint32_t> suspicious;  // LBAs a secure read left undecided
  OffsetReadReport offset;
  uint64_t sectors_reread = 0;
};

// Reads LBAs first..last of a disc whose table of contents `layout` holds
// (ReadDiscToc) into `sink`, in whole 2352-byte blocks, and computes the
// checksums of what the sink got. The offset correction reads the audio
// tracks around the span (the run of audio tracks that holds `first`, to
// its session's end), beyond them only as read_with_offset allows.
// Raises what the readers raise.
AudioRipResult rip_audio(CdReader& reader, const DiscLayout& layout, uint32_t first, uint32_t last,
                         const AudioRipOptions& options, const SpanSink& sink);

// The report, one line a track, then the offset's zeros when there were:
//   "Track 03: copy CRC 1A2B3C4D, AccurateRip v1 0123ABCD, v2 89ABCDEF"
// with ", 2 suspicious positions (12:34.56, 12:35.01)" after the CRC for a
// secure read (positions from the track's start, MM:SS.FF; "(part)" after
// the number of a track the span holds only part of), and, with `records`
// (a database entry the user fetched), a line a whole track:
//   "Track 01: accurately ripped, confidence 12 (v2)", "Track 02: not in
//   the database", "Track 03: differs".
std::string audio_rip_report(const AudioRipResult& result, const DiscLayout& layout, bool secure,
                             int32_t offset, const std::vector<AccurateRipRecord>* records);

// The lines of a whole-disc copy: "AccurateRip disc id 003-...", "AccurateRip
// database file d/c/b/dBAR-003-....bin", "CDDB disc id 1a02b903".
std::string disc_identifier_report(const DiscLayout& layout);

// "Error: 2 suspicious positions stayed undecided after 20 re-reads: the
// copy may differ from the disc there\n", for a secure read that left
// positions undecided.
std::string undecided_positions_text(std::size_t positions, unsigned retries);

// True when the span holds every audio track of the disc whole.
bool covers_every_audio_track(const AudioRipResult& result, const DiscLayout& layout);

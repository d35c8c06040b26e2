// Correction of a drive's read offset: a drive with offset N delivers, for
// each sector asked for, the audio that begins N stereo samples earlier, so
// the span's exact audio is read N samples later (4 bytes a sample): from
// a sector before or after the span, and where that lies beyond the
// readable area (before the disc's first sector, past its last one), from
// a probe read that the drive may allow, else as zeros.
#pragma once

#include <cstdint>
#include <functional>

#include "drivers/cd_reader.h"
#include "engine/span_reading.h"

// Offsets /OFFSET and CD_READ_OFFSET take, in stereo samples.
constexpr int32_t MAX_READ_OFFSET = 5000;

// Reads the sectors first..last (all within the readable area) into a sink:
// read_audio_span, or the secure reader.
using SectorRangeReader = std::function<void(uint32_t first, uint32_t last, const SpanSink& sink)>;

struct OffsetReadReport {
  uint32_t zero_samples_before = 0;  // samples given as zeros before the readable area
  uint32_t zero_samples_after = 0;   // ... after it
};

// Passes LBAs first..last of the disc, corrected by `offset` samples, to
// `sink` in whole 2352-byte blocks. `readable_first`..`readable_last` are
// the audio sectors that `read` may be asked for (first..last among them);
// a sector outside them that the correction needs is read once with a
// plain audio read without raising, and given as zeros when that fails.
// With offset 0 it is `read` of first..last.
OffsetReadReport read_with_offset(CdReader& reader, int32_t offset, uint32_t first, uint32_t last,
                                  uint32_t readable_first, uint32_t readable_last,
                                  const SectorRangeReader& read, const SpanSink& sink);

// The whole disc in one image: every sector from LBA 0 to the lead-out, the
// data tracks as raw 2352-byte sectors, the audio as 2352-byte samples, in
// the order a cue sheet of the disc (source_analysis) lays them out.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "drivers/cd_reader.h"
#include "engine/span_reading.h"
#include "layout/disc_layout.h"

// How the audio of a copy is read: first to last LBA into the sink, with
// progress events when `progress`. Raises the drive's errors.
using AudioSpanReader = std::function<void(CdReader& reader, uint32_t first, uint32_t last,
                                           const SpanSink& sink, bool progress)>;

// A stretch of the image read one way.
struct ImageStretch {
  bool data = false;  // raw data sectors; else audio
  uint32_t first = 0;
  uint32_t last = 0;
};

// The stretches of an analysed layout (analyze_source_disc): its data tracks
// from LBA 0 to the last sector that reads as data, the audio from there to
// the lead-out. Empty for a disc with a gap between sessions (no read
// reaches the gap, so no one image holds the disc).
std::vector<ImageStretch> disc_image_stretches(CdReader& reader, const DiscLayout& layout);

// Reads the stretches into the sink in disc order: data through
// read_data_span, audio through `audio`. Raises the drive's errors.
void read_disc_image(CdReader& reader, const std::vector<ImageStretch>& stretches,
                     const AudioSpanReader& audio, const SpanSink& sink, bool progress);

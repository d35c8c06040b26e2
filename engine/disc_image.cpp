#include "engine/disc_image.h"

#include "common/sector.h"
#include "engine/source_analysis.h"

std::vector<ImageStretch> disc_image_stretches(CdReader& reader, const DiscLayout& layout) {
  if (!session_gaps(reader, layout).empty() || layout.leadout_position == 0) return {};
  const SourceAnalysis& analysis = layout.source_analysis;
  const uint32_t last = layout.leadout_position - 1;
  if (analysis.data_track_count == 0) return {{false, 0, last}};
  if (analysis.audio_track_count == 0) return {{true, 0, last}};
  // The sectors between the data and the audio track's pregap read as audio
  // on the disc; the sheet counts them to the data track, whose image
  // frames they become as they were read.
  const uint32_t data_last = find_end_before_audio(reader, layout, analysis.data_track_count).last;
  return {{true, 0, data_last}, {false, data_last + 1, last}};
}

void read_disc_image(CdReader& reader, const std::vector<ImageStretch>& stretches,
                     const AudioSpanReader& audio, const SpanSink& sink, bool progress) {
  for (const ImageStretch& stretch : stretches) {
    if (stretch.data) {
      read_data_span(reader, RAW_SECTOR_SIZE, stretch.first, stretch.last, sink, progress);
    } else {
      audio(reader, stretch.first, stretch.last, sink, progress);
    }
  }
}

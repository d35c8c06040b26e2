#include "tools/ripspan/rip_span.h"

#include <memory>

#include "common/console.h"
#include "common/sector.h"
#include "engine/recording.h"
#include "scsi/scan.h"
#include "tools/ripspan/rip_output.h"
#include "tools/shared/reader_choice.h"

namespace {


struct Span {
  uint32_t first = 0;
  uint32_t last = 0;
};

void check_capabilities(const CdReader& reader, const RipSpanSettings& settings) {
  if (!(reader.readerCaps & CAP_READ_CDDA))
    fail_with("Error: CDROM drive does not support the reading of CDDA (audio)!\n");
  if (settings.cdg && !(reader.readerCaps & CAP_READ_CDG))
    fail_with("Error: CDROM drive does not support the reading of CD+G subcodes!\n");
}

// The track's sectors, up to the next entry of the table of contents (the
// next track or the lead-out).
Span track_span(CdReader& reader, uint16_t number) {
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
  reader.ReadDiscToc(layout.get(), false, false, false);
  for (unsigned i = 0; i < layout->track_count; ++i) {
    const TrackEntry& track = layout->tracks[i];
    if (track.track_number != number) continue;
    const uint32_t end = layout->tracks[i + 1].start;
    if (end <= track.start) break;
    return Span{track.start, end - 1};
  }
  fail_with(format_text("Error: Specified track number (%u) does not exist!\n", number));
}

Span wanted_span(CdReader& reader, const RipSpanSettings& settings) {
  if (settings.track != 0) return track_span(reader, settings.track);
  Span span{settings.first_lba, settings.last_lba};
  if (!settings.last_given) {
    // A data span ends at the last sector that reads as data: an audio
    // probe of a data disc would find none.
    span.last = settings.data ? reader.FindLastReadableDataSector(DATA_BLOCK_SIZE)
                              : reader.FindLastReadableSector(true);
    if (span.first > span.last) fail_with("Error: /START value is greater than /END value!\n");
  }
  return span;
}

}  // namespace

void install_rip_span_events() { set_event_callback(console_event_callback); }

int run_rip_span(const RipSpanSettings& settings) {
  aspi_open(true);
  const DeviceListRelease release;
  scan_scsi_bus();
  CdReader* reader = choose_reader(settings.address_given, settings.address);
  if (settings.logging) out_text(reader_found_text(*reader) + generic_driver_warning(*reader));
  check_capabilities(*reader, settings);
  if (settings.reset) reset_reader(*reader, settings.logging);
  reader->TestUnitReady(true);

  const Span span = wanted_span(*reader, settings);
  const uint16_t block_size = settings.cdg ? CDG_BLOCK_SIZE : settings.block_length;
  const uint64_t byte_count = uint64_t{block_size} * (uint64_t{span.last} - span.first + 1);
  using Format = RipSpanSettings::Format;
  const bool wav = settings.format == Format::Wav ||
                   (settings.format == Format::Chosen && !settings.data && !settings.cdg);
  RipOutput output(settings.output, settings.append, wav, byte_count);

  uint64_t written = 0;
  try {
    reader->SetReadingSpeedNamed(settings.speed_code, true);
    read_span_to_file(*reader, output.file(), settings.data ? SPAN_DATA : SPAN_AUDIO, block_size,
                      span.first, span.last, settings.jitter, settings.logging, &written);
  } catch (...) {
    output.finish_after_failure(written);
    throw;
  }
  output.finish(written);
  return 0;
}

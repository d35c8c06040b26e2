#include "tools/ripspan/rip_span.h"

#include <algorithm>
#include <memory>

#include "common/console.h"
#include "common/msgvec.h"
#include "common/regular_file.h"
#include "common/sector.h"
#include "engine/audio_rip.h"
#include "engine/recording.h"
#include "engine/rip_tags.h"
#include "engine/source_analysis.h"
#include "scsi/scan.h"
#include "tools/shared/reader_choice.h"
#include "tools/shared/rip_output.h"

namespace {

// An entry holds a few records of at most 99 tracks each: far below this.
constexpr std::size_t MAX_ENTRY_BYTES = 1 << 20;

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

std::unique_ptr<DiscLayout> disc_toc(CdReader& reader) {
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
  reader.ReadDiscToc(layout.get(), false, false, false);
  return layout;
}

// The track's sectors, up to the next entry of the table of contents (the
// next track or the lead-out), or to its session's lead-out.
Span track_span(CdReader& reader, const DiscLayout& layout, uint16_t number) {
  for (unsigned i = 0; i < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    if (track.track_number != number) continue;
    if (layout.tracks[i + 1].start <= track.start) break;
    return Span{track.start, track_last_sector(reader, layout, i)};
  }
  fail_with(format_text("Error: Specified track number (%u) does not exist!\n", number));
}

// The last sector of a data span from `first`: the end of the data track
// that holds it when audio follows that track, else the last sector that
// reads as data (an audio probe of a data disc would find none).
uint32_t data_span_end(CdReader& reader, const DiscLayout& layout, uint32_t first) {
  for (unsigned i = 0; i + 1 < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    const TrackEntry& next = layout.tracks[i + 1];
    if (first < track.start || first >= next.start) continue;
    if (!(track.track_flags & TRACK_DATA) || (next.track_flags & TRACK_DATA)) break;
    const uint32_t end = find_end_before_audio(reader, layout, i + 1).last;
    if (end == 0) raise_message(MSG_NO_LAST_READABLE, 0, 0, 0);
    return end;
  }
  return reader.FindLastReadableDataSector(DATA_BLOCK_SIZE);
}

// A span given by /START and /END must lie on the disc: a read past its end
// would fail only after the output was made.
void check_on_disc(CdReader& reader, const Span& span) {
  uint32_t disc_last = 0;
  reader.ReadCapacity(&disc_last, nullptr, true);
  if (span.last <= disc_last) return;
  const char* name = span.first > disc_last ? "/START" : "/END";
  fail_with(format_text("Error: %s value is past the last sector of the disc (%lu)!\n", name,
                        static_cast<unsigned long>(disc_last)));
}

// A span that reaches into the gap between two sessions (their lead-out
// and lead-in, which no read reaches) would fail only after the output was
// made; each session's tracks can be copied on their own.
void check_no_session_gap(CdReader& reader, const DiscLayout& layout, const Span& span) {
  for (const SessionGap& gap : session_gaps(reader, layout)) {
    if (span.first > gap.last || span.last < gap.first) continue;
    fail_with(
        format_text("Error: LBA %06lu to %06lu lie between two sessions and cannot be read: "
                    "copy each session's tracks with /TRACK=n\n",
                    static_cast<unsigned long>(gap.first), static_cast<unsigned long>(gap.last)));
  }
}

[[noreturn]] void refuse_audio_in_data_span(uint32_t first, uint32_t last, uint8_t track) {
  fail_with(format_text(
      "Error: LBA %06lu to %06lu lie in audio track %02u: /DATA copies data tracks only\n",
      static_cast<unsigned long>(first), static_cast<unsigned long>(last), track));
}

// A data span lies in data tracks: a drive refuses a data read of an audio
// sector (illegal mode for the track), which would fail only after the
// output was made. A span whose end is still to be found (`open_end`) is
// refused where it starts in an audio track, shown to that track's end.
void check_data_tracks(const DiscLayout& layout, Span span, bool open_end = false) {
  if (open_end) span.last = span.first;
  for (unsigned i = 0; i < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    const uint32_t end = layout.tracks[i + 1].start;  // the next track or the lead-out
    if ((track.track_flags & TRACK_DATA) || span.last < track.start || span.first >= end) continue;
    refuse_audio_in_data_span(std::max(span.first, track.start),
                              open_end ? end - 1 : std::min(span.last, end - 1),
                              track.track_number);
  }
}

// The same for a span given up to /END in a data track that audio follows:
// the table of contents counts the audio track's pregap to the data track,
// so the data's own end is searched for, as for a span without /END.
void check_data_track_end(CdReader& reader, const DiscLayout& layout, const Span& span) {
  for (unsigned i = 0; i + 1 < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    const TrackEntry& next = layout.tracks[i + 1];
    if (!(track.track_flags & TRACK_DATA) || (next.track_flags & TRACK_DATA)) continue;
    if (span.last < track.start || span.first >= next.start) continue;
    const uint32_t end = find_end_before_audio(reader, layout, i + 1).last;
    if (end == 0 || span.last <= end) return;
    refuse_audio_in_data_span(std::max(span.first, end + 1),
                              std::min(span.last, layout.tracks[i + 2].start - 1),
                              next.track_number);
  }
}

// The span to copy, against the disc's table of contents `layout`.
Span wanted_span(CdReader& reader, const RipSpanSettings& settings, const DiscLayout& layout) {
  Span span{settings.first_lba, settings.last_lba};
  if (settings.track != 0) {
    span = track_span(reader, layout, settings.track);
    if (settings.data) check_data_tracks(layout, span);
    return span;
  }
  if (settings.last_given) {
    check_on_disc(reader, span);
    if (settings.data) check_data_track_end(reader, layout, span);
  } else {
    if (settings.data) check_data_tracks(layout, span, true);
    span.last = settings.data ? data_span_end(reader, layout, span.first)
                              : reader.FindLastReadableSector(true);
    if (span.first > span.last) fail_with("Error: /START value is greater than /END value!\n");
  }
  check_no_session_gap(reader, layout, span);
  if (settings.data) check_data_tracks(layout, span);
  return span;
}

// The records of a database entry the user fetched; a file that cannot be
// read or is no entry is refused before anything is read from the disc.
std::vector<AccurateRipRecord> read_accuraterip_entry(const std::string& path) {
  std::string bytes, why;
  std::vector<AccurateRipRecord> records;
  switch (read_regular_file(path, MAX_ENTRY_BYTES, &bytes)) {
    case FileReading::Read:
      if (parse_accuraterip_entry(bytes, &records, &why)) return records;
      break;
    case FileReading::NotRegular: why = "it is not a regular file"; break;
    case FileReading::TooLarge: why = "it is too large for an entry"; break;
    case FileReading::Failed: why = "it cannot be read"; break;
  }
  fail_with(
      format_text("Error: AccurateRip entry \"%s\" is unusable: %s\n", path.c_str(), why.c_str()));
}

RipFormat output_format(const RipSpanSettings& settings) {
  using Format = RipSpanSettings::Format;
  switch (settings.format) {
    case Format::Binary: return RipFormat::Binary;
    case Format::Wav: return RipFormat::Wav;
    case Format::Flac: return RipFormat::Flac;
    case Format::Chosen: break;
  }
  return settings.data || settings.cdg ? RipFormat::Binary : RipFormat::Wav;
}

// The FLAC file's tags: the track's with /TRACK, else the disc's.
std::vector<AudioTag> span_tags(CdReader& reader, uint16_t track) {
  const std::unique_ptr<DiscLayout> layout = read_disc_metadata(reader);
  for (unsigned i = 0; track != 0 && i < layout->track_count; ++i)
    if (layout->tracks[i].track_number == track) return track_tags(*layout, i);
  return disc_tags(*layout);
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

  // The table of contents is read once: for the span, and for the
  // checksums of an audio copy.
  const std::unique_ptr<DiscLayout> layout = disc_toc(*reader);
  const Span span = wanted_span(*reader, settings, *layout);
  const uint16_t block_size = settings.cdg ? CDG_BLOCK_SIZE : settings.block_length;
  const uint64_t byte_count = uint64_t{block_size} * (uint64_t{span.last} - span.first + 1);
  const RipFormat format = output_format(settings);
  // Audio is copied with its checksums, against the disc's table of
  // contents; a database entry to check them against is read first.
  const bool audio_rip = !settings.data && !settings.cdg;
  std::vector<AccurateRipRecord> records;
  if (!settings.accurip.empty()) records = read_accuraterip_entry(settings.accurip);
  const std::vector<AudioTag> tags =
      format == RipFormat::Flac ? span_tags(*reader, settings.track) : std::vector<AudioTag>{};
  // The speed is set before the output is made: a drive that refuses it
  // leaves an existing file as it was.
  reader->SetReadingSpeedNamed(settings.speed_code, true);
  RipOutput output(settings.output, settings.append, format, byte_count, tags);

  std::string report;
  std::size_t suspicious = 0;
  try {
    if (audio_rip) {
      AudioRipOptions options;
      options.secure = settings.secure;
      options.retries = settings.retries;
      options.jitter = settings.jitter;
      options.offset = settings.offset;
      options.progress = settings.logging;
      const AudioRipResult result =
          rip_audio(*reader, *layout, span.first, span.last, options, output.sink());
      suspicious = result.suspicious.size();
      report = audio_rip_report(result, *layout, settings.secure, settings.offset,
                                settings.accurip.empty() ? nullptr : &records);
      if (covers_every_audio_track(result, *layout)) report += disc_identifier_report(*layout);
    } else {
      read_span(*reader, settings.data ? SPAN_DATA : SPAN_AUDIO, block_size, span.first, span.last,
                settings.jitter, output.sink(), settings.logging);
    }
  } catch (...) {
    output.finish_after_failure();
    throw;
  }
  output.finish();
  if (settings.logging || settings.secure || !settings.accurip.empty()) out_text(report);
  if (suspicious > 0) {
    err_text(undecided_positions_text(suspicious, settings.retries));
    return 1;
  }
  return 0;
}

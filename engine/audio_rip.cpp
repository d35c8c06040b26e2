#include "engine/audio_rip.h"

#include "common/console.h"
#include "common/sector.h"
#include "common/timecode.h"

namespace {

struct Area {
  uint32_t first = 0;
  uint32_t last = 0;
};

bool is_audio(const DiscLayout& layout, unsigned entry) {
  return entry < layout.track_count && !(layout.tracks[entry].track_flags & TRACK_DATA);
}

// The run of audio tracks that holds `lba`, to its session's end; the
// disc's first track reaches back to LBA 0.
Area audio_area(CdReader& reader, const DiscLayout& layout, uint32_t lba, uint32_t last) {
  unsigned entry = 0;
  for (unsigned i = 0; i < layout.track_count; ++i)
    if (layout.tracks[i].start <= lba) entry = i;
  if (layout.track_count == 0 || !is_audio(layout, entry)) return {lba, last};
  unsigned begin = entry;
  while (begin > 0 && is_audio(layout, begin - 1) &&
         track_last_sector(reader, layout, begin - 1) + 1 == layout.tracks[begin].start)
    --begin;
  unsigned end = entry;
  while (is_audio(layout, end + 1) &&
         track_last_sector(reader, layout, end) + 1 == layout.tracks[end + 1].start)
    ++end;
  Area area{begin == 0 ? 0 : layout.tracks[begin].start, track_last_sector(reader, layout, end)};
  if (area.last < last) area.last = last;
  if (area.first > lba) area.first = lba;
  return area;
}

// "12:34.56": minutes, seconds and frames from the track's start.
std::string track_position(uint32_t frames) {
  return format_text("%02u:%02u.%02u", frames / (60 * FRAMES_PER_SECOND),
                     frames / FRAMES_PER_SECOND % 60, frames % FRAMES_PER_SECOND);
}

std::string track_label(const SpanTrack& track) {
  return format_text("Track %02u%s: ", track.number, track.whole ? "" : " (part)");
}

}  // namespace

AudioRipResult rip_audio(CdReader& reader, const DiscLayout& layout, uint32_t first, uint32_t last,
                         const AudioRipOptions& options, const SpanSink& sink) {
  AudioRipResult result;
  SpanChecksums sums(layout, first, last);
  const Area area = audio_area(reader, layout, first, last);
  const SectorRangeReader read = [&](uint32_t from, uint32_t to, const SpanSink& into) {
    if (!options.secure) {
      read_audio_span(reader, RAW_SECTOR_SIZE, from, to, options.jitter, into, options.progress);
      return;
    }
    SecureReadOptions secure;
    secure.retries = options.retries;
    secure.jitter = options.jitter;
    secure.area_first = area.first;
    secure.area_last = area.last;
    secure.progress = options.progress;
    const SecureReadReport report = read_audio_secure(reader, from, to, secure, into);
    result.suspicious.insert(result.suspicious.end(), report.suspicious.begin(),
                             report.suspicious.end());
    result.sectors_reread += report.sectors_reread;
  };
  result.offset = read_with_offset(reader, options.offset, first, last, area.first, area.last, read,
                                   [&](const uint8_t* blocks, uint16_t size, uint32_t count) {
                                     sums.add(blocks, count);
                                     sink(blocks, size, count);
                                   });
  result.tracks = sums.tracks();
  return result;
}

std::string audio_rip_report(const AudioRipResult& result, const DiscLayout& layout, bool secure,
                             int32_t offset, const std::vector<AccurateRipRecord>* records) {
  std::string text;
  const AccurateRipDisc disc = accuraterip_disc(layout);
  unsigned audio_index = 0;
  for (const SpanTrack& track : result.tracks) {
    text += track_label(track) + format_text("copy CRC %08X", track.sums.crc);
    if (secure) {
      std::vector<std::string> positions;
      for (const uint32_t lba : result.suspicious)
        if (lba >= track.first && lba <= track.last)
          positions.push_back(track_position(lba - track.track_start));
      text += format_text(", %zu suspicious position%s", positions.size(),
                          positions.size() == 1 ? "" : "s");
      for (std::size_t i = 0; i < positions.size(); ++i)
        text += (i == 0 ? " (" : ", ") + positions[i] + (i + 1 == positions.size() ? ")" : "");
    }
    text += format_text(", AccurateRip v1 %08X, v2 %08X\n", track.sums.v1, track.sums.v2);
  }
  if (records != nullptr) {
    for (const SpanTrack& track : result.tracks) {
      if (!track.whole) continue;
      // The track's place among the disc's audio tracks.
      audio_index = 0;
      for (unsigned i = 0; i < track.entry; ++i) audio_index += is_audio(layout, i) ? 1 : 0;
      const AccurateRipMatch match = match_accuraterip(*records, disc, audio_index, track.sums);
      text += track_label(track);
      switch (match.verdict) {
        case AccurateRipMatch::Verdict::Accurate:
          text += format_text("accurately ripped, confidence %u (v%u)\n", match.confidence,
                              match.version);
          break;
        case AccurateRipMatch::Verdict::NotInDatabase: text += "not in the database\n"; break;
        case AccurateRipMatch::Verdict::Differs: text += "differs\n"; break;
      }
    }
  }
  if (result.offset.zero_samples_before > 0)
    text += format_text(
        "Offset %+d: %u samples before the first audio sector read as zeros "
        "(the drive does not read there)\n",
        offset, result.offset.zero_samples_before);
  if (result.offset.zero_samples_after > 0)
    text += format_text(
        "Offset %+d: %u samples past the last audio sector read as zeros "
        "(the drive does not read there)\n",
        offset, result.offset.zero_samples_after);
  return text;
}

std::string disc_identifier_report(const DiscLayout& layout) {
  const AccurateRipDisc disc = accuraterip_disc(layout);
  return "AccurateRip disc id " + accuraterip_disc_id_text(disc) + "\n" +
         "AccurateRip database file " + accuraterip_entry_path(disc) + "\n" +
         format_text("CDDB disc id %08x\n", disc.cddb);
}

bool covers_every_audio_track(const AudioRipResult& result, const DiscLayout& layout) {
  unsigned whole = 0, audio = 0;
  for (const SpanTrack& track : result.tracks) whole += track.whole ? 1 : 0;
  for (unsigned i = 0; i < layout.track_count; ++i) audio += is_audio(layout, i) ? 1 : 0;
  return audio > 0 && whole == audio;
}

std::string undecided_positions_text(std::size_t positions, unsigned retries) {
  return format_text(
      "Error: %zu suspicious position%s stayed undecided after %u re-reads: "
      "the copy may differ from the disc there\n",
      positions, positions == 1 ? "" : "s", retries);
}

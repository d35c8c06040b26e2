#include "engine/accuraterip.h"

#include <algorithm>
#include <cstdio>

#include "common/byteorder.h"
#include "common/sector.h"
#include "common/timecode.h"

namespace {

// Samples of the five sectors at either end of the disc that the
// AccurateRip sums leave out.
constexpr uint64_t EDGE_SAMPLES = 5 * SECTOR_WORDS;

// Bytes of a record: its header, then 9 bytes a track.
constexpr std::size_t RECORD_HEADER = 13;
constexpr std::size_t RECORD_TRACK = 9;

// Entries of the table of contents that are audio tracks.
std::vector<const TrackEntry*> audio_tracks(const DiscLayout& layout) {
  std::vector<const TrackEntry*> tracks;
  for (unsigned i = 0; i < layout.track_count; ++i)
    if (!(layout.tracks[i].track_flags & TRACK_DATA)) tracks.push_back(&layout.tracks[i]);
  return tracks;
}

unsigned digit_sum(uint32_t value) {
  unsigned sum = 0;
  for (; value > 0; value /= 10) sum += value % 10;
  return sum;
}

std::string hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace

TrackChecksum::TrackChecksum(uint64_t samples, bool first_track, bool last_track)
    : samples_(samples),
      skip_before_(first_track ? EDGE_SAMPLES : 0),
      skip_after_(last_track && samples > EDGE_SAMPLES ? samples - EDGE_SAMPLES
                  : last_track                         ? 0
                                                       : UINT64_MAX),
      crc_(0xFFFFFFFFu) {}

void TrackChecksum::add(const uint8_t* audio, std::size_t bytes) {
  const std::size_t whole = bytes & ~std::size_t{3};
  crc_ = compute_edc(CRC32_TABLE.data(), audio, whole, crc_);
  for (std::size_t at = 0; at < whole; at += 4) {
    const uint64_t p = ++position_;
    if (p < skip_before_ || p > skip_after_) continue;
    const uint64_t product = p * get_le32(audio + at);
    v1_ += static_cast<uint32_t>(product);
    v2_ += static_cast<uint32_t>(product) + static_cast<uint32_t>(product >> 32);
  }
}

TrackChecksums TrackChecksum::result() const { return {~crc_, v1_, v2_}; }

SpanChecksums::SpanChecksums(const DiscLayout& layout, uint32_t first, uint32_t last)
    : next_(first) {
  const std::vector<const TrackEntry*> audio = audio_tracks(layout);
  for (unsigned i = 0; i < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    if (track.track_flags & TRACK_DATA) continue;
    const uint32_t end = layout.tracks[i + 1].start;  // the next entry or the lead-out
    if (end <= track.start || end <= first || track.start > last) continue;
    SpanTrack part;
    part.entry = i;
    part.number = track.track_number;
    part.first = std::max(first, track.start);
    part.last = std::min(last, end - 1);
    part.track_start = track.start;
    part.whole = part.first == track.start && part.last == end - 1;
    tracks_.push_back(part);
    sums_.emplace_back(uint64_t{end - track.start} * SECTOR_WORDS, &track == audio.front(),
                       &track == audio.back());
  }
}

void SpanChecksums::add(const uint8_t* audio, std::size_t sectors) {
  while (sectors > 0) {
    // The track part that holds the next sector; a sector of none (a data
    // track inside the span) counts in no sum.
    std::size_t here = 1;
    for (std::size_t k = 0; k < tracks_.size(); ++k) {
      if (next_ < tracks_[k].first || next_ > tracks_[k].last) continue;
      here = std::min<std::size_t>(sectors, tracks_[k].last - next_ + 1);
      sums_[k].add(audio, here * RAW_SECTOR_SIZE);
      break;
    }
    audio += here * RAW_SECTOR_SIZE;
    sectors -= here;
    next_ += static_cast<uint32_t>(here);
  }
}

std::vector<SpanTrack> SpanChecksums::tracks() const {
  std::vector<SpanTrack> tracks = tracks_;
  for (std::size_t k = 0; k < tracks.size(); ++k) tracks[k].sums = sums_[k].result();
  return tracks;
}

uint32_t cddb_disc_id(const DiscLayout& layout) {
  if (layout.track_count == 0) return 0;
  unsigned sum = 0;
  for (unsigned i = 0; i < layout.track_count; ++i)
    sum += digit_sum((layout.tracks[i].start + LBA_OFFSET_FRAMES) / FRAMES_PER_SECOND);
  const uint32_t seconds = (layout.leadout_position + LBA_OFFSET_FRAMES) / FRAMES_PER_SECOND -
                           (layout.tracks[0].start + LBA_OFFSET_FRAMES) / FRAMES_PER_SECOND;
  return (sum % 255) << 24 | (seconds & 0xFFFF) << 8 | layout.track_count;
}

AccurateRipDisc accuraterip_disc(const DiscLayout& layout) {
  AccurateRipDisc disc;
  const std::vector<const TrackEntry*> tracks = audio_tracks(layout);
  disc.tracks = static_cast<unsigned>(tracks.size());
  for (unsigned k = 0; k < tracks.size(); ++k) {
    disc.id1 += tracks[k]->start;
    disc.id2 += (tracks[k]->start > 0 ? tracks[k]->start : 1) * (k + 1);
  }
  disc.id1 += layout.leadout_position;
  disc.id2 += layout.leadout_position * (disc.tracks + 1);
  disc.cddb = cddb_disc_id(layout);
  return disc;
}

std::string accuraterip_disc_id_text(const AccurateRipDisc& disc) {
  char count[8];
  std::snprintf(count, sizeof count, "%03u", disc.tracks % 1000);
  return std::string(count) + "-" + hex8(disc.id1) + "-" + hex8(disc.id2) + "-" + hex8(disc.cddb);
}

std::string accuraterip_file_name(const AccurateRipDisc& disc) {
  return "dBAR-" + accuraterip_disc_id_text(disc) + ".bin";
}

std::string accuraterip_entry_path(const AccurateRipDisc& disc) {
  const std::string id1 = hex8(disc.id1);
  return std::string{id1[7], '/', id1[6], '/', id1[5], '/'} + accuraterip_file_name(disc);
}

bool parse_accuraterip_entry(const std::string& bytes, std::vector<AccurateRipRecord>* records,
                             std::string* why) {
  records->clear();
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  std::size_t at = 0;
  if (bytes.empty()) {
    *why = "the file is empty";
    return false;
  }
  while (at < bytes.size()) {
    const unsigned count = data[at];
    if (count == 0) {
      *why = "a record counts no tracks";
      return false;
    }
    if (bytes.size() - at < RECORD_HEADER + count * RECORD_TRACK) {
      *why = "a record is cut short";
      return false;
    }
    AccurateRipRecord record;
    record.disc.tracks = count;
    record.disc.id1 = get_le32(data + at + 1);
    record.disc.id2 = get_le32(data + at + 5);
    record.disc.cddb = get_le32(data + at + 9);
    at += RECORD_HEADER;
    for (unsigned t = 0; t < count; ++t, at += RECORD_TRACK) {
      record.confidence.push_back(data[at]);
      record.checksum.push_back(get_le32(data + at + 1));
    }
    records->push_back(std::move(record));
  }
  return true;
}

AccurateRipMatch match_accuraterip(const std::vector<AccurateRipRecord>& records,
                                   const AccurateRipDisc& disc, unsigned index,
                                   const TrackChecksums& sums) {
  AccurateRipMatch match;
  bool listed = false;
  for (const AccurateRipRecord& record : records) {
    if (record.disc.tracks != disc.tracks || record.disc.id1 != disc.id1 ||
        record.disc.id2 != disc.id2 || record.disc.cddb != disc.cddb || index >= disc.tracks)
      continue;
    const uint32_t checksum = record.checksum[index];
    const unsigned confidence = record.confidence[index];
    if (checksum == 0 && confidence == 0) continue;
    listed = true;
    const unsigned version = checksum == sums.v2 ? 2 : checksum == sums.v1 ? 1 : 0;
    if (version == 0) continue;
    const bool better = match.verdict != AccurateRipMatch::Verdict::Accurate ||
                        version > match.version ||
                        (version == match.version && confidence > match.confidence);
    if (better) match = {AccurateRipMatch::Verdict::Accurate, confidence, version};
  }
  if (match.verdict != AccurateRipMatch::Verdict::Accurate && listed)
    match.verdict = AccurateRipMatch::Verdict::Differs;
  return match;
}

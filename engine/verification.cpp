// Verification after recording: the recorded tracks read back batch by
// batch and compared with the blocks sent, which are made again from the
// image files (or, for a directory, by the caller).
#include "engine/verification.h"

#include <algorithm>
#include <cstring>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "engine/recording.h"
#include "engine/span_reading.h"

namespace {

// Blocks compared per read-back: large reads cost much less than small ones.
constexpr uint32_t BATCH_BLOCKS = 448;
// Runs of at least this many 2352-byte blocks are compared without a copy.
constexpr uint32_t DIRECT_BLOCKS = 64;
constexpr std::size_t MODE1_ECC_OFFSET = 2076;
constexpr std::size_t MODE2_BODY_OFFSET = 24;  // after the subheader

using SentAs = TrackVerifier::SentAs;

bool is_mode2(TrackType type) { return type == TrackType::Mode2 || type == TrackType::Cdi; }

// A Mode 1 sector whose EDC and ECC agree with its bytes.
bool mode1_sound(const uint8_t* sector) {
  if (sector[15] != 1 || get_le32(sector + MODE1_EDC_OFFSET) != sector_edc(sector)) return false;
  uint8_t rebuilt[RAW_SECTOR_SIZE];
  std::memcpy(rebuilt, sector, RAW_SECTOR_SIZE);
  compute_ecc(rebuilt, false);
  return std::memcmp(rebuilt + MODE1_ECC_OFFSET, sector + MODE1_ECC_OFFSET,
                     RAW_SECTOR_SIZE - MODE1_ECC_OFFSET) == 0;
}

bool all_zero(const uint8_t* bytes, std::size_t count) {
  return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

// Whether a block read back (a raw sector) is the one expected.
bool block_matches(TrackType type, const uint8_t* read, const uint8_t* expected, SentAs sent) {
  // Audio goes to the disc as it was sent, and raw sectors after their
  // sync field, which the drive writes itself.
  if (type == TrackType::Audio) return std::memcmp(read, expected, RAW_SECTOR_SIZE) == 0;
  if (sent == SentAs::Raw)
    return std::memcmp(read + SECTOR_SYNC.size(), expected + SECTOR_SYNC.size(),
                       RAW_SECTOR_SIZE - SECTOR_SYNC.size()) == 0;
  if (is_mode2(type)) {
    // A generated Mode 2 gap carries its form in the subheader.
    if (sent == SentAs::Generated)
      return all_zero(read + MODE2_BODY_OFFSET, FORM2_EDC_OFFSET - MODE2_BODY_OFFSET);
    return std::memcmp(read + SECTOR_DATA_OFFSET, expected + SECTOR_DATA_OFFSET,
                       RAW_SECTOR_SIZE - SECTOR_DATA_OFFSET) == 0;
  }
  // User data: the drive built the sector around it.
  return std::memcmp(read + SECTOR_DATA_OFFSET, expected + SECTOR_DATA_OFFSET, DATA_BLOCK_SIZE) ==
             0 &&
         mode1_sound(read);
}

// Puts a block as sent into the 2352-byte form it is compared in: audio as
// it is (without a CD+G block's subcode), user data at its place in a sector.
void normalise(uint8_t* to, const uint8_t* from, uint16_t block_size, TrackType type) {
  if (type == TrackType::Audio || block_size == RAW_SECTOR_SIZE) {
    if (block_size < RAW_SECTOR_SIZE) raise_message(MSG_BUGCHECK, 0, 0, 0);
    std::memcpy(to, from, RAW_SECTOR_SIZE);
    return;
  }
  if (block_size != DATA_BLOCK_SIZE && block_size != MODE2_BODY_SIZE)
    raise_message(MSG_BUGCHECK, 0, 0, 0);
  std::memset(to, 0, RAW_SECTOR_SIZE);
  std::memcpy(to + SECTOR_DATA_OFFSET, from, block_size);
}

std::string time_text(int64_t lba) {
  const MsfTime time = lba_to_msf(static_cast<int32_t>(lba));
  return format_text("%02u:%02u:%02u", time.minute, time.second, time.frame);
}

}  // namespace

TrackVerifier::TrackVerifier(CdReader& reader, unsigned track, TrackType type, int64_t first_lba,
                             uint32_t blocks, bool progress)
    : reader_(reader), type_(type), next_lba_(first_lba), blocks_(blocks), progress_(progress) {
  verdict_.track = track;
  pending_.reserve(std::size_t{BATCH_BLOCKS} * RAW_SECTOR_SIZE);
  if (progress_) out_text(format_text("Verifying TRACK %02u...   0%%\r", track));
}

TrackVerifier::~TrackVerifier() = default;

void TrackVerifier::expect(const uint8_t* blocks, uint16_t block_size, uint32_t count,
                           bool generated) {
  while (count > 0 && next_lba_ < 0) {  // the first pregap, before LBA 0
    ++done_;
    ++next_lba_;
    --count;
    blocks += block_size;
  }
  const SentAs sent = generated                       ? SentAs::Generated
                      : block_size >= RAW_SECTOR_SIZE ? SentAs::Raw
                                                      : SentAs::UserData;
  // A long run of raw or audio blocks is compared where it lies.
  if (generated_.empty() && count >= DIRECT_BLOCKS && block_size == RAW_SECTOR_SIZE) {
    compare(blocks, count, sent);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (generated_.empty()) pending_lba_ = next_lba_;
    const std::size_t at = pending_.size();
    pending_.resize(at + RAW_SECTOR_SIZE);
    normalise(pending_.data() + at, blocks + std::size_t{i} * block_size, block_size, type_);
    generated_.push_back(static_cast<uint8_t>(sent));
    ++next_lba_;
    ++done_;
    if (generated_.size() == BATCH_BLOCKS) compare_pending();
  }
}

void TrackVerifier::compare(const uint8_t* expected, uint32_t count, SentAs sent) {
  const int64_t first = next_lba_;
  uint32_t index = 0;
  const SpanSink sink = [&](const uint8_t* read, uint16_t size, uint32_t n) {
    for (uint32_t i = 0; i < n && index < count; ++i, ++index) {
      if (block_matches(type_, read + std::size_t{i} * size,
                        expected + std::size_t{index} * RAW_SECTOR_SIZE, sent))
        continue;
      if (verdict_.differing++ == 0) verdict_.first = first + index;
    }
  };
  read_span(reader_, type_ == TrackType::Audio ? SPAN_AUDIO : SPAN_DATA, RAW_SECTOR_SIZE,
            static_cast<uint32_t>(first), static_cast<uint32_t>(first + count - 1), JITTER_OFF,
            sink, false);
  next_lba_ += count;
  done_ += count;
  show_progress();
}

void TrackVerifier::compare_pending() {
  if (generated_.empty()) return;
  const auto count = static_cast<uint32_t>(generated_.size());
  uint32_t index = 0;
  const SpanSink sink = [&](const uint8_t* read, uint16_t size, uint32_t n) {
    for (uint32_t i = 0; i < n && index < count; ++i, ++index) {
      const uint8_t* expected = pending_.data() + std::size_t{index} * RAW_SECTOR_SIZE;
      if (block_matches(type_, read + std::size_t{i} * size, expected,
                        static_cast<SentAs>(generated_[index])))
        continue;
      if (verdict_.differing++ == 0) verdict_.first = pending_lba_ + index;
    }
  };
  read_span(reader_, type_ == TrackType::Audio ? SPAN_AUDIO : SPAN_DATA, RAW_SECTOR_SIZE,
            static_cast<uint32_t>(pending_lba_), static_cast<uint32_t>(pending_lba_ + count - 1),
            JITTER_OFF, sink, false);
  pending_.clear();
  generated_.clear();
  show_progress();
}

void TrackVerifier::show_progress() {
  if (!progress_ || blocks_ == 0) return;
  const auto percent =
      static_cast<unsigned>(std::min<uint64_t>(uint64_t{done_} * 100 / blocks_, 100));
  if (percent == shown_percent_ || percent >= 100) return;
  out_text(format_text("Verifying TRACK %02u... %3u%%\r", verdict_.track, percent));
  shown_percent_ = percent;
}

TrackVerdict TrackVerifier::finish() {
  compare_pending();
  if (progress_) out_text(format_text("Verifying TRACK %02u... 100%%\n", verdict_.track));
  return verdict_;
}

std::vector<TrackVerdict> verify_disc_at_once(CdReader& reader, const DiscAtOnceJob& job,
                                              bool progress, unsigned tracks_after) {
  const DiscLayout& layout = *job.layout;
  const std::vector<SentTrack> sent = sent_tracks(layout);
  if (sent.empty()) return {};
  DiscLayout disc;
  reader.ReadDiscToc(&disc, true, false, false);
  const unsigned last = disc.track_count == 0 ? 0 : disc.tracks[disc.track_count - 1].track_number;
  const auto count = static_cast<unsigned>(sent.size());
  const TrackEntry* first = nullptr;
  for (unsigned t = 0; t < disc.track_count; ++t)
    if (last >= count + tracks_after &&
        disc.tracks[t].track_number == last - tracks_after - count + 1)
      first = &disc.tracks[t];
  if (first == nullptr)
    raise_message(
        MSG_TEXT, 1, 0, 0,
        format_text("Unable to verify: the disc does not hold the %u tracks recorded", count));
  // The disc numbers the tracks from the first of them on.
  const unsigned first_number = first->track_number;
  // The session lies where the drive put it; the engine sent it from the
  // first pregap on, 150 blocks before the first track's index 1 at LBA 0.
  const int64_t shift = int64_t{first->start} - sent[0].start;
  int64_t lba = shift - static_cast<int64_t>(LBA_OFFSET_FRAMES);

  std::vector<TrackVerdict> verdicts;
  std::vector<uint8_t> buffer(IMAGE_READ_BYTES);
  std::vector<uint8_t> zeros(MAX_TRANSFER_BYTES, 0);
  std::unique_ptr<TrackVerifier> verifier;
  auto gap = [&](const TrackEntry& track, uint32_t blocks) {
    const uint32_t per = MAX_TRANSFER_BYTES / track.block_size;
    for (uint32_t done = 0; done < blocks;) {
      const uint32_t n = std::min(blocks - done, per);
      verifier->expect(zeros.data(), track.block_size, n, true);
      done += n;
    }
    lba += blocks;
  };
  for (uint16_t f = 0; f < job.file_count; ++f) {
    const ImageFile& file = job.files[f];
    ImageSource image;
    open_image_source(file, &image);
    uint32_t remaining = file.data_length;
    for (unsigned t = 0; t < file.track_count && file.first_track + t < MAX_TRACK_ENTRIES; ++t) {
      const TrackEntry& track = layout.tracks[file.first_track + t];
      if (track.block_size == 0) raise_message(MSG_BUGCHECK, 0, 0, 0);
      const bool starts_here = t != 0 || !file.first_track_continued;
      const bool ends_here = t + 1 != file.track_count || !file.last_track_goes_on;
      const uint32_t frames = t < file.track_frames.size() ? file.track_frames[t] : track.length;
      if (starts_here) {
        verifier = std::make_unique<TrackVerifier>(
            reader, first_number + file.first_track + t, track.track_type, lba,
            track.pregap + track.length + track.postgap, progress);
        gap(track, track.pregap);
      }
      const uint32_t per_read = IMAGE_READ_BYTES / track.block_size;
      for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(frames - done, per_read);
        const uint32_t bytes = n * track.block_size;
        const uint32_t asked = std::min(remaining, bytes);
        if (asked != 0 && image.source->read(buffer.data(), asked) != asked)
          raise_message(MSG_FILE_READ_FAILED, 0, 0, 0);
        std::memset(buffer.data() + asked, 0, bytes - asked);
        remaining -= asked;
        verifier->expect(buffer.data(), track.block_size, n, false);
        done += n;
        lba += n;
      }
      if (ends_here) {
        gap(track, track.postgap);
        verdicts.push_back(verifier->finish());
        verifier.reset();
      }
    }
  }
  return verdicts;
}

void report_verification(const std::vector<TrackVerdict>& verdicts) {
  bool differences = false;
  for (const TrackVerdict& verdict : verdicts) {
    if (verdict.differing == 0) continue;
    differences = true;
    err_text(format_text("TRACK %02u: %lu block%s differ%s, the first at LBA %06lld (%s)\n",
                         verdict.track, static_cast<unsigned long>(verdict.differing),
                         verdict.differing == 1 ? "" : "s", verdict.differing == 1 ? "s" : "",
                         static_cast<long long>(verdict.first), time_text(verdict.first).c_str()));
  }
  if (!differences) {
    out_text("Verification completed: no differences\n");
    return;
  }
  raise_message(MSG_TEXT, 1, 0, 0,
                "Verification found differences between the disc and what was sent");
}

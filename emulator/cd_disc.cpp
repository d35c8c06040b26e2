#include "emulator/cd_disc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "layout/cd_text.h"
#include "layout/cue_sheet.h"

namespace {

// A disc carries the catalog number and the ISRC at least once in every 100
// frames; these are the places in each hundred where this disc has them
// (one frame later where an index begins: see code_frame).
constexpr int32_t CATALOG_FRAME = 25;
constexpr int32_t ISRC_FRAME = 75;

uint8_t control_of(const TrackEntry& entry) {
  uint8_t control = 0;
  if (entry.track_flags & TRACK_DATA) control |= 0x04;
  if (entry.track_flags & TRACK_DCP) control |= 0x02;
  if (entry.track_flags & TRACK_PRE) control |= 0x01;
  if (entry.track_flags & TRACK_4CH) control |= 0x08;
  return control;
}

int32_t cuepoint_lba(const CuePoint& point) {
  return static_cast<int32_t>(cuepoint_frames(point)) - LBA_OFFSET_FRAMES;
}

void put_msf_bcd(uint8_t* out, int32_t frames) {
  const MsfTime time = frames_to_msf(frames);
  out[0] = bin_to_bcd(time.minute);
  out[1] = bin_to_bcd(time.second);
  out[2] = bin_to_bcd(time.frame);
}

// Six-bit character code of an ISRC letter or digit.
uint8_t isrc_code(char c) { return static_cast<uint8_t>(c - '0'); }

// The packs a pressed disc's sheet asks for; a sheet whose texts cannot be
// pressed gives a disc without CD-TEXT.
std::vector<uint8_t> pressed_cd_text(const DiscLayout& layout, const std::string& cue_path) {
  const std::size_t slash = cue_path.rfind('/');
  try {
    return cue_sheet_cd_text(layout, slash == std::string::npos ? "" : cue_path.substr(0, slash))
        .packs;
  } catch (const MSGVEC&) {
    return {};
  }
}

}  // namespace

uint8_t DiscTrack::index_at(int32_t lba) const {
  uint8_t index = indexes.empty() ? 1 : indexes.front().first;
  for (const auto& [index_number, start] : indexes)
    if (start <= lba) index = index_number;
  return index;
}

std::unique_ptr<EmulatedDisc> EmulatedDisc::load(const std::string& cue_path) {
  return from_sheet(cue_path, [&] { return parse_cue_sheet(cue_path); });
}

std::unique_ptr<EmulatedDisc> EmulatedDisc::load_text(const std::string& cue_path,
                                                      std::string_view text) {
  return from_sheet(cue_path, [&] { return parse_cue_sheet_text(text, ""); });
}

std::unique_ptr<EmulatedDisc> EmulatedDisc::from_sheet(
    const std::string& cue_path, const std::function<std::unique_ptr<CueSheetLayout>()>& parse) {
  std::unique_ptr<CueSheetLayout> sheet;
  try {
    sheet = parse();
  } catch (const MSGVEC& record) {
    // "\nError: message\ncause\n" becomes "message: cause".
    std::string text = message_vector_text(record);
    const std::string lead = "\nError: ";
    if (text.compare(0, lead.size(), lead) == 0) text.erase(0, lead.size());
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
      text.replace(at, 1, ": ");
    throw EmulatedBusError("cue sheet \"" + cue_path + "\": " + text);
  }
  std::unique_ptr<EmulatedDisc> disc(new EmulatedDisc(cue_path));
  const DiscLayout& layout = *sheet->layout;
  disc->leadout_ = static_cast<int32_t>(layout.leadout_position);
  disc->has_catalog_ = (layout.layout_flags & LAYOUT_MCN) != 0;
  disc->disc_texts_ = layout.disc_texts;
  disc->catalog_ = layout.catalog_number;
  disc->cd_text_ = pressed_cd_text(layout, cue_path);

  // Audio files read as CD audio through the front end, from their offset 0;
  // binary images as they stand.
  for (const ImageFile& file : sheet->files) {
    auto source = std::make_unique<FileSource>();
    std::unique_ptr<AudioFile> audio;
    if (file.file_type == FileType::Wave) {
      audio = AudioFile::open(file.path, file.audio_format);
      if (!audio) throw EmulatedBusError("cannot open \"" + file.path + "\"");
    } else if (!source->open(file.path)) {
      throw EmulatedBusError("cannot open \"" + file.path + "\"");
    }
    disc->files_.push_back(std::move(source));
    disc->file_paths_.push_back(file.path);
    disc->file_ends_.push_back(audio ? uint64_t{file.data_length}
                                     : uint64_t{file.data_offset} + file.data_length);
    disc->audio_.push_back(std::move(audio));
  }

  for (unsigned i = 0; i < layout.track_count; ++i) {
    const TrackEntry& entry = layout.tracks[i];
    DiscTrack track;
    track.number = entry.track_number;
    track.control = control_of(entry);
    track.type = entry.track_type;
    track.block_size = entry.block_size;
    track.pregap = entry.pregap;
    track.length = entry.length;
    track.has_isrc = (entry.track_flags & TRACK_ISRC) != 0;
    track.isrc = entry.isrc;
    track.texts = layout.track_texts[i];
    disc->tracks_.push_back(track);
  }
  // Image frames of a file follow each other track by track.
  for (std::size_t f = 0; f < sheet->files.size(); ++f) {
    const ImageFile& file = sheet->files[f];
    uint64_t offset = file.file_type == FileType::Wave ? 0 : file.data_offset;
    for (unsigned t = file.first_track; t < file.first_track + file.track_count; ++t) {
      DiscTrack& track = disc->tracks_[t];
      const unsigned slot = t - file.first_track;
      if (slot == 0 && file.first_track_continued) {
        uint32_t before = 0;
        for (std::size_t k = 0; k < f; ++k) {
          const ImageFile& earlier = sheet->files[k];
          if (t >= earlier.first_track && t < earlier.first_track + earlier.track_count &&
              t - earlier.first_track < earlier.track_frames.size())
            before += earlier.track_frames[t - earlier.first_track];
        }
        track.more_pieces.push_back({before, static_cast<int>(f), offset});
      } else {
        track.file = static_cast<int>(f);
        track.file_offset = offset;
      }
      const uint32_t frames =
          slot < file.track_frames.size() ? file.track_frames[slot] : track.length;
      offset += uint64_t{frames} * track.block_size;
    }
  }
  // Each track's area begins at its first cuepoint; its indexes follow.
  for (unsigned c = 0; c < layout.cuepoint_count; ++c) {
    const CuePoint& point = layout.cuepoints[c];
    if (point.track == LEADOUT_TRACK) break;
    const uint8_t number = bcd_to_bin(point.track);
    auto track = std::find_if(disc->tracks_.begin(), disc->tracks_.end(),
                              [number](const DiscTrack& t) { return t.number == number; });
    if (track == disc->tracks_.end()) continue;
    const int32_t lba = cuepoint_lba(point);
    const uint8_t index = bcd_to_bin(point.index);
    if (track->indexes.empty()) track->first_lba = lba;
    track->indexes.emplace_back(index, lba);
    if (index == 1) track->index1_lba = lba;
  }
  for (std::size_t t = 0; t < disc->tracks_.size(); ++t)
    disc->tracks_[t].end_lba =
        t + 1 < disc->tracks_.size() ? disc->tracks_[t + 1].first_lba : disc->leadout_;
  disc->lay_out_sessions(layout);
  return disc;
}

std::vector<std::string> EmulatedDisc::files() const {
  std::vector<std::string> paths{name};
  paths.insert(paths.end(), file_paths_.begin(), file_paths_.end());
  return paths;
}

const DiscTrack* EmulatedDisc::track_at(int32_t lba) const {
  for (const DiscTrack& track : tracks_)
    if (lba >= track.first_lba && lba < track.end_lba) return &track;
  return nullptr;
}

const DiscTrack* EmulatedDisc::track_number(uint8_t number) const {
  for (const DiscTrack& track : tracks_)
    if (track.number == number) return &track;
  return nullptr;
}

void EmulatedDisc::locate(const DiscTrack& track, uint32_t frame, int* file, uint64_t* offset) {
  *file = track.file;
  *offset = track.file_offset + uint64_t{frame} * track.block_size;
  for (const DiscTrack::Piece& piece : track.more_pieces)
    if (frame >= piece.first_frame) {
      *file = piece.file;
      *offset = piece.file_offset + uint64_t{frame - piece.first_frame} * track.block_size;
    }
}

bool EmulatedDisc::readable(int32_t lba) const {
  for (const auto& [first, end] : unreadable_)
    if (lba >= first && lba < end) return false;
  const DiscTrack* track = track_at(lba);
  if (track == nullptr) return false;
  const int32_t in_track = lba - track->first_lba;
  if (in_track < static_cast<int32_t>(track->pregap) ||
      in_track >= static_cast<int32_t>(track->pregap + track->length))
    return true;  // generated
  int piece_file = 0;
  uint64_t offset = 0;
  locate(*track, static_cast<uint32_t>(in_track) - track->pregap, &piece_file, &offset);
  const auto file = static_cast<std::size_t>(piece_file);
  // The last frame of a file may be partial (padded with silence): a frame
  // is readable while the file holds as much of it as it did when loaded.
  const uint64_t frame_end = std::min(offset + track->block_size, file_ends_[file]);
  // Decoded audio is as long as its decoder measured it when the sheet was
  // loaded; an image file holds what its size says now.
  if (audio_[file]) return offset < file_ends_[file];
  struct stat info {};
  return ::fstat(files_[file]->descriptor(), &info) == 0 &&
         static_cast<uint64_t>(info.st_size) >= frame_end;
}

void EmulatedDisc::read_image(const DiscTrack& track, uint32_t frame, uint8_t* out,
                              uint32_t size) const {
  int file = 0;
  uint64_t offset = 0;
  locate(track, frame, &file, &offset);
  const uint64_t end = file_ends_[static_cast<std::size_t>(file)];
  const auto wanted = offset >= end
                          ? std::size_t{0}
                          : static_cast<std::size_t>(std::min<uint64_t>(size, end - offset));
  // Sectors are mostly read in runs: one read of the file serves many.
  const bool cached = file == cache_file_ && offset >= cache_offset_ &&
                      offset + wanted <= cache_offset_ + cache_.size();
  if (!cached && wanted > 0) {
    cache_.resize(static_cast<std::size_t>(
        std::min<uint64_t>(std::max<std::size_t>(READ_AHEAD_BYTES, wanted), end - offset)));
    const int fd = files_[static_cast<std::size_t>(file)]->descriptor();
    AudioFile* audio = audio_[static_cast<std::size_t>(file)].get();
    std::size_t done = 0;
    if (audio) {
      // Decoded audio comes in order; a move elsewhere decodes from there.
      done = audio->seek(offset) ? audio->read(cache_.data(), cache_.size()) : 0;
    }
    while (!audio && done < cache_.size()) {
      const ssize_t got =
          pread(fd, cache_.data() + done, cache_.size() - done, static_cast<off_t>(offset + done));
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    cache_.resize(done);
    cache_file_ = file;
    cache_offset_ = offset;
  }
  std::size_t copied = 0;
  if (wanted > 0 && offset >= cache_offset_ && offset < cache_offset_ + cache_.size()) {
    copied = std::min<std::size_t>(wanted, cache_offset_ + cache_.size() - offset);
    std::memcpy(out, cache_.data() + (offset - cache_offset_), copied);
  }
  std::memset(out + copied, 0, size - copied);
}

void EmulatedDisc::read_sector(int32_t lba, uint8_t* raw, uint8_t* rw) const {
  std::memset(raw, 0, RAW_SECTOR_SIZE);
  if (rw != nullptr) std::memset(rw, 0, 96);
  const DiscTrack* track = track_at(lba);
  if (track == nullptr) return;
  const int32_t in_track = lba - track->first_lba;
  const bool from_file = in_track >= static_cast<int32_t>(track->pregap) &&
                         in_track < static_cast<int32_t>(track->pregap + track->length);
  const uint32_t frame = static_cast<uint32_t>(in_track) - track->pregap;
  if (!track->is_data()) {
    if (!from_file) return;  // digital silence
    if (track->block_size == 2448) {
      uint8_t block[2448];
      read_image(*track, frame, block, sizeof block);
      std::memcpy(raw, block, RAW_SECTOR_SIZE);
      if (rw != nullptr) std::memcpy(rw, block + RAW_SECTOR_SIZE, 96);
    } else {
      read_image(*track, frame, raw, RAW_SECTOR_SIZE);
    }
    return;
  }
  const bool mode1 = track->type == TrackType::Mode1;
  if (!from_file) {
    build_sector(raw, mode1 ? SECTOR_MODE1 : SECTOR_MODE2, lba, nullptr, nullptr, false, false,
                 false);
  } else if (track->block_size == RAW_SECTOR_SIZE) {
    read_image(*track, frame, raw, RAW_SECTOR_SIZE);
  } else {
    uint8_t data[MODE2_BODY_SIZE];
    read_image(*track, frame, data, track->block_size);
    build_sector(raw, track->block_size == DATA_BLOCK_SIZE ? SECTOR_MODE1 : SECTOR_MODE2, lba,
                 nullptr, data, false, false, false);
  }
}

bool EmulatedDisc::index_begins(int32_t lba) const {
  const DiscTrack* track = track_at(lba);
  return track != nullptr &&
         (lba == track->first_lba || track->index_at(lba) != track->index_at(lba - 1));
}

bool EmulatedDisc::code_frame(int32_t lba, int32_t place) const {
  const int32_t in_hundred = (lba + LBA_OFFSET_FRAMES) % 100;
  if (in_hundred == place) return !index_begins(lba);
  return in_hundred == place + 1 && index_begins(lba - 1);
}

void EmulatedDisc::q_subchannel(int32_t lba, std::array<uint8_t, 12>* q) const {
  q->fill(0);
  uint8_t* out = q->data();
  const DiscTrack* track = track_at(lba);
  const int32_t absolute = lba + LBA_OFFSET_FRAMES;
  const uint8_t control = track ? track->control : 0;
  if (has_catalog_ && code_frame(lba, CATALOG_FRAME)) {
    out[0] = static_cast<uint8_t>(control << 4 | 2);
    for (int digit = 0; digit < 13; ++digit) {
      const auto value = static_cast<uint8_t>(catalog_[static_cast<std::size_t>(digit)] - '0');
      out[1 + digit / 2] |= static_cast<uint8_t>(digit % 2 ? value : value << 4);
    }
    out[9] = bin_to_bcd(static_cast<uint32_t>(absolute % FRAMES_PER_SECOND));
  } else if (track && track->has_isrc && code_frame(lba, ISRC_FRAME)) {
    out[0] = static_cast<uint8_t>(control << 4 | 3);
    // Five six-bit characters, two zero bits, then seven BCD digits.
    const std::array<char, 12>& isrc = track->isrc;
    uint64_t bits = 0;
    for (std::size_t i = 0; i < 5; ++i) bits = bits << 6 | isrc_code(isrc[i]);
    bits <<= 2;
    for (std::size_t i = 5; i < 12; ++i) bits = bits << 4 | isrc_code(isrc[i]);
    bits <<= 4;  // 64 bits: bytes 1 to 8
    for (int i = 0; i < 8; ++i) out[1 + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    out[9] = bin_to_bcd(static_cast<uint32_t>(absolute % FRAMES_PER_SECOND));
  } else if (track) {
    const uint8_t index = track->index_at(lba);
    out[0] = static_cast<uint8_t>(control << 4 | 1);
    out[1] = bin_to_bcd(track->number);
    out[2] = bin_to_bcd(index);
    // Relative time counts down to index 1 in the pause and up after it.
    const int32_t relative =
        lba < track->index1_lba ? track->index1_lba - lba : lba - track->index1_lba;
    put_msf_bcd(out + 3, relative);
    put_msf_bcd(out + 7, absolute);
  }
  const uint16_t crc = q_crc(out);
  out[10] = static_cast<uint8_t>(crc >> 8);
  out[11] = static_cast<uint8_t>(crc);
}

void EmulatedDisc::subcode(int32_t lba, uint8_t* out96) const {
  uint8_t raw[RAW_SECTOR_SIZE];
  read_sector(lba, raw, out96);
  std::array<uint8_t, 12> q{};
  q_subchannel(lba, &q);
  const DiscTrack* track = track_at(lba);
  const bool pause = track != nullptr && track->index_at(lba) == 0;
  for (int i = 0; i < 96; ++i) {
    const bool q_bit = (q[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1;
    out96[i] = static_cast<uint8_t>((out96[i] & 0x3F) | (pause ? 0x80 : 0) | (q_bit ? 0x40 : 0));
  }
}

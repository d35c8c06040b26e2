// The recording commands of the emulated MMC recorder: the write parameters
// page, SEND CUE SHEET, READ TRACK INFORMATION, WRITE(10), SYNCHRONIZE CACHE
// and CLOSE TRACK/SESSION.
#include <algorithm>
#include <optional>

#include "common/byteorder.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "emulator/mmc_drive.h"

namespace {

constexpr uint8_t OP_WRITE_10 = 0x2A;
constexpr uint8_t OP_SYNCHRONIZE_CACHE = 0x35;
constexpr uint8_t OP_READ_TRACK_INFORMATION = 0x52;
constexpr uint8_t OP_CLOSE_TRACK_SESSION = 0x5B;
constexpr uint8_t OP_SEND_CUE_SHEET = 0x5D;

constexpr uint8_t WRITE_PARAMETERS_PAGE = 0x05;
constexpr uint8_t TRACK_AT_ONCE = 1;
constexpr uint8_t SESSION_AT_ONCE = 2;
constexpr uint8_t INVISIBLE_TRACK = 0xFF;
constexpr uint32_t CUE_ENTRY = 8;

using State = std::shared_ptr<MmcDriveState>;

const std::vector<uint8_t>& write_parameters(const MmcDriveState& s) {
  return s.reading->pages.at(WRITE_PARAMETERS_PAGE);
}
uint8_t write_type(const MmcDriveState& s) { return write_parameters(s)[2] & 0x0F; }
bool test_write(const MmcDriveState& s) { return (write_parameters(s)[2] & 0x10) != 0; }
// Multi-session 11b: the disc takes a next session.
bool next_session(const MmcDriveState& s) { return (write_parameters(s)[3] >> 6) == 3; }

// Bytes a block of a data block type of the page holds; 0 for a type the
// drive does not take.
uint32_t block_type_size(uint8_t type) {
  switch (type) {
    case 0: return RAW_SECTOR_SIZE;
    case 3: return CDG_BLOCK_SIZE;
    case 8: return DATA_BLOCK_SIZE;
    case 9: return MODE2_BODY_SIZE;
    default: return 0;
  }
}

std::optional<SenseCondition> check_write_parameters(const std::vector<uint8_t>& page) {
  if (page[0] != WRITE_PARAMETERS_PAGE) return std::nullopt;
  const uint8_t type = page[2] & 0x0F;
  if ((type != TRACK_AT_ONCE && type != SESSION_AT_ONCE) || block_type_size(page[4] & 0x0F) == 0 ||
      ((page[3] >> 6) == 2))
    return SENSE_INVALID_FIELD_IN_PARAMETERS;
  return std::nullopt;
}

// Bytes a block of a cue sheet data form holds; 0 for a form the host
// cannot send for that kind of track.
uint32_t data_form_size(uint8_t form, bool data) {
  if (!data) {
    if ((form & 0x3F) != 0x00 || (form & 0xC0) == 0x80 || (form & 0xC0) == 0xC0) return 0;
    return form == 0x40 ? CDG_BLOCK_SIZE : RAW_SECTOR_SIZE;
  }
  switch (form) {
    case 0x10: return DATA_BLOCK_SIZE;
    case 0x30: return MODE2_BODY_SIZE;
    case 0x11:
    case 0x31: return RAW_SECTOR_SIZE;
    default: return 0;
  }
}

bool valid_code(const uint8_t* text, std::size_t count, std::size_t letters) {
  for (std::size_t i = 0; i < count; ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    const bool letter = i < letters && text[i] >= 'A' && text[i] <= 'Z';
    if (!digit && !letter) return false;
  }
  return true;
}

// What SEND CUE SHEET lays out, its LBAs relative to the session (`offset`
// is where its first track's index 1 goes); the block size of each index
// region goes to `sizes` by absolute LBA.
std::optional<SenseCondition> decode_cue_sheet(const uint8_t* sheet, uint32_t length,
                                               uint8_t first_number, int32_t offset,
                                               SessionPlan* plan,
                                               std::vector<std::pair<int32_t, uint32_t>>* sizes,
                                               uint8_t* leadin_form) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  std::vector<DiscTrack>& tracks = plan->tracks;
  bool leadin = false, leadout = false;
  uint8_t isrc_track = 0;
  std::array<char, 12> isrc{};
  for (uint32_t at = 0; at < length; at += CUE_ENTRY) {
    const uint8_t* e = sheet + at;
    const uint8_t adr = e[0] & 0x0F;
    const uint8_t control = e[0] >> 4;
    if (leadout) return bad;
    if (adr == 2 || adr == 3) {  // catalog number, ISRC: two entries each
      const uint8_t* next = e + CUE_ENTRY;
      if (at + 2 * CUE_ENTRY > length || next[0] != e[0]) return bad;
      if (adr == 2) {
        if (!valid_code(e + 1, 7, 0) || !valid_code(next + 1, 6, 0) || next[7] != 0) return bad;
        std::copy(e + 1, e + 8, plan->catalog.begin());
        std::copy(next + 1, next + 7, plan->catalog.begin() + 7);
        plan->has_catalog = true;
      } else {
        if (next[1] != e[1] || !valid_code(e + 2, 6, 5) || !valid_code(next + 2, 6, 0)) return bad;
        isrc_track = e[1];
        std::copy(e + 2, e + 8, isrc.begin());
        std::copy(next + 2, next + 8, isrc.begin() + 6);
      }
      at += CUE_ENTRY;
      continue;
    }
    if (adr != 1 || e[6] >= 60 || e[7] >= 75) return bad;
    const int32_t lba = msf_to_lba(e[5], e[6], e[7]);
    if (!leadin) {  // the lead-in comes first, with a form the drive generates
      if (e[1] != 0 || e[2] != 0) return bad;
      *leadin_form = e[3];
      leadin = true;
      continue;
    }
    if (!sizes->empty() && lba <= sizes->back().first) return bad;
    const int32_t relative = lba - offset;
    if (e[1] == LEADOUT_TRACK) {
      if (tracks.empty() || e[2] != 1) return bad;
      tracks.back().end_lba = relative;
      leadout = true;
      continue;
    }
    const uint32_t size = data_form_size(e[3], (control & 0x04) != 0);
    if (size == 0) return bad;
    if (tracks.empty() || e[1] != tracks.back().number) {
      // A blank disc (first_number 0) may start at any track number.
      const uint8_t expected = !tracks.empty()     ? static_cast<uint8_t>(tracks.back().number + 1)
                               : first_number != 0 ? first_number
                                                   : std::clamp<uint8_t>(e[1], 1, MAX_TRACKS);
      if (e[1] != expected || e[1] > MAX_TRACKS || e[2] > 1) return bad;
      if (tracks.empty()) plan->first_number = e[1];
      if (!tracks.empty()) tracks.back().end_lba = relative;
      DiscTrack track;
      track.number = e[1];
      track.control = control;
      track.type = !(control & 0x04)       ? TrackType::Audio
                   : (e[3] & 0x30) == 0x30 ? TrackType::Mode2
                                           : TrackType::Mode1;
      if (isrc_track == e[1]) {
        track.has_isrc = true;
        track.isrc = isrc;
      }
      tracks.push_back(track);
    } else if (control != tracks.back().control || e[2] != tracks.back().indexes.back().first + 1) {
      return bad;
    }
    tracks.back().indexes.emplace_back(e[2], relative);
    sizes->emplace_back(lba, size);
  }
  if (!leadout) return bad;
  for (const DiscTrack& track : tracks) {
    const bool has_index1 = std::any_of(track.indexes.begin(), track.indexes.end(),
                                        [](const auto& index) { return index.first == 1; });
    if (!has_index1) return bad;
  }
  // The first track's index 1 goes where the session's program starts, or
  // later on a longer first pregap (audio before index 1).
  const auto& first = tracks.front().indexes;
  if ((first.front().first == 1 ? first.front().second : first[1].second) < 0) return bad;
  plan->program_start = first.front().second;
  return std::nullopt;
}

EmulatedAnswer send_cue_sheet(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (auto refused = s->drive->refuse_recording(device)) return *refused;
  const uint32_t length = get_be24(c.cdb + 6);
  if (length == 0 || length % CUE_ENTRY != 0 || c.direction != SRB_DIR_OUT || c.buffer == nullptr ||
      c.buffer_length < length)
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (write_type(*s) != SESSION_AT_ONCE) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  const RecordedDiscInfo& disc = s->drive->disc()->recording();
  const uint8_t first =
      disc.tracks.empty() ? 0 : static_cast<uint8_t>(disc.tracks.back().number + 1);
  SessionPlan plan;
  std::vector<std::pair<int32_t, uint32_t>> sizes;
  uint8_t leadin_form = 0;
  if (auto bad = decode_cue_sheet(c.buffer, length, first, s->drive->disc()->next_index1(), &plan,
                                  &sizes, &leadin_form))
    return refuse(*bad);
  if (!valid_leadin_form(*s, leadin_form)) return refuse(SENSE_INVALID_FIELD_IN_PARAMETERS);
  plan.leave_open = next_session(*s);
  const int32_t area = s->drive->disc()->next_area();
  s->leadin_open = false;
  const EmulatedAnswer answer = s->drive->begin_session(device, std::move(plan), test_write(*s));
  if (answer.target_status != STATUS_GOOD) return answer;
  s->block_sizes = std::move(sizes);
  if (leadin_form & LEADIN_FORM_SUBCODE)
    expect_leadin_subcode(*s, area - static_cast<int32_t>(LEADIN_BLOCKS), area);
  return answer;
}

EmulatedAnswer read_track_information(const State& s, EmulatedDevice& device,
                                      const EmulatedCommand& c) {
  if (device.medium() == nullptr || s->drive->disc() == nullptr)
    return refuse(SENSE_MEDIUM_NOT_PRESENT);
  const uint32_t number = get_be32(c.cdb + 2);
  if ((c.cdb[1] & 0x03) != 1) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  const RecordedDisc& recorded = *s->drive->disc();
  const RecordedDiscInfo& disc = recorded.recording();
  uint8_t data[36] = {};
  put_be16(data, sizeof data - 2);
  if (number == INVISIBLE_TRACK) {
    data[2] = disc.tracks.empty() ? 1 : static_cast<uint8_t>(disc.tracks.back().number + 1);
    data[3] = static_cast<uint8_t>(disc.sessions.size() +
                                   (disc.sessions.empty() || disc.sessions.back().closed ? 1 : 0));
    data[6] = 0x40 | 0x0F;  // blank, data mode not yet known
    if (!disc.closed) {
      const int32_t next = recorded.next_index1();
      data[7] = 0x01;  // next writable address valid
      put_be32(data + 8, static_cast<uint32_t>(recorded.next_area()));
      put_be32(data + 12, static_cast<uint32_t>(next));
      put_be32(data + 16, static_cast<uint32_t>(std::max(disc.capacity - next, 0)));
      put_be32(data + 24, static_cast<uint32_t>(std::max(disc.capacity - next, 0)));
    }
  } else {
    const auto track = std::find_if(disc.tracks.begin(), disc.tracks.end(),
                                    [&](const DiscTrack& t) { return t.number == number; });
    if (track == disc.tracks.end()) return refuse(SENSE_INVALID_FIELD_IN_CDB);
    data[2] = track->number;
    for (std::size_t i = 0; i < disc.sessions.size(); ++i)
      if (track->number >= disc.sessions[i].first_track) data[3] = static_cast<uint8_t>(i + 1);
    data[5] = track->control;
    data[6] = track->is_data() ? (track->type == TrackType::Mode2 ? 0x02 : 0x01) : 0x00;
    put_be32(data + 8, static_cast<uint32_t>(track->index1_lba));
    put_be32(data + 24, static_cast<uint32_t>(track->end_lba - track->index1_lba));
  }
  c.send_data(data, sizeof data, get_be16(c.cdb + 7));
  return EmulatedAnswer::good();
}

// The block size that the cue sheet gives the blocks from `lba` on.
uint32_t cue_block_size(const MmcDriveState& s, int32_t lba) {
  uint32_t size = 0;
  for (const auto& [from, bytes] : s.block_sizes)
    if (from <= lba) size = bytes;
  return size;
}

EmulatedAnswer write_10(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (auto refused = s->drive->refuse_recording(device)) return *refused;
  const auto lba = static_cast<int32_t>(get_be32(c.cdb + 2));
  const uint32_t count = get_be16(c.cdb + 7);
  const std::vector<uint8_t>& page = write_parameters(*s);
  uint32_t size = 0;
  if (write_type(*s) == TRACK_AT_ONCE) {
    size = block_type_size(page[4] & 0x0F);
    if (!s->track_open) {  // the first block begins the track
      DiscTrack track;
      track.control = page[3] & 0x0F;
      track.type = !(track.control & 0x04) ? TrackType::Audio
                   : (page[4] & 0x0F) == 9 ? TrackType::Mode2
                                           : TrackType::Mode1;
      track.block_size = static_cast<uint16_t>(size == CDG_BLOCK_SIZE ? size : RAW_SECTOR_SIZE);
      const EmulatedAnswer opened = s->drive->open_track(device, track, test_write(*s));
      if (opened.target_status != STATUS_GOOD) return opened;
      s->track_open = true;
    }
  } else {
    if (s->block_sizes.empty()) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
    if (s->leadin_open) return write_leadin_subcode(*s, c, lba, count);
    size = cue_block_size(*s, lba);
    if (count > 0 && cue_block_size(*s, lba + static_cast<int32_t>(count) - 1) != size)
      return refuse(SENSE_ILLEGAL_MODE_FOR_TRACK);
  }
  if (lba != s->drive->next_block()) return refuse(SENSE_INVALID_ADDRESS_FOR_WRITE);
  if (uint64_t{count} * size != c.buffer_length) return refuse(SENSE_ILLEGAL_MODE_FOR_TRACK);
  // Blocks come as the disc holds them.
  const uint32_t kept = s->reading->block_length;
  s->reading->block_length = size;
  const EmulatedAnswer answer = s->drive->write(device, c, count, copy_block);
  s->reading->block_length = kept;
  return answer;
}

EmulatedAnswer synchronize_cache(const State& s, EmulatedDevice& device, const EmulatedCommand&) {
  const EmulatedAnswer answer = s->drive->synchronize(device);
  if (answer.target_status == STATUS_GOOD) {
    s->track_open = false;
    s->block_sizes.clear();
    s->leadin_open = false;
  }
  return answer;
}

EmulatedAnswer close_track_session(const State& s, EmulatedDevice& device,
                                   const EmulatedCommand& c) {
  switch (c.cdb[2] & 0x07) {
    case 1: {  // the track: what SYNCHRONIZE CACHE left open
      if (!s->track_open) return EmulatedAnswer::good();
      return synchronize_cache(s, device, c);
    }
    case 2: {
      const EmulatedAnswer answer = s->drive->fixate(device, next_session(*s), test_write(*s));
      if (answer.target_status == STATUS_GOOD) s->track_open = false;
      return answer;
    }
    default: return refuse(SENSE_INVALID_FIELD_IN_CDB);
  }
}

}  // namespace

void install_mmc_recording(EmulatedDevice& device, const std::shared_ptr<MmcDriveState>& state) {
  std::vector<uint8_t> page(0x34, 0);
  page[0] = WRITE_PARAMETERS_PAGE;
  page[1] = 0x32;
  page[2] = TRACK_AT_ONCE;
  page[3] = 0x04;  // data, uninterrupted
  page[4] = 8;     // Mode 1, 2048 bytes
  put_be16(&page[14], 150);
  state->reading->pages[WRITE_PARAMETERS_PAGE] = page;
  state->reading->check_page = check_write_parameters;
  device.set_handler(OP_SEND_CUE_SHEET, bind_handler<send_cue_sheet>(state));
  device.set_handler(OP_READ_TRACK_INFORMATION, bind_handler<read_track_information>(state));
  device.set_handler(OP_WRITE_10, bind_handler<write_10>(state));
  device.set_handler(OP_SYNCHRONIZE_CACHE, bind_handler<synchronize_cache>(state));
  device.set_handler(OP_CLOSE_TRACK_SESSION, bind_handler<close_track_session>(state));
}

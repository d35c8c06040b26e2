#include "emulator/yamaha_recorder.h"

#include <optional>

#include "common/byteorder.h"
#include "common/numbers.h"
#include "common/sector.h"
#include "emulator/cdrom_drive.h"
#include "emulator/recorder_drive.h"
#include "emulator/subcode_fields.h"

namespace {

constexpr uint8_t OP_WRITE_10 = 0x2A;
constexpr uint8_t OP_SYNCHRONIZE_CACHE = 0x35;
constexpr uint8_t OP_WRITE_TRACK = 0xE6;
constexpr uint8_t OP_FIXATION = 0xE9;
constexpr uint8_t OP_WRITE_TOC = 0xEA;

constexpr uint8_t SPEED_PAGE = 0x31;
constexpr uint8_t WRITE_MODE_PAGE = 0x32;
constexpr uint8_t MODE_DISC_AT_ONCE = 4;
constexpr uint8_t MAX_SPEED_VALUE = 2;

constexpr uint32_t ENTRY_SIZE = 8;
constexpr uint8_t ENTRY_POSITION = 1;
constexpr uint8_t ENTRY_CATALOG = 2;
constexpr uint8_t ENTRY_ISRC = 3;

// A decoded cue sheet: the session, and where each track's blocks end with
// the size they come in.
struct CueSheetPlan {
  SessionPlan session;
  std::vector<std::pair<int32_t, uint32_t>> block_sizes;  // end LBA (exclusive), bytes a block
};

// Bytes a block of a track of this data form and block format; 0 for a pair
// the drive does not take.
uint32_t block_size_of(uint8_t form, uint8_t format) {
  switch (form) {
    case 0: return format == 0 ? RAW_SECTOR_SIZE : format == 0x30 ? CDG_BLOCK_SIZE : 0;
    case 2: return format == 0 ? RAW_SECTOR_SIZE : format == 3 ? DATA_BLOCK_SIZE : 0;
    case 4:
    case 5: return format == 0 ? RAW_SECTOR_SIZE : format == 3 ? MODE2_BODY_SIZE : 0;
    default: return 0;
  }
}

// The drive cue sheet of WRITE TOC: catalog entries, the lead-in, per track
// its ISRC entries and its index entries (index 0 first, then 1, 2, ... at
// rising times), the lead-out last.
std::optional<SenseCondition> decode_cue_sheet(const uint8_t* sheet, uint32_t length,
                                               CueSheetPlan* out) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  const uint32_t count = length / ENTRY_SIZE;
  auto at = [&](uint32_t i) { return sheet + i * ENTRY_SIZE; };
  auto kind = [&](uint32_t i) { return static_cast<uint8_t>(at(i)[0] & 0x0F); };
  SessionPlan& plan = out->session;
  uint32_t i = 0;
  if (count >= 2 && kind(0) == ENTRY_CATALOG) {
    const uint8_t* a = at(0);
    const uint8_t* b = at(1);
    if (a[0] != ENTRY_CATALOG || b[0] != ENTRY_CATALOG || b[7] != 0) return bad;
    for (std::size_t d = 0; d < 13; ++d) {
      const char c = static_cast<char>(d < 7 ? a[1 + d] : b[1 + d - 7]);
      if (!catalog_digit(c)) return bad;
      plan.catalog[d] = c;
    }
    plan.has_catalog = true;
    i = 2;
  }
  // The lead-in: the first track's control and data form.
  if (i >= count || kind(i) != ENTRY_POSITION) return bad;
  const uint8_t* leadin = at(i++);
  if (leadin[1] != 0 || leadin[2] != 0 || leadin[4] != 0 || leadin[5] != 0 || leadin[6] != 0 ||
      leadin[7] != 0)
    return bad;
  uint8_t control = leadin[0] >> 4;
  uint8_t form = leadin[3];
  uint8_t format = 0;
  uint8_t track_number = 0;
  int previous_index = -1;
  int32_t previous_lba = 0;
  std::optional<std::array<char, 12>> isrc;
  uint8_t isrc_track = 0;
  bool leadout_seen = false;
  for (; i < count && !leadout_seen; ++i) {
    const uint8_t* e = at(i);
    if (kind(i) == ENTRY_ISRC) {
      if (isrc || i + 1 >= count || at(i + 1)[0] != e[0] || at(i + 1)[1] != e[1]) return bad;
      std::array<char, 12> code{};
      for (unsigned c = 0; c < 12; ++c) {
        code[c] = static_cast<char>(c < 6 ? e[2 + c] : at(i + 1)[2 + c - 6]);
        if (!isrc_character(code[c], c)) return bad;
      }
      isrc = code;
      isrc_track = e[1];
      ++i;
      continue;
    }
    if (kind(i) != ENTRY_POSITION) return bad;
    const std::optional<int32_t> lba = bcd_time_lba(e + 5);
    if (!lba || (!plan.tracks.empty() && *lba < previous_lba)) return bad;
    if (e[1] == LEADOUT_TRACK) {
      if (plan.tracks.empty() || isrc || e[0] >> 4 != control || e[3] != form || e[4] != 0 ||
          *lba <= previous_lba)
        return bad;
      plan.tracks.back().end_lba = *lba;
      leadout_seen = true;
      continue;
    }
    const std::optional<uint8_t> number = bcd_field(e[1], 99);
    const std::optional<uint8_t> index = bcd_field(e[2], 99);
    if (!number || !index || *number == 0) return bad;
    if (*number != track_number) {
      // A new track: the next number, opened by its index 0 entry.
      const uint8_t new_control = e[0] >> 4;
      const uint32_t size = block_size_of(e[3], e[4]);
      if ((!plan.tracks.empty() && (*number != track_number + 1 || *lba <= previous_lba)) ||
          *index != 0 || size == 0 || ((new_control & 0x04) != 0) != (e[3] != 0) ||
          (plan.tracks.empty() && (new_control != control || e[3] != form || *lba != -150)) ||
          (isrc && isrc_track != e[1]))
        return bad;
      if (!plan.tracks.empty()) {
        plan.tracks.back().end_lba = *lba;
        out->block_sizes.emplace_back(*lba, block_size_of(form, format));
      }
      control = new_control;
      form = e[3];
      format = e[4];
      track_number = *number;
      DiscTrack track;
      track.control = control;
      track.type = form == 0 ? TrackType::Audio : form == 2 ? TrackType::Mode1 : TrackType::Mode2;
      if (isrc) {
        track.has_isrc = true;
        track.isrc = *isrc;
        isrc.reset();
      }
      track.indexes.emplace_back(0, *lba);
      plan.tracks.push_back(track);
    } else {
      if (isrc || e[0] >> 4 != control || e[3] != form || e[4] != format ||
          *index != previous_index + 1 || (*lba == previous_lba && *index != 1))
        return bad;
      std::vector<std::pair<uint8_t, int32_t>>& indexes = plan.tracks.back().indexes;
      // An index 0 of no length: the track starts at its index 1.
      if (*index == 1 && indexes.back().second == *lba) indexes.pop_back();
      indexes.emplace_back(*index, *lba);
    }
    previous_index = *index;
    previous_lba = *lba;
  }
  if (!leadout_seen || i != count) return bad;
  out->block_sizes.emplace_back(plan.tracks.back().end_lba, block_size_of(form, format));
  plan.program_start = -150;
  return std::nullopt;
}

struct Yamaha {
  std::shared_ptr<RecorderDrive> drive;
  uint32_t busy_every = 0;            // writebusy=
  uint32_t leadout_polls = 0;         // leadout=
  uint32_t writes = 0;                // WRITE(10) commands seen
  uint32_t leadout_left = 0;          // TEST UNIT READY answers still aborted
  std::optional<CueSheetPlan> sheet;  // WRITE TOC, waiting for WRITE TRACK
  // The disc at once being written: block sizes by track, the next LBA, and
  // the block length to put back when it ends.
  std::vector<std::pair<int32_t, uint32_t>> block_sizes;
  int32_t cursor = 0;
  bool at_once = false;
  uint32_t saved_block_length = 0;

  const std::vector<uint8_t>& page(uint8_t code) { return drive->reading().pages.at(code); }
  bool test() { return (page(SPEED_PAGE)[3] & 0x01) != 0; }
  bool disc_at_once_mode() { return page(WRITE_MODE_PAGE)[3] == MODE_DISC_AT_ONCE; }
};
using State = std::shared_ptr<Yamaha>;

std::optional<SenseCondition> check_page(const std::vector<uint8_t>& page) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  if (page[0] == SPEED_PAGE &&
      (page[2] != 0 || (page[3] >> 4) > MAX_SPEED_VALUE || (page[3] & 0x0E)))
    return bad;
  if (page[0] == WRITE_MODE_PAGE) {
    if (page[3] != 0 && page[3] != MODE_DISC_AT_ONCE) return bad;
    for (std::size_t i = 2; i < page.size(); ++i)
      if (i != 3 && page[i] != 0) return bad;
  }
  return std::nullopt;
}

EmulatedAnswer write_toc(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (auto refused = s->drive->refuse_recording(device)) return *refused;
  if (!s->disc_at_once_mode() || s->at_once) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  const uint32_t length = get_be16(c.cdb + 7);
  if (length == 0 || length % ENTRY_SIZE != 0 || c.direction != SRB_DIR_OUT ||
      c.buffer == nullptr || c.buffer_length < length)
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  CueSheetPlan plan;
  if (auto bad = decode_cue_sheet(c.buffer, length, &plan)) return refuse(*bad);
  s->sheet = std::move(plan);
  return EmulatedAnswer::good();
}

// Empty: opens the disc at once of the cue sheet. With a track: opens a
// track at once (byte 6: mode in bits 0-1, audio bit 2, copy permitted bit 3).
EmulatedAnswer write_track(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  bool empty = true;
  for (int i = 2; i < 10; ++i) empty = empty && c.cdb[i] == 0;
  CdromDriveState& reading = s->drive->reading();
  if (s->disc_at_once_mode()) {
    if (!empty) return refuse(SENSE_INVALID_FIELD_IN_CDB);
    if (!s->sheet) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
    CueSheetPlan plan = std::move(*s->sheet);
    s->sheet.reset();
    const EmulatedAnswer answer =
        s->drive->begin_session(device, std::move(plan.session), s->test());
    if (answer.target_status != STATUS_GOOD) return answer;
    s->block_sizes = std::move(plan.block_sizes);
    s->cursor = -150;
    s->at_once = true;
    s->saved_block_length = reading.block_length;
    return answer;
  }
  const uint8_t mode = c.cdb[6] & 0x03;
  const bool audio = (c.cdb[6] & 0x04) != 0;
  if (empty || (c.cdb[6] & 0xF0) || (audio ? mode > 1 : (mode != 1 && mode != 2)) ||
      (c.cdb[9] & 0xC0))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  DiscTrack track;
  track.control = static_cast<uint8_t>((audio ? mode : 0x04) | ((c.cdb[6] & 0x08) ? 0x02 : 0));
  track.type = audio ? TrackType::Audio : mode == 1 ? TrackType::Mode1 : TrackType::Mode2;
  // Audio goes in raw sectors (or CD+G blocks) whatever the block length was.
  if (audio && reading.block_length != CDG_BLOCK_SIZE) reading.block_length = RAW_SECTOR_SIZE;
  track.block_size = reading.block_length == CDG_BLOCK_SIZE ? CDG_BLOCK_SIZE : RAW_SECTOR_SIZE;
  return s->drive->open_track(device, track, s->test());
}

EmulatedAnswer write_10(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  ++s->writes;
  if (s->busy_every > 0 && s->writes % s->busy_every == 0) return refuse(SENSE_DRIVE_BUSY);
  const uint32_t count = get_be16(c.cdb + 7);
  CdromDriveState& reading = s->drive->reading();
  if (s->at_once) {
    // The block size of the track the blocks go to, as the cue sheet said.
    uint32_t size = 0;
    for (const auto& [end, bytes] : s->block_sizes)
      if (s->cursor < end) {
        size = bytes;
        break;
      }
    if (size == 0) return refuse(SENSE_END_OF_USER_AREA);
    reading.block_length = size;
  }
  const EmulatedAnswer answer = s->drive->write(device, c, count, descramble_data);
  if (s->at_once && answer.target_status == STATUS_GOOD) s->cursor += static_cast<int32_t>(count);
  return answer;
}

// Ends a track at once, or the disc at once whose last block came: the
// drive then writes the lead-out.
EmulatedAnswer synchronize_cache(const State& s, EmulatedDevice& device, const EmulatedCommand&) {
  const EmulatedAnswer answer = s->drive->synchronize(device);
  if (s->at_once && answer.target_status == STATUS_GOOD) {
    s->at_once = false;
    s->drive->reading().block_length = s->saved_block_length;
    s->leadout_left = s->leadout_polls;
  }
  return answer;
}

EmulatedAnswer fixation(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const uint8_t close_mode = c.cdb[8] & 0x07;
  if (close_mode == 2 || close_mode > 4 || (c.cdb[8] & 0xF0))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  return s->drive->fixate(device, (c.cdb[8] & 0x08) != 0, s->test());
}

uint32_t take_count(EmulatedDevice& device, const char* key, uint32_t min) {
  const std::optional<std::string> item = device.take_item(key);
  if (!item) return 0;
  uint64_t value = 0;
  if (!parse_decimal(*item, 1000000, &value) || value < min)
    throw EmulatedBusError(std::string("bad item \"") + key + "=" + *item + "\" (a count, " +
                           std::to_string(min) + " to 1000000)");
  return static_cast<uint32_t>(value);
}

}  // namespace

bool yamaha_recorder_serves(const EmulatedDevice& device) {
  const uint8_t code = recorder_model_code(device);
  return device.takes_media() && !medium_is_cue_sheet(device) && (code == 19 || code == 20);
}

void install_yamaha_recorder(EmulatedDevice& device) {
  auto state = std::make_shared<Yamaha>();
  state->busy_every = take_count(device, "writebusy", 2);
  state->leadout_polls = take_count(device, "leadout", 0);
  state->drive = install_recorder_drive(device);
  state->drive->user_data_at_once = true;
  CdromDriveState& reading = state->drive->reading();
  reading.pages[SPEED_PAGE] = {SPEED_PAGE, 0x02, 0x00, 0x00};
  reading.pages[WRITE_MODE_PAGE] = {WRITE_MODE_PAGE, 0x06, 0, 0, 0, 0, 0, 0};
  reading.check_page = check_page;
  device.set_handler(OP_WRITE_10, bind_handler<write_10>(state));
  device.set_handler(OP_SYNCHRONIZE_CACHE, bind_handler<synchronize_cache>(state));
  device.set_handler(OP_WRITE_TRACK, bind_handler<write_track>(state));
  device.set_handler(OP_FIXATION, bind_handler<fixation>(state));
  device.set_handler(OP_WRITE_TOC, bind_handler<write_toc>(state));
  // While the drive writes the lead-out it answers ABORTED COMMAND.
  EmulatedHandler ready = device.handler(EMU_OP_TEST_UNIT_READY);
  device.set_handler(EMU_OP_TEST_UNIT_READY,
                     [state, ready](EmulatedDevice& d, const EmulatedCommand& c) {
                       if (state->leadout_left == 0) return ready(d, c);
                       --state->leadout_left;
                       return refuse(SENSE_COMMAND_ABORTED);
                     });
}

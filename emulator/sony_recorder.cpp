#include "emulator/sony_recorder.h"

#include <optional>

#include "common/byteorder.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "emulator/cdrom_drive.h"
#include "emulator/recorder_drive.h"

namespace {

constexpr uint8_t OP_WRITE_START = 0xE0;
constexpr uint8_t OP_WRITE = 0xE1;
constexpr uint8_t OP_STOP_READ = 0xE2;
constexpr uint8_t OP_START_READ = 0xE3;
constexpr uint8_t OP_READ = 0xE4;
constexpr uint8_t OP_TRAY = 0xE6;
constexpr uint8_t OP_CLOSE_TRACK = 0xF0;
constexpr uint8_t OP_FIXATION = 0xF1;
constexpr uint8_t OP_OPEN_TRACK = 0xF5;

constexpr uint8_t WRITING_PAGE = 0x20;
constexpr uint8_t CLASS15_READING_PAGE = 0x21;
constexpr uint8_t DISC_PAGE = 0x22;
constexpr uint8_t TRACK_PAGE = 0x23;
constexpr uint8_t READING_PAGE = 0x31;

// The drives' reports of a finished recording and a finished fixation.
constexpr SenseCondition SENSE_RECORDING_DONE{SENSE_KEY_UNIT_ATTENTION, 0x80, 0x00};
constexpr SenseCondition SENSE_FIXATION_DONE{SENSE_KEY_UNIT_ATTENTION, 0xD4, 0x00};

constexpr uint32_t CUE_ENTRY = 8;

struct Sony {
  bool class15 = false;
  bool codes = false;  // catalog and ISRC entries are obeyed
  std::shared_ptr<RecorderDrive> drive;
  EmulatedHandler read_audio;  // READ CD-DA and READ(10) of the reading commands,
  EmulatedHandler read_data;   // for class 15's own reads
  // Disc at once: bytes a block of each planned track, from the first planned number.
  bool at_once = false;
  uint8_t first_number = 0;
  std::vector<uint32_t> block_sizes;
  // Class 15: where the read stands.
  bool read_started = false;
  bool read_data_mode = false;
  int32_t read_next = 0;

  const std::vector<uint8_t>& page(uint8_t code) { return drive->reading().pages.at(code); }
  bool test() { return (page(WRITING_PAGE)[3] & 0x02) != 0; }
};
using State = std::shared_ptr<Sony>;

uint8_t sony_model_code(const EmulatedDevice& device) {
  const uint8_t code = recorder_model_code(device);
  return code >= 15 && code <= 17 ? code : 0;
}

bool valid_bcd(uint8_t byte, unsigned limit) {
  return (byte >> 4) <= 9 && (byte & 0x0F) <= 9 && bcd_to_bin(byte) <= limit;
}

// Bytes a block of a track's data form, and whether the form is audio; 0
// for a form the drive does not have.
uint32_t form_block_size(uint8_t form) {
  switch (form) {
    case 0x01:
    case 0x14: return RAW_SECTOR_SIZE;
    case 0xC1: return 2448;
    case 0x11: return DATA_BLOCK_SIZE;
    case 0x24: return MODE2_BODY_SIZE;
    default: return 0;
  }
}
bool audio_form(uint8_t form) { return form == 0x01 || form == 0xC1; }
bool lead_form(uint8_t form) { return form == 0x00 || form == 0x10 || form == 0x20; }

// An ISRC of two entries: characters 1 to 5 as they stand, then seven
// digits as packed nibbles.
bool decode_isrc(const uint8_t* first, const uint8_t* second, DiscTrack* track) {
  for (std::size_t i = 0; i < 5; ++i) {
    const char c = static_cast<char>(first[3 + i]);
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) return false;
    track->isrc[i] = c;
  }
  for (std::size_t i = 0; i < 7; ++i) {
    const uint8_t value = (i % 2) ? second[4 + i / 2] & 0x0F : second[4 + i / 2] >> 4;
    if (value > 9) return false;
    track->isrc[5 + i] = static_cast<char>('0' + value);
  }
  if ((second[7] & 0x0F) || second[2] || second[3] || first[2]) return false;
  track->has_isrc = true;
  return true;
}

// The drive cue sheet: the lead-in entry, the cuepoints in time order with
// the lead-out last among them, catalog and ISRC entries anywhere after the
// lead-in.
std::optional<SenseCondition> decode_cue_sheet(const uint8_t* sheet, uint32_t entries, bool codes,
                                               SessionPlan* plan, std::vector<uint32_t>* sizes) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  const uint8_t* lead_in = sheet;
  if ((lead_in[0] & 0x0F) != 1 || lead_in[1] != 0 || lead_in[2] != 0 || !lead_form(lead_in[3]))
    return bad;
  std::vector<std::pair<uint8_t, const uint8_t*>> isrc_entries;  // track number, first entry
  int32_t previous = -1 - PREGAP_BLOCKS;
  bool leadout = false;
  uint8_t form = 0;
  for (uint32_t i = 1; i < entries; ++i) {
    const uint8_t* e = sheet + i * CUE_ENTRY;
    if (e[0] == 0x02) {
      std::array<char, 13> digits{};
      if (!decode_catalog_digits(e + 1, &digits)) return bad;
      if (codes) {
        plan->has_catalog = true;
        plan->catalog = digits;
      }
      continue;
    }
    if (e[0] == 0x03) {
      if (i + 1 >= entries || sheet[(i + 1) * CUE_ENTRY] != 0x03 ||
          sheet[(i + 1) * CUE_ENTRY + 1] != e[1])
        return bad;
      isrc_entries.emplace_back(bcd_to_bin(e[1]), e);
      ++i;
      continue;
    }
    if ((e[0] & 0x0F) != 1 || leadout || e[4] != 0 || !valid_bcd(e[5], 99) ||
        !valid_bcd(e[6], 59) || !valid_bcd(e[7], 74))
      return bad;
    const int32_t lba = msf_to_lba(bcd_to_bin(e[5]), bcd_to_bin(e[6]), bcd_to_bin(e[7]));
    if (lba <= previous) return bad;
    previous = lba;
    const uint8_t control = e[0] >> 4;
    if (e[1] == LEADOUT_TRACK) {
      if (plan->tracks.empty() || e[2] != 1 || !lead_form(e[3])) return bad;
      plan->tracks.back().end_lba = lba;
      leadout = true;
      continue;
    }
    if (!valid_bcd(e[1], 99) || e[1] == 0 || !valid_bcd(e[2], 99)) return bad;
    const uint8_t number = bcd_to_bin(e[1]);
    const uint8_t index = bcd_to_bin(e[2]);
    if (plan->tracks.empty() || number != plan->tracks.back().number) {
      if (!plan->tracks.empty() && number != plan->tracks.back().number + 1) return bad;
      form = e[3];
      const uint32_t size = form_block_size(form);
      if (size == 0 || audio_form(form) == ((control & 0x04) != 0) || index > 1) return bad;
      if (!plan->tracks.empty()) plan->tracks.back().end_lba = lba;
      DiscTrack track;
      track.number = number;
      track.control = control;
      track.type = audio_form(form) ? TrackType::Audio
                   : form == 0x24   ? TrackType::Mode2
                                    : TrackType::Mode1;
      plan->tracks.push_back(track);
      sizes->push_back(size);
    } else if (e[3] != form || control != plan->tracks.back().control ||
               index <= plan->tracks.back().indexes.back().first) {
      return bad;
    }
    plan->tracks.back().indexes.emplace_back(index, lba);
  }
  if (!leadout) return bad;
  for (const DiscTrack& track : plan->tracks) {
    bool index1 = false;
    for (const auto& [number, lba] : track.indexes) index1 = index1 || number == 1;
    if (!index1) return bad;
  }
  if (!codes) return std::nullopt;
  for (const auto& [number, first] : isrc_entries) {
    const int at = number - plan->tracks.front().number;
    if (at < 0 || at >= static_cast<int>(plan->tracks.size()) ||
        !decode_isrc(first, first + CUE_ENTRY, &plan->tracks[static_cast<std::size_t>(at)]))
      return bad;
  }
  return std::nullopt;
}

EmulatedAnswer write_start(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (auto refused = s->drive->refuse_recording(device)) return *refused;
  const uint32_t length = get_be16(c.cdb + 2);
  if (((c.cdb[1] & 0x10) != 0) != s->class15 || length % CUE_ENTRY != 0 || length < 3 * CUE_ENTRY ||
      c.direction != SRB_DIR_OUT || c.buffer == nullptr || c.buffer_length < length)
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (!s->class15 && s->page(DISC_PAGE)[2] != 0) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  SessionPlan plan;
  std::vector<uint32_t> sizes;
  if (auto bad = decode_cue_sheet(c.buffer, length / CUE_ENTRY, s->codes, &plan, &sizes))
    return refuse(*bad);
  plan.program_start = plan.tracks.front().indexes.front().second;
  const std::size_t planned = plan.tracks.size();
  const EmulatedAnswer answer = s->drive->begin_session(device, std::move(plan), s->test());
  if (answer.target_status != STATUS_GOOD) return answer;
  const std::vector<DiscTrack>& tracks = s->drive->disc()->recording().tracks;
  s->first_number = tracks[tracks.size() - planned].number;
  s->block_sizes = std::move(sizes);
  s->at_once = true;
  return answer;
}

EmulatedAnswer write_bytes(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const uint32_t bytes = get_be24(c.cdb + 1);
  const DiscTrack* track = s->drive->next_track();
  uint32_t size = RAW_SECTOR_SIZE;
  if (track != nullptr && s->at_once)
    size = s->block_sizes.at(static_cast<std::size_t>(track->number - s->first_number));
  else if (track != nullptr)
    size = track->is_data() ? s->drive->reading().block_length : track->block_size;
  if (bytes % size != 0) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  EmulatedAnswer answer = s->drive->write(device, c, bytes / size, descramble_data, size);
  if (answer.target_status != STATUS_GOOD || !s->drive->session_complete()) return answer;
  // The drive writes the lead-out and closes the disc by itself.
  s->at_once = false;
  answer = s->drive->synchronize(device);
  return answer.target_status == STATUS_GOOD ? refuse(SENSE_RECORDING_DONE) : answer;
}

EmulatedAnswer open_track(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const std::vector<uint8_t>& page = s->page(TRACK_PAGE);
  const uint8_t mode = page[4] & 0x3F;
  DiscTrack track;
  track.control = static_cast<uint8_t>((page[4] & 0x80) ? 0x02 : 0);
  if (mode == 0x10 || mode == 0x12) {
    track.control |= 0x04;
    track.type = mode == 0x10 ? TrackType::Mode1 : TrackType::Mode2;
  } else {
    track.control |= mode == 0x02 ? 0x01 : 0;
  }
  track.block_size = !track.is_data() && s->drive->reading().block_length == 2448 ? 2448 : 2352;
  // The drive numbers its tracks itself; the host's number (0 for the next
  // one) is only checked.
  if (c.cdb[5] > 99) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  s->at_once = false;
  return s->drive->open_track(device, track, s->test());
}

EmulatedAnswer close_track(const State& s, EmulatedDevice& device, const EmulatedCommand&) {
  return s->drive->synchronize(device);
}

EmulatedAnswer fixation(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (c.cdb[8] > 1) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  const EmulatedAnswer answer = s->drive->fixate(device, c.cdb[8] == 1, s->test());
  return answer.target_status == STATUS_GOOD ? refuse(SENSE_FIXATION_DONE) : answer;
}

// Checks the pages as MODE SELECT would set them.
std::optional<SenseCondition> check_page(bool class15, const std::vector<uint8_t>& page) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  if (page[0] == WRITING_PAGE) {
    if ((page[3] & (class15 ? 0xF8 : 0xFD)) || page[5] != 3) return bad;
  } else if (page[0] == TRACK_PAGE) {
    const uint8_t mode = page[4] & 0x7F;
    if ((mode != 0 && mode != 0x02 && mode != 0x10 && mode != 0x12) || page[5] != 0) return bad;
  } else if (page[0] == READING_PAGE) {
    if (page[2] != 0 && page[2] != 1 && page[2] != 0xFF) return bad;
  } else if (page[0] == CLASS15_READING_PAGE) {
    if (page[3] & 0xFE) return bad;
  }
  return std::nullopt;
}

// Class 15's reads: START READ sets where READ goes on from.
EmulatedAnswer start_read(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const uint8_t kind = c.cdb[3];
  if (c.cdb[2] != 0 || (kind != 1 && kind != 2) || c.cdb[7] != kind - 1 || c.cdb[5] > 59 ||
      c.cdb[6] > 74)
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (device.medium() == nullptr) return refuse(SENSE_MEDIUM_NOT_PRESENT);
  s->read_started = true;
  s->read_data_mode = kind == 2;
  s->read_next = msf_to_lba(c.cdb[4], c.cdb[5], c.cdb[6]);
  return EmulatedAnswer::good();
}

EmulatedAnswer read_on(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (!s->read_started || s->read_next < 0) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  const uint32_t bytes = get_be24(c.cdb + 1);
  const uint32_t size = s->read_data_mode ? s->drive->reading().block_length : RAW_SECTOR_SIZE;
  if (bytes % size != 0) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  const uint32_t count = bytes / size;
  const auto lba = static_cast<uint32_t>(s->read_next);
  // The same read as READ(10) or READ CD-DA at the address where it stands.
  uint8_t cdb[12] = {};
  if (s->read_data_mode) {
    cdb[0] = EMU_OP_READ_10;
    put_be32(cdb + 2, lba);
    if (count > 0xFFFF) return refuse(SENSE_INVALID_FIELD_IN_CDB);
    put_be16(cdb + 7, count);
  } else {
    cdb[0] = EMU_OP_READ_CDDA;
    put_be32(cdb + 2, lba);
    put_be32(cdb + 6, count);
  }
  EmulatedCommand read = c;
  read.cdb = cdb;
  read.cdb_length = s->read_data_mode ? 10 : 12;
  const EmulatedAnswer answer = (s->read_data_mode ? s->read_data : s->read_audio)(device, read);
  if (answer.target_status == STATUS_GOOD)
    s->read_next += static_cast<int32_t>(count);
  else
    s->read_started = false;
  return answer;
}

EmulatedAnswer stop_read(const State& s, EmulatedDevice&, const EmulatedCommand&) {
  s->read_started = false;
  return EmulatedAnswer::good();
}

EmulatedAnswer tray(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (c.cdb[3] != 4 && c.cdb[3] != 5) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  s->read_started = false;
  move_tray(s->drive->reading(), device, c.cdb[3] == 5);
  return EmulatedAnswer::good();
}

}  // namespace

bool sony_recorder_serves(const EmulatedDevice& device) {
  return device.takes_media() && !medium_is_cue_sheet(device) && sony_model_code(device) != 0;
}

void install_sony_recorder(EmulatedDevice& device) {
  const uint8_t code = sony_model_code(device);
  auto state = std::make_shared<Sony>();
  state->class15 = code == 15;
  state->codes = code != 16;
  state->drive = install_recorder_drive(device);
  state->drive->user_data_at_once = true;
  CdromDriveState& reading = state->drive->reading();
  reading.pages[WRITING_PAGE] = {WRITING_PAGE, 0x06, 0, 0, 0, 3, 0, 0};
  std::vector<uint8_t> disc_page(32, 0);
  disc_page[0] = DISC_PAGE;
  disc_page[1] = 30;
  disc_page[2] = 1;  // cleared by the host before a disc at once
  reading.pages[DISC_PAGE] = disc_page;
  const bool class15 = state->class15;
  reading.check_page = [class15](const std::vector<uint8_t>& page) {
    return check_page(class15, page);
  };
  device.set_handler(OP_WRITE_START, bind_handler<write_start>(state));
  device.set_handler(OP_WRITE, bind_handler<write_bytes>(state));
  if (class15) {
    reading.pages[CLASS15_READING_PAGE] = {CLASS15_READING_PAGE, 0x06, 0, 0, 0, 0, 0, 0};
    reading.scrambled_raw_data = true;
    state->read_audio = device.handler(EMU_OP_READ_CDDA);
    state->read_data = device.handler(EMU_OP_READ_10);
    device.set_handler(EMU_OP_READ_CDDA, {});
    device.set_handler(OP_START_READ, bind_handler<start_read>(state));
    device.set_handler(OP_READ, bind_handler<read_on>(state));
    device.set_handler(OP_STOP_READ, bind_handler<stop_read>(state));
    device.set_handler(OP_TRAY, bind_handler<tray>(state));
    return;
  }
  std::vector<uint8_t> track_page(36, 0);
  track_page[0] = TRACK_PAGE;
  track_page[1] = 34;
  reading.pages[TRACK_PAGE] = track_page;
  reading.pages[READING_PAGE] = {READING_PAGE, 0x02, 0x00, 0x00};
  device.set_handler(OP_OPEN_TRACK, bind_handler<open_track>(state));
  device.set_handler(OP_CLOSE_TRACK, bind_handler<close_track>(state));
  device.set_handler(OP_FIXATION, bind_handler<fixation>(state));
}

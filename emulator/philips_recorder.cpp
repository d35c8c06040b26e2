#include "emulator/philips_recorder.h"

#include <algorithm>
#include <optional>

#include "common/byteorder.h"
#include "common/sector.h"
#include "emulator/cdrom_drive.h"
#include "emulator/recorder_drive.h"

namespace {

constexpr uint8_t OP_WRITE_10 = 0x2A;
constexpr uint8_t OP_SYNCHRONIZE_CACHE = 0x35;
constexpr uint8_t OP_OPEN_TRACK = 0xE6;
constexpr uint8_t OP_LOAD_UNLOAD = 0xE7;
constexpr uint8_t OP_FIXATION = 0xE9;
constexpr uint8_t OP_WRITE_SESSION = 0xED;
constexpr uint8_t OP_READ_SESSION = 0xEE;
constexpr uint8_t OP_FORMAT_DISC = 0xEF;
constexpr uint8_t OP_WRITE_DISC = 0xF0;

constexpr uint8_t CATALOG_PAGE = 0x22;
constexpr uint8_t SPEED_PAGE = 0x23;
constexpr uint8_t SPEED_PAGE_31 = 0x31;

constexpr uint32_t DISC_TABLE_ENTRY = 32;

// What sets a class apart from the others of the family.
struct PhilipsClass {
  uint8_t model_code;
  bool session_tables;   // READ SESSION, WRITE SESSION, catalog page
  bool disc_table;       // FORMAT DISC, WRITE DISC
  bool vendor_eject;     // LOAD/UNLOAD
  bool read_cdda;        // READ CD-DA
  bool swapped_cdda;     // ... with the bytes of each sample swapped
  bool speed_page_31;    // speed and test flag in page 31h
  bool scrambled_reads;  // READ(10) of 2352 bytes gives data sectors scrambled
  bool audio_by_read10;  // READ(10) of 2352 bytes reads audio, swapped
  uint8_t max_speed;     // highest speed value of the speed page
};

// clang-format off
constexpr PhilipsClass PHILIPS_CLASSES[] = {
  // code tables  disc   eject  cdda   swapped p31    scrambl read10 speed
  {2,     false, true,  true,  false, false,  false, true,   true,  6},
  {6,     false, false, true,  false, false,  false, true,   true,  2},
  {7,     true,  false, true,  false, false,  false, true,   true,  2},
  {8,     true,  false, true,  false, false,  false, false,  true,  4},
  {9,     true,  false, true,  false, false,  false, false,  true,  6},
  {12,    false, false, false, true,  false,  false, false,  false, 4},
  {14,    true,  false, false, true,  true,   true,  false,  false, 4},
};
// clang-format on

const PhilipsClass* philips_class(const EmulatedDevice& device) {
  const uint8_t code = recorder_model_code(device);
  for (const PhilipsClass& row : PHILIPS_CLASSES)
    if (row.model_code == code) return &row;
  return nullptr;
}

struct Philips {
  const PhilipsClass& model;
  std::shared_ptr<RecorderDrive> drive;
  std::optional<SessionPlan> disc_table;  // FORMAT DISC, waiting for WRITE DISC

  const std::vector<uint8_t>& page(uint8_t code) { return drive->reading().pages.at(code); }
  bool test() {
    return model.speed_page_31 ? (page(SPEED_PAGE_31)[3] & 0x01) != 0 : page(SPEED_PAGE)[3] != 0;
  }
};
using State = std::shared_ptr<Philips>;

// Five characters less 30h, then seven digits as packed nibbles.
bool decode_isrc(const uint8_t* codes, DiscTrack* track) {
  for (std::size_t i = 0; i < 5; ++i) {
    const char c = static_cast<char>(codes[i] + 0x30);
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))) return false;
    track->isrc[i] = c;
  }
  for (std::size_t i = 0; i < 8; ++i) {
    const uint8_t value = (i % 2) ? codes[5 + i / 2] & 0x0F : codes[5 + i / 2] >> 4;
    if (i == 7) break;
    if (value > 9) return false;
    track->isrc[5 + i] = static_cast<char>('0' + value);
  }
  if (codes[8] & 0x0F) return false;
  track->has_isrc = true;
  return true;
}

// Checks the vendor pages as MODE SELECT would set them.
std::optional<SenseCondition> check_page(const PhilipsClass& model,
                                         const std::vector<uint8_t>& page) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  auto speed_ok = [&](unsigned speed) {
    return (speed == 1 || speed == 2 || speed == 4 || speed == 6) && speed <= model.max_speed;
  };
  if (page[0] == CATALOG_PAGE) {
    std::array<char, 13> digits{};
    if (page[2] > 1 || (page[2] == 1 && !decode_catalog_digits(&page[3], &digits))) return bad;
  } else if (page[0] == SPEED_PAGE) {
    if (!speed_ok(page[2]) || page[3] > 1) return bad;
  } else if (page[0] == SPEED_PAGE_31) {
    if (page[2] != 0 || !speed_ok(page[3] >> 4) || (page[3] & 0x0E)) return bad;
  }
  return std::nullopt;
}

// Table type code of a first track: 0 audio, 2 mode 1, 3 mode 2, 4 CD-i.
bool valid_type_code(uint8_t code) { return code == 0 || (code >= 2 && code <= 4); }

// The descriptors of WRITE SESSION: per track its control nibble, ISRC and
// positions (index 1, further indexes, then where the next track begins).
std::optional<SenseCondition> decode_session_table(const uint8_t* table, uint32_t length,
                                                   std::vector<DiscTrack>* tracks) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  int32_t previous_end = -PREGAP_BLOCKS;
  for (uint32_t at = 0; at < length;) {
    if (at + 12 > length) return bad;
    const uint32_t size = get_be16(table + at);
    if (size < 20 || (size - 12) % 4 != 0 || at + size > length) return bad;
    const uint8_t* d = table + at;
    DiscTrack track;
    track.control = d[2] & 0x0F;
    track.type = track.is_data() ? TrackType::Mode1 : TrackType::Audio;
    if ((d[2] & 0x80) && !decode_isrc(d + 3, &track)) return bad;
    const uint32_t count = (size - 12) / 4;
    std::vector<int32_t> positions;
    for (uint32_t i = 0; i < count; ++i)
      positions.push_back(static_cast<int32_t>(get_be32(d + 12 + 4 * i)));
    if (positions[0] < (tracks->empty() ? 0 : previous_end)) return bad;
    if (positions[0] > previous_end) track.indexes.emplace_back(0, previous_end);
    for (uint32_t i = 0; i + 1 < count; ++i) {
      if (i > 0 && positions[i] <= positions[i - 1]) return bad;
      track.indexes.emplace_back(static_cast<uint8_t>(i + 1), positions[i]);
    }
    if (positions[count - 1] <= positions[count - 2]) return bad;
    track.end_lba = previous_end = positions[count - 1];
    tracks->push_back(track);
    at += size;
  }
  return tracks->empty() ? std::optional<SenseCondition>(bad) : std::nullopt;
}

// FORMAT DISC's table of 32-byte entries: the disc, each track, the lead-out.
std::optional<SenseCondition> decode_disc_table(const uint8_t* table, uint32_t entries,
                                                SessionPlan* plan) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  const uint8_t* header = table;
  const uint8_t* leadout = table + (entries - 1) * DISC_TABLE_ENTRY;
  if (header[0] != 0 || !valid_type_code(header[1] & 0x07) || (header[1] & 0x70) ||
      leadout[0] != LEADOUT_TRACK || leadout[3] != 0x1A || leadout[4] != 0x5E)
    return bad;
  plan->leave_open = (header[1] & 0x08) != 0;
  plan->has_catalog = (header[1] & 0x80) != 0;
  if (plan->has_catalog && !decode_catalog_digits(header + 4, &plan->catalog)) return bad;
  int32_t index0 = -PREGAP_BLOCKS;
  uint32_t expected_pregap = PREGAP_BLOCKS;  // the drive makes the first one
  for (uint32_t i = 1; i + 1 < entries; ++i) {
    const uint8_t* e = table + i * DISC_TABLE_ENTRY;
    const uint8_t mode = e[1] & 0x03;
    const bool audio = (e[1] & 0x04) != 0;
    const uint32_t length = get_be32(e + 5);
    const uint32_t pregap = i == 1 ? expected_pregap : get_be16(e + 9);
    if (e[0] != table[DISC_TABLE_ENTRY] + i - 1 || e[0] == 0 || e[0] > MAX_TRACKS ||
        (e[1] & 0xF8) || (!audio && mode != 1 && mode != 2) || !(e[2] & 0x02) || (e[2] & 0xF8) ||
        length == 0 || pregap != expected_pregap)
      return bad;
    DiscTrack track;
    track.control = static_cast<uint8_t>(audio ? ((mode & 2) ? 0x08 : 0) | (mode & 1) : 0x04);
    if (!(e[2] & 0x01)) track.control |= 0x02;
    track.type = audio ? TrackType::Audio : mode == 1 ? TrackType::Mode1 : TrackType::Mode2;
    if ((e[2] & 0x04) && !decode_isrc(e + 13, &track)) return bad;
    const int32_t index1 = index0 + static_cast<int32_t>(pregap);
    if (pregap > 0) track.indexes.emplace_back(0, index0);
    track.indexes.emplace_back(1, index1);
    track.end_lba = index1 + static_cast<int32_t>(length);
    if (i == 1 && audio != ((header[1] & 0x07) == 0)) return bad;
    // 150 less the next track's pregap, none after the last.
    expected_pregap = (PREGAP_BLOCKS - get_be16(e + 11)) & 0xFFFF;
    if (i + 2 == entries && expected_pregap != 0) return bad;
    index0 = track.end_lba;
    plan->tracks.push_back(track);
  }
  return std::nullopt;
}

EmulatedAnswer read_session(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (device.medium() == nullptr) return refuse(SENSE_MEDIUM_NOT_PRESENT);
  uint8_t data[4];
  put_be16(data, LEADIN_BLOCKS);
  put_be16(data + 2, s->drive->first_session() ? FIRST_LEADOUT_BLOCKS : LATER_LEADOUT_BLOCKS);
  c.send_data(data, sizeof data, c.cdb[8]);
  return EmulatedAnswer::good();
}

// The parameter list of a table command: `length` bytes that the host sent.
bool table_sent(const EmulatedCommand& c, uint32_t length) {
  return length > 0 && c.direction == SRB_DIR_OUT && c.buffer != nullptr &&
         c.buffer_length >= length;
}

EmulatedAnswer write_session(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (auto refused = s->drive->refuse_recording(device)) return *refused;
  const uint8_t type = c.cdb[6] & 0x07;
  const uint32_t length = get_be16(c.cdb + 7);
  if (!valid_type_code(type) || ((c.cdb[6] >> 4) & 0x03) == 3 || (c.cdb[6] & 0xC0) ||
      !table_sent(c, length))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  SessionPlan plan;
  if (auto bad = decode_session_table(c.buffer, length, &plan.tracks)) return refuse(*bad);
  if (plan.tracks.front().is_data() == (type == 0))
    return refuse(SENSE_INVALID_FIELD_IN_PARAMETERS);
  const std::vector<uint8_t>& catalog = s->page(CATALOG_PAGE);
  plan.has_catalog = catalog[2] == 1 && decode_catalog_digits(&catalog[3], &plan.catalog);
  plan.leadin_blocks = LEADIN_BLOCKS;
  plan.program_start = -PREGAP_BLOCKS;
  plan.leadout_blocks = s->drive->first_session() ? FIRST_LEADOUT_BLOCKS : LATER_LEADOUT_BLOCKS;
  plan.leave_open = (c.cdb[6] & 0x08) != 0;
  return s->drive->begin_session(device, std::move(plan), s->test());
}

EmulatedAnswer format_disc(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (auto refused = s->drive->refuse_recording(device)) return *refused;
  const uint32_t length = get_be16(c.cdb + 7);
  if (length % DISC_TABLE_ENTRY != 0 || length < 3 * DISC_TABLE_ENTRY || !table_sent(c, length))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  SessionPlan plan;
  plan.program_start = 0;  // the drive writes the lead-in, the first pregap and the lead-out
  if (auto bad = decode_disc_table(c.buffer, length / DISC_TABLE_ENTRY, &plan)) return refuse(*bad);
  s->disc_table = std::move(plan);
  return EmulatedAnswer::good();
}

EmulatedAnswer write_disc(const State& s, EmulatedDevice& device, const EmulatedCommand&) {
  if (!s->disc_table) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  SessionPlan plan = std::move(*s->disc_table);
  s->disc_table.reset();
  return s->drive->begin_session(device, std::move(plan), s->test());
}

EmulatedAnswer open_track(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const uint8_t mode = c.cdb[6] & 0x03;
  const bool audio = (c.cdb[6] & 0x04) != 0;
  if ((c.cdb[6] & 0xF8) || (audio ? mode > 1 : (mode != 1 && mode != 2)) || (c.cdb[9] & 0xC0))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  DiscTrack track;
  track.control = audio ? mode : 0x04;  // pre-emphasis
  track.type = audio ? TrackType::Audio : mode == 1 ? TrackType::Mode1 : TrackType::Mode2;
  track.block_size = audio && s->drive->reading().block_length == 2448 ? 2448 : 2352;
  return s->drive->open_track(device, track, s->test());
}

EmulatedAnswer fixation(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const uint8_t close_mode = c.cdb[8] & 0x07;
  if (close_mode == 2 || close_mode > 4 || (c.cdb[8] & 0xF0))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  return s->drive->fixate(device, (c.cdb[8] & 0x08) != 0, s->test());
}

EmulatedAnswer write_10(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  // The address is not looked at: blocks go where the recording stands.
  return s->drive->write(device, c, get_be16(c.cdb + 7),
                         [](uint8_t* to, const uint8_t* from, uint32_t size, bool data) {
                           if (size != RAW_SECTOR_SIZE) return copy_block(to, from, size, data);
                           transform_sector_copy(to, from, true, false, false);
                           if (data) transform_sector(to, false, false, true);
                         });
}

EmulatedAnswer synchronize_cache(const State& s, EmulatedDevice& device, const EmulatedCommand&) {
  return s->drive->synchronize(device);
}

EmulatedAnswer load_unload(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  move_tray(s->drive->reading(), device, (c.cdb[8] & 0x01) == 0);
  return EmulatedAnswer::good();
}

}  // namespace

bool philips_recorder_serves(const EmulatedDevice& device) {
  return device.takes_media() && !medium_is_cue_sheet(device) && philips_class(device) != nullptr;
}

void install_philips_recorder(EmulatedDevice& device) {
  const PhilipsClass& model = *philips_class(device);
  auto state = std::make_shared<Philips>(Philips{model, install_recorder_drive(device), {}});
  CdromDriveState& reading = state->drive->reading();
  reading.scrambled_raw_data = model.scrambled_reads;
  reading.audio_by_read10 = model.audio_by_read10;
  reading.swapped_cdda = model.swapped_cdda;
  if (model.speed_page_31) {
    reading.pages[SPEED_PAGE_31] = {SPEED_PAGE_31, 0x02, 0x00, 0x10};
  } else {
    reading.pages[SPEED_PAGE] = {SPEED_PAGE, 0x06, 0x01, 0x00, 0, 0, 0, 0};
  }
  if (model.session_tables)
    reading.pages[CATALOG_PAGE] = {CATALOG_PAGE, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
  reading.check_page = [&model](const std::vector<uint8_t>& page) {
    return check_page(model, page);
  };
  device.set_handler(OP_WRITE_10, bind_handler<write_10>(state));
  device.set_handler(OP_SYNCHRONIZE_CACHE, bind_handler<synchronize_cache>(state));
  device.set_handler(OP_OPEN_TRACK, bind_handler<open_track>(state));
  device.set_handler(OP_FIXATION, bind_handler<fixation>(state));
  if (model.session_tables) {
    device.set_handler(OP_READ_SESSION, bind_handler<read_session>(state));
    device.set_handler(OP_WRITE_SESSION, bind_handler<write_session>(state));
  }
  if (model.disc_table) {
    device.set_handler(OP_FORMAT_DISC, bind_handler<format_disc>(state));
    device.set_handler(OP_WRITE_DISC, bind_handler<write_disc>(state));
  }
  if (model.vendor_eject) device.set_handler(OP_LOAD_UNLOAD, bind_handler<load_unload>(state));
  if (!model.read_cdda) device.set_handler(EMU_OP_READ_CDDA, {});
}

#include "emulator/mmc_drive.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "common/byteorder.h"
#include "common/sector.h"
#include "common/timecode.h"

namespace {

constexpr uint8_t OP_GET_CONFIGURATION = 0x46;
constexpr uint8_t OP_READ_DISC_INFORMATION = 0x51;
constexpr uint8_t OP_MODE_SELECT_10 = 0x55;
constexpr uint8_t OP_SET_CD_SPEED = 0xBB;
constexpr uint8_t OP_READ_CD = 0xBE;

constexpr const char* RECORDER_PRODUCT = "MMC CD-RW DRIVE";
constexpr const char* READER_PRODUCT = "MMC CD-ROM DRIVE";

constexpr uint8_t CAPABILITIES_PAGE = 0x2A;
constexpr uint16_t READ_SPEED_KBS = 5645;  // 32x

// Profiles and features of GET CONFIGURATION.
constexpr uint16_t PROFILE_CD_ROM = 0x0008;
constexpr uint16_t PROFILE_CD_R = 0x0009;
constexpr uint16_t PROFILE_CD_RW = 0x000A;
constexpr uint16_t FEATURE_PROFILE_LIST = 0x0000;
constexpr uint16_t FEATURE_CORE = 0x0001;
constexpr uint16_t FEATURE_CD_READ = 0x001E;
constexpr uint16_t FEATURE_CD_TRACK_AT_ONCE = 0x002D;
constexpr uint16_t FEATURE_CD_MASTERING = 0x002E;

// READ CD: the expected sector types, the selection bits that the CD-ROM
// drive's READ(10) block lengths match, and the sub-channel selections.
constexpr uint8_t SECTOR_ANY = 0;
constexpr uint8_t SECTOR_CDDA = 1;
constexpr uint8_t SELECT_USER_DATA = 0x10;
constexpr uint8_t SELECT_C2 = 0x06;
constexpr uint8_t C2_POINTERS = 0x02;  // C2 error field 01b: 294 bytes of pointers a sector
constexpr uint32_t C2_POINTER_BYTES = ReadDefects::C2_BYTES;
constexpr uint16_t BUFFER_KIB = ReadDefects::CACHE_BYTES / 1024;
constexpr uint8_t SUB_NONE = 0;
constexpr uint8_t SUB_RAW_PW = 1;
constexpr uint8_t SUB_FORMATTED_Q = 2;

using State = std::shared_ptr<MmcDriveState>;

// A command as another operation code's handler takes it.
EmulatedAnswer run_as(const EmulatedHandler& handler, EmulatedDevice& device,
                      const EmulatedCommand& c, const uint8_t* cdb, uint8_t cdb_length) {
  EmulatedCommand other = c;
  other.cdb = cdb;
  other.cdb_length = cdb_length;
  return handler(device, other);
}

uint16_t current_profile(const MmcDriveState& s, const EmulatedDevice& device) {
  if (device.medium() == nullptr) return 0;
  if (s.drive == nullptr) return PROFILE_CD_ROM;
  return s.erasable ? PROFILE_CD_RW : PROFILE_CD_R;
}

void put_feature(std::vector<uint8_t>& data, uint16_t code, bool current,
                 const std::vector<uint8_t>& body) {
  const uint8_t persistent = code <= FEATURE_CORE ? 0x02 : 0x00;
  const uint8_t header[4] = {static_cast<uint8_t>(code >> 8), static_cast<uint8_t>(code),
                             static_cast<uint8_t>(persistent | (current ? 0x01 : 0x00)),
                             static_cast<uint8_t>(body.size())};
  data.insert(data.end(), header, header + 4);
  data.insert(data.end(), body.begin(), body.end());
}

EmulatedAnswer get_configuration(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const uint8_t request_type = c.cdb[1] & 0x03;
  const uint32_t start = get_be16(c.cdb + 2);
  if (request_type == 3) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  const uint16_t current = current_profile(*s, device);
  std::vector<uint16_t> profiles = {PROFILE_CD_ROM};
  if (s->recorder) profiles = {PROFILE_CD_RW, PROFILE_CD_R, PROFILE_CD_ROM};
  std::vector<uint8_t> profile_list;
  for (const uint16_t profile : profiles) {
    const uint8_t descriptor[4] = {static_cast<uint8_t>(profile >> 8),
                                   static_cast<uint8_t>(profile),
                                   static_cast<uint8_t>(profile == current ? 1 : 0), 0};
    profile_list.insert(profile_list.end(), descriptor, descriptor + 4);
  }
  struct Feature {
    uint16_t code;
    bool current;
    std::vector<uint8_t> body;
  };
  const bool disc = device.medium() != nullptr;
  std::vector<Feature> features = {
      {FEATURE_PROFILE_LIST, true, profile_list},
      {FEATURE_CORE, true, {0, 0, 0, 1}},  // SCSI
      {FEATURE_CD_READ, disc, {0, 0, 0, 0}},
  };
  if (s->recorder) {
    // Test write and CD-RW, buffer underrun protection (BUF); block types
    // raw, raw with P-W, Mode 1, Mode 2.
    const uint8_t buf = s->underrun_protection ? 0x40 : 0x00;
    features.push_back(
        {FEATURE_CD_TRACK_AT_ONCE, disc && s->drive, {uint8_t(0x06 | buf), 0, 0x03, 0x09}});
    // Session at once, test write, CD-RW, BUF, R-W subcode where it records
    // CD-TEXT; cue sheets of up to 4096 bytes.
    const uint8_t mastering = static_cast<uint8_t>(0x26 | buf | (s->records_cd_text ? 0x01 : 0x00));
    features.push_back({FEATURE_CD_MASTERING, disc && s->drive, {mastering, 0x00, 0x10, 0x00}});
  }
  std::vector<uint8_t> data(8, 0);
  put_be16(&data[6], current);
  for (const Feature& feature : features) {
    const bool wanted = request_type == 2
                            ? feature.code == start
                            : feature.code >= start && (request_type == 0 || feature.current);
    if (wanted) put_feature(data, feature.code, feature.current, feature.body);
  }
  put_be32(data.data(), static_cast<uint32_t>(data.size() - 4));
  c.send_data(data.data(), static_cast<uint32_t>(data.size()), get_be16(c.cdb + 7));
  return EmulatedAnswer::good();
}

// The READ(10) block length that gives the bytes a data selection asks for
// (after the header, after the sync, or all); 0 for any other selection.
uint32_t data_block_length(uint8_t selection) {
  switch (selection) {
    case 0x10: return DATA_BLOCK_SIZE;
    case 0x18:
    case 0x50:
    case 0x58: return MODE2_BODY_SIZE;
    case 0x38:
    case 0x70:
    case 0x78: return RAW_SECTOR_SIZE - 12;
    case 0xF0:
    case 0xF8: return RAW_SECTOR_SIZE;
    default: return 0;
  }
}

EmulatedAnswer read_cd(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  const uint8_t sector_type = (c.cdb[1] >> 2) & 0x07;
  const uint32_t lba = get_be32(c.cdb + 2);
  const uint32_t count = get_be24(c.cdb + 6);
  const uint8_t selection = c.cdb[9];
  const uint8_t sub = c.cdb[10] & 0x07;
  const uint8_t c2 = selection & SELECT_C2;
  if (sector_type > 5 || (c2 != 0 && c2 != C2_POINTERS) || sub > SUB_FORMATTED_Q)
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  bool audio = sector_type == SECTOR_CDDA;
  if (sector_type == SECTOR_ANY) {
    const EmulatedDisc* disc = device.medium_as<EmulatedDisc>();
    const DiscTrack* track = disc ? disc->track_at(static_cast<int32_t>(lba)) : nullptr;
    audio = track != nullptr && !track->is_data();
  }
  if (audio && c2 != 0) {
    // The audio and its C2 pointers; no sub-channel beside them.
    const EmulatedDisc* disc = device.medium_as<EmulatedDisc>();
    if (disc == nullptr) return refuse(SENSE_MEDIUM_NOT_PRESENT);
    if (!(selection & SELECT_USER_DATA) || sub != SUB_NONE)
      return refuse(SENSE_INVALID_FIELD_IN_CDB);
    const std::shared_ptr<CdromDriveState>& reading = s->reading;
    return read_audio_sectors(reading, *disc, c, lba, count, RAW_SECTOR_SIZE + C2_POINTER_BYTES,
                              [&reading](int32_t, uint8_t* out) {
                                const auto& pointers = reading->defects.c2();
                                std::memcpy(out + RAW_SECTOR_SIZE, pointers.data(),
                                            pointers.size());
                              });
  }
  if (c2 != 0) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (audio) {
    // READ CD-DA's subcode formats: 0 none, 1 Q, 2 P-W, 3 P-W alone.
    uint8_t format = sub == SUB_NONE ? 0 : sub == SUB_FORMATTED_Q ? 1 : 2;
    if (!(selection & SELECT_USER_DATA)) {
      if (sub != SUB_RAW_PW) return refuse(SENSE_INVALID_FIELD_IN_CDB);
      format = 3;
    }
    uint8_t cdda[12] = {EMU_OP_READ_CDDA};
    put_be32(cdda + 2, lba);
    put_be32(cdda + 6, count);
    cdda[10] = format;
    return run_as(s->read_cdda, device, c, cdda, sizeof cdda);
  }
  const uint32_t size = data_block_length(selection);
  if (size == 0 || sub != SUB_NONE || count > 0xFFFF) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  uint8_t read10[10] = {EMU_OP_READ_10};
  put_be32(read10 + 2, lba);
  put_be16(read10 + 7, count);
  const uint32_t kept = s->reading->block_length;
  s->reading->block_length = size;
  const EmulatedAnswer answer = run_as(s->read_10, device, c, read10, sizeof read10);
  s->reading->block_length = kept;
  return answer;
}

// MODE SELECT(10): the same parameters as MODE SELECT(6) behind the longer header.
EmulatedAnswer mode_select_10(const State&, EmulatedDevice& device, const EmulatedCommand& c) {
  const uint32_t length = std::min<uint32_t>(get_be16(c.cdb + 7), c.buffer ? c.buffer_length : 0);
  if (c.direction != SRB_DIR_OUT || (length > 0 && c.buffer == nullptr))
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (length == 0) return EmulatedAnswer::good();
  const uint32_t descriptors = length >= 8 ? get_be16(c.buffer + 6) : 0;
  if (length < 8 || length - 4 > 0xFF || descriptors > 0xFF)
    return refuse(SENSE_INVALID_FIELD_IN_PARAMETERS);
  std::vector<uint8_t> data = {0, c.buffer[2], c.buffer[3], static_cast<uint8_t>(descriptors)};
  data.insert(data.end(), c.buffer + 8, c.buffer + length);
  const uint8_t six[6] = {EMU_OP_MODE_SELECT, c.cdb[1], 0, 0, static_cast<uint8_t>(data.size())};
  EmulatedCommand shorter = c;
  shorter.buffer = data.data();
  shorter.buffer_length = static_cast<uint32_t>(data.size());
  return run_as(device.handler(EMU_OP_MODE_SELECT), device, shorter, six, sizeof six);
}

// An address as MSF; one before 00:00:00 (a lead-in) counts back from 100
// minutes, as MMC drives give it.
void put_msf(uint8_t* out, int32_t lba) {
  const int32_t frames = lba + static_cast<int32_t>(LBA_OFFSET_FRAMES);
  const MsfTime time = frames_to_msf(frames < 0 ? frames + 100 * 4500 : frames);
  out[1] = time.minute;
  out[2] = time.second;
  out[3] = time.frame;
}

EmulatedAnswer read_disc_information(const State& s, EmulatedDevice& device,
                                     const EmulatedCommand& c) {
  if (device.medium() == nullptr) return refuse(SENSE_MEDIUM_NOT_PRESENT);
  uint8_t data[34] = {};
  put_be16(data, sizeof data - 2);
  uint8_t status = 2, session_state = 3;  // a pressed disc: complete
  data[3] = data[4] = data[5] = data[6] = 1;
  std::fill(data + 16, data + 24, 0xFF);
  if (s->drive != nullptr && s->drive->disc() != nullptr) {
    const RecordedDisc& recorded = *s->drive->disc();
    const RecordedDiscInfo& disc = recorded.recording();
    const uint8_t next_track =
        disc.tracks.empty() ? 1 : static_cast<uint8_t>(disc.tracks.back().number + 1);
    if (disc.tracks.empty()) {
      status = session_state = 0;  // blank
    } else if (disc.closed) {
      status = 2;
      session_state = 3;
    } else {
      status = 1;  // appendable: the last session open, or a new one empty
      session_state = disc.sessions.back().closed ? 0 : 1;
    }
    data[4] = static_cast<uint8_t>(std::max<std::size_t>(disc.sessions.size(), 1) +
                                   (status == 1 && session_state == 0 ? 1 : 0));
    const bool new_session = status == 0 || session_state == 0;
    data[5] = new_session ? next_track : disc.sessions.back().first_track;
    data[6] = new_session ? next_track : disc.sessions.back().last_track;
    if (status != 2) {
      // The lead-in of the next session begins its area. Each address is
      // in MSF form, its first byte reserved.
      data[16] = data[20] = 0;
      put_msf(data + 16, recorded.next_area() - static_cast<int32_t>(LEADIN_BLOCKS));
      put_msf(data + 20, disc.capacity);
    }
  }
  data[2] = static_cast<uint8_t>((s->erasable ? 0x10 : 0) | session_state << 2 | status);
  data[7] = 0x20;  // unrestricted use
  c.send_data(data, sizeof data, get_be16(c.cdb + 7));
  return EmulatedAnswer::good();
}

// The capabilities page of the MMC drives.
std::vector<uint8_t> capabilities_page(const MmcDriveState& s, bool accurate_audio) {
  const bool recorder = s.recorder;
  std::vector<uint8_t> page(22, 0);
  page[0] = CAPABILITIES_PAGE;
  page[1] = 0x14;
  page[2] = 0x03;                 // reads CD-R and CD-RW
  page[3] = recorder ? 0x07 : 0;  // writes CD-R and CD-RW, test write
  page[4] =
      static_cast<uint8_t>(0x01 | (recorder && s.underrun_protection ? 0x80 : 0));  // play, BUF
  // CD-DA by READ CD, R-W, C2 pointers
  page[5] = static_cast<uint8_t>(0x15 | (accurate_audio ? 0x02 : 0));
  page[6] = 0x29;  // tray, eject, lock
  put_be16(&page[8], READ_SPEED_KBS);
  page[10] = 0x01;
  page[11] = 0x00;
  put_be16(&page[12], BUFFER_KIB);
  put_be16(&page[14], READ_SPEED_KBS);
  if (recorder && !s.write_speeds_kbs.empty()) put_be16(&page[18], s.write_speeds_kbs.back());
  return page;
}

}  // namespace

bool mmc_drive_serves(const EmulatedDevice& device) {
  const std::string& product = device.identity().product;
  return device.takes_media() && (product == RECORDER_PRODUCT || product == READER_PRODUCT);
}

void install_mmc_drive(EmulatedDevice& device) {
  auto state = std::make_shared<MmcDriveState>();
  state->recorder = device.identity().product == RECORDER_PRODUCT;
  if (const std::optional<std::string> erasable = device.take_item("erasable")) {
    if (*erasable != "0" && *erasable != "1")
      throw EmulatedBusError("bad item \"erasable=" + *erasable + "\" (0 or 1)");
    state->erasable = *erasable == "1";
  }
  if (const std::optional<std::string> cd_text = device.take_item("cd_text")) {
    if (*cd_text != "0" && *cd_text != "1")
      throw EmulatedBusError("bad item \"cd_text=" + *cd_text + "\" (0 or 1)");
    state->records_cd_text = *cd_text == "1";
  }
  state->read_speed_kbs = READ_SPEED_KBS;
  if (state->recorder) take_mmc_speed_items(device, state.get());
  if (state->recorder && !medium_is_cue_sheet(device)) {
    state->drive = install_recorder_drive(device);
    state->drive->user_data_at_once = true;
    state->drive->overburn_blocks = take_mmc_overburn(device);
    state->reading = std::shared_ptr<CdromDriveState>(state->drive, &state->drive->reading());
  } else {
    state->reading = install_cdrom_drive(device);
  }
  // The CD-ROM drive's reads took the jitter items; the audio stream is
  // accurate without them.
  const bool accurate = !device.take_item("jitter").has_value();
  state->reading->pages[CAPABILITIES_PAGE] = capabilities_page(*state, accurate);
  state->reading->reads_cd_text = true;
  state->read_cdda = device.handler(EMU_OP_READ_CDDA);
  state->read_10 = device.handler(EMU_OP_READ_10);
  device.set_handler(EMU_OP_READ_CDDA, {});
  device.set_handler(OP_GET_CONFIGURATION, bind_handler<get_configuration>(state));
  device.set_handler(OP_READ_CD, bind_handler<read_cd>(state));
  device.set_handler(OP_SET_CD_SPEED, [](EmulatedDevice&, const EmulatedCommand&) {
    return EmulatedAnswer::good();
  });
  device.set_handler(OP_MODE_SELECT_10, bind_handler<mode_select_10>(state));
  device.set_handler(OP_READ_DISC_INFORMATION, bind_handler<read_disc_information>(state));
  if (state->drive != nullptr) {
    install_mmc_recording(device, state);
    install_mmc_speeds(device, state);
    install_mmc_blanking(device, state);
  }
}

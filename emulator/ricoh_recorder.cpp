#include "emulator/ricoh_recorder.h"

#include <optional>

#include "common/byteorder.h"
#include "common/sector.h"
#include "emulator/cdrom_drive.h"
#include "emulator/recorder_drive.h"

namespace {

constexpr uint8_t RICOH_MODEL_CODE = 13;

constexpr uint8_t OP_SYNCHRONIZE_CACHE = 0x35;
constexpr uint8_t OP_WRITE_TRACK = 0xE6;
constexpr uint8_t OP_FIXATION = 0xE9;

constexpr uint8_t TRACK_PAGE = 0x22;
constexpr uint8_t TEST_PAGE = 0x31;

constexpr uint8_t KIND_AUDIO = 7;
constexpr uint8_t KIND_MODE1 = 1;
constexpr uint8_t KIND_MODE2 = 0;

struct Ricoh {
  std::shared_ptr<RecorderDrive> drive;

  const std::vector<uint8_t>& page(uint8_t code) { return drive->reading().pages.at(code); }
  bool test() { return (page(TEST_PAGE)[2] & 0x20) != 0; }
};
using State = std::shared_ptr<Ricoh>;

std::optional<SenseCondition> check_page(const std::vector<uint8_t>& page) {
  const SenseCondition bad = SENSE_INVALID_FIELD_IN_PARAMETERS;
  if (page[0] == TRACK_PAGE) {
    const uint8_t kind = (page[2] >> 4) & 0x07;
    if ((page[2] & 0x8F) || (kind != KIND_AUDIO && kind != KIND_MODE1 && kind != KIND_MODE2) ||
        (page[4] & 0xF9) || page[5] != 0x11 || page[7] != 0 || page[12] != 2)
      return bad;
  } else if (page[0] == TEST_PAGE) {
    if ((page[2] & 0xDF) || page[3] || page[4] || page[5]) return bad;
  }
  return std::nullopt;
}

// Opens the next track as the track page describes it.
EmulatedAnswer open_track(const State& s, EmulatedDevice& device) {
  const std::vector<uint8_t>& page = s->page(TRACK_PAGE);
  const uint8_t kind = (page[2] >> 4) & 0x07;
  DiscTrack track;
  track.control =
      static_cast<uint8_t>(((page[4] & 0x02) ? 0x01 : 0) | ((page[4] & 0x04) ? 0x02 : 0));
  if (kind != KIND_AUDIO) {
    track.control = static_cast<uint8_t>((track.control & 0x02) | 0x04);
    track.type = kind == KIND_MODE1 ? TrackType::Mode1 : TrackType::Mode2;
  }
  track.block_size = kind == KIND_AUDIO && s->drive->reading().block_length == 2448 ? 2448 : 2352;
  return s->drive->open_track(device, track, s->test());
}

EmulatedAnswer write_track(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (c.cdb[2] != 0) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (s->drive->next_track() == nullptr) {
    const EmulatedAnswer opened = open_track(s, device);
    if (opened.target_status != STATUS_GOOD) return opened;
  }
  const DiscTrack& track = *s->drive->next_track();
  const uint32_t size = track.is_data() ? s->drive->reading().block_length : track.block_size;
  return s->drive->write(device, c, get_be24(c.cdb + 6), descramble_data, size);
}

EmulatedAnswer synchronize_cache(const State& s, EmulatedDevice& device, const EmulatedCommand&) {
  return s->drive->synchronize(device);
}

EmulatedAnswer fixation(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if ((c.cdb[2] & 0xFC) || !(c.cdb[2] & 0x02) || c.cdb[3] > 2)
    return refuse(SENSE_INVALID_FIELD_IN_CDB);
  return s->drive->fixate(device, (c.cdb[2] & 0x01) != 0, s->test());
}

}  // namespace

bool ricoh_recorder_serves(const EmulatedDevice& device) {
  return device.takes_media() && !medium_is_cue_sheet(device) &&
         recorder_model_code(device) == RICOH_MODEL_CODE;
}

void install_ricoh_recorder(EmulatedDevice& device) {
  auto state = std::make_shared<Ricoh>(Ricoh{install_recorder_drive(device)});
  CdromDriveState& reading = state->drive->reading();
  std::vector<uint8_t> track_page(16, 0);
  track_page[0] = TRACK_PAGE;
  track_page[1] = 14;
  track_page[2] = KIND_MODE1 << 4;
  track_page[5] = 0x11;
  track_page[12] = 2;
  reading.pages[TRACK_PAGE] = track_page;
  reading.pages[TEST_PAGE] = {TEST_PAGE, 0x04, 0, 0, 0, 0};
  reading.check_page = check_page;
  device.set_handler(OP_WRITE_TRACK, bind_handler<write_track>(state));
  device.set_handler(OP_SYNCHRONIZE_CACHE, bind_handler<synchronize_cache>(state));
  device.set_handler(OP_FIXATION, bind_handler<fixation>(state));
}

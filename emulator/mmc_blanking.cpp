// BLANK (A1h) of the emulated MMC recorder: a CD-RW (erasable=1) is blanked,
// the whole disc (type 0) or its table of contents (type 1, minimal); both
// leave a disc that reads as blank. With the immediate bit the command ends
// at once and TEST UNIT READY answers NOT READY 04h/07h (operation in
// progress) with the progress indication of its sense data, for a few polls
// (more for a full blank), as a drive does while it blanks. A write-once
// disc refuses BLANK with ILLEGAL REQUEST 30h/05h.
#include <algorithm>

#include "emulator/mmc_drive.h"

namespace {

constexpr uint8_t OP_BLANK = 0xA1;
constexpr uint8_t BLANK_FULL = 0;
constexpr uint8_t BLANK_MINIMAL = 1;
constexpr uint8_t IMMEDIATE = 0x10;
constexpr unsigned MINIMAL_POLLS = 4;
constexpr unsigned FULL_POLLS = 10;

using State = std::shared_ptr<MmcDriveState>;

EmulatedAnswer blank(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (device.medium() == nullptr || s->drive->disc() == nullptr)
    return refuse(SENSE_MEDIUM_NOT_PRESENT);
  if (s->blank_polls_left > 0) return refuse(SENSE_OPERATION_IN_PROGRESS);
  const uint8_t type = c.cdb[1] & 0x07;
  if (type != BLANK_FULL && type != BLANK_MINIMAL) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (!s->erasable) return refuse(SENSE_CANNOT_WRITE_INCOMPATIBLE);
  RecordedDisc& disc = *s->drive->disc();
  if (disc.writing()) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  if (!disc.erase()) return refuse(SENSE_WRITE_ERROR);
  // Nothing is left to read.
  device.set_medium(std::make_unique<EmulatedMedium>(disc.path()));
  s->reading->last_session = 1;
  s->reading->last_session_track = 0;
  s->track_open = false;
  s->block_sizes.clear();
  if (c.cdb[1] & IMMEDIATE)
    s->blank_polls_left = s->blank_polls_total = type == BLANK_FULL ? FULL_POLLS : MINIMAL_POLLS;
  return EmulatedAnswer::good();
}

}  // namespace

void install_mmc_blanking(EmulatedDevice& device, const std::shared_ptr<MmcDriveState>& state) {
  device.set_handler(OP_BLANK, bind_handler<blank>(state));
  const EmulatedHandler ready = device.handler(EMU_OP_TEST_UNIT_READY);
  device.set_handler(
      EMU_OP_TEST_UNIT_READY, [state, ready](EmulatedDevice& d, const EmulatedCommand& command) {
        if (state->blank_polls_left == 0) return ready(d, command);
        const unsigned done = state->blank_polls_total - state->blank_polls_left--;
        EmulatedAnswer answer = refuse(SENSE_OPERATION_IN_PROGRESS);
        answer.progress_valid = true;
        answer.progress = static_cast<uint16_t>(65536u * done / state->blank_polls_total);
        return answer;
      });
}

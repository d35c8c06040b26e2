// BLANK (A1h) of the emulated MMC recorder: a CD-RW (erasable=1) is blanked,
// the whole disc (type 0) or its table of contents (type 1, minimal); both
// leave a disc that reads as blank, and a full blank also erases the
// recorded sectors (the stored image is zeroed before it goes). The blank
// takes emulated time as a drive's does: a minute for a minimal one, the
// whole disc at 4x for a full one. With the immediate bit the command ends
// at once and TEST UNIT READY answers NOT READY 04h/07h (operation in
// progress) with the progress indication of its sense data until that time
// has passed; without it the command itself takes the time. A write-once
// disc refuses BLANK with ILLEGAL REQUEST 30h/05h.
#include <algorithm>

#include "emulator/clock.h"
#include "emulator/mmc_drive.h"

namespace {

constexpr uint8_t OP_BLANK = 0xA1;
constexpr uint8_t BLANK_FULL = 0;
constexpr uint8_t BLANK_MINIMAL = 1;
constexpr uint8_t IMMEDIATE = 0x10;
constexpr uint64_t MINIMAL_BLANK_MS = 60'000;
// A full blank goes over every block at 4x: 300 blocks a second.
constexpr uint64_t FULL_BLANK_BLOCKS_PER_S = 300;

using State = std::shared_ptr<MmcDriveState>;

// Whether an immediate BLANK is still at work; forgets one that is done.
bool blank_running(MmcDriveState& s) {
  if (s.blank_ms != 0 && emulated_clock_ms() - s.blank_start_ms >= s.blank_ms) s.blank_ms = 0;
  return s.blank_ms != 0;
}

EmulatedAnswer blank(const State& s, EmulatedDevice& device, const EmulatedCommand& c) {
  if (device.medium() == nullptr || s->drive->disc() == nullptr)
    return refuse(SENSE_MEDIUM_NOT_PRESENT);
  if (blank_running(*s)) return refuse(SENSE_OPERATION_IN_PROGRESS);
  const uint8_t type = c.cdb[1] & 0x07;
  if (type != BLANK_FULL && type != BLANK_MINIMAL) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (!s->erasable) return refuse(SENSE_CANNOT_WRITE_INCOMPATIBLE);
  RecordedDisc& disc = *s->drive->disc();
  if (disc.writing()) return refuse(SENSE_COMMAND_SEQUENCE_ERROR);
  const uint64_t took = type == BLANK_FULL ? uint64_t(std::max(disc.stored().capacity, 1)) * 1000 /
                                                 FULL_BLANK_BLOCKS_PER_S
                                           : MINIMAL_BLANK_MS;
  if (!disc.erase(type == BLANK_FULL)) return refuse(SENSE_WRITE_ERROR);
  // Nothing is left to read.
  device.set_medium(std::make_unique<EmulatedMedium>(disc.path()));
  s->reading->last_session = 1;
  s->reading->last_session_track = 0;
  s->track_open = false;
  s->block_sizes.clear();
  if (c.cdb[1] & IMMEDIATE) {
    s->blank_start_ms = emulated_clock_ms();
    s->blank_ms = took;
  } else {
    advance_emulated_clock(static_cast<unsigned>(took));
  }
  return EmulatedAnswer::good();
}

}  // namespace

void install_mmc_blanking(EmulatedDevice& device, const std::shared_ptr<MmcDriveState>& state) {
  device.set_handler(OP_BLANK, bind_handler<blank>(state));
  const EmulatedHandler ready = device.handler(EMU_OP_TEST_UNIT_READY);
  device.set_handler(EMU_OP_TEST_UNIT_READY,
                     [state, ready](EmulatedDevice& d, const EmulatedCommand& command) {
                       if (!blank_running(*state)) return ready(d, command);
                       const uint64_t done = emulated_clock_ms() - state->blank_start_ms;
                       EmulatedAnswer answer = refuse(SENSE_OPERATION_IN_PROGRESS);
                       answer.progress_valid = true;
                       answer.progress = static_cast<uint16_t>(65536u * done / state->blank_ms);
                       return answer;
                     });
}

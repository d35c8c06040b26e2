// Blanking a CD-RW in an MMC recorder: BLANK with the immediate bit, then the
// drive's progress from the sense data of TEST UNIT READY until it is ready.
#include "common/console.h"
#include "common/msgvec.h"
#include "drivers/mmc_drive.h"

namespace {

constexpr uint8_t OP_BLANK = 0xA1;
constexpr uint8_t TYPE_FULL = 0;
constexpr uint8_t TYPE_MINIMAL = 1;
constexpr uint8_t IMMEDIATE = 0x10;
constexpr uint16_t DISC_INFORMATION_LENGTH = 34;
constexpr unsigned POLL_PAUSE_MS = 100;
// An hour of polls: a full blank of a slow drive takes well under that.
constexpr unsigned MOST_POLLS = 36000;

// NOT READY, "in progress" (format, operation, long write).
bool in_progress(const std::array<uint8_t, SENSE_LENGTH>& sense) {
  return (sense[2] & 0x0F) == 0x02 && sense[12] == 0x04 &&
         (sense[13] == 0x04 || sense[13] == 0x07 || sense[13] == 0x08);
}

}  // namespace

ResultCode MmcRecorder::BlankRaw(uint8_t type, bool immediate) {
  uint8_t cdb[12] = {OP_BLANK, static_cast<uint8_t>((immediate ? IMMEDIATE : 0) | type)};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 12, nullptr, 0);
}

ResultCode MmcRecorder::BlankDisc(bool full, const std::function<void(unsigned)>& progress) {
  uint8_t info[DISC_INFORMATION_LENGTH] = {};
  uint32_t received = 0;
  CheckNamed(ReadDiscInformationRaw(info, sizeof info, &received), "READ DISC INFORMATION", true);
  if (received < 3 || !(info[2] & 0x10))
    raise_message(MSG_TEXT, 1, 0, 0,
                  std::string("The disc in the CD-Recorder is not rewritable (a CD-R): it cannot "
                              "be blanked"));
  CheckNamed(BlankRaw(full ? TYPE_FULL : TYPE_MINIMAL, true), "BLANK", true);
  for (unsigned poll = 0; poll < MOST_POLLS; ++poll) {
    const ResultCode ready = TestUnitReadyRaw();
    if (ready == 1) {
      progress(100);
      return 1;
    }
    if (!in_progress(last_sense)) return CheckNamed(ready, "TEST UNIT READY", true);
    if (last_sense[15] & 0x80)  // the progress indication is valid
      progress(static_cast<unsigned>(((last_sense[16] << 8) | last_sense[17]) * 100u / 65536u));
    platform_sleep(POLL_PAUSE_MS);
  }
  return CheckNamed(MSG_TIMED_OUT, "BLANK", true);
}

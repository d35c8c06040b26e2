#include "drivers/track_commands.h"

#include "common/msgvec.h"

namespace {

constexpr uint8_t OP_WRITE_TRACK = 0xE6;
constexpr uint8_t OP_FIXATION = 0xE9;
constexpr uint8_t CLOSE_MODE_VALUES[] = {0, 1, 3, 4};

}  // namespace

ResultCode send_write_track(ScsiDevice& device, const TrackEntry& track, bool copy_bit) {
  uint8_t mode = 0;
  switch (track.track_type) {
    case TrackType::Audio: mode = (track.track_flags & TRACK_PRE) ? 0x05 : 0x04; break;
    case TrackType::Mode1: mode = 1; break;
    case TrackType::Mode2:
    case TrackType::Cdi: mode = 2; break;
    default: return MSG_BUGCHECK;
  }
  if (copy_bit && (track.track_flags & TRACK_DCP)) mode |= 0x08;
  uint8_t cdb[10] = {OP_WRITE_TRACK, device.LunBits()};
  cdb[5] = track.track_number;
  cdb[6] = mode;
  return device.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode send_fixation(ScsiDevice& device, uint8_t close_mode, uint8_t session) {
  if (close_mode >= sizeof CLOSE_MODE_VALUES) return MSG_BUGCHECK;
  uint8_t cdb[10] = {OP_FIXATION, device.LunBits()};
  cdb[8] = static_cast<uint8_t>(CLOSE_MODE_VALUES[close_mode] | (session ? 0x08 : 0));
  return device.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

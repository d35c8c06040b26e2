// The Ricoh family's recording slots.
#include "drivers/ricoh_recorder.h"

#include "common/byteorder.h"
#include "common/msgvec.h"

namespace {

constexpr uint8_t OP_WRITE_TRACK = 0xE6;
constexpr uint8_t OP_FIXATION = 0xE9;

constexpr uint8_t TRACK_PAGE = 0x22;
constexpr uint8_t TEST_PAGE = 0x31;

// FinalizeDisc close modes 0 to 3 as the drive numbers them.
constexpr uint8_t CLOSE_MODE_VALUES[] = {0, 0, 2, 1};

}  // namespace

RicohRecorder::RicohRecorder(uint8_t model_class) { apply_recorder_profile(*this, model_class); }

ResultCode RicohRecorder::CloseTrack() { return SynchronizeCacheRaw(); }

ResultCode RicohRecorder::FinalizeDisc(uint8_t close_mode, uint8_t session) {
  if (close_mode >= sizeof CLOSE_MODE_VALUES) return MSG_BUGCHECK;
  uint8_t cdb[10] = {OP_FIXATION, LunBits()};
  cdb[2] = static_cast<uint8_t>(0x02 | (session ? 0x01 : 0));
  cdb[3] = CLOSE_MODE_VALUES[close_mode];
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode RicohRecorder::OpenTrack(const TrackEntry& track) {
  uint8_t kind = 0;
  switch (track.track_type) {
    case TrackType::Audio: kind = 7; break;
    case TrackType::Mode1: kind = 1; break;
    case TrackType::Mode2:
    case TrackType::Cdi: kind = 0; break;
    default: return MSG_BUGCHECK;
  }
  uint8_t data[20] = {};
  uint8_t* page = data + 4;
  page[0] = TRACK_PAGE;
  page[1] = 14;
  page[2] = static_cast<uint8_t>(kind << 4);
  page[4] = static_cast<uint8_t>(((track.track_flags & TRACK_PRE) ? 0x02 : 0) |
                                 ((track.track_flags & TRACK_DCP) ? 0x04 : 0));
  page[5] = 0x11;
  page[12] = 2;
  return ModeSelectRaw(data, sizeof data, true);
}

ResultCode RicohRecorder::SetWritingBlockLength(uint8_t /*track_type*/, uint16_t /*block_size*/) {
  return 1;
}

ResultCode RicohRecorder::SetWritingSpeed(uint8_t /*speed*/, uint8_t test) {
  uint8_t data[10] = {};
  data[4] = TEST_PAGE;
  data[5] = 4;
  data[6] = test ? 0x20 : 0;
  return ModeSelectRaw(data, sizeof data, true);
}

ResultCode RicohRecorder::Write(uint8_t* buffer, uint16_t block_size, uint16_t count,
                                int32_t /*address*/) {
  uint8_t cdb[10] = {OP_WRITE_TRACK, LunBits()};
  put_be24(cdb + 6, count);
  const ResultCode result =
      Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 10, buffer, uint32_t{block_size} * count);
  if (result == MSG_ABORTED_COMMAND) return result;
  return CheckNamed(result, "WRITE TRACK", true);
}

ResultCode RicohRecorder::BeginDiscAtOnce(const DiscAtOnceJob& /*job*/) {
  return MSG_ILLEGAL_REQUEST;
}

ResultCode RicohRecorder::EndDiscAtOnce(uint8_t /*progress*/) { return MSG_ILLEGAL_REQUEST; }

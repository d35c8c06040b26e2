// The JVC family's recording slots: mode pages with their block descriptor,
// the subcode program and table of contents of disc-at-once and
// track-at-once recording, writes at the host's addresses, and the audio read
// that packs the drive's Q fields.
#include "drivers/jvc_recorder.h"

#include <algorithm>
#include <cstring>

#include "common/byteorder.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"

namespace {

constexpr uint8_t OP_WRITE_PMA = 0xE1;
constexpr uint8_t OP_FIXATION = 0xE3;
constexpr uint8_t OP_CLEAR_SUBCODE = 0xE4;
constexpr uint8_t OP_EXECUTE_OPC = 0xEC;
constexpr uint8_t OP_SET_SUBCODE = 0xC2;

constexpr uint8_t TEST_PAGE = 0x21;
constexpr uint8_t WRITE_MODE_PAGE = 0x22;
constexpr uint8_t SPEED_PAGE = 0x31;
constexpr uint8_t MODE_TRACK_AT_ONCE = 0;
constexpr uint8_t MODE_CLOSE_DISC = 2;
constexpr uint8_t MODE_LEAVE_OPEN = 4;
constexpr uint8_t MAX_SPEED_VALUE = 2;

constexpr uint16_t PAGE_BLOCK_LENGTH = 2048;
constexpr int32_t PAUSE_BLOCKS = 150;
constexpr int32_t TRACK_AT_ONCE_PREGAP = 145;
constexpr int32_t RUN_OUT_BLOCKS = 2;
constexpr int AUDIO_READ_TRIES = 3;

// Five bytes of a table of contents entry.
void append_entry(std::vector<uint8_t>* toc, uint8_t control, uint8_t point, uint8_t a, uint8_t b,
                  uint8_t c) {
  toc->insert(toc->end(), {static_cast<uint8_t>(control << 4 | 1), point, a, b, c});
}

void append_time(std::vector<uint8_t>* toc, uint8_t control, uint8_t point, int32_t lba) {
  const MsfTime msf = lba_to_msf(lba);
  append_entry(toc, control, point, bin_to_bcd(msf.minute), bin_to_bcd(msf.second),
               bin_to_bcd(msf.frame));
}

int32_t cuepoint_lba(const CuePoint& point) {
  return msf_to_lba(point.minute, point.second, point.frame);
}

}  // namespace

void JvcRecorder::SendPage(const uint8_t* page, uint8_t page_bytes) {
  uint8_t data[32] = {};
  data[3] = 8;
  put_be24(data + 9, PAGE_BLOCK_LENGTH);
  std::memcpy(data + 12, page, page_bytes);
  ModeSelect(data, static_cast<uint8_t>(12 + page_bytes), true, true);
  formatKnown = true;
  formatDensity = 0;
  formatLength = PAGE_BLOCK_LENGTH;
}

void JvcRecorder::SendWriteModePage(uint8_t mode) {
  const uint8_t page[9] = {WRITE_MODE_PAGE, 7, 0, 0, mode};
  SendPage(page, sizeof page);
}

void JvcRecorder::Command12(uint8_t opcode, uint8_t byte5, const char* name) {
  uint8_t cdb[12] = {opcode, LunBits()};
  cdb[5] = byte5;
  CheckNamed(Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 12, nullptr, 0), name, true);
}

void JvcRecorder::SendSubcode(const std::vector<uint8_t>& data) {
  uint8_t cdb[10] = {OP_SET_SUBCODE, LunBits()};
  put_be16(cdb + 7, static_cast<uint32_t>(data.size()));
  std::vector<uint8_t> buffer = data;
  CheckNamed(Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 10, buffer.data(),
                     static_cast<uint32_t>(buffer.size())),
             "SET SUBCODE", true);
}

void JvcRecorder::ProgramArea(int32_t start, int32_t length, bool pause, uint8_t control,
                              uint8_t track_bcd, uint8_t index_bcd) {
  SetLimitsRaw(static_cast<uint32_t>(start), static_cast<uint32_t>(length));
  SendSubcode({static_cast<uint8_t>(pause ? 1 : 0), static_cast<uint8_t>(control << 4 | 1),
               track_bcd, index_bcd});
}

ResultCode JvcRecorder::CloseTrack() {
  Command12(OP_CLEAR_SUBCODE, 0x80, "CLEAR SUBCODE");
  std::vector<uint8_t> toc(3, 0);
  append_entry(&toc, 4, 0x01, 0, 2, 0);
  append_entry(&toc, 4, 0xA0, 1, 0, 0);
  append_entry(&toc, 4, 0xA1, 1, 0, 0);
  append_time(&toc, 4, 0xA2, nextWriteAddress + RUN_OUT_BLOCKS);
  SendSubcode(toc);
  Command12(OP_WRITE_PMA, 0, "WRITE PMA");
  return 1;
}

ResultCode JvcRecorder::FinalizeDisc(uint8_t /*close_mode*/, uint8_t session) {
  uint8_t cdb[12] = {OP_FIXATION, LunBits()};
  cdb[5] = session ? 0x00 : 0x80;
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 12, nullptr, 0);
}

ResultCode JvcRecorder::OpenTrack(const TrackEntry& track) {
  if (static_cast<uint8_t>(track.track_type) > 3) return MSG_BUGCHECK;
  SendWriteModePage(MODE_TRACK_AT_ONCE);
  const ResultCode format =
      SetWritingBlockLength(static_cast<uint8_t>(track.track_type), track.block_size);
  if (format != 1) return format;
  Command12(OP_EXECUTE_OPC, 0, "EXECUTE OPC");
  Command12(OP_CLEAR_SUBCODE, 0x80, "CLEAR SUBCODE");
  const uint8_t control = track_control_nibble(track.track_flags);
  ProgramArea(-PAUSE_BLOCKS, PAUSE_BLOCKS, true, control, 0x01, 0x00);
  ProgramArea(0, static_cast<int32_t>(track.length) + RUN_OUT_BLOCKS, false, control, 0x01, 0x01);
  nextWriteAddress = -TRACK_AT_ONCE_PREGAP;
  endAddress = static_cast<int32_t>(track.length) - 1;
  write_gap_blocks(*this, track.track_type, TRACK_AT_ONCE_PREGAP, track.block_size, true);
  return 1;
}

ResultCode JvcRecorder::SetWritingBlockLength(uint8_t track_type, uint16_t block_size) {
  uint8_t density = 4;
  switch (static_cast<TrackType>(track_type)) {
    case TrackType::Audio: break;
    case TrackType::Mode1: density = block_size == DATA_BLOCK_SIZE ? 1 : 4; break;
    case TrackType::Mode2:
    case TrackType::Cdi: density = block_size == MODE2_BODY_SIZE ? 0x82 : 4; break;
    default: return MSG_BUGCHECK;
  }
  if (formatKnown && density == formatDensity && block_size == formatLength) return 1;
  const ResultCode result = SelectBlockDescriptorRaw(density, block_size, 0);
  formatKnown = result == 1;
  formatDensity = density;
  formatLength = block_size;
  return result;
}

ResultCode JvcRecorder::SetWritingSpeed(uint8_t speed, uint8_t test) {
  const uint8_t test_page[3] = {TEST_PAGE, 1, static_cast<uint8_t>(test ? 3 : 2)};
  SendPage(test_page, sizeof test_page);
  const uint8_t value = std::min<uint8_t>({speed, maxWriteSpeed, MAX_SPEED_VALUE});
  const uint8_t speed_page[4] = {SPEED_PAGE, 2, value, 0};
  SendPage(speed_page, sizeof speed_page);
  return 1;
}

ResultCode JvcRecorder::Write(uint8_t* buffer, uint16_t block_size, uint16_t count,
                              int32_t /*address*/) {
  const bool last = nextWriteAddress + count == endAddress + 1;
  return WriteRaw(buffer, block_size, count, static_cast<uint32_t>(nextWriteAddress), last ? 0 : 2);
}

ResultCode JvcRecorder::BeginDiscAtOnce(const DiscAtOnceJob& job) {
  const DiscLayout& layout = *job.layout;
  if (layout.track_count == 0 || layout.cuepoint_count < 2)
    CheckNamed(MSG_BUGCHECK, "SET SUBCODE", true);
  SendWriteModePage((job.flags & JOB_SESSION) ? MODE_LEAVE_OPEN : MODE_CLOSE_DISC);
  Command12(OP_EXECUTE_OPC, 0, "EXECUTE OPC");
  Command12(OP_CLEAR_SUBCODE, 0x80, "CLEAR SUBCODE");
  std::vector<uint8_t> toc(3, 0);
  unsigned next_track = 0;
  uint8_t current = 0;
  uint8_t control = 0;
  const unsigned last = layout.cuepoint_count - 1;  // the lead-out
  for (unsigned i = 0; i < last; ++i) {
    const CuePoint& point = layout.cuepoints[i];
    if (point.track != current && next_track < layout.track_count) {
      control = track_control_nibble(layout.tracks[next_track++].track_flags);
      current = point.track;
    }
    const int32_t start = cuepoint_lba(point);
    if (point.index == 1) append_time(&toc, control, point.track, start);
    const int32_t span = cuepoint_lba(layout.cuepoints[i + 1]) - start;
    // The last blocks before the lead-out are a pause area of their own.
    const int32_t pause = i + 1 == last ? std::min(span, PAUSE_BLOCKS) : 0;
    if (span - pause > 0)
      ProgramArea(start, span - pause, point.index == 0, control, point.track, point.index);
    if (pause > 0)
      ProgramArea(start + span - pause, pause, true, control, point.track, point.index);
  }
  const TrackEntry& first = layout.tracks[0];
  const TrackEntry& final_track = layout.tracks[layout.track_count - 1];
  const uint8_t first_control = track_control_nibble(first.track_flags);
  const uint8_t disc_type = first.track_type == TrackType::Mode2 ? 0x20
                            : first.track_type == TrackType::Cdi ? 0x10
                                                                 : 0;
  append_entry(&toc, first_control, 0xA0, layout.cuepoints[0].track, disc_type, 0);
  append_entry(&toc, first_control, 0xA1, bin_to_bcd(final_track.track_number), 0, 0);
  const int32_t leadout = cuepoint_lba(layout.cuepoints[last]);
  append_time(&toc, track_control_nibble(final_track.track_flags), 0xA2, leadout);
  SendSubcode(toc);
  nextWriteAddress = -PAUSE_BLOCKS;
  endAddress = leadout - 1;
  return 1;
}

ResultCode JvcRecorder::EndDiscAtOnce(uint8_t /*progress*/) { return 1; }

ResultCode JvcRecorder::ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                                  uint8_t subcode_format) {
  ResultCode result = 0;
  for (int tries = 0; tries < AUDIO_READ_TRIES && result != 1; ++tries)
    result = CdReader::ReadAudio(buffer, count, lba, subcode_format);
  if (result != 1 || subcode_format != SUBCODE_Q) return result;
  const uint32_t size = audio_sector_size(SUBCODE_Q);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* q = buffer + std::size_t{i} * size + RAW_SECTOR_SIZE;
    uint8_t drive[10];
    std::memcpy(drive, q, sizeof drive);
    std::memset(q, 0, 16);
    q[0] = static_cast<uint8_t>(drive[0] << 4 | (drive[1] & 0x0F));
    std::memcpy(q + 1, drive + 2, 5);
    std::memcpy(q + 7, drive + 7, 3);
  }
  return result;
}

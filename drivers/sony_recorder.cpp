// The Sony family's recording slots, its drive cue sheet, and the reading
// and tray commands of class 15.
#include "drivers/sony_recorder.h"

#include <algorithm>

#include "common/byteorder.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "scsi/transport.h"

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

constexpr uint8_t DISC_PAGE_LENGTH = 32;
constexpr uint8_t TRACK_PAGE_LENGTH = 36;

// Additional sense codes of the two finished operations the drives report
// as failures.
constexpr uint8_t ASC_FIXATION_DONE = 0xD4;
constexpr uint8_t ASC_WRITE_DONE = 0x80;

constexpr std::size_t CUE_ENTRY = 8;
constexpr uint8_t ADDRESS_KIND_POSITION = 1;
constexpr uint8_t ENTRY_CATALOG = 0x02;
constexpr uint8_t ENTRY_ISRC = 0x03;

// Reading speed values of codes 0 to 2 (page 0x31).
constexpr uint8_t READING_SPEED_VALUES[] = {0x00, 0x01, 0xFF};

// The drive reports a finished operation as unit attention with `asc`, or
// as sense key 0 with `asc`. Sense key 0 alone already reads as success;
// with the end-of-medium bit (the last write of a full program area) it
// reads as "end of medium" and is the same report.
bool finished(const SonyRecorder& drive, ResultCode result, uint8_t asc) {
  const bool no_sense_key = (drive.last_sense[2] & SENSE_KEY_MASK) == 0;
  return (result == MSG_UNIT_ATTENTION || (result == MSG_END_OF_MEDIUM && no_sense_key)) &&
         drive.last_sense[12] == asc;
}

bool valid_type(TrackType type) { return static_cast<uint8_t>(type) <= 3; }

// Data form of the entry that opens a track.
uint8_t track_data_form(const TrackEntry& track) {
  switch (track.track_type) {
    case TrackType::Audio: return track.block_size == 2448 ? 0xC1 : 0x01;
    case TrackType::Mode1: return track.block_size == DATA_BLOCK_SIZE ? 0x11 : 0x14;
    default: return track.block_size == MODE2_BODY_SIZE ? 0x24 : 0x14;
  }
}

// Data form of the lead-in and lead-out entries.
uint8_t lead_data_form(TrackType type) {
  switch (type) {
    case TrackType::Audio: return 0x00;
    case TrackType::Mode1: return 0x10;
    default: return 0x20;
  }
}

}  // namespace

std::vector<uint8_t> sony_cue_sheet(const DiscLayout& layout, bool codes) {
  if (layout.track_count == 0 || layout.cuepoint_count == 0) return {};
  for (unsigned t = 0; t < layout.track_count; ++t)
    if (!valid_type(layout.tracks[t].track_type)) return {};
  std::vector<uint8_t> sheet;
  auto entry = [&sheet]() {
    sheet.resize(sheet.size() + CUE_ENTRY);
    return &sheet[sheet.size() - CUE_ENTRY];
  };
  const TrackEntry& first = layout.tracks[0];
  const TrackEntry& last = layout.tracks[layout.track_count - 1];
  uint8_t* lead_in = entry();
  lead_in[0] =
      static_cast<uint8_t>(track_control_nibble(first.track_flags) << 4 | ADDRESS_KIND_POSITION);
  lead_in[3] = lead_data_form(first.track_type);
  lead_in[6] = first.track_type == TrackType::Mode2 ? 0x20
               : first.track_type == TrackType::Cdi ? 0x10
                                                    : 0;

  // A track's later cuepoints keep the data form of its first one.
  unsigned track = 0;
  uint8_t current = 0;
  uint8_t form = 0;
  for (unsigned i = 0; i < layout.cuepoint_count; ++i) {
    const CuePoint& point = layout.cuepoints[i];
    const TrackEntry* owner = &layout.tracks[track];
    if (point.track == LEADOUT_TRACK) {
      owner = &last;
      form = lead_data_form(last.track_type);
    } else if (point.track != current) {
      if (i > 0 && track + 1 < layout.track_count) owner = &layout.tracks[++track];
      form = track_data_form(*owner);
    }
    current = point.track;
    uint8_t* e = entry();
    e[0] =
        static_cast<uint8_t>(track_control_nibble(owner->track_flags) << 4 | ADDRESS_KIND_POSITION);
    e[1] = point.track;
    e[2] = point.index;
    e[3] = form;
    e[5] = bin_to_bcd(point.minute);
    e[6] = bin_to_bcd(point.second);
    e[7] = bin_to_bcd(point.frame);
  }

  if (!codes) return sheet;
  if (layout.layout_flags & LAYOUT_MCN) {
    uint8_t* e = entry();
    e[0] = ENTRY_CATALOG;
    pack_nibbles(layout.catalog_number.data(), 13, e + 1);
  }
  for (unsigned t = 0; t < layout.track_count; ++t) {
    const TrackEntry& entry_track = layout.tracks[t];
    if (!(entry_track.track_flags & TRACK_ISRC)) continue;
    uint8_t* country = entry();
    country[0] = ENTRY_ISRC;
    country[1] = bin_to_bcd(entry_track.track_number);
    std::copy(entry_track.isrc.begin(), entry_track.isrc.begin() + 5, country + 3);
    uint8_t* digits = entry();
    digits[0] = ENTRY_ISRC;
    digits[1] = bin_to_bcd(entry_track.track_number);
    pack_nibbles(entry_track.isrc.data() + 5, 7, digits + 4);
  }
  return sheet;
}

SonyRecorder::SonyRecorder(uint8_t model_class) { apply_recorder_profile(*this, model_class); }

ResultCode SonyRecorder::CloseTrack() {
  const uint8_t cdb[10] = {OP_CLOSE_TRACK, LunBits()};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode SonyRecorder::FinalizeDisc(uint8_t /*close_mode*/, uint8_t session) {
  uint8_t cdb[10] = {OP_FIXATION, LunBits()};
  cdb[8] = session ? 1 : 0;
  const ResultCode result = Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
  return finished(*this, result, ASC_FIXATION_DONE) ? 1 : result;
}

ResultCode SonyRecorder::SensePage(uint8_t page_code, uint8_t allocation, uint8_t page_length,
                                   std::vector<uint8_t>* list) {
  std::vector<uint8_t> sensed(allocation, 0);
  uint32_t moved = 0;
  const ResultCode result = ModeSenseRaw(sensed.data(), allocation, page_code, 0, &moved);
  if (result != 1) return result;
  // The page lies behind the header and the block descriptor the header announces.
  const std::size_t at = 4u + sensed[3];
  if (at + page_length > moved) return MSG_DATA_OVERRUN;
  list->assign(4, 0);
  list->insert(list->end(), sensed.begin() + static_cast<std::ptrdiff_t>(at),
               sensed.begin() + static_cast<std::ptrdiff_t>(at + page_length));
  (*list)[4] &= 0x3F;  // the "parameters savable" bit is not part of a selection
  return 1;
}

ResultCode SonyRecorder::OpenTrack(const TrackEntry& track) {
  uint8_t mode = 0;
  switch (track.track_type) {
    case TrackType::Audio: mode = (track.track_flags & TRACK_PRE) ? 0x02 : 0x00; break;
    case TrackType::Mode1: mode = 0x10; break;
    case TrackType::Mode2:
    case TrackType::Cdi: mode = 0x12; break;
    default: return MSG_BUGCHECK;
  }
  std::vector<uint8_t> list;
  ResultCode result = SensePage(TRACK_PAGE, 48, TRACK_PAGE_LENGTH, &list);
  if (result != 1) return result;
  list[4 + 4] = static_cast<uint8_t>(mode | ((track.track_flags & TRACK_DCP) ? 0x80 : 0));
  list[4 + 5] = 0;
  result = ModeSelectRaw(list.data(), static_cast<uint8_t>(list.size()), true);
  if (result != 1) return result;
  uint8_t cdb[10] = {OP_OPEN_TRACK, LunBits()};
  cdb[5] = track.track_number;
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode SonyRecorder::SetWritingBlockLength(uint8_t /*track_type*/, uint16_t /*block_size*/) {
  return 1;
}

ResultCode SonyRecorder::SetWritingSpeed(uint8_t speed, uint8_t test) {
  uint8_t data[12] = {};
  data[4] = WRITING_PAGE;
  data[5] = 6;
  data[7] = test ? 0x02 : 0x00;
  if (discAtOnceOnly)
    data[7] = static_cast<uint8_t>(data[7] | 0x04 | (std::min(speed, maxWriteSpeed) != 0 ? 1 : 0));
  data[9] = 3;
  return ModeSelectRaw(data, sizeof data, true);
}

ResultCode SonyRecorder::Write(uint8_t* buffer, uint16_t block_size, uint16_t count,
                               int32_t /*address*/) {
  const uint32_t length = uint32_t{block_size} * count;
  if (length > 0xFFFFFF) return MSG_BUGCHECK;
  uint8_t cdb[10] = {OP_WRITE};
  put_be24(cdb + 1, length);
  const ResultCode result = Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 10, buffer, length);
  return finished(*this, result, ASC_WRITE_DONE) ? 1 : result;
}

ResultCode SonyRecorder::PrepareDiscAtOnce() {
  std::vector<uint8_t> list;
  const ResultCode result = SensePage(DISC_PAGE, 44, DISC_PAGE_LENGTH, &list);
  if (result != 1) return result;
  list[4 + 2] = 0;
  return ModeSelectRaw(list.data(), static_cast<uint8_t>(list.size()), true);
}

ResultCode SonyRecorder::BeginDiscAtOnce(const DiscAtOnceJob& job) {
  // A sheet that cannot be built would leave the drive waiting for blocks
  // it was never told about: refuse it before anything is sent.
  std::vector<uint8_t> sheet = sony_cue_sheet(*job.layout, RecorderCaps & CAP_CODES_IN_CUE);
  if (sheet.empty()) CheckNamed(MSG_BUGCHECK, "WRITE START", true);
  PrepareDiscAtOnce();
  uint8_t cdb[10] = {OP_WRITE_START, static_cast<uint8_t>(LunBits() | (discAtOnceOnly ? 0x10 : 0))};
  put_be16(cdb + 2, static_cast<uint32_t>(sheet.size()));
  CheckNamed(Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 10, sheet.data(),
                     static_cast<uint32_t>(sheet.size())),
             "WRITE START", true);
  nextWriteAddress = -150;
  return 1;
}

ResultCode SonyRecorder::EndDiscAtOnce(uint8_t /*progress*/) { return 1; }

ResultCode SonyRecorder::SetReadingSpeed(uint8_t speed) {
  uint8_t data[8] = {};
  data[4] = READING_PAGE;
  data[5] = 2;
  data[6] = READING_SPEED_VALUES[std::min<uint8_t>({speed, maxReadSpeed, 2})];
  return ModeSelectRaw(data, sizeof data, true);
}

SonyClass15::SonyClass15() : SonyRecorder(15) { discAtOnceOnly = true; }

ResultCode SonyClass15::CloseTrack() { return MSG_ILLEGAL_REQUEST; }

ResultCode SonyClass15::FinalizeDisc(uint8_t /*close_mode*/, uint8_t /*session*/) {
  return MSG_ILLEGAL_REQUEST;
}

ResultCode SonyClass15::OpenTrack(const TrackEntry& /*track*/) { return MSG_ILLEGAL_REQUEST; }

ResultCode SonyClass15::PrepareDiscAtOnce() { return 1; }

ResultCode SonyClass15::EjectDisc() {
  uint8_t cdb[10] = {OP_TRAY, LunBits()};
  cdb[3] = 4;
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode SonyClass15::LoadDisc() {
  uint8_t cdb[10] = {OP_TRAY, LunBits()};
  cdb[3] = 5;
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode SonyClass15::StartRead(uint32_t lba, bool data) {
  const MsfTime msf = lba_to_msf(static_cast<int32_t>(lba));
  uint8_t cdb[10] = {OP_START_READ, LunBits()};
  cdb[3] = data ? 2 : 1;
  cdb[4] = msf.minute;
  cdb[5] = msf.second;
  cdb[6] = msf.frame;
  cdb[7] = data ? 1 : 0;
  const ResultCode result = Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
  readStarted = result == 1;
  readData = data;
  readNext = lba;
  return result;
}

ResultCode SonyClass15::ReadOn(uint8_t* buffer, uint32_t block_size, uint32_t count, uint32_t lba,
                               bool data) {
  uint32_t length = 0;
  if (!transfer_length(block_size, count, &length) || length > 0xFFFFFF) return MSG_BUGCHECK;
  // The drive reads on from where it stands; elsewhere the read starts anew.
  if (!readStarted || readData != data || readNext != lba) {
    const ResultCode started = StartRead(lba, data);
    if (started != 1) return started;
  }
  uint8_t cdb[10] = {OP_READ};
  put_be24(cdb + 1, length);
  const ResultCode result = Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length);
  if (result == 1)
    readNext = lba + count;
  else
    readStarted = false;
  return result;
}

ResultCode SonyClass15::ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                                  uint8_t subcode_format) {
  if (subcode_format != SUBCODE_NONE) return MSG_BUGCHECK;
  return ReadOn(buffer, RAW_SECTOR_SIZE, count, lba, false);
}

ResultCode SonyClass15::ReadData(uint8_t* buffer, uint32_t block_size, uint16_t count,
                                 uint32_t lba) {
  const ResultCode result = ReadOn(buffer, block_size, count, lba, true);
  if (result == 1 && block_size == RAW_SECTOR_SIZE)
    for (uint32_t i = 0; i < count; ++i)
      transform_sector(buffer + i * RAW_SECTOR_SIZE, false, false, true);
  return result;
}

ResultCode SonyClass15::SetBlockLength(uint8_t /*sector_kind*/, uint32_t /*block_length*/) {
  return 1;
}

ResultCode SonyClass15::SetReadingSpeed(uint8_t speed) {
  uint8_t data[12] = {};
  data[4] = CLASS15_READING_PAGE;
  data[5] = 6;
  data[7] = std::min(speed, maxReadSpeed) != 0 ? 1 : 0;
  return ModeSelectRaw(data, sizeof data, true);
}

ResultCode SonyClass15::StartAudioRead(uint32_t lba, uint32_t /*block_size*/) {
  return StartRead(lba, false);
}

ResultCode SonyClass15::StartDataRead(uint32_t lba, uint8_t /*sector_kind*/,
                                      uint32_t /*block_length*/) {
  return StartRead(lba, true);
}

ResultCode SonyClass15::StopAudioRead() {
  readStarted = false;
  const uint8_t cdb[10] = {OP_STOP_READ, LunBits()};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode SonyClass15::StopDataRead() { return StopAudioRead(); }

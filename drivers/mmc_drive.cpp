// The reading side of the MMC drivers, their plain commands, what GET
// CONFIGURATION and the capabilities page say, and the bus scan's probe.
#include "drivers/mmc_drive.h"

#include <algorithm>
#include <cstring>

#include "common/byteorder.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "scsi/models.h"

namespace {

constexpr uint8_t OP_MODE_SELECT_10 = 0x55;
constexpr uint8_t OP_MODE_SENSE_10 = 0x5A;
constexpr uint8_t OP_GET_CONFIGURATION = 0x46;
constexpr uint8_t OP_SET_CD_SPEED = 0xBB;
constexpr uint8_t OP_READ_CD = 0xBE;

constexpr uint8_t ERROR_RECOVERY_PAGE = 0x01;
constexpr uint8_t CAPABILITIES_PAGE = 0x2A;
constexpr uint8_t RECOVERY_TRANSFER_BLOCK = 0x20;
constexpr uint8_t PAGE_CONTROL_DEFAULT = 2;
constexpr uint16_t MODE_HEADER_10 = 8;
constexpr uint16_t MODE_SENSE_LENGTH = 255;
constexpr uint16_t CONFIGURATION_LENGTH = 2048;

// READ CD: expected sector type CD-DA, and the main channel selection bits.
constexpr uint8_t SECTOR_TYPE_CDDA = 1;
constexpr uint8_t SELECT_SYNC = 0x80;
constexpr uint8_t SELECT_ALL_HEADERS = 0x60;
constexpr uint8_t SELECT_SUBHEADER = 0x40;
constexpr uint8_t SELECT_USER_DATA = 0x10;
constexpr uint8_t SELECT_EDC_ECC = 0x08;
constexpr uint8_t SELECT_C2_POINTERS = 0x02;  // C2 error field 01b: 294 bytes of pointers
// READ CD sub-channel selection.
constexpr uint8_t SUBCHANNEL_RAW_PW = 1;
constexpr uint8_t SUBCHANNEL_FORMATTED_Q = 2;

constexpr uint16_t FASTEST = 0xFFFF;
// Kilobytes a second of 1x, 2x, 4x, 6x, 8x, 10x and 12x.
constexpr uint16_t SPEEDS_KBS[] = {176, 353, 706, 1058, 1411, 1764, 2117};
constexpr uint8_t WRITE_SPEED_CODES = 4;

bool cd_profile(uint16_t profile) { return profile >= 0x0008 && profile <= 0x000A; }

}  // namespace

void parse_mmc_configuration(const uint8_t* data, uint32_t length, MmcFeatures* features) {
  if (length < 8) return;
  const uint64_t end = std::min<uint64_t>(length, uint64_t{get_be32(data)} + 4);
  features->current_profile = static_cast<uint16_t>(get_be16(data + 6));
  if (cd_profile(features->current_profile)) features->cd = true;
  for (uint64_t at = 8; at + 4 <= end;) {
    const uint8_t* feature = data + at;
    const uint32_t code = get_be16(feature);
    const uint32_t size = 4u + feature[3];
    if (at + size > end) break;
    if (code == MMC_FEATURE_PROFILE_LIST) {
      for (uint32_t p = 4; p + 4 <= size; p += 4)
        if (cd_profile(static_cast<uint16_t>(get_be16(feature + p)))) features->cd = true;
    } else if (code == MMC_FEATURE_CD_READ) {
      features->cd = true;
    } else if (code == MMC_FEATURE_CD_TRACK_AT_ONCE) {
      features->track_at_once = true;
      if (size > 4 && (feature[4] & 0x40)) features->underrun_protection = true;  // BUF
    } else if (code == MMC_FEATURE_CD_MASTERING && size > 4 && (feature[4] & 0x20)) {
      features->session_at_once = true;
      features->leadin_subcode = (feature[4] & 0x01) != 0;
      if (feature[4] & 0x40) features->underrun_protection = true;
    }
    at += size;
  }
}

void parse_mmc_capabilities(const uint8_t* page, uint32_t length, MmcFeatures* features) {
  if (length < 6 || (page[0] & 0x3F) != CAPABILITIES_PAGE) return;
  uint16_t caps = 0;
  if (page[5] & 0x01) caps |= CAP_READ_CDDA | CAP_READ_SUBQ;                    // CD-DA commands
  if ((caps & CAP_READ_CDDA) && (page[5] & 0x04)) caps |= CAP_READ_CDG;         // R-W
  if ((caps & CAP_READ_CDDA) && !(page[5] & 0x02)) caps |= CAP_JITTER_CORRECT;  // not accurate
  if ((caps & CAP_READ_CDDA) && (page[5] & 0x10)) caps |= CAP_READ_C2;          // C2 pointers
  features->reader_caps = caps;
  if (length >= 14) features->buffer_bytes = get_be16(page + 12) * 1024u;  // in KiB
  if (page[4] & 0x80) features->underrun_protection = true;                // BUF
  if (length < 20) return;
  const uint32_t write_speed = get_be16(page + 18);
  features->max_write_speed = SPEED_1X;
  for (uint8_t code = 0; code < WRITE_SPEED_CODES; ++code)
    if (SPEEDS_KBS[code] <= write_speed) features->max_write_speed = code;
}

uint16_t mmc_reading_speed(uint8_t code) {
  return code < sizeof SPEEDS_KBS / sizeof SPEEDS_KBS[0] ? SPEEDS_KBS[code] : FASTEST;
}

uint16_t mmc_writing_speed(uint8_t code) {
  return SPEEDS_KBS[std::min<uint8_t>(code, WRITE_SPEED_CODES - 1)];
}

template <typename Base>
MmcDrive<Base>::MmcDrive() {
  this->maxReadSpeed = 6;
  this->readerCaps = CAP_READ_CDDA | CAP_READ_SUBQ;
}

template <typename Base>
ResultCode MmcDrive<Base>::DisableErrorRecovery() {
  return SetRecoveryPage(true);
}

template <typename Base>
ResultCode MmcDrive<Base>::EnableErrorRecovery() {
  return SetRecoveryPage(false);
}

template <typename Base>
ResultCode MmcDrive<Base>::SetRecoveryPage(bool off) {
  std::vector<uint8_t> page;
  const ResultCode sensed = SensePage(ERROR_RECOVERY_PAGE, off ? 0 : PAGE_CONTROL_DEFAULT, &page);
  if (sensed != 1) return sensed;
  if (page.size() < 4) return MSG_ILLEGAL_REQUEST;
  if (off) {
    page[2] = static_cast<uint8_t>((page[2] & 0xC0) | RECOVERY_TRANSFER_BLOCK);
    page[3] = 1;  // read retry count
  }
  return SelectPage(page);
}

template <typename Base>
ResultCode MmcDrive<Base>::ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                                     uint8_t subcode_format) {
  const uint32_t sector_size = audio_sector_size(subcode_format);
  if (sector_size == 0) return MSG_BUGCHECK;
  static constexpr uint8_t subchannels[] = {0, SUBCHANNEL_FORMATTED_Q, SUBCHANNEL_RAW_PW,
                                            SUBCHANNEL_RAW_PW};
  const uint8_t selection = subcode_format == SUBCODE_ONLY ? 0 : SELECT_USER_DATA;
  return ReadCdRaw(buffer, sector_size, count, lba, SECTOR_TYPE_CDDA, selection,
                   subchannels[subcode_format]);
}

template <typename Base>
ResultCode MmcDrive<Base>::ReadAudioC2(uint8_t* buffer, uint32_t count, uint32_t lba) {
  return ReadCdRaw(buffer, RAW_SECTOR_SIZE + C2_POINTER_BYTES, count, lba, SECTOR_TYPE_CDDA,
                   SELECT_USER_DATA | SELECT_C2_POINTERS, 0);
}

template <typename Base>
ResultCode MmcDrive<Base>::ReadData(uint8_t* buffer, uint32_t block_size, uint16_t count,
                                    uint32_t lba) {
  uint8_t selection = SELECT_USER_DATA | SELECT_EDC_ECC;
  switch (block_size) {
    case DATA_BLOCK_SIZE: return this->ReadRaw(buffer, block_size, count, lba, 0);
    case MODE2_BODY_SIZE: selection |= SELECT_SUBHEADER; break;
    case RAW_SECTOR_SIZE - 12: selection |= SELECT_ALL_HEADERS; break;
    case RAW_SECTOR_SIZE: selection |= SELECT_ALL_HEADERS | SELECT_SYNC; break;
    default: return MSG_BUGCHECK;
  }
  return ReadCdRaw(buffer, block_size, count, lba, 0, selection, 0);
}

template <typename Base>
ResultCode MmcDrive<Base>::SetBlockLength(uint8_t /*sector_kind*/, uint32_t /*block_length*/) {
  return 1;
}

template <typename Base>
ResultCode MmcDrive<Base>::SetReadingSpeed(uint8_t speed) {
  const ResultCode result = SetCdSpeedRaw(mmc_reading_speed(speed), FASTEST);
  // A drive without SET CD SPEED reads at its own pace.
  return result == MSG_ILLEGAL_REQUEST ? 1 : result;
}

template <typename Base>
ResultCode MmcDrive<Base>::GetConfigurationRaw(uint8_t* buffer, uint16_t length,
                                               uint32_t* transferred) {
  uint8_t cdb[10] = {OP_GET_CONFIGURATION};
  put_be16(cdb + 7, length);
  return this->Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length, transferred);
}

template <typename Base>
ResultCode MmcDrive<Base>::ReadCdRaw(uint8_t* buffer, uint32_t sector_size, uint32_t count,
                                     uint32_t lba, uint8_t sector_type, uint8_t selection,
                                     uint8_t subchannel) {
  uint32_t length = 0;
  if (count > 0xFFFFFF || !transfer_length(sector_size, count, &length)) return MSG_BUGCHECK;
  uint8_t cdb[12] = {OP_READ_CD, static_cast<uint8_t>(sector_type << 2)};
  put_be32(cdb + 2, lba);
  put_be24(cdb + 6, count);
  cdb[9] = selection;
  cdb[10] = subchannel;
  return this->Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 12, buffer, length);
}

template <typename Base>
ResultCode MmcDrive<Base>::SetCdSpeedRaw(uint16_t read_speed, uint16_t write_speed) {
  uint8_t cdb[12] = {OP_SET_CD_SPEED};
  put_be16(cdb + 2, read_speed);
  put_be16(cdb + 4, write_speed);
  return this->Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 12, nullptr, 0);
}

template <typename Base>
ResultCode MmcDrive<Base>::ModeSense10Raw(uint8_t* buffer, uint16_t length, uint8_t page_code,
                                          uint8_t page_control, uint32_t* transferred) {
  uint8_t cdb[10] = {OP_MODE_SENSE_10, 0x08};  // no block descriptors
  cdb[2] = static_cast<uint8_t>(page_control << 6 | (page_code & 0x3F));
  put_be16(cdb + 7, length);
  return this->Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length, transferred);
}

template <typename Base>
ResultCode MmcDrive<Base>::ModeSelect10Raw(uint8_t* buffer, uint16_t length) {
  uint8_t cdb[10] = {OP_MODE_SELECT_10, 0x10};  // page format
  put_be16(cdb + 7, length);
  return this->Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 10, buffer, length);
}

template <typename Base>
ResultCode MmcDrive<Base>::SensePage(uint8_t page_code, uint8_t page_control,
                                     std::vector<uint8_t>* page) {
  uint8_t data[MODE_SENSE_LENGTH] = {};
  uint32_t received = 0;
  const ResultCode result = ModeSense10Raw(data, sizeof data, page_code, page_control, &received);
  if (result != 1) return result;
  // A drive may send block descriptors all the same.
  const uint32_t at = MODE_HEADER_10 + get_be16(data + 6);
  const uint32_t end = std::min<uint32_t>(received, get_be16(data) + 2u);
  if (at + 2 > end || (data[at] & 0x3F) != page_code || at + 2u + data[at + 1] > end)
    return MSG_ILLEGAL_REQUEST;
  page->assign(data + at, data + at + 2 + data[at + 1]);
  (*page)[0] &= 0x3F;
  return 1;
}

template <typename Base>
ResultCode MmcDrive<Base>::SelectPage(const std::vector<uint8_t>& page) {
  std::vector<uint8_t> data(MODE_HEADER_10, 0);
  data.insert(data.end(), page.begin(), page.end());
  return ModeSelect10Raw(data.data(), static_cast<uint16_t>(data.size()));
}

template <typename Base>
bool MmcDrive<Base>::ProbeFeatures(MmcFeatures* features) {
  std::vector<uint8_t> data(CONFIGURATION_LENGTH);
  uint32_t received = 0;
  if (GetConfigurationRaw(data.data(), CONFIGURATION_LENGTH, &received) != 1) return false;
  parse_mmc_configuration(data.data(), received, features);
  if (!features->cd) return false;
  std::vector<uint8_t> page;
  if (SensePage(CAPABILITIES_PAGE, 0, &page) == 1)
    parse_mmc_capabilities(page.data(), static_cast<uint32_t>(page.size()), features);
  return true;
}

template class MmcDrive<CdReader>;
template class MmcDrive<RecorderDriver>;

namespace {

void copy_identity(const ScsiDevice& from, ScsiDevice* to) {
  to->last_sense = from.last_sense;
  std::memcpy(to->vendor, from.vendor, sizeof to->vendor);
  std::memcpy(to->product, from.product, sizeof to->product);
  std::memcpy(to->revision, from.revision, sizeof to->revision);
  to->host_adapter = from.host_adapter;
  to->target = from.target;
  to->lun = from.lun;
  to->model_code = MODEL_MMC;
}

}  // namespace

std::unique_ptr<ScsiDevice> probe_mmc_drive(const ScsiDevice& device) {
  auto recorder = std::make_unique<MmcRecorder>();
  copy_identity(device, recorder.get());
  MmcFeatures features;
  if (!recorder->ProbeFeatures(&features)) return nullptr;
  if (features.track_at_once || features.session_at_once) {
    recorder->device_kind = DEVICE_RECORDER;
    recorder->readerCaps = features.reader_caps;
    recorder->bufferBytes = features.buffer_bytes;
    recorder->RecorderCaps =
        static_cast<uint16_t>((features.track_at_once ? CAP_TRACK_AT_ONCE : 0) |
                              (features.session_at_once ? CAP_DISC_AT_ONCE : 0) |
                              (features.leadin_subcode ? CAP_CD_TEXT : 0));
    recorder->maxWriteSpeed = features.max_write_speed;
    recorder->maxRecorderReadSpeed = recorder->maxReadSpeed;
    recorder->underrunProtection = features.underrun_protection;
    recorder->ReadWriteSpeeds();
    return recorder;
  }
  auto reader = std::make_unique<MmcReader>();
  copy_identity(device, reader.get());
  reader->device_kind = DEVICE_READER;
  reader->readerCaps = features.reader_caps;
  reader->bufferBytes = features.buffer_bytes;
  return reader;
}

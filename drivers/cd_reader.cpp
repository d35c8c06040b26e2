// The generic implementations of the twelve slots, the named operations, the
// sector reads and the two plain commands READ TOC and READ SUB-CHANNEL.
#include "drivers/cd_reader.h"

#include <algorithm>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "common/sector.h"

namespace {

constexpr uint8_t OP_READ_SUBCHANNEL = 0x42;
constexpr uint8_t OP_READ_TOC = 0x43;
constexpr uint8_t OP_READ_CDDA = 0xD8;

}  // namespace

uint32_t last_sector(uint32_t lba, uint32_t count) {
  if (count == 0) return lba;
  return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{lba} + count - 1, UINT32_MAX));
}

uint32_t audio_sector_size(uint8_t subcode_format) {
  switch (subcode_format) {
    case SUBCODE_NONE: return 2352;
    case SUBCODE_Q: return 2368;
    case SUBCODE_ALL: return 2448;
    case SUBCODE_ONLY: return 96;
    default: return 0;
  }
}

CdReader::CdReader() = default;

ResultCode CdReader::DisableErrorRecovery() { return 1; }

ResultCode CdReader::EnableErrorRecovery() { return 1; }

ResultCode CdReader::EjectDisc() { return StartStopUnitRaw(false, true); }

ResultCode CdReader::LoadDisc() { return StartStopUnitRaw(true, true); }

ResultCode CdReader::ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                               uint8_t subcode_format) {
  const uint32_t sector_size = audio_sector_size(subcode_format);
  uint32_t length = 0;
  if (sector_size == 0 || !transfer_length(sector_size, count, &length)) return MSG_BUGCHECK;
  uint8_t cdb[12] = {OP_READ_CDDA, LunBits()};
  put_be32(cdb + 2, lba);
  put_be32(cdb + 6, count);
  cdb[10] = subcode_format;
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 12, buffer, length);
}

ResultCode CdReader::ReadAudioC2(uint8_t*, uint32_t, uint32_t) { return MSG_BUGCHECK; }

ResultCode CdReader::ReadData(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba) {
  return ReadRaw(buffer, block_size, count, lba, 0);
}

ResultCode CdReader::SetBlockLength(uint8_t sector_kind, uint32_t block_length) {
  if (sector_kind == SECTOR_KIND_AUDIO) return 1;
  return SelectBlockDescriptorRaw(0, block_length, 0);
}

ResultCode CdReader::SetReadingSpeed(uint8_t /*speed*/) { return 1; }

ResultCode CdReader::StartAudioRead(uint32_t /*lba*/, uint32_t /*block_size*/) { return 1; }

ResultCode CdReader::StartDataRead(uint32_t /*lba*/, uint8_t sector_kind, uint32_t block_length) {
  return SetBlockLength(sector_kind, block_length);
}

ResultCode CdReader::StopAudioRead() { return 1; }

ResultCode CdReader::StopDataRead() { return SetBlockLength(SECTOR_KIND_DATA, 2048); }

ResultCode CdReader::EjectDiscNamed(bool raise) {
  return CheckNamed(EjectDisc(), "EJECT DISC", raise);
}

ResultCode CdReader::LoadDiscNamed(bool raise) {
  return CheckNamed(LoadDisc(), "LOAD DISC", raise);
}

ResultCode CdReader::DisableErrorRecoveryNamed(bool raise) {
  const ResultCode result = DisableErrorRecovery();
  if (result == 1) readerCaps |= CAP_RECOVERY_OFF;
  return CheckNamed(result, "DISABLE ERROR RECOVERY", raise);
}

ResultCode CdReader::EnableErrorRecoveryNamed(bool raise) {
  const ResultCode result = EnableErrorRecovery();
  readerCaps &= static_cast<uint16_t>(~CAP_RECOVERY_OFF);
  return CheckNamed(result, "ENABLE ERROR RECOVERY", raise);
}

ResultCode CdReader::SetBlockLengthNamed(uint8_t sector_kind, uint32_t block_length, bool raise) {
  return CheckNamed(SetBlockLength(sector_kind, block_length), "SET BLOCK LENGTH", raise);
}

ResultCode CdReader::SetReadingSpeedNamed(uint8_t speed, bool raise) {
  return CheckNamed(SetReadingSpeed(speed), "SET READING SPEED", raise);
}

ResultCode CdReader::StartDataReadNamed(uint32_t lba, uint8_t sector_kind, uint32_t block_length,
                                        bool raise) {
  return CheckNamed(StartDataRead(lba, sector_kind, block_length), "START DATA READ", raise);
}

ResultCode CdReader::StopDataReadNamed(bool raise) {
  return CheckNamed(StopDataRead(), "STOP DATA READ", raise);
}

ResultCode CdReader::StartAudioReadNamed(uint32_t lba, uint32_t block_size, bool raise) {
  return CheckNamed(StartAudioRead(lba, block_size), "START AUDIO READ", raise);
}

ResultCode CdReader::StopAudioReadNamed(bool raise) {
  return CheckNamed(StopAudioRead(), "STOP AUDIO READ", raise);
}

ResultCode CdReader::ReadToc(uint8_t* buffer, uint16_t length, uint8_t format, bool raise,
                             uint32_t* transferred) {
  return CheckNamed(ReadTocRaw(buffer, length, format, transferred), "READ TOC", raise);
}

ResultCode CdReader::ReadSubchannel(uint8_t* buffer, uint8_t format, uint8_t track, bool subq,
                                    bool msf, bool raise) {
  return CheckNamed(ReadSubchannelRaw(buffer, format, track, subq, msf), "READ SUBCHANNEL", raise);
}

ResultCode CdReader::ReadTocRaw(uint8_t* buffer, uint16_t length, uint8_t format,
                                uint32_t* transferred) {
  uint8_t cdb[10] = {OP_READ_TOC, LunBits()};
  put_be16(cdb + 7, length);
  cdb[9] = static_cast<uint8_t>(format << 6);
  uint32_t received = 0;
  const ResultCode result =
      Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length, &received);
  if (transferred != nullptr) *transferred = received;
  return result;
}

ResultCode CdReader::ReadSubchannelRaw(uint8_t* buffer, uint8_t format, uint8_t track, bool subq,
                                       bool msf) {
  uint8_t cdb[10] = {OP_READ_SUBCHANNEL, static_cast<uint8_t>(LunBits() | (msf ? 0x02 : 0))};
  cdb[2] = subq ? 0x40 : 0;
  cdb[3] = format;
  cdb[6] = track;
  put_be16(cdb + 7, SUBCHANNEL_LENGTH);
  uint32_t received = 0;  // a shorter answer is read with the rest zeroed
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, SUBCHANNEL_LENGTH, &received);
}

ResultCode CdReader::ReadAudioSectors(uint8_t* buffer, uint32_t count, uint32_t lba,
                                      uint8_t subcode_format, bool raise) {
  ResultCode result = ReadAudio(buffer, count, lba, subcode_format);
  if (result == MSG_MEDIUM_ERROR && (readerCaps & CAP_RECOVERY_OFF)) result = 1;
  if (result != 1 && raise)
    raise_sector_read_failure(ReadKind::Audio, lba, last_sector(lba, count), host_adapter, target,
                              lun, result);
  return result;
}

ResultCode CdReader::ReadDataSectors(uint8_t* buffer, uint32_t block_size, uint16_t count,
                                     uint32_t lba, bool raise) {
  ResultCode result = ReadData(buffer, block_size, count, lba);
  if (result == MSG_MEDIUM_ERROR && (readerCaps & CAP_RECOVERY_OFF)) result = 1;
  if (result == 1 && (readerCaps & CAP_COMPUTE_CRC)) {
    const std::size_t length = std::size_t{block_size} * count;  // every byte read
    runningCrc = compute_edc(CRC32_TABLE.data(), buffer, length, runningCrc);
  }
  if (result != 1 && raise)
    raise_sector_read_failure(ReadKind::Data, lba, last_sector(lba, count), host_adapter, target,
                              lun, result);
  return result;
}

std::string reader_caps_report(uint16_t caps) {
  auto bit = [caps](uint16_t mask) { return (caps & mask) ? 1u : 0u; };
  return format_text("Read CDDA      = %u\n", bit(CAP_READ_CDDA)) +
         format_text("Read SUBQ      = %u\n", bit(CAP_READ_SUBQ)) +
         format_text("Read CDG       = %u\n", bit(CAP_READ_CDG)) +
         format_text("Jitter Correct = %u\n", bit(CAP_JITTER_CORRECT)) +
         format_text("Compute CRC    = %u\n", bit(CAP_COMPUTE_CRC));
}

// The Philips family's recording slots, the raw-sector conversion of
// disc-at-once writes, and the reading slots its drives answer differently.
#include "drivers/philips_recorder.h"

#include <algorithm>
#include <cstring>

#include "common/byteorder.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "drivers/track_commands.h"

namespace {

constexpr uint8_t OP_LOAD_UNLOAD = 0xE7;

constexpr uint8_t SPEED_PAGE = 0x23;
constexpr uint8_t SPEED_PAGE_31 = 0x31;

// Speed value of each speed code (page 0x23: 1x to 6x; page 0x31: 1x to 4x).
constexpr uint8_t SPEED_VALUES[] = {1, 2, 4, 6};
constexpr uint8_t PAGE_31_SPEED_VALUES[] = {1, 2, 4};

// Raw sectors per WRITE(10) of converted blocks (27 * 2352 <= 65000).
constexpr uint16_t RAW_SECTORS_PER_WRITE = MAX_TRANSFER_BYTES / RAW_SECTOR_SIZE;

void swap_blocks(uint8_t* buffer, uint32_t count, uint32_t stride) {
  for (uint32_t i = 0; i < count; ++i) transform_sector(buffer + i * stride, true, false, false);
}

}  // namespace

PhilipsRecorder::PhilipsRecorder(uint8_t model_class) {
  apply_recorder_profile(*this, model_class);
}

ResultCode PhilipsRecorder::CloseTrack() { return SynchronizeCacheRaw(); }

ResultCode PhilipsRecorder::FinalizeDisc(uint8_t close_mode, uint8_t session) {
  return send_fixation(*this, close_mode, session);
}

ResultCode PhilipsRecorder::OpenTrack(const TrackEntry& track) {
  return send_write_track(*this, track, false);
}

ResultCode PhilipsRecorder::SetWritingBlockLength(uint8_t /*track_type*/, uint16_t block_size) {
  const uint32_t cdg = audio_sector_size(SUBCODE_ALL);
  if (block_size == cdg)
    return blockLengthInForce == cdg ? 1 : SetBlockLength(SECTOR_KIND_AUDIO, cdg);
  if (blockLengthInForce == cdg) return SetBlockLength(SECTOR_KIND_DATA, RAW_SECTOR_SIZE);
  return 1;
}

ResultCode PhilipsRecorder::SendSpeedPage(uint8_t code, uint8_t limit, bool writing, uint8_t test) {
  uint8_t data[12] = {};
  if (speedPage31) {
    code = std::min<uint8_t>({code, limit, sizeof PAGE_31_SPEED_VALUES - 1});
    data[4] = SPEED_PAGE_31;
    data[5] = 2;
    data[7] = static_cast<uint8_t>(PAGE_31_SPEED_VALUES[code] << 4 | (writing && test ? 1 : 0));
    return ModeSelectRaw(data, 8, true);
  }
  code = std::min<uint8_t>({code, limit, sizeof SPEED_VALUES - 1});
  data[4] = SPEED_PAGE;
  data[5] = 6;
  data[6] = SPEED_VALUES[code];
  data[7] = writing && test ? 1 : 0;
  return ModeSelectRaw(data, 12, true);
}

ResultCode PhilipsRecorder::SetWritingSpeed(uint8_t speed, uint8_t test) {
  return SendSpeedPage(speed, maxWriteSpeed, true, test);
}

ResultCode PhilipsRecorder::SetReadingSpeed(uint8_t speed) {
  return SendSpeedPage(speed, maxRecorderReadSpeed, false, 0);
}

ResultCode PhilipsRecorder::Write(uint8_t* buffer, uint16_t block_size, uint16_t count,
                                  int32_t address) {
  if ((block_size == DATA_BLOCK_SIZE || block_size == MODE2_BODY_SIZE) &&
      blockLengthInForce == RAW_SECTOR_SIZE)
    return WriteAsRawSectors(buffer, block_size, count, address);
  const bool swap = block_size == RAW_SECTOR_SIZE;
  if (swap) swap_blocks(buffer, count, RAW_SECTOR_SIZE);
  const ResultCode result = WriteRaw(buffer, block_size, count, static_cast<uint32_t>(address), 0);
  if (swap && result != 1) swap_blocks(buffer, count, RAW_SECTOR_SIZE);
  return result;
}

ResultCode PhilipsRecorder::WriteAsRawSectors(const uint8_t* buffer, uint16_t block_size,
                                              uint16_t count, int32_t address) {
  if (rawSectors.empty()) rawSectors.resize(std::size_t{RAW_SECTORS_PER_WRITE} * RAW_SECTOR_SIZE);
  const SectorType type = block_size == DATA_BLOCK_SIZE ? SECTOR_MODE1 : SECTOR_MODE2;
  uint16_t done = 0;
  if (partialBuffer == buffer && partialCount == count) done = partialSent;
  partialBuffer = nullptr;
  while (done < count) {
    const auto n = static_cast<uint16_t>(std::min<uint32_t>(count - done, RAW_SECTORS_PER_WRITE));
    for (uint16_t i = 0; i < n; ++i) {
      uint8_t* sector = rawSectors.data() + std::size_t{i} * RAW_SECTOR_SIZE;
      build_sector(sector, type, nextWriteAddress + done + i, nullptr,
                   buffer + (std::size_t{done} + i) * block_size, false, false, false);
      transform_sector(sector, true, false, true);  // scramble, then swap
    }
    const ResultCode result =
        WriteRaw(rawSectors.data(), RAW_SECTOR_SIZE, n, static_cast<uint32_t>(address), 0);
    if (result != 1) {
      partialBuffer = buffer;
      partialCount = count;
      partialSent = done;
      return result;
    }
    done = static_cast<uint16_t>(done + n);
  }
  return 1;
}

ResultCode PhilipsRecorder::EjectDisc() {
  if (startStopEject) return CdReader::EjectDisc();
  uint8_t cdb[10] = {OP_LOAD_UNLOAD, LunBits()};
  cdb[8] = 0x01;
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode PhilipsRecorder::LoadDisc() {
  if (startStopEject) return CdReader::LoadDisc();
  const uint8_t cdb[10] = {OP_LOAD_UNLOAD, LunBits()};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode PhilipsRecorder::ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                                      uint8_t subcode_format) {
  if (readCdda) {
    const ResultCode result = CdReader::ReadAudio(buffer, count, lba, subcode_format);
    const uint32_t sector_size = audio_sector_size(subcode_format);
    if (result == 1 && swapCdda && sector_size >= RAW_SECTOR_SIZE)
      swap_blocks(buffer, count, sector_size);
    return result;
  }
  // READ(10) delivers the 2352 audio bytes only.
  if (subcode_format != SUBCODE_NONE || count > UINT16_MAX) return MSG_BUGCHECK;
  const ResultCode result = ReadRaw(buffer, RAW_SECTOR_SIZE, static_cast<uint16_t>(count), lba, 0);
  if (result == 1) swap_blocks(buffer, count, RAW_SECTOR_SIZE);
  return result;
}

ResultCode PhilipsRecorder::ReadData(uint8_t* buffer, uint32_t block_size, uint16_t count,
                                     uint32_t lba) {
  const ResultCode result = ReadRaw(buffer, block_size, count, lba, 0);
  if (result == 1 && descrambleRawData && block_size == RAW_SECTOR_SIZE)
    for (uint32_t i = 0; i < count; ++i)
      transform_sector(buffer + i * RAW_SECTOR_SIZE, false, false, true);
  return result;
}

ResultCode PhilipsRecorder::SetBlockLength(uint8_t /*sector_kind*/, uint32_t block_length) {
  const ResultCode result = SelectBlockDescriptorRaw(0, block_length, 0);
  blockLengthInForce = result == 1 ? block_length : 0;
  return result;
}

ResultCode PhilipsRecorder::StartAudioRead(uint32_t /*lba*/, uint32_t /*block_size*/) {
  if (readCdda) return 1;
  return SetBlockLength(SECTOR_KIND_AUDIO, RAW_SECTOR_SIZE);
}

ResultCode PhilipsRecorder::StopAudioRead() {
  if (readCdda) return 1;
  return SetBlockLength(SECTOR_KIND_DATA, DATA_BLOCK_SIZE);
}

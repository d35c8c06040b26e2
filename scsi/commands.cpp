// The standard commands: one small function per command block.
#include <cstring>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "scsi/device.h"

namespace {

constexpr uint8_t OP_TEST_UNIT_READY = 0x00;
constexpr uint8_t OP_REZERO_UNIT = 0x01;
constexpr uint8_t OP_INQUIRY = 0x12;
constexpr uint8_t OP_MODE_SELECT = 0x15;
constexpr uint8_t OP_MODE_SENSE = 0x1A;
constexpr uint8_t OP_START_STOP_UNIT = 0x1B;
constexpr uint8_t OP_READ_CAPACITY = 0x25;
constexpr uint8_t OP_READ = 0x28;
constexpr uint8_t OP_WRITE = 0x2A;
constexpr uint8_t OP_SYNCHRONIZE_CACHE = 0x35;
constexpr uint8_t OP_EXCHANGE_MEDIUM = 0xA6;
constexpr uint8_t OP_SET_LIMITS = 0xB3;

constexpr int TEST_UNIT_READY_TRIES = 3;
constexpr unsigned TEST_UNIT_READY_PAUSE_MS = 1000;
constexpr uint8_t MODE_PARAMETER_LENGTH = 12;
constexpr uint8_t ERROR_RECOVERY_PAGE = 0x01;

}  // namespace

ResultCode ScsiDevice::TestUnitReadyRaw() {
  const uint8_t cdb[6] = {OP_TEST_UNIT_READY, LunBits(), 0, 0, 0, 0};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 6, nullptr, 0);
}

ResultCode ScsiDevice::TestUnitReady(bool raise) {
  ResultCode result = 0;
  for (int attempt = 1;; ++attempt) {
    result = TestUnitReadyRaw();
    const bool passing =
        result == MSG_UNIT_ATTENTION || result == MSG_NOT_READY || result == MSG_TARGET_BUSY;
    if (!passing || attempt == TEST_UNIT_READY_TRIES) break;
    platform_sleep(TEST_UNIT_READY_PAUSE_MS);
  }
  return CheckNamed(result, "TEST UNIT READY", raise);
}

ResultCode ScsiDevice::RezeroUnitRaw() {
  const uint8_t cdb[6] = {OP_REZERO_UNIT, LunBits(), 0, 0, 0, 0};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 6, nullptr, 0);
}

ResultCode ScsiDevice::RezeroUnit(bool raise) {
  return CheckNamed(RezeroUnitRaw(), "REZERO UNIT", raise);
}

ResultCode ScsiDevice::InquiryRaw(uint8_t ha, uint8_t id, uint8_t lun_number, uint8_t* buffer,
                                  uint8_t* sense_out) {
  ScsiDevice probe(ha, id, lun_number);
  const uint8_t cdb[6] = {OP_INQUIRY, probe.LunBits(), 0, 0, INQUIRY_LENGTH, 0};
  uint32_t received = 0;  // a device may send less than asked: the rest is zeroed
  const ResultCode result =
      probe.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 6, buffer, INQUIRY_LENGTH, &received);
  if (result != 1 && sense_out != nullptr)
    std::memcpy(sense_out, probe.last_sense.data(), SENSE_LENGTH);
  return result;
}

ResultCode ScsiDevice::Inquiry(uint8_t ha, uint8_t id, uint8_t lun_number, uint8_t* buffer,
                               uint8_t* sense_out, bool raise) {
  const ResultCode result = InquiryRaw(ha, id, lun_number, buffer, sense_out);
  if (result != 1 && raise)
    raise_message(MSG_COMMAND_FAILED, 4, result, 0, "INQUIRY", ha, id, lun_number);
  return result;
}

ResultCode ScsiDevice::ModeSelectRaw(uint8_t* buffer, uint8_t length, bool page_format) {
  const uint8_t byte1 = static_cast<uint8_t>(LunBits() | (page_format ? 0x10 : 0));
  const uint8_t cdb[6] = {OP_MODE_SELECT, byte1, 0, 0, length, 0};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 6, buffer, length);
}

ResultCode ScsiDevice::ModeSelect(uint8_t* buffer, uint8_t length, bool page_format, bool raise) {
  return CheckNamed(ModeSelectRaw(buffer, length, page_format), "MODE SELECT", raise);
}

ResultCode ScsiDevice::ModeSenseRaw(uint8_t* buffer, uint8_t length, uint8_t page_code,
                                    uint8_t page_control, uint32_t* transferred) {
  const uint8_t byte2 = static_cast<uint8_t>((page_control << 6) | (page_code & 0x3F));
  const uint8_t cdb[6] = {OP_MODE_SENSE, LunBits(), byte2, 0, length, 0};
  uint32_t received = 0;
  const ResultCode result =
      Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 6, buffer, length, &received);
  if (transferred != nullptr) *transferred = received;
  return result;
}

ResultCode ScsiDevice::ModeSense(uint8_t* buffer, uint8_t length, uint8_t page_code,
                                 uint8_t page_control, bool raise, uint32_t* transferred) {
  return CheckNamed(ModeSenseRaw(buffer, length, page_code, page_control, transferred),
                    "MODE SENSE", raise);
}

ResultCode ScsiDevice::StartStopUnitRaw(bool start, bool load_eject) {
  const uint8_t byte4 = static_cast<uint8_t>((start ? 0x01 : 0) | (load_eject ? 0x02 : 0));
  const uint8_t cdb[6] = {OP_START_STOP_UNIT, LunBits(), 0, 0, byte4, 0};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 6, nullptr, 0);
}

ResultCode ScsiDevice::StartStopUnit(bool start, bool load_eject, bool raise) {
  return CheckNamed(StartStopUnitRaw(start, load_eject), "START/STOP UNIT", raise);
}

ResultCode ScsiDevice::ReadCapacityRaw(uint32_t* last_lba, uint32_t* block_length) {
  const uint8_t cdb[10] = {OP_READ_CAPACITY, LunBits()};
  uint8_t data[8] = {};
  const ResultCode result = Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, data, sizeof data);
  if (last_lba != nullptr) *last_lba = get_be32(data);
  if (block_length != nullptr) *block_length = get_be32(data + 4);
  return result;
}

ResultCode ScsiDevice::ReadCapacity(uint32_t* last_lba, uint32_t* block_length, bool raise) {
  return CheckNamed(ReadCapacityRaw(last_lba, block_length), "READ CAPACITY", raise);
}

namespace {

// READ(10) and WRITE(10) share their layout.
void build_transfer_cdb(uint8_t* cdb, uint8_t opcode, uint8_t lun_bits, uint16_t count,
                        uint32_t lba, uint8_t vendor_bits) {
  std::memset(cdb, 0, 10);
  cdb[0] = opcode;
  cdb[1] = lun_bits;
  put_be32(cdb + 2, lba);
  put_be16(cdb + 7, count);
  cdb[9] = static_cast<uint8_t>(vendor_bits << 6);
}

}  // namespace

bool transfer_length(uint32_t block_size, uint32_t count, uint32_t* length) {
  const uint64_t bytes = uint64_t{block_size} * count;
  if (bytes > UINT32_MAX) return false;
  *length = static_cast<uint32_t>(bytes);
  return true;
}

ResultCode ScsiDevice::ReadRaw(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba,
                               uint8_t vendor_bits) {
  uint32_t length = 0;
  if (!transfer_length(block_size, count, &length)) return MSG_BUGCHECK;
  uint8_t cdb[10];
  build_transfer_cdb(cdb, OP_READ, LunBits(), count, lba, vendor_bits);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length);
}

ResultCode ScsiDevice::Read(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba,
                            bool raise) {
  return CheckNamed(ReadRaw(buffer, block_size, count, lba, 0), "READ", raise);
}

ResultCode ScsiDevice::WriteRaw(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba,
                                uint8_t vendor_bits) {
  uint32_t length = 0;
  if (!transfer_length(block_size, count, &length)) return MSG_BUGCHECK;
  uint8_t cdb[10];
  build_transfer_cdb(cdb, OP_WRITE, LunBits(), count, lba, vendor_bits);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 10, buffer, length);
}

ResultCode ScsiDevice::Write(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba,
                             bool raise) {
  return CheckNamed(WriteRaw(buffer, block_size, count, lba, 0), "WRITE", raise);
}

ResultCode ScsiDevice::SynchronizeCacheRaw() {
  const uint8_t cdb[10] = {OP_SYNCHRONIZE_CACHE, LunBits()};
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 10, nullptr, 0);
}

ResultCode ScsiDevice::SynchronizeCache(bool raise) {
  return CheckNamed(SynchronizeCacheRaw(), "SYNCHRONIZE CACHE", raise);
}

ResultCode ScsiDevice::SetLimitsRaw(uint32_t first, uint32_t second) {
  uint8_t cdb[12] = {OP_SET_LIMITS, LunBits()};
  put_be32(cdb + 2, first);
  put_be32(cdb + 6, second);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 12, nullptr, 0);
}

ResultCode ScsiDevice::SetLimits(uint32_t first, uint32_t second, bool raise) {
  return CheckNamed(SetLimitsRaw(first, second), "SET LIMITS", raise);
}

ResultCode ScsiDevice::SetErrorRecoveryRaw(uint8_t recovery_flags, uint8_t retry_count) {
  uint8_t data[MODE_PARAMETER_LENGTH] = {};
  data[4] = ERROR_RECOVERY_PAGE;
  data[5] = 6;  // page length
  data[6] = recovery_flags;
  data[7] = retry_count;
  return ModeSelectRaw(data, MODE_PARAMETER_LENGTH, true);
}

ResultCode ScsiDevice::SetErrorRecovery(uint8_t recovery_flags, uint8_t retry_count, bool raise) {
  return CheckNamed(SetErrorRecoveryRaw(recovery_flags, retry_count), "SET ERROR RECOVERY", raise);
}

ResultCode ScsiDevice::SelectBlockDescriptorRaw(uint8_t density, uint32_t block_length,
                                                uint32_t block_count) {
  uint8_t data[MODE_PARAMETER_LENGTH] = {};
  data[3] = 8;  // block descriptor length
  data[4] = density;
  put_be24(data + 5, block_count);
  put_be24(data + 9, block_length);
  return ModeSelectRaw(data, MODE_PARAMETER_LENGTH, false);
}

ResultCode ScsiDevice::SelectBlockDescriptor(uint8_t density, uint32_t block_length,
                                             uint32_t block_count, bool raise) {
  return CheckNamed(SelectBlockDescriptorRaw(density, block_length, block_count), "MODE SELECT",
                    raise);
}

ResultCode ScsiDevice::ExchangeMediumRaw(uint16_t transport_address, uint16_t source_address,
                                         uint16_t first_destination, uint16_t second_destination,
                                         bool invert1, bool invert2, uint8_t vendor_bits) {
  uint8_t cdb[12] = {OP_EXCHANGE_MEDIUM, LunBits()};
  put_be16(cdb + 2, transport_address);
  put_be16(cdb + 4, source_address);
  put_be16(cdb + 6, first_destination);
  put_be16(cdb + 8, second_destination);
  cdb[10] = static_cast<uint8_t>((invert1 ? 0x02 : 0) | (invert2 ? 0x01 : 0));
  cdb[11] = static_cast<uint8_t>(vendor_bits << 6);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, cdb, 12, nullptr, 0);
}

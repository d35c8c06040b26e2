// ScsiDevice: one object per device found on the bus, the one path every
// SCSI command takes (Execute), and the standard commands built on it. Each
// command has a raw form (XxxRaw) that builds the command block and returns
// the ResultCode, and a named form that calls it and, when `raise` is set,
// turns a failure into "'NAME' command failed on device ha:id:lun" with the
// result as the cause line.
#pragma once

#include <array>
#include <cstdint>

#include "scsi/transport.h"

// The device type as the library sees it (bit k of a kind mask admits kind k).
enum DeviceKind : uint8_t {
  DEVICE_DISK = 0,
  DEVICE_RECORDER = 4,
  DEVICE_READER = 5,
  DEVICE_TRANSPORTER = 8,
};

constexpr uint16_t KIND_MASK_RECORDER = 1u << DEVICE_RECORDER;
constexpr uint16_t KIND_MASK_READER_OR_RECORDER = (1u << DEVICE_READER) | (1u << DEVICE_RECORDER);
constexpr uint16_t KIND_MASK_TRANSPORTER = 1u << DEVICE_TRANSPORTER;

// Length of the INQUIRY data the library asks for.
constexpr uint8_t INQUIRY_LENGTH = 104;

// count blocks of block_size bytes in `length`; false when they make 4 GiB or
// more, which no request can carry.
bool transfer_length(uint32_t block_size, uint32_t count, uint32_t* length);

class ScsiDevice {
 public:
  ScsiDevice() = default;
  ScsiDevice(uint8_t ha, uint8_t id, uint8_t lun_number)
      : host_adapter(ha), target(id), lun(lun_number) {}
  virtual ~ScsiDevice() = default;
  ScsiDevice(const ScsiDevice&) = delete;
  ScsiDevice& operator=(const ScsiDevice&) = delete;

  // Sends one command block (6, 10 or 12 bytes) with `direction`
  // (SRB_DIR_IN, SRB_DIR_OUT or SRB_DIR_NONE) and the caller's buffer (null
  // with length 0 when no data moves). Keeps the sense data of a request that
  // did not complete cleanly in last_sense. Never raises; returns 0 when the
  // request never completed, or when no transport is open.
  //
  // Data that comes in fills the buffer only as far as the device sent it;
  // the rest of the buffer is zeroed, whatever the result. A request that
  // completes having moved fewer bytes than buffer_length gives
  // MSG_DATA_OVERRUN, unless the caller passes `transferred`: a command with
  // an allocation length may answer with less, and then gets the count.
  ResultCode Execute(uint8_t command_code, uint8_t direction, const uint8_t* cdb,
                     uint8_t cdb_length, uint8_t* buffer, uint32_t buffer_length,
                     uint32_t* transferred = nullptr);

  // Sends nothing and returns 1.
  ResultCode Reset();

  // Returns `result`; when it is not 1 and `raise` is set, raises
  // "'name' command failed on device ha:id:lun" with the result as cause.
  ResultCode CheckNamed(ResultCode result, const char* name, bool raise) const;

  // Byte 1 of a command block: the LUN in bits 5-7.
  uint8_t LunBits() const { return static_cast<uint8_t>(lun << 5); }

  // TEST UNIT READY; the named form tries up to three times, pausing one
  // second after "Unit attention", "Device is not ready" or "Target is busy"
  // when another try follows.
  ResultCode TestUnitReadyRaw();
  ResultCode TestUnitReady(bool raise);
  // REZERO UNIT.
  ResultCode RezeroUnitRaw();
  ResultCode RezeroUnit(bool raise);
  // INQUIRY of 104 bytes into `buffer` for the address ha:id:lun (a device
  // may send less: the rest is zeroed); on failure the 18 sense bytes go to
  // `sense_out` when given.
  static ResultCode InquiryRaw(uint8_t ha, uint8_t id, uint8_t lun, uint8_t* buffer,
                               uint8_t* sense_out);
  static ResultCode Inquiry(uint8_t ha, uint8_t id, uint8_t lun, uint8_t* buffer,
                            uint8_t* sense_out, bool raise);
  // MODE SELECT(6) of `length` bytes (page_format sets the PF bit).
  ResultCode ModeSelectRaw(uint8_t* buffer, uint8_t length, bool page_format);
  ResultCode ModeSelect(uint8_t* buffer, uint8_t length, bool page_format, bool raise);
  // MODE SENSE(6) of at most `length` bytes for a page code and page control
  // (0-3); the bytes the drive sent go to `transferred` when given, the rest
  // of the buffer is zeroed.
  ResultCode ModeSenseRaw(uint8_t* buffer, uint8_t length, uint8_t page_code, uint8_t page_control,
                          uint32_t* transferred = nullptr);
  ResultCode ModeSense(uint8_t* buffer, uint8_t length, uint8_t page_code, uint8_t page_control,
                       bool raise, uint32_t* transferred = nullptr);
  // START/STOP UNIT.
  ResultCode StartStopUnitRaw(bool start, bool load_eject);
  ResultCode StartStopUnit(bool start, bool load_eject, bool raise);
  // READ CAPACITY: last logical block address and block length (either
  // output may be null).
  ResultCode ReadCapacityRaw(uint32_t* last_lba, uint32_t* block_length);
  ResultCode ReadCapacity(uint32_t* last_lba, uint32_t* block_length, bool raise);
  // READ(10) / WRITE(10) of `count` blocks of `block_size` bytes; vendor_bits
  // go to bits 6-7 of the control byte. The named forms send vendor bits 0.
  // A transfer of 4 GiB or more cannot be asked for: MSG_BUGCHECK, nothing sent.
  ResultCode ReadRaw(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba,
                     uint8_t vendor_bits);
  ResultCode Read(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba, bool raise);
  ResultCode WriteRaw(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba,
                      uint8_t vendor_bits);
  ResultCode Write(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba, bool raise);
  // SYNCHRONIZE CACHE.
  ResultCode SynchronizeCacheRaw();
  ResultCode SynchronizeCache(bool raise);
  // SET LIMITS(12) with two 32-bit fields.
  ResultCode SetLimitsRaw(uint32_t first, uint32_t second);
  ResultCode SetLimits(uint32_t first, uint32_t second, bool raise);
  // MODE SELECT of the read-write error recovery page.
  ResultCode SetErrorRecoveryRaw(uint8_t recovery_flags, uint8_t retry_count);
  ResultCode SetErrorRecovery(uint8_t recovery_flags, uint8_t retry_count, bool raise);
  // MODE SELECT of a block descriptor (density, block length, block count);
  // the named form raises under "MODE SELECT".
  ResultCode SelectBlockDescriptorRaw(uint8_t density, uint32_t block_length, uint32_t block_count);
  ResultCode SelectBlockDescriptor(uint8_t density, uint32_t block_length, uint32_t block_count,
                                   bool raise);
  // EXCHANGE MEDIUM(12) of a medium changer.
  ResultCode ExchangeMediumRaw(uint16_t transport_address, uint16_t source_address,
                               uint16_t first_destination, uint16_t second_destination,
                               bool invert1, bool invert2, uint8_t vendor_bits);

  std::array<uint8_t, SENSE_LENGTH> last_sense{};
  char vendor[8] = {};
  char product[16] = {};
  char revision[4] = {};
  uint8_t host_adapter = 0;
  uint8_t target = 0;
  uint8_t lun = 0;
  uint8_t device_kind = DEVICE_DISK;
  uint8_t model_code = 0;
};

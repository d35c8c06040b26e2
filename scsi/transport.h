// The transport between ScsiDevice::Execute and a device: one interface with
// two backends (the Linux SCSI generic driver in scsi/linux/, the emulated bus
// in emulator/), chosen in one place above this layer (set_transport_factory). A backend fills in
// the three status bytes and the sense data that aspi_status_to_result translates; nothing above
// this interface knows which backend runs.
#pragma once

#include <cstdint>
#include <memory>

// Result of every device operation: 1 success, a negative message code on
// failure, 0 when a request never completed.
using ResultCode = int32_t;

// Request codes (SRB_Cmd).
constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;

// Request status (SRB_Status).
constexpr uint8_t SS_PENDING = 0x00;
constexpr uint8_t SS_COMP = 0x01;
constexpr uint8_t SS_ABORTED = 0x02;
constexpr uint8_t SS_ABORT_FAIL = 0x03;
constexpr uint8_t SS_ERR = 0x04;
constexpr uint8_t SS_INVALID_CMD = 0x80;
constexpr uint8_t SS_INVALID_HA = 0x81;
constexpr uint8_t SS_NO_DEVICE = 0x82;
constexpr uint8_t SS_INVALID_SRB = 0xE0;

// Host adapter status (SRB_HaStat).
constexpr uint8_t HASTAT_OK = 0x00;
constexpr uint8_t HASTAT_TIMEOUT = 0x09;
constexpr uint8_t HASTAT_COMMAND_TIMEOUT = 0x0B;
constexpr uint8_t HASTAT_MESSAGE_REJECT = 0x0D;
constexpr uint8_t HASTAT_BUS_RESET = 0x0E;
constexpr uint8_t HASTAT_PARITY_ERROR = 0x0F;
constexpr uint8_t HASTAT_REQUEST_SENSE_FAILED = 0x10;
constexpr uint8_t HASTAT_SEL_TO = 0x11;
constexpr uint8_t HASTAT_DO_DU = 0x12;
constexpr uint8_t HASTAT_BUS_FREE = 0x13;
constexpr uint8_t HASTAT_PHASE_ERR = 0x14;
// Not a defined host adapter status: what a backend reports for a host error
// that has no row of its own ("Unexpected host adapter error").
constexpr uint8_t HASTAT_OTHER_ERROR = 0x20;

// Target status (SRB_TargStat).
constexpr uint8_t STATUS_GOOD = 0x00;
constexpr uint8_t STATUS_CHECK_CONDITION = 0x02;
constexpr uint8_t STATUS_BUSY = 0x08;
constexpr uint8_t STATUS_RESERVATION_CONFLICT = 0x18;

// Direction flags (SRB_Flags) and completion notification.
constexpr uint8_t SRB_DIR_NONE = 0x00;
constexpr uint8_t SRB_DIR_IN = 0x08;
constexpr uint8_t SRB_DIR_OUT = 0x10;
constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

// Fixed-format sense data: the length kept and the bits of byte 2.
constexpr uint8_t SENSE_LENGTH = 18;
constexpr uint8_t SENSE_AREA_LENGTH = 20;
constexpr uint8_t SENSE_KEY_MASK = 0x0F;
constexpr uint8_t SENSE_EOM = 0x40;
constexpr uint8_t SENSE_ILI = 0x20;

// Sense keys.
constexpr uint8_t SENSE_KEY_NO_SENSE = 0x0;
constexpr uint8_t SENSE_KEY_RECOVERED_ERROR = 0x1;
constexpr uint8_t SENSE_KEY_NOT_READY = 0x2;
constexpr uint8_t SENSE_KEY_MEDIUM_ERROR = 0x3;
constexpr uint8_t SENSE_KEY_HARDWARE_ERROR = 0x4;
constexpr uint8_t SENSE_KEY_ILLEGAL_REQUEST = 0x5;
constexpr uint8_t SENSE_KEY_UNIT_ATTENTION = 0x6;
constexpr uint8_t SENSE_KEY_DATA_PROTECT = 0x7;
constexpr uint8_t SENSE_KEY_BLANK_CHECK = 0x8;
constexpr uint8_t SENSE_KEY_VENDOR_SPECIFIC = 0x9;
constexpr uint8_t SENSE_KEY_COPY_ABORTED = 0xA;
constexpr uint8_t SENSE_KEY_ABORTED_COMMAND = 0xB;
constexpr uint8_t SENSE_KEY_EQUAL = 0xC;
constexpr uint8_t SENSE_KEY_VOLUME_OVERFLOW = 0xD;
constexpr uint8_t SENSE_KEY_MISCOMPARE = 0xE;

// One request as it goes to the transport, shaped like the execute request
// block: ScsiDevice::Execute zero-fills it, sets the input fields, and the
// transport sets the status bytes, the sense area and the count of bytes
// moved. Execute presets `transferred` to buffer_length; a backend that
// knows how many bytes really moved (both of ours do) sets it, also after a
// failure.
struct ScsiRequest {
  uint8_t command_code = 0;  // SC_EXEC_SCSI_CMD
  uint8_t srb_status = 0;    // out: SS_...; SS_PENDING means it never completed
  uint8_t host_adapter = 0;
  uint8_t target = 0;
  uint8_t lun = 0;
  uint8_t flags = 0;          // SRB_DIR_... | SRB_EVENT_NOTIFY
  uint8_t* buffer = nullptr;  // null with length 0 when no data moves
  uint32_t buffer_length = 0;
  uint32_t transferred = 0;  // in/out: bytes that moved, at most buffer_length
  uint8_t sense_length = 0;  // SENSE_LENGTH
  uint8_t cdb_length = 0;
  uint8_t ha_status = 0;      // out: HASTAT_...
  uint8_t target_status = 0;  // out: STATUS_...
  uint8_t cdb[16] = {};
  uint8_t sense_area[SENSE_AREA_LENGTH] = {};  // out: sense data after CHECK CONDITION

  uint8_t direction() const { return flags & (SRB_DIR_IN | SRB_DIR_OUT); }
};

// A backend. Requests arrive one at a time; execute returns when the request
// has completed.
class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;
  // Prepares the backend (finds its devices); false when it cannot be used.
  virtual bool open() = 0;
  // Number of host adapters; addresses ha:id:lun with ha below it are valid.
  virtual uint8_t adapter_count() const = 0;
  // Runs one request and sets srb_status, ha_status, target_status, the
  // bytes transferred and, after CHECK CONDITION, the sense area. Never throws.
  virtual void execute(ScsiRequest& request) = 0;
  // True when the file with this device and inode number is one of the
  // files that hold a device's medium (an emulated disc's sheet, image or
  // state), so that a program never writes its output over a disc. Real
  // drives keep their discs in no file.
  virtual bool holds_medium_file(uint64_t /*device*/, uint64_t /*inode*/) const { return false; }
};

// The transport every ScsiDevice uses; null until aspi_open or a test installs one.
ScsiTransport* scsi_transport();

// Installs a transport (the library owns it) and gives back the previous one.
// Installing null makes the next aspi_open choose a backend again.
std::unique_ptr<ScsiTransport> install_scsi_transport(std::unique_ptr<ScsiTransport> transport);

// Makes the backend that aspi_open opens when none is installed. The program
// sets it at start-up (scsi/ knows no backend); without one aspi_open fails.
using TransportFactory = std::unique_ptr<ScsiTransport> (*)();
void set_transport_factory(TransportFactory factory);

// Opens the transport (making one with the transport factory when none is
// installed) and records its adapter count. Returns 1, or 0 when the backend
// cannot be used; then, with raise_on_failure, raises "Unable to initialize
// the ASPI manager".
int aspi_open(bool raise_on_failure);

// The adapter count recorded by the last successful aspi_open (0 before).
uint8_t aspi_adapter_count();

// Translates the three status bytes and the sense data (at least 3 bytes, or
// null) into a result code.
ResultCode aspi_status_to_result(uint8_t srb_status, uint8_t ha_status, uint8_t target_status,
                                 const uint8_t* sense);

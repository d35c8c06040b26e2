// One emulated device on the emulated bus: its identity, a table of command
// handlers indexed by operation code, its medium, the sense data of its last
// CHECK CONDITION, and the faults injected into it. Every device answers
// INQUIRY, TEST UNIT READY and REQUEST SENSE; a drive model (emulator/models.h)
// registers handlers for the rest. An operation code without a handler gets
// CHECK CONDITION, ILLEGAL REQUEST, invalid command operation code.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/sense.h"

// A problem in the EMULATED_SCSI_BUS value or in what a drive model was asked
// to load; the text says what and where.
struct EmulatedBusError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A disc that cannot be used as it stands (locked by another program, its
// files damaged): the bus value is right, and the text, a whole sentence,
// names the disc and says what is wrong.
struct EmulatedMediumError : EmulatedBusError {
  using EmulatedBusError::EmulatedBusError;
};

// Operation codes every emulated device answers itself.
constexpr uint8_t EMU_OP_TEST_UNIT_READY = 0x00;
constexpr uint8_t EMU_OP_REQUEST_SENSE = 0x03;
constexpr uint8_t EMU_OP_INQUIRY = 0x12;

// Inquiry device type bytes.
constexpr uint8_t EMU_TYPE_DISK = 0x00;
constexpr uint8_t EMU_TYPE_WORM = 0x04;
constexpr uint8_t EMU_TYPE_CDROM = 0x05;
constexpr uint8_t EMU_TYPE_CHANGER = 0x08;
constexpr uint8_t EMU_TYPE_UNKNOWN = 0xFF;
// What a target answers in INQUIRY byte 0 for a LUN it does not have.
constexpr uint8_t EMU_TYPE_NO_LUN = 0x7F;

// What the device reports in INQUIRY.
struct EmulatedIdentity {
  std::string vendor = "EMULATED";  // at most 8 characters, padded with blanks
  std::string product;              // at most 16 characters, padded with blanks
  std::string revision = "1.00";    // at most 4 characters, padded with blanks
  uint8_t device_type = EMU_TYPE_CDROM;
  bool device_type_given = false;  // the bus value set it with type=
};

// A command injected to fail: the next `remaining` commands with `opcode`
// end in CHECK CONDITION with `sense`.
struct CommandFault {
  uint8_t opcode = 0;
  SenseCondition sense{};
  uint8_t flags = 0;  // SENSE_EOM, SENSE_ILI beside the key
  unsigned remaining = 1;
};

// Faults of one device. The counted answers apply to the first commands
// other than INQUIRY and REQUEST SENSE, in this order: BUSY status, then
// UNIT ATTENTION (power on), then NOT READY (becoming ready). After them,
// the device answers NOT READY (becoming ready) until `spin_up_ms` of the
// emulated clock (emulator/clock.h) have passed since it was made.
// `latency_ms` is real time every command takes, as on a slow drive: the
// one pause that is not virtual, so that a test can stop a program mid-run.
struct FaultPlan {
  unsigned busy = 0;
  unsigned unit_attention = 0;
  unsigned not_ready = 0;
  uint64_t spin_up_ms = 0;
  unsigned latency_ms = 0;
  std::vector<CommandFault> failures;
};

// One device of the EMULATED_SCSI_BUS value.
struct EmulatedDeviceSpec {
  uint8_t host_adapter = 0;
  uint8_t target = 0;
  uint8_t lun = 0;
  EmulatedIdentity identity;
  std::string medium;  // medium=, empty when not given
  FaultPlan faults;
  std::map<std::string, std::string> items;  // items left for the drive model
  std::string text;                          // the entry as written, for messages
};

// A command as the device sees it.
struct EmulatedCommand {
  const uint8_t* cdb = nullptr;
  uint8_t cdb_length = 0;
  uint8_t direction = SRB_DIR_NONE;
  uint8_t* buffer = nullptr;
  uint32_t buffer_length = 0;
  uint32_t* sent = nullptr;  // when given: the most bytes any send_data copied

  uint8_t opcode() const { return cdb_length ? cdb[0] : 0xFF; }
  // Copies data in for the host from the start of its buffer: at most
  // `allocation` bytes and at most the buffer's length. Returns the count
  // copied.
  uint32_t send_data(const uint8_t* data, uint32_t length, uint32_t allocation) const;
  // Records that `length` bytes from the start of the host's buffer were
  // written in place (reads that fill the buffer sector by sector).
  void wrote_in_place(uint32_t length) const;
};

// How a command ended.
struct EmulatedAnswer {
  uint8_t target_status = STATUS_GOOD;
  SenseCondition sense{};
  uint8_t sense_flags = 0;  // SENSE_EOM, SENSE_ILI
  bool information_valid = false;
  uint32_t information = 0;  // sense bytes 3-6
  // Sense key specific progress indication (bytes 15-17): the share done
  // of an operation in progress, of 65536.
  bool progress_valid = false;
  uint16_t progress = 0;

  static EmulatedAnswer good() { return {}; }
  static EmulatedAnswer busy() { return {STATUS_BUSY, {}, 0, false, 0}; }
  static EmulatedAnswer check(SenseCondition sense, uint8_t flags = 0) {
    return {STATUS_CHECK_CONDITION, sense, flags, false, 0};
  }
  // Whether the command was done: a good answer, or one of NO SENSE or
  // RECOVERED ERROR, which report a condition of a command carried out.
  bool carried_out() const {
    return target_status == STATUS_GOOD ||
           (target_status == STATUS_CHECK_CONDITION &&
            (sense.key == SENSE_KEY_NO_SENSE || sense.key == SENSE_KEY_RECOVERED_ERROR));
  }
};

// A command the drive refuses: CHECK CONDITION with `sense`.
inline EmulatedAnswer refuse(SenseCondition sense) { return EmulatedAnswer::check(sense); }

// A disc in a drive. Drive models derive their own media from it.
class EmulatedMedium {
 public:
  explicit EmulatedMedium(std::string medium_name) : name(std::move(medium_name)) {}
  virtual ~EmulatedMedium() = default;
  std::string name;  // as given with medium=
};

// A drive's tray as a disc transporter works it: drive models whose discs a
// transporter can change give their device one.
class EmulatedTray {
 public:
  virtual ~EmulatedTray() = default;
  // Whether the host has opened the tray (ejected the disc).
  virtual bool open() const = 0;
  // Whether a disc lies in the open tray, and whether it holds a recording.
  virtual bool holds_disc() const = 0;
  virtual bool holds_recording() const = 0;
  // Where the drive keeps its disc (medium=PATH).
  virtual const std::string& disc_path() const = 0;
  // Takes the disc out of the open tray; a recorded disc's files are kept as
  // keep_path.cue, .bin and .state (empty: a blank disc, nothing kept).
  // False when the files cannot be moved; the disc then stays.
  virtual bool take_disc(const std::string& keep_path) = 0;
  // Puts a blank disc into the open, empty tray.
  virtual void put_blank() = 0;
};

class EmulatedDevice;
using EmulatedHandler = std::function<EmulatedAnswer(EmulatedDevice&, const EmulatedCommand&)>;

// A handler that calls `Handler(state, device, command)`: how a drive model
// gives its commands the state they share.
template <auto Handler, typename State>
EmulatedHandler bind_handler(const State& state) {
  return [state](EmulatedDevice& device, const EmulatedCommand& command) {
    return Handler(state, device, command);
  };
}

class EmulatedDevice {
 public:
  explicit EmulatedDevice(EmulatedDeviceSpec spec);
  virtual ~EmulatedDevice() = default;

  uint8_t host_adapter() const { return spec_.host_adapter; }
  uint8_t target() const { return spec_.target; }
  uint8_t lun() const { return spec_.lun; }
  EmulatedIdentity& identity() { return spec_.identity; }
  const EmulatedIdentity& identity() const { return spec_.identity; }
  // medium= as written (empty when not given).
  const std::string& medium_item() const { return spec_.medium; }

  // Installs (or, with an empty function, removes) the handler of an opcode.
  void set_handler(uint8_t opcode, EmulatedHandler handler);
  // The length of an opcode's command block. The group code (its top three
  // bits) gives it: 6 bytes for group 0, 10 for groups 1 and 2, 16 for group
  // 4, 12 for group 5, and 10 for the vendor-specific groups 6 and 7, whose
  // 12-byte commands a model names with set_command_length. Group 3 has no
  // length (0) unless given. A command whose block is not this long is
  // refused before its handler reads a byte: ILLEGAL REQUEST, invalid field
  // in CDB.
  uint8_t command_length(uint8_t opcode) const;
  void set_command_length(uint8_t opcode, uint8_t length) { command_lengths_[opcode] = length; }
  // The handler of an opcode (empty when the device has none), for a model
  // that wraps what another model installed.
  const EmulatedHandler& handler(uint8_t opcode) const { return handlers_[opcode]; }

  // A model-specific item of the bus value; taking it marks it as known.
  std::optional<std::string> take_item(const std::string& key);
  // Items nobody took (after the drive model installed itself).
  std::vector<std::string> untaken_items() const;

  // The loaded medium, or null when the drive is empty. A device given
  // medium= starts with a plain EmulatedMedium of that name, which its drive
  // model may replace.
  EmulatedMedium* medium() const { return medium_.get(); }
  void set_medium(std::unique_ptr<EmulatedMedium> medium) { medium_ = std::move(medium); }
  // Takes the medium out of the drive, which is then empty (null when it was).
  std::unique_ptr<EmulatedMedium> take_medium() { return std::move(medium_); }
  template <typename T>
  T* medium_as() const {
    return dynamic_cast<T*>(medium_.get());
  }

  // The tray a disc transporter works, or null.
  EmulatedTray* tray() const { return tray_.get(); }
  void set_tray(std::shared_ptr<EmulatedTray> tray) { tray_ = std::move(tray); }

  // The devices on the same bus (set by the bus once all exist), for devices
  // that act on others; empty until then.
  const std::vector<EmulatedDevice*>& bus_devices() const { return bus_devices_; }
  void set_bus_devices(std::vector<EmulatedDevice*> devices) { bus_devices_ = std::move(devices); }

  // The files that hold the device's media, as paths: a drive model adds
  // where it keeps them (a reader its cue sheet and image files, a recorder
  // its disc's files, a transporter the discs it put aside). Asked each time,
  // so a file made later counts too.
  void add_medium_files(std::function<std::vector<std::string>()> files) {
    medium_files_.push_back(std::move(files));
  }
  std::vector<std::string> medium_files() const;

  // Whether the device holds no media (disk, changer): then TEST UNIT READY
  // needs no medium.
  bool takes_media() const;

  // Runs one command: injected faults first, then the check of its length,
  // then the handler of its opcode.
  // Fills the 18 sense bytes after CHECK CONDITION and keeps them for REQUEST
  // SENSE.
  EmulatedAnswer run(const EmulatedCommand& command, uint8_t* sense_out);

  // The sense data that REQUEST SENSE would return now.
  const std::array<uint8_t, SENSE_LENGTH>& pending_sense() const { return pending_sense_; }

  // Fixed-format sense data of an answer.
  static std::array<uint8_t, SENSE_LENGTH> sense_data(const EmulatedAnswer& answer);

 private:
  std::optional<EmulatedAnswer> injected_fault(uint8_t opcode);

  EmulatedDeviceSpec spec_;
  std::array<EmulatedHandler, 256> handlers_{};
  std::array<uint8_t, 256> command_lengths_{};  // 0: the group code's length
  uint64_t ready_at_ms_ = 0;                    // the clock when spin-up ends
  std::map<std::string, bool> taken_;
  std::unique_ptr<EmulatedMedium> medium_;
  std::shared_ptr<EmulatedTray> tray_;
  std::vector<EmulatedDevice*> bus_devices_;
  std::vector<std::function<std::vector<std::string>()>> medium_files_;
  std::array<uint8_t, SENSE_LENGTH> pending_sense_{};
};

#include "emulator/device.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/byteorder.h"
#include "emulator/clock.h"

namespace {

// Length of the INQUIRY data an emulated device holds (standard data plus
// the vendor area, as CD drives of the time return).
constexpr uint32_t INQUIRY_DATA_LENGTH = 96;

void put_padded(uint8_t* out, const std::string& text, std::size_t width) {
  std::memset(out, ' ', width);
  std::memcpy(out, text.data(), std::min(text.size(), width));
}

EmulatedAnswer answer_inquiry(EmulatedDevice& device, const EmulatedCommand& command) {
  if (command.cdb[1] & 0x01) return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);  // EVPD
  const EmulatedIdentity& identity = device.identity();
  uint8_t data[INQUIRY_DATA_LENGTH] = {};
  data[0] = identity.device_type;
  data[1] = device.takes_media() ? 0x80 : 0x00;  // removable medium
  data[2] = 0x02;                                // SCSI-2
  data[3] = 0x02;                                // response data format
  data[4] = INQUIRY_DATA_LENGTH - 5;
  put_padded(data + 8, identity.vendor, 8);
  put_padded(data + 16, identity.product, 16);
  put_padded(data + 32, identity.revision, 4);
  command.send_data(data, sizeof data, command.cdb[4]);
  return EmulatedAnswer::good();
}

EmulatedAnswer answer_test_unit_ready(EmulatedDevice& device, const EmulatedCommand&) {
  if (device.takes_media() && device.medium() == nullptr)
    return EmulatedAnswer::check(SENSE_MEDIUM_NOT_PRESENT);
  return EmulatedAnswer::good();
}

EmulatedAnswer answer_request_sense(EmulatedDevice& device, const EmulatedCommand& command) {
  std::array<uint8_t, SENSE_LENGTH> data = device.pending_sense();
  if (data[0] == 0) data = EmulatedDevice::sense_data(EmulatedAnswer::check(SENSE_NONE));
  command.send_data(data.data(), SENSE_LENGTH, command.cdb[4]);
  return EmulatedAnswer::good();
}

}  // namespace

uint32_t EmulatedCommand::send_data(const uint8_t* data, uint32_t length,
                                    uint32_t allocation) const {
  if (buffer == nullptr || direction != SRB_DIR_IN) return 0;
  const uint32_t count = std::min({length, allocation, buffer_length});
  if (count > 0) std::memcpy(buffer, data, count);
  if (sent != nullptr) *sent = std::max(*sent, count);
  return count;
}

void EmulatedCommand::wrote_in_place(uint32_t length) const {
  if (sent != nullptr) *sent = std::max(*sent, std::min(length, buffer_length));
}

EmulatedDevice::EmulatedDevice(EmulatedDeviceSpec spec) : spec_(std::move(spec)) {
  for (const auto& item : spec_.items) taken_[item.first] = false;
  if (!spec_.medium.empty()) medium_ = std::make_unique<EmulatedMedium>(spec_.medium);
  handlers_[EMU_OP_INQUIRY] = answer_inquiry;
  handlers_[EMU_OP_TEST_UNIT_READY] = answer_test_unit_ready;
  handlers_[EMU_OP_REQUEST_SENSE] = answer_request_sense;
  ready_at_ms_ = emulated_clock_ms() + spec_.faults.spin_up_ms;
}

void EmulatedDevice::set_handler(uint8_t opcode, EmulatedHandler handler) {
  handlers_[opcode] = std::move(handler);
}

uint8_t EmulatedDevice::command_length(uint8_t opcode) const {
  if (command_lengths_[opcode] != 0) return command_lengths_[opcode];
  static constexpr uint8_t GROUP_LENGTHS[8] = {6, 10, 10, 0, 16, 12, 10, 10};
  return GROUP_LENGTHS[opcode >> 5];
}

std::optional<std::string> EmulatedDevice::take_item(const std::string& key) {
  const auto found = spec_.items.find(key);
  if (found == spec_.items.end()) return std::nullopt;
  taken_[key] = true;
  return found->second;
}

std::vector<std::string> EmulatedDevice::untaken_items() const {
  std::vector<std::string> keys;
  for (const auto& [key, taken] : taken_)
    if (!taken) keys.push_back(key);
  return keys;
}

std::vector<std::string> EmulatedDevice::medium_files() const {
  std::vector<std::string> paths;
  for (const auto& files : medium_files_)
    for (std::string& path : files()) paths.push_back(std::move(path));
  return paths;
}

bool EmulatedDevice::takes_media() const {
  const uint8_t type = spec_.identity.device_type;
  return type == EMU_TYPE_WORM || type == EMU_TYPE_CDROM || type == EMU_TYPE_UNKNOWN;
}

std::optional<EmulatedAnswer> EmulatedDevice::injected_fault(uint8_t opcode) {
  FaultPlan& faults = spec_.faults;
  for (CommandFault& fault : faults.failures) {
    if (fault.opcode == opcode && fault.remaining > 0) {
      --fault.remaining;
      return EmulatedAnswer::check(fault.sense, fault.flags);
    }
  }
  if (opcode == EMU_OP_INQUIRY || opcode == EMU_OP_REQUEST_SENSE) return std::nullopt;
  if (faults.busy > 0) {
    --faults.busy;
    return EmulatedAnswer::busy();
  }
  if (faults.unit_attention > 0) {
    --faults.unit_attention;
    return EmulatedAnswer::check(SENSE_POWER_ON_RESET);
  }
  if (faults.not_ready > 0) {
    --faults.not_ready;
    return EmulatedAnswer::check(SENSE_BECOMING_READY);
  }
  if (emulated_clock_ms() < ready_at_ms_) return EmulatedAnswer::check(SENSE_BECOMING_READY);
  return std::nullopt;
}

EmulatedAnswer EmulatedDevice::run(const EmulatedCommand& command, uint8_t* sense_out) {
  const uint8_t opcode = command.opcode();
  if (spec_.faults.latency_ms != 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(spec_.faults.latency_ms));
  std::optional<EmulatedAnswer> answer = injected_fault(opcode);
  // NO SENSE and RECOVERED ERROR say the command was carried out: it is,
  // and the injected sense is reported when nothing else went wrong.
  if (!answer || answer->carried_out()) {
    const EmulatedHandler& handler = handlers_[opcode];
    EmulatedAnswer done = !handler ? EmulatedAnswer::check(SENSE_INVALID_OPCODE)
                          : command.cdb_length != command_length(opcode)
                              ? EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB)
                              : handler(*this, command);
    if (!answer || done.target_status != STATUS_GOOD) answer = done;
  }
  if (answer->target_status == STATUS_CHECK_CONDITION) {
    pending_sense_ = sense_data(*answer);
    if (sense_out != nullptr) std::memcpy(sense_out, pending_sense_.data(), SENSE_LENGTH);
  } else if (answer->target_status == STATUS_GOOD) {
    pending_sense_.fill(0);
  }
  return *answer;
}

std::array<uint8_t, SENSE_LENGTH> EmulatedDevice::sense_data(const EmulatedAnswer& answer) {
  std::array<uint8_t, SENSE_LENGTH> data{};
  data[0] = static_cast<uint8_t>(answer.information_valid ? 0xF0 : 0x70);
  data[2] = static_cast<uint8_t>((answer.sense.key & SENSE_KEY_MASK) | answer.sense_flags);
  put_be32(data.data() + 3, answer.information);
  data[7] = SENSE_LENGTH - 8;
  data[12] = answer.sense.asc;
  data[13] = answer.sense.ascq;
  if (answer.progress_valid) {
    data[15] = 0x80;  // SKSV
    put_be16(data.data() + 16, answer.progress);
  }
  return data;
}

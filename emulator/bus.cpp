#include "emulator/bus.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/console.h"
#include "common/numbers.h"
#include "emulator/models.h"

namespace {

constexpr unsigned MAX_HOST_ADAPTER = 15;
constexpr unsigned MAX_TARGET = 7;
constexpr unsigned MAX_LUN = 7;

std::string trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

[[noreturn]] void reject(const std::string& entry, const std::string& problem) {
  throw EmulatedBusError(problem + " in \"" + entry + "\"");
}

// A whole number in decimal, or in hex with 0x (or in the base given, 10 or
// 16), read in full; false when it is not one or exceeds `max`.
bool parse_number(const std::string& text, unsigned long max, unsigned long* out, int base = 0) {
  const bool hex_prefix = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  uint64_t value = 0;
  const bool hex = base == 16 || (base == 0 && hex_prefix);
  if (!(hex ? parse_hex(text, max, &value) : parse_decimal(text, max, &value))) return false;
  *out = static_cast<unsigned long>(value);
  return true;
}

uint8_t parse_byte(const std::string& entry, const std::string& text, unsigned max,
                   const char* what, int base = 0) {
  unsigned long value = 0;
  if (!parse_number(trim(text), max, &value, base)) reject(entry, std::string("bad ") + what);
  return static_cast<uint8_t>(value);
}

void parse_address(const std::string& entry, const std::string& text, EmulatedDeviceSpec* spec) {
  const std::vector<std::string> fields = split(trim(text), ':');
  unsigned long ha = 0, id = 0, lun = 0;
  if (fields.size() != 3 || !parse_number(fields[0], MAX_HOST_ADAPTER, &ha, 10) ||
      !parse_number(fields[1], MAX_TARGET, &id, 10) || !parse_number(fields[2], MAX_LUN, &lun, 10))
    reject(entry, "bad address \"" + trim(text) + "\" (ha:id:lun, ha 0 to 15, id and lun 0 to 7)");
  spec->host_adapter = static_cast<uint8_t>(ha);
  spec->target = static_cast<uint8_t>(id);
  spec->lun = static_cast<uint8_t>(lun);
}

std::string checked_text(const std::string& entry, const std::string& text, std::size_t most,
                         const char* what) {
  if (text.empty()) reject(entry, std::string("empty ") + what);
  if (text.size() > most)
    reject(entry, std::string(what) + " longer than " + std::to_string(most) + " characters");
  for (const char c : text)
    if (c < 0x20 || c > 0x7E)
      reject(entry, std::string(what) + " with a character that is not printable");
  return text;
}

// fail=OP:K/ASC/ASCQ[*N], all hex but N.
CommandFault parse_failure(const std::string& entry, const std::string& value) {
  const std::string usage = "bad fail item \"" + value + "\" (OP:KEY/ASC/ASCQ[*N], in hex)";
  std::string text = value;
  CommandFault fault;
  const std::size_t star = text.find('*');
  if (star != std::string::npos) {
    unsigned long count = 0;
    if (!parse_number(text.substr(star + 1), 1000000, &count, 10) || count == 0)
      reject(entry, usage);
    fault.remaining = static_cast<unsigned>(count);
    text.resize(star);
  }
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) reject(entry, usage);
  const std::vector<std::string> sense = split(text.substr(colon + 1), '/');
  unsigned long opcode = 0, key = 0, asc = 0, ascq = 0;
  // KEY is sense byte 2: the key, and above it the end-of-medium (40) and
  // incorrect-length (20) bits a drive may set beside it.
  if (sense.size() != 3 || !parse_number(text.substr(0, colon), 0xFF, &opcode, 16) ||
      !parse_number(sense[0], 0xFF, &key, 16) ||
      (key & ~(SENSE_KEY_MASK | SENSE_EOM | SENSE_ILI)) != 0 ||
      !parse_number(sense[1], 0xFF, &asc, 16) || !parse_number(sense[2], 0xFF, &ascq, 16))
    reject(entry, usage);
  fault.opcode = static_cast<uint8_t>(opcode);
  fault.sense = {static_cast<uint8_t>(key & SENSE_KEY_MASK), static_cast<uint8_t>(asc),
                 static_cast<uint8_t>(ascq)};
  fault.flags = static_cast<uint8_t>(key & (SENSE_EOM | SENSE_ILI));
  return fault;
}

unsigned parse_count(const std::string& entry, const std::string& key, const std::string& value) {
  unsigned long count = 0;
  if (!parse_number(value, 1000000, &count, 10))
    reject(entry, "bad count in \"" + key + "=" + value + "\"");
  return static_cast<unsigned>(count);
}

void parse_item(const std::string& entry, const std::string& item, EmulatedDeviceSpec* spec) {
  const std::size_t equals = item.find('=');
  if (equals == std::string::npos) reject(entry, "item \"" + trim(item) + "\" is not key=value");
  std::string key = trim(item.substr(0, equals));
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::string value = trim(item.substr(equals + 1));
  EmulatedIdentity& identity = spec->identity;
  if (key == "vendor") {
    identity.vendor = checked_text(entry, value, 8, "vendor");
  } else if (key == "revision") {
    identity.revision = checked_text(entry, value, 4, "revision");
  } else if (key == "type") {
    const uint8_t type = parse_byte(entry, value, 0xFF, "type (0, 4, 5, 8 or 0xFF)");
    if (type != EMU_TYPE_DISK && type != EMU_TYPE_WORM && type != EMU_TYPE_CDROM &&
        type != EMU_TYPE_CHANGER && type != EMU_TYPE_UNKNOWN)
      reject(entry, "bad type \"" + value + "\" (0, 4, 5, 8 or 0xFF)");
    identity.device_type = type;
    identity.device_type_given = true;
  } else if (key == "medium") {
    spec->medium = checked_text(entry, value, 4096, "medium");
  } else if (key == "fail") {
    spec->faults.failures.push_back(parse_failure(entry, value));
  } else if (key == "notready") {
    spec->faults.not_ready = parse_count(entry, key, value);
  } else if (key == "attention") {
    spec->faults.unit_attention = parse_count(entry, key, value);
  } else if (key == "busy") {
    spec->faults.busy = parse_count(entry, key, value);
  } else if (key == "latency") {
    spec->faults.latency_ms = parse_count(entry, key, value);
  } else if (key == "spinup") {
    spec->faults.spin_up_ms = parse_count(entry, key, value) * uint64_t{1000};
  } else if (key.empty()) {
    reject(entry, "item \"" + trim(item) + "\" has no key");
  } else if (!spec->items.emplace(key, value).second) {
    reject(entry, "item \"" + key + "\" given twice");
  }
}

EmulatedDeviceSpec parse_entry(const std::string& entry) {
  EmulatedDeviceSpec spec;
  spec.text = entry;
  const std::size_t equals = entry.find('=');
  if (equals == std::string::npos) reject(entry, "no '=' after the address");
  parse_address(entry, entry.substr(0, equals), &spec);
  const std::vector<std::string> parts = split(entry.substr(equals + 1), ',');
  spec.identity.product = checked_text(entry, parts[0], 16, "product");
  if (spec.identity.product == "DISC TRANSPORTER") spec.identity.device_type = EMU_TYPE_CHANGER;
  for (std::size_t i = 1; i < parts.size(); ++i) parse_item(entry, parts[i], &spec);
  return spec;
}

}  // namespace

std::vector<EmulatedDeviceSpec> parse_emulated_bus(const std::string& value) {
  std::vector<EmulatedDeviceSpec> specs;
  for (const std::string& raw : split(value, ';')) {
    const std::string entry = trim(raw);
    if (entry.empty()) continue;
    EmulatedDeviceSpec spec = parse_entry(entry);
    for (const EmulatedDeviceSpec& other : specs) {
      if (other.host_adapter == spec.host_adapter && other.target == spec.target &&
          other.lun == spec.lun)
        reject(entry, "address used twice");
    }
    specs.push_back(std::move(spec));
  }
  return specs;
}

EmulatedBus::EmulatedBus(const std::vector<EmulatedDeviceSpec>& specs) {
  for (const EmulatedDeviceSpec& spec : specs) {
    auto device = std::make_unique<EmulatedDevice>(spec);
    install_emulated_model(*device);
    const std::vector<std::string> unknown = device->untaken_items();
    if (!unknown.empty()) reject(spec.text, "unknown item \"" + unknown.front() + "\"");
    devices_.push_back(std::move(device));
  }
  std::vector<EmulatedDevice*> all;
  for (const auto& device : devices_) all.push_back(device.get());
  for (const auto& device : devices_) device->set_bus_devices(all);
}

uint8_t EmulatedBus::adapter_count() const {
  unsigned count = 1;
  for (const auto& device : devices_) count = std::max(count, device->host_adapter() + 1u);
  return static_cast<uint8_t>(count);
}

EmulatedDevice* EmulatedBus::device(uint8_t ha, uint8_t id, uint8_t lun) const {
  for (const auto& device : devices_)
    if (device->host_adapter() == ha && device->target() == id && device->lun() == lun)
      return device.get();
  return nullptr;
}

void EmulatedBus::execute(ScsiRequest& request) {
  request.transferred = 0;
  request.ha_status = HASTAT_OK;
  request.target_status = STATUS_GOOD;
  if (request.command_code != SC_EXEC_SCSI_CMD || request.cdb_length < 6 ||
      request.cdb_length > sizeof request.cdb) {
    request.srb_status = SS_INVALID_SRB;
    return;
  }
  if (request.host_adapter >= adapter_count()) {
    request.srb_status = SS_INVALID_HA;
    return;
  }
  uint32_t sent = 0;
  const EmulatedCommand command{request.cdb,    request.cdb_length,    request.direction(),
                                request.buffer, request.buffer_length, &sent};
  EmulatedDevice* device = this->device(request.host_adapter, request.target, request.lun);
  EmulatedAnswer answer;
  if (device != nullptr) {
    answer = device->run(command, request.sense_area);
  } else {
    const bool target_present = std::any_of(devices_.begin(), devices_.end(), [&](const auto& d) {
      return d->host_adapter() == request.host_adapter && d->target() == request.target;
    });
    if (!target_present) {
      request.srb_status = SS_NO_DEVICE;
      return;
    }
    // A target answers for a LUN it lacks: INQUIRY says so, the rest fail.
    if (command.opcode() == EMU_OP_INQUIRY) {
      const uint8_t no_lun = EMU_TYPE_NO_LUN;
      command.send_data(&no_lun, 1, request.cdb[4]);
    } else {
      answer = EmulatedAnswer::check(SENSE_LUN_NOT_SUPPORTED);
      const auto sense = EmulatedDevice::sense_data(answer);
      std::memcpy(request.sense_area, sense.data(), SENSE_LENGTH);
    }
  }
  request.target_status = answer.target_status;
  request.srb_status = answer.target_status == STATUS_GOOD ? SS_COMP : SS_ERR;
  // A device takes the whole of the data it is sent once it carries the
  // command out, also where it then reports NO SENSE or RECOVERED ERROR.
  const bool data_out = request.direction() == SRB_DIR_OUT && request.buffer != nullptr;
  request.transferred = data_out ? (answer.carried_out() ? request.buffer_length : 0) : sent;
}

bool EmulatedBus::holds_medium_file(uint64_t device, uint64_t inode) const {
  for (const auto& each : devices_) {
    for (const std::string& path : each->medium_files()) {
      struct stat info {};
      if (::stat(path.c_str(), &info) == 0 && static_cast<uint64_t>(info.st_dev) == device &&
          static_cast<uint64_t>(info.st_ino) == inode)
        return true;
    }
  }
  return false;
}

std::unique_ptr<EmulatedBus> make_emulated_bus(const std::string& value) {
  try {
    return std::make_unique<EmulatedBus>(parse_emulated_bus(value));
  } catch (const EmulatedMediumError& error) {
    fail_with(std::string("\nError: ") + error.what() + "\n");
  } catch (const EmulatedBusError& error) {
    fail_with(std::string("\nError: Invalid EMULATED_SCSI_BUS value: ") + error.what() + "\n");
  }
}

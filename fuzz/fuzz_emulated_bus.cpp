// Feeds arbitrary text to the EMULATED_SCSI_BUS parser. A value either throws
// EmulatedBusError or yields devices whose every field is in range; a bus
// without media is also built (its drive models read their own items) and
// answers INQUIRY at each address. Anything else stops the run.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include "emulator/bus.h"
#include "scsi/device.h"

namespace {

bool printable(const std::string& text, std::size_t most) {
  if (text.empty() || text.size() > most) return false;
  for (const char c : text)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

void check_specs(const std::vector<EmulatedDeviceSpec>& specs) {
  std::set<std::tuple<uint8_t, uint8_t, uint8_t>> addresses;
  for (const EmulatedDeviceSpec& spec : specs) {
    if (spec.host_adapter > 15 || spec.target > 7 || spec.lun > 7) std::abort();
    if (!addresses.emplace(spec.host_adapter, spec.target, spec.lun).second) std::abort();
    const EmulatedIdentity& identity = spec.identity;
    if (!printable(identity.product, 16) || !printable(identity.vendor, 8) ||
        !printable(identity.revision, 4))
      std::abort();
    const FaultPlan& faults = spec.faults;
    if (faults.busy > 1000000 || faults.unit_attention > 1000000 || faults.not_ready > 1000000)
      std::abort();
    for (const CommandFault& fault : faults.failures)
      if (fault.remaining == 0 || fault.remaining > 1000000 || fault.sense.key > 0xF) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string value(reinterpret_cast<const char*>(data), size);
  std::vector<EmulatedDeviceSpec> specs;
  try {
    specs = parse_emulated_bus(value);
  } catch (const EmulatedBusError& error) {
    if (std::string(error.what()).empty()) std::abort();
    return 0;
  }
  check_specs(specs);
  for (const EmulatedDeviceSpec& spec : specs)
    if (!spec.medium.empty()) return 0;  // media are files: not this target's business
  try {
    EmulatedBus bus(specs);
    for (const EmulatedDeviceSpec& spec : specs) {
      uint8_t inquiry[INQUIRY_LENGTH] = {};
      ScsiRequest request;
      request.command_code = SC_EXEC_SCSI_CMD;
      request.host_adapter = spec.host_adapter;
      request.target = spec.target;
      request.lun = spec.lun;
      request.flags = SRB_DIR_IN;
      request.buffer = inquiry;
      request.buffer_length = INQUIRY_LENGTH;
      request.cdb_length = 6;
      request.cdb[0] = 0x12;  // INQUIRY
      request.cdb[4] = INQUIRY_LENGTH;
      bus.execute(request);
      if (request.transferred > INQUIRY_LENGTH) std::abort();
    }
  } catch (const EmulatedBusError& error) {
    if (std::string(error.what()).empty()) std::abort();
  }
  return 0;
}

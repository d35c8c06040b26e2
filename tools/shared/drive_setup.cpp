// The one place where the backend is chosen.
#include "tools/shared/drive_setup.h"

#include <cstdlib>

#include "common/console.h"
#include "common/switches.h"
#include "drivers/driver_factory.h"
#include "drivers/mmc_drive.h"
#include "emulator/bus.h"
#include "emulator/clock.h"
#include "scsi/linux/sg_transport.h"
#include "scsi/scan.h"

std::unique_ptr<ScsiTransport> make_default_transport() {
  if (const char* value = std::getenv("EMULATED_SCSI_BUS")) {
    std::unique_ptr<ScsiTransport> bus = make_emulated_bus(value);
    // Emulated drives take time on their own clock: a pause moves it on
    // instead of waiting.
    set_virtual_pauses(advance_emulated_clock);
    return bus;
  }
  set_virtual_pauses({});
  return std::make_unique<SgTransport>();
}

void install_drive_setup() {
  set_transport_factory(&make_default_transport);
  set_driver_factory(&create_driver);
  set_unknown_drive_probe(&probe_mmc_drive);
}

ScsiDevice* find_device_at(uint16_t kind_mask, const DeviceAddress& address) {
  if (address.host_adapter >= ANY_ADDRESS || address.id >= ANY_ADDRESS ||
      address.lun >= ANY_ADDRESS)
    return nullptr;
  return find_device(kind_mask, static_cast<uint8_t>(address.host_adapter),
                     static_cast<uint8_t>(address.id), static_cast<uint8_t>(address.lun));
}

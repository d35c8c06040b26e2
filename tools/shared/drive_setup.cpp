// The one place where the backend is chosen.
#include "tools/shared/drive_setup.h"

#include <cstdlib>

#include "drivers/driver_factory.h"
#include "emulator/bus.h"
#include "scsi/linux/sg_transport.h"
#include "scsi/scan.h"

std::unique_ptr<ScsiTransport> make_default_transport() {
  if (const char* bus = std::getenv("EMULATED_SCSI_BUS")) return make_emulated_bus(bus);
  return std::make_unique<SgTransport>();
}

void install_drive_setup() {
  set_transport_factory(&make_default_transport);
  set_driver_factory(&create_driver);
}

// The one place where the backend is chosen.
#include <cstdlib>

#include "emulator/bus.h"
#include "scsi/linux/sg_transport.h"
#include "scsi/transport.h"

std::unique_ptr<ScsiTransport> make_default_transport() {
  if (const char* bus = std::getenv("EMULATED_SCSI_BUS")) return make_emulated_bus(bus);
  return std::make_unique<SgTransport>();
}

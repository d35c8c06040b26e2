// Start-up of every drive program: gives the SCSI layer its backend and the
// drivers' factory, the two choices that scsi/ leaves to the layers above it.
#pragma once

#include <cstdint>
#include <memory>

#include "scsi/transport.h"

// The backend the environment asks for: the emulated bus when
// EMULATED_SCSI_BUS is set (a malformed value prints its error and throws
// ToolExit{1}), else the Linux SCSI generic driver.
std::unique_ptr<ScsiTransport> make_default_transport();

// Installs make_default_transport as the transport factory, the drivers'
// create_driver as the driver factory of the bus scan and probe_mmc_drive as
// its probe of CD drives the model tables do not know.
void install_drive_setup();

class ScsiDevice;
struct DeviceAddress;

// The first device of a kind in kind_mask at exactly `address`; null when
// none is there (an address part above 254 matches no device).
ScsiDevice* find_device_at(uint16_t kind_mask, const DeviceAddress& address);

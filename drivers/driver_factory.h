// The drivers' side of the bus scan: the driver object of each model code.
#pragma once

#include <cstdint>
#include <memory>

#include "scsi/device.h"

// The driver object for a model code: the family class of a reader or
// recorder model, the generic reader for every other CD drive, a plain
// ScsiDevice for disks and the disc transporter. Never null.
std::unique_ptr<ScsiDevice> create_driver(uint8_t model_code);

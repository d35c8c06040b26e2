// The emulated readers of model codes 31 and 32 (Sony), chosen by product:
// the CD-ROM drive's commands, READ TOC format 5 with the disc's CD-TEXT (it
// reads the R-W subchannel), and the vendor speed page 31h with the
// family's speed values: 00h and 01h, and FFh (the highest speed) on code
// 32. Another value is refused with INVALID FIELD IN PARAMETER LIST.
#pragma once

#include "emulator/device.h"

bool sony_drive_serves(const EmulatedDevice& device);

// Throws EmulatedBusError when the medium cannot be loaded.
void install_sony_drive(EmulatedDevice& device);

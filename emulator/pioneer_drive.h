// The emulated readers of model codes 25 and 26 (Pioneer), chosen by
// product: the CD-ROM drive's commands, with READ CD-DA giving audio and
// audio with the Q subchannel only (subcode formats 0 and 1); the full
// subcode of formats 2 and 3 is refused with INVALID FIELD IN CDB.
#pragma once

#include "emulator/device.h"

bool pioneer_drive_serves(const EmulatedDevice& device);

// Throws EmulatedBusError when the medium cannot be loaded.
void install_pioneer_drive(EmulatedDevice& device);

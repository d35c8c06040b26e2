// The emulated readers of model codes 27 to 30 (Plextor), chosen by
// product: the CD-ROM drive's commands, the vendor speed page 31h (speed
// values 0 up to the model's highest: 2, 3, 4 and 5 for codes 27 to 30),
// READ TOC format 5 with the disc's CD-TEXT (it reads the R-W subchannel),
// and error recovery flags limited to TB, PER and DTE (26h) in page 01h.
// Another speed value or flag is refused with INVALID FIELD IN PARAMETER
// LIST.
#pragma once

#include "emulator/device.h"

bool plextor_drive_serves(const EmulatedDevice& device);

// Throws EmulatedBusError when the medium cannot be loaded.
void install_plextor_drive(EmulatedDevice& device);

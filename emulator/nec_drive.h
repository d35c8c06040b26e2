// The emulated readers of the NEC command set (model codes 21 to 24 of the
// reader model table), chosen by product.
//
// The CD-ROM drive's commands (cdrom_drive.h) but READ CD-DA: audio comes
// through the vendor command D4h (LBA in bytes 2-5, count in bytes 7-8,
// 2352-byte sectors; D8h is an unknown operation code). MODE SELECT takes
// the page format bit only (else INVALID FIELD IN CDB), and a block
// descriptor only with the error recovery page behind it, as the drive
// reports them together (else INVALID FIELD IN PARAMETER LIST).
#pragma once

#include "emulator/device.h"

bool nec_drive_serves(const EmulatedDevice& device);

// Throws EmulatedBusError when the medium cannot be loaded.
void install_nec_drive(EmulatedDevice& device);

// The emulated Yamaha recorders, "CDR100" (class 19) and "CDR102" (class
// 20), chosen by product.
//
// Besides what every recorder answers (recorder_drive.h) they decode MODE
// SELECT of page 31h (speed value 0 to 2 in the high nibble of byte 3, test
// recording in bit 0) and page 32h (write mode: 0 track at once, 4 disc at
// once), WRITE TOC (EAh: the drive cue sheet of 8-byte entries, with the
// catalog number, ISRC codes and index 0 entries), WRITE TRACK (E6h: empty,
// it opens the disc at once; with a track number and mode, a track at once),
// WRITE(10), SYNCHRONIZE CACHE and FIXATION (E9h). A disc at once takes the
// blocks of each track in the size its cue sheet entry announces (2352, 2448
// for CD+G, 2048 for Mode 1 and 2336 for Mode 2 with block format 3) from
// LBA -150 to the lead-out, which the drive writes itself after SYNCHRONIZE
// CACHE. Data sectors of 2352 bytes come scrambled and are descrambled; audio
// comes as it is. Items: writebusy=N (every Nth WRITE(10) answers "busy",
// sense key 9, once; N at least 2) and leadout=N (after a disc at once, the
// next N TEST UNIT READY answer ABORTED COMMAND while the lead-out is
// written).
#pragma once

#include "emulator/device.h"

// True for devices of a Yamaha recorder class not given a cue sheet.
bool yamaha_recorder_serves(const EmulatedDevice& device);

// Installs the recorder. Throws EmulatedBusError.
void install_yamaha_recorder(EmulatedDevice& device);

// The emulated readers of model codes 33 to 35 (Toshiba), chosen by
// product: the CD-ROM drive's commands, with what READ(10) reads chosen by
// the density code of the block descriptor:
//   00h and 81h: data sectors of 2048, 2336, 2340 or 2352 bytes;
//   83h: 2048-byte data sectors;
//   82h: audio sectors of 2352 bytes, or 2368 with the Q subchannel in the
//        drive's own layout behind the audio: control, ADR, track, index,
//        relative minute, second, frame, absolute minute, second, frame
//        (BCD as the disc holds them), six zero bytes.
// Audio read this way jitters as the CD-ROM drive's READ CD-DA does, and a
// data track read at 82h fails with ILLEGAL MODE FOR THIS TRACK. Another
// density, or a block length the density does not have, is refused with
// INVALID FIELD IN PARAMETER LIST; READ CD-DA (D8h) is an unknown
// operation code.
#pragma once

#include "emulator/device.h"

bool toshiba_drive_serves(const EmulatedDevice& device);

// Throws EmulatedBusError when the medium cannot be loaded.
void install_toshiba_drive(EmulatedDevice& device);

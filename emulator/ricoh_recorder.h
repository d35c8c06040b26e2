// The emulated "RO1060C" (class 13 of the recorder model table), a recorder
// of the Ricoh command set that records track at once only.
//
// Besides what a recorder shares (recorder_drive.h) it answers MODE SELECT
// of its track page 22h (byte 2 bits 4-6: 7 audio, 1 mode 1, 0 mode 2; byte
// 4: 02h pre-emphasis, 04h copy permitted; byte 5 11h, byte 12 2) and of
// page 31h (byte 2 bit 5: test recording), WRITE TRACK (E6h, bytes 6-8 the
// block count: the first one after a track ended opens the next track as
// page 22h describes it; audio in 2352-byte blocks, data at the block length
// in force, raw data sectors scrambled), SYNCHRONIZE CACHE (ends the track)
// and FIXATION (E9h: byte 2 bit 1 set, bit 0 leaves the disc open; byte 3
// the close mode 0 to 2). It has no disc-at-once command: ILLEGAL REQUEST
// 20h/00h, like any other code it lacks.
#pragma once

#include "emulator/device.h"

// True for devices of the Ricoh recorder class not given a cue sheet.
bool ricoh_recorder_serves(const EmulatedDevice& device);

// Installs the recorder. Throws EmulatedBusError.
void install_ricoh_recorder(EmulatedDevice& device);

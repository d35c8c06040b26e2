// The emulated recorders of the Philips command set, one per model class of
// the recorder model table (2, 6, 7, 8, 9, 12, 14), chosen by product.
//
// Every class answers what a recorder shares (recorder_drive.h: reading its
// own disc, MODE SENSE, START/STOP UNIT, PREVENT/ALLOW MEDIUM REMOVAL) and
// MODE SELECT of the block length (2048, 2336, 2340, 2352, 2448) and of its
// pages, WRITE(10), SYNCHRONIZE CACHE (35h: ends a track, or a session at
// once whose lead-out came), OPEN TRACK (E6h) and FIXATION (E9h) for track at
// once. By class (see the table in philips_recorder.cpp):
//   - READ SESSION (EEh: lead-in 4500 and lead-out 6750 blocks, 2250 on a
//     disc with a closed session), WRITE SESSION (EDh, its table of track
//     descriptors) and the catalog page 22h: classes 7, 8, 9, 14;
//   - FORMAT DISC (EFh, the whole-disc table) and WRITE DISC (F0h): class 2;
//   - LOAD/UNLOAD (E7h): classes 2 to 9; READ CD-DA: 12 and 14 (14 swaps the
//     bytes of each sample); speed and test recording in page 31h instead of
//     23h: 14.
// Blocks of 2352 bytes come with the bytes of each sample swapped and data
// sectors scrambled; the drive swaps and descrambles them back. Reads give
// them as the family's drives do: READ(10) of 2352-byte blocks reads audio
// swapped (classes 2 to 9) and data scrambled (2, 6, 7).
// A command the class does not have: ILLEGAL REQUEST 20h/00h; a table that
// does not add up: 26h/00h; a bad field in a command: 24h/00h.
#pragma once

#include "emulator/device.h"

// True for devices of a Philips recorder class not given a cue sheet.
bool philips_recorder_serves(const EmulatedDevice& device);

// Installs the recorder of the device's class. Throws EmulatedBusError.
void install_philips_recorder(EmulatedDevice& device);

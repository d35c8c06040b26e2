// The emulated recorders of the Sony command set, one per model class of the
// recorder model table (15, 16, 17), chosen by product.
//
// Every class answers what a recorder shares (recorder_drive.h), MODE SELECT
// of its pages (20h writing: test bit 1, class 15 also bits 0 and 2; 22h the
// disc page; 23h the track page; 31h reading speed, class 15 21h instead),
// WRITE START (E0h: the drive cue sheet; byte 1 bit 4 set on class 15 only)
// and WRITE (E1h, a byte count; blocks of the size the cue sheet's data form
// or the open track gives). The drive writes lead-in and lead-out itself:
// the write that completes the program area closes the disc and answers
// UNIT ATTENTION 80h, the drive's report of a finished recording.
//   - Classes 16 and 17: disc at once once page 22h byte 2 (1 as the drive
//     starts) was cleared, else WRITE START is a sequence error (2Ch);
//     track at once through page 23h and OPEN TRACK (F5h, byte 5 a track
//     number, 1 to 99), CLOSE TRACK (F0h) and FIXATION (F1h, byte
//     8: 1 session, 0 disc), which answers UNIT ATTENTION D4h when done.
//     Catalog and ISRC entries of the cue sheet are ignored by class 16.
//   - Class 15: disc at once only; its own reading and tray commands: START
//     READ (E3h: byte 3 1 audio or 2 data, bytes 4-6 minute, second, frame,
//     byte 7 0 or 1), READ (E4h, bytes 1-3 a byte count: 2352-byte audio
//     frames, or data at the block length in force, 2352-byte sectors
//     scrambled), STOP READ (E2h), TRAY (E6h, byte 3 4 eject, 5 load);
//     READ CD-DA is refused.
// Audio blocks come as the host keeps them (least significant byte first);
// raw data sectors come scrambled and are descrambled. A cue sheet that does
// not add up: ILLEGAL REQUEST 26h/00h; a bad field in a command: 24h/00h.
#pragma once

#include "emulator/device.h"

// True for devices of a Sony recorder class not given a cue sheet.
bool sony_recorder_serves(const EmulatedDevice& device);

// Installs the recorder of the device's class. Throws EmulatedBusError.
void install_sony_recorder(EmulatedDevice& device);

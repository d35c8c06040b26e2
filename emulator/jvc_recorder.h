// The emulated JVC recorders, classes 10 ("RCD-1000", "RCD5020", ...), 11
// ("RCD5040", ...) and 18 ("CD-R50S-000", "RCD 4X4"), chosen by product.
//
// The host programs the subcode: SET LIMITS (B3h) gives a range of LBAs and
// the SET SUBCODE (C2h) of 4 bytes that follows gives its Q item (pause flag,
// control, track, index); a SET SUBCODE of 3 zero bytes and 5-byte entries
// gives the table of contents of the lead-in (the tracks' index 1 times,
// A0h, A1h, A2h). CLEAR SUBCODE (E4h) forgets both. The recorded disc is what
// the program says: its tracks, indexes and pause areas (index 0) are those
// of the Q items, whatever the blocks hold, and the table of contents must
// list that program (else 26h/00h). EXECUTE OPC (ECh) comes before the first
// block. WRITE(10) puts blocks at the host's addresses, in order (else
// 21h/00h), relative to the session; bits 6-7 of the control byte are 0 on
// the write that ends the recording and 2 on the others (else 24h/00h).
// Write mode page 22h (byte 4: 0 track at once, 2 disc at once closing the
// disc, 4 leaving it open): a disc at once ends with its last block; a track
// at once (one track, pregap from LBA -150, index 1 from 0) gets two run-out
// blocks from the drive after its last block, and is closed by WRITE PMA
// (E1h), which needs its table of contents, and FIXATION (E3h, byte 5 bit 7:
// close the disc). Pages 21h (byte 2: 2, or 3 for test recording) and 31h
// (speed value in byte 2) and the block descriptor (density and block length)
// come by MODE SELECT. READ CD-DA's Q comes unpacked, as these drives give it.
#pragma once

#include "emulator/device.h"

// True for devices of a JVC recorder class not given a cue sheet.
bool jvc_recorder_serves(const EmulatedDevice& device);

// Installs the recorder. Throws EmulatedBusError.
void install_jvc_recorder(EmulatedDevice& device);

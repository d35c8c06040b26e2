// The emulated disc transporter ("DISC TRANSPORTER", inquiry type 8): a
// medium changer with an input stack of blank discs and an output stack,
// serving one emulated recorder. It answers EXCHANGE MEDIUM (A6h), the
// operation in the vendor bits of the control byte (byte 11 bits 6-7):
//   1  load: a blank disc into the recorder's open tray (a blank disc already
//      lying there is used as it is; a recorded one goes out first);
//   0  exchange: the disc in the open tray out, the next blank disc in;
//   3  unload: the disc in the open tray out.
// A recorded disc taken out is kept, readable, as PATH-N.cue, PATH-N.bin
// and PATH-N.state beside the recorder's medium=PATH (N the first number
// none of whose three files exists yet); a blank one leaves nothing. It refuses,
// with ILLEGAL REQUEST: vendor bits 2 (24h/00h), a load with no blank disc
// left (3Bh/0Eh, medium source element empty), a recorder whose tray is
// closed or that it cannot find (3Bh/11h, element not accessible).
//
// Bus value items: blanks=N (blank discs on the input stack, default 10),
// recorder=ha:id:lun (the recorder it serves; default the first emulated
// recorder on the bus by address).
#pragma once

#include "emulator/device.h"

// True for a device whose product is "DISC TRANSPORTER".
bool disc_transporter_serves(const EmulatedDevice& device);

// Installs EXCHANGE MEDIUM and takes the items. Throws EmulatedBusError for
// a bad item.
void install_disc_transporter(EmulatedDevice& device);

// DiscTransporter: the medium changer that feeds blank discs into a recorder
// and takes recorded ones out, so that several copies record unattended. It
// is driven by EXCHANGE MEDIUM alone, the operation chosen by the vendor
// bits of the control byte; the recorder's tray is worked by its own EJECT
// DISC and LOAD DISC.
#pragma once

#include <cstdint>

#include "drivers/cd_reader.h"
#include "scsi/device.h"

// The transporter's operations.
enum TransporterOp : uint8_t {
  TRANSPORTER_LOAD_FIRST = 0,   // the first blank disc of a run into the open tray
  TRANSPORTER_EXCHANGE = 1,     // the recorded disc out, the next blank disc in
  TRANSPORTER_UNLOAD_LAST = 2,  // the last recorded disc out
};

class DiscTransporter : public ScsiDevice {
 public:
  // EXCHANGE MEDIUM with transport element 0, source 2, destinations 1 and 3,
  // no inversion, and the vendor bits of `op` (1, 0, 3 for ops 0, 1, 2). An op
  // above 2 returns MSG_BUGCHECK without a command. With `raise`, a failure
  // raises "'EXCHANGE MEDIUM' command failed on device ha:id:lun" (an empty
  // input stack with that reason instead of "Illegal command request").
  ResultCode ExchangeMedium(uint8_t op, bool raise);
};

// One exchange step: the recorder's tray opens (EJECT DISC raises), the
// transporter exchanges (raises), the tray closes (LOAD DISC, not raising);
// TEST UNIT READY goes before each without its result being looked at.
// Returns the result of LOAD DISC.
ResultCode exchange_disc(CdReader& recorder, DiscTransporter& transporter, uint8_t op);

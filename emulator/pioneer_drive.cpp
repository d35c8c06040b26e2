#include "emulator/pioneer_drive.h"

#include "emulator/cdrom_drive.h"

bool pioneer_drive_serves(const EmulatedDevice& device) {
  const uint8_t code = reader_model_code(device);
  return code == 25 || code == 26;
}

void install_pioneer_drive(EmulatedDevice& device) {
  install_cdrom_drive(device);
  device.set_handler(EMU_OP_READ_CDDA, [generic = device.handler(EMU_OP_READ_CDDA)](
                                           EmulatedDevice& d, const EmulatedCommand& c) {
    if (c.cdb_length > 10 && c.cdb[10] >= 2)
      return EmulatedAnswer::check(SENSE_INVALID_FIELD_IN_CDB);
    return generic(d, c);
  });
}

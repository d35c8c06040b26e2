#include "scsi/settings.h"

#include <cstdlib>
#include <string>

#include "common/msgvec.h"
#include "common/switches.h"

namespace {

// Reads an address variable into the three bytes; false when it is not set
// or empty. A value that is not "ha:id:lun" with each number from 0 to 255
// raises an error naming the variable.
bool read_address_variable(const char* name, uint8_t* ha, uint8_t* id, uint8_t* lun) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return false;
  DeviceAddress address;
  if (!parse_device_address(text, 255, &address))
    raise_message(MSG_TEXT, 1, 0, 0,
                  std::string("Invalid ") + name + " value \"" + text +
                      "\" (ha:id:lun, each a number from 0 to 255)");
  *ha = static_cast<uint8_t>(address.host_adapter);
  *id = static_cast<uint8_t>(address.id);
  *lun = static_cast<uint8_t>(address.lun);
  return true;
}

}  // namespace

ScsiSettings& scsi_settings() {
  static ScsiSettings settings;
  return settings;
}

void load_scsi_settings() {
  ScsiSettings fresh;
  fresh.lun_enabled = std::getenv("LUN_ENABLED") != nullptr;
  fresh.trace_enabled = std::getenv("TRACE_SCSI_ENABLED") != nullptr;
  fresh.mmc_disabled = std::getenv("MMC_DISABLED") != nullptr;
  fresh.reader_id_given =
      read_address_variable("CDREADER_ID", &fresh.reader_ha, &fresh.reader_id, &fresh.reader_lun);
  fresh.writer_id_given =
      read_address_variable("CDWRITER_ID", &fresh.writer_ha, &fresh.writer_id, &fresh.writer_lun);
  scsi_settings() = fresh;
}

#include "tools/shared/reader_choice.h"

#include <memory>
#include <typeinfo>

#include "common/console.h"
#include "scsi/scan.h"
#include "scsi/settings.h"
#include "tools/shared/drive_setup.h"

void reader_address_from_environment(bool* given, DeviceAddress* address) {
  const ScsiSettings& environment = scsi_settings();
  if (!environment.reader_id_given) return;
  *given = true;
  *address = {environment.reader_ha, environment.reader_id, environment.reader_lun};
}

CdReader* choose_reader(bool address_given, const DeviceAddress& address) {
  if (!address_given) {
    auto* reader = dynamic_cast<CdReader*>(
        find_device(KIND_MASK_READER_OR_RECORDER, ANY_ADDRESS, ANY_ADDRESS, ANY_ADDRESS));
    if (reader == nullptr)
      fail_with("\nError: Unable to find a CDROM device on the SCSI bus!\n" +
                device_list_full_note());
    return reader;
  }
  auto* reader = dynamic_cast<CdReader*>(find_device_at(KIND_MASK_READER_OR_RECORDER, address));
  if (reader == nullptr)
    fail_with(format_text("\nError: Specified device (%u:%u:%u) is not a CDROM!\n",
                          address.host_adapter, address.id, address.lun) +
              device_list_full_note());
  return reader;
}

std::string reader_found_text(const CdReader& reader) {
  return "CDROM device found...\n" + format_text("  HA #%u - SCSI ID #%u - %.8s %.16s %.4s\n\n",
                                                 reader.host_adapter, reader.target, reader.vendor,
                                                 reader.product, reader.revision);
}

std::string generic_driver_warning(const CdReader& reader) {
  if (typeid(reader) != typeid(CdReader)) return "";
  return "Warning: CDROM device model is unknown to this program!\n"
         "The generic CDROM device driver will be used...\n\n";
}

SwitchRule reading_speed_switch(uint8_t* speed_code) {
  auto speed = std::make_shared<uint16_t>(0);
  SwitchRule rule = number_switch("/SPEED", speed.get(), "Error: Illegal /SPEED format!\n");
  rule.apply = [read = rule.apply, speed, speed_code](const std::string& upper) {
    if (!read(upper)) return false;
    static constexpr uint16_t speeds[] = {1, 2, 4, 6, 8, 10, 12};
    for (uint8_t code = 0; code < sizeof speeds / sizeof speeds[0]; ++code)
      if (speeds[code] == *speed) {
        *speed_code = code;
        return true;
      }
    fail_with("Error: Illegal reading speed specified!\n");
  };
  return rule;
}

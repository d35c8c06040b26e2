#include "tools/shared/recorder_choice.h"

#include <memory>

#include "common/console.h"
#include "scsi/scan.h"
#include "scsi/settings.h"
#include "tools/shared/drive_setup.h"

void recorder_address_from_environment(bool* given, DeviceAddress* address) {
  const ScsiSettings& environment = scsi_settings();
  if (!environment.writer_id_given) return;
  *given = true;
  *address = {environment.writer_ha, environment.writer_id, environment.writer_lun};
}

RecorderDriver& choose_recorder(bool address_given, const DeviceAddress& address) {
  if (address_given) {
    auto* recorder = dynamic_cast<RecorderDriver*>(find_device_at(KIND_MASK_RECORDER, address));
    if (recorder == nullptr)
      fail_with(
          format_text("\nError: Specified device (%u:%u:%u) is not a CD-Recorder or is unknown!\n",
                      address.host_adapter, address.id, address.lun) +
          device_list_full_note());
    return *recorder;
  }
  auto* recorder = dynamic_cast<RecorderDriver*>(
      find_device(KIND_MASK_RECORDER, ANY_ADDRESS, ANY_ADDRESS, ANY_ADDRESS));
  if (recorder == nullptr)
    fail_with("\nError: Unable to find a known CD-Recorder device on the SCSI bus!\n" +
              device_list_full_note());
  return *recorder;
}

std::string device_found_line(const ScsiDevice& device) {
  return format_text("  HA #%u - SCSI ID #%u - %.8s %.16s %.4s\n\n", device.host_adapter,
                     device.target, device.vendor, device.product, device.revision);
}

SwitchRule checked_number_switch(const std::string& name, uint16_t* value,
                                 const std::string& format_error,
                                 std::function<void(uint16_t)> check) {
  SwitchRule rule = number_switch(name, value, format_error);
  rule.apply = [scan = rule.apply, value, check = std::move(check)](const std::string& upper) {
    if (!scan(upper)) return false;
    check(*value);
    return true;
  };
  return rule;
}

SwitchRule recording_speed_switch(uint16_t* factor) {
  return checked_number_switch("/SPEED", factor, "Error: Illegal /SPEED format!\n",
                               [](uint16_t value) {
                                 if (value == 0)
                                   fail_with("Error: Illegal recording speed specified!\n");
                               });
}

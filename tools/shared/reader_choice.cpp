#include "tools/shared/reader_choice.h"

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

#include "tools/shared/reader_choice.h"

#include "common/console.h"
#include "scsi/scan.h"
#include "scsi/settings.h"

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
    if (reader == nullptr) fail_with("\nError: Unable to find a CDROM device on the SCSI bus!\n");
    return reader;
  }
  CdReader* reader = nullptr;
  // An address part that does not fit a byte matches no device.
  if (address.host_adapter < ANY_ADDRESS && address.id < ANY_ADDRESS && address.lun < ANY_ADDRESS)
    reader = dynamic_cast<CdReader*>(
        find_device(KIND_MASK_READER_OR_RECORDER, static_cast<uint8_t>(address.host_adapter),
                    static_cast<uint8_t>(address.id), static_cast<uint8_t>(address.lun)));
  if (reader == nullptr)
    fail_with(format_text("\nError: Specified device (%u:%u:%u) is not a CDROM!\n",
                          address.host_adapter, address.id, address.lun));
  return reader;
}

std::string reader_found_text(const CdReader& reader) {
  return "CDROM device found...\n" + format_text("  HA #%u - SCSI ID #%u - %.8s %.16s %.4s\n\n",
                                                 reader.host_adapter, reader.target, reader.vendor,
                                                 reader.product, reader.revision);
}

// Model code -> driver object. Until the drive families exist every device
// is a plain ScsiDevice; the scan sets its kind and model code.
#include "scsi/scan.h"

std::unique_ptr<ScsiDevice> create_driver(uint8_t /*model_code*/) {
  return std::make_unique<ScsiDevice>();
}

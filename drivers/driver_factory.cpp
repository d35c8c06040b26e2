// Model code -> driver object: the generic reader for every CD drive (the
// reader families and the recorder drivers replace it for their model codes),
// a plain ScsiDevice for disks and the disc transporter.
#include "drivers/driver_factory.h"

#include "drivers/cd_reader.h"
#include "scsi/models.h"

std::unique_ptr<ScsiDevice> create_driver(uint8_t model_code) {
  if (model_code == MODEL_DISK || model_code == MODEL_TRANSPORTER)
    return std::make_unique<ScsiDevice>();
  return std::make_unique<CdReader>();
}

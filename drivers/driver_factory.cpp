// Model code -> driver object. A drive family is one file under drivers/
// that offers a creator for its model codes, and one row per model code in
// the table below; every other CD drive gets the generic reader (the reader
// families replace it for their codes), disks and the disc transporter a
// plain ScsiDevice.
#include "drivers/driver_factory.h"

#include "drivers/cd_reader.h"
#include "drivers/philips_recorder.h"
#include "scsi/models.h"

namespace {

using DriverCreator = std::unique_ptr<ScsiDevice> (*)(uint8_t model_code);

struct DriverRow {
  uint8_t model_code;
  DriverCreator create;
};

constexpr DriverRow DRIVER_ROWS[] = {
    {2, create_philips_recorder},  {6, create_philips_recorder},  {7, create_philips_recorder},
    {8, create_philips_recorder},  {9, create_philips_recorder},  {12, create_philips_recorder},
    {14, create_philips_recorder},
};

}  // namespace

std::unique_ptr<ScsiDevice> create_driver(uint8_t model_code) {
  for (const DriverRow& row : DRIVER_ROWS)
    if (row.model_code == model_code)
      if (std::unique_ptr<ScsiDevice> driver = row.create(model_code)) return driver;
  if (model_code == MODEL_DISK || model_code == MODEL_TRANSPORTER)
    return std::make_unique<ScsiDevice>();
  return std::make_unique<CdReader>();
}

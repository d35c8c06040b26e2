// Model code -> driver object. Each drive family adds one row per model code
// it serves (its leaf class); every CD drive without a row is read by the
// generic reader, and disks get a plain ScsiDevice.
#include "drivers/driver_factory.h"

#include <iterator>

#include "drivers/cd_reader.h"
#include "drivers/disc_transporter.h"
#include "drivers/jvc_recorder.h"
#include "drivers/nec_reader.h"
#include "drivers/philips_recorder.h"
#include "drivers/pioneer_reader.h"
#include "drivers/plextor_reader.h"
#include "drivers/ricoh_recorder.h"
#include "drivers/sony_reader.h"
#include "drivers/sony_recorder.h"
#include "drivers/toshiba_reader.h"
#include "drivers/yamaha_recorder.h"
#include "scsi/models.h"

namespace {

template <typename Driver>
std::unique_ptr<ScsiDevice> make() {
  return std::make_unique<Driver>();
}

struct DriverRow {
  uint8_t model_code;
  std::unique_ptr<ScsiDevice> (*create)();
};

// One row per model code that a family serves, in model code order.
const DriverRow driver_table[] = {
    {MODEL_DISK, make<ScsiDevice>},
    {2, make<PhilipsClass2>},
    {MODEL_TRANSPORTER, make<DiscTransporter>},
    {6, make<PhilipsClass6>},
    {7, make<PhilipsClass7>},
    {8, make<PhilipsClass8>},
    {9, make<PhilipsClass9>},
    {10, make<JvcClass10>},
    {11, make<JvcClass11>},
    {12, make<PhilipsClass12>},
    {13, make<RicohClass13>},
    {14, make<PhilipsClass14>},
    {15, make<SonyClass15>},
    {16, make<SonyClass16>},
    {17, make<SonyClass17>},
    {18, make<JvcClass18>},
    {19, make<YamahaClass19>},
    {20, make<YamahaClass20>},
    {21, make<NecClass21>},
    {22, make<NecClass22>},
    {23, make<NecClass23>},
    {24, make<NecClass24>},
    {25, make<PioneerClass25>},
    {26, make<PioneerClass26>},
    {27, make<PlextorClass27>},
    {28, make<PlextorClass28>},
    {29, make<PlextorClass29>},
    {30, make<PlextorClass30>},
    {31, make<SonyClass31>},
    {32, make<SonyClass32>},
    {33, make<ToshibaClass33>},
    {34, make<ToshibaClass34>},
    {35, make<ToshibaClass35>},
};

}  // namespace

std::unique_ptr<ScsiDevice> create_driver(uint8_t model_code) {
  for (const DriverRow& row : driver_table)
    if (row.model_code == model_code) return row.create();
  return std::make_unique<CdReader>();
}

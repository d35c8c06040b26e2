// The emulator's product table and the drivers' model tables, product by
// product: each names the same products, with the same kind and class, and
// the emulated model that serves a product is of the family whose driver the
// class selects. The two tables are kept apart so that a wrong row in either
// shows here.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <typeinfo>

#include "drivers/cd_reader.h"
#include "drivers/disc_transporter.h"
#include "drivers/driver_factory.h"
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
#include "emulator/models.h"
#include "emulator/products.h"
#include "scsi/models.h"

namespace {

template <typename Family>
bool is(const ScsiDevice& driver) {
  return dynamic_cast<const Family*>(&driver) != nullptr;
}

// The driver family of each emulated model; "" is a device no model serves,
// which the drivers read with the generic reader.
const std::map<std::string, bool (*)(const ScsiDevice&)> DRIVER_FAMILY = {
    {"Philips recorder", is<PhilipsRecorder>},
    {"Sony recorder", is<SonyRecorder>},
    {"Ricoh recorder", is<RicohRecorder>},
    {"Yamaha recorder", is<YamahaRecorder>},
    {"JVC recorder", is<JvcRecorder>},
    {"disc transporter", is<DiscTransporter>},
    {"NEC reader", is<NecReader>},
    {"Pioneer reader", is<PioneerReader>},
    {"Plextor reader", is<PlextorReader>},
    {"Sony reader", is<SonyReader>},
    {"Toshiba reader", is<ToshibaReader>},
    {"", [](const ScsiDevice& driver) { return typeid(driver) == typeid(CdReader); }},
};

std::string unpadded(const char* product) {
  std::string name = product;
  return name.substr(0, name.find_last_not_of(' ') + 1);
}

// The name of the emulated model that serves a product, "" when none does.
std::string emulated_model(const std::string& product) {
  EmulatedDeviceSpec spec;
  spec.identity.product = product;
  if (product == "DISC TRANSPORTER") spec.identity.device_type = EMU_TYPE_CHANGER;
  EmulatedDevice device(spec);
  const EmulatedModel* model = install_emulated_model(device);
  return model == nullptr ? "" : model->name;
}

TEST(ProductTables, EveryProductIsTheSameDriveOnBothSides) {
  const struct {
    const ModelEntry* table;
    EmulatedKind kind;
  } tables[] = {{recorder_models, EmulatedKind::RECORDER},
                {reader_models, EmulatedKind::READER},
                {transporter_models, EmulatedKind::TRANSPORTER}};
  std::size_t driver_rows = 0;
  for (const auto& t : tables) {
    for (const ModelEntry* row = t.table; row->product[0] != '\0'; ++row, ++driver_rows) {
      const std::string product = unpadded(row->product);
      SCOPED_TRACE(product);
      const EmulatedProduct* ours = find_emulated_product(product);
      ASSERT_NE(ours, nullptr) << "the emulator does not know the product";
      EXPECT_EQ(ours->kind, t.kind);
      EXPECT_EQ(ours->drive_class, row->model_code);
      const std::string model = emulated_model(product);
      ASSERT_TRUE(DRIVER_FAMILY.count(model)) << model;
      EXPECT_TRUE(DRIVER_FAMILY.at(model)(*create_driver(row->model_code)))
          << "emulated as " << (model.empty() ? "no model" : model) << ", driven as class "
          << int(row->model_code);
    }
  }
  // And no product that only the emulator knows.
  for (const EmulatedProduct& ours : emulated_products()) {
    SCOPED_TRACE(ours.product);
    std::string padded = ours.product;
    padded.resize(16, ' ');
    const ModelEntry* table = ours.kind == EmulatedKind::RECORDER ? recorder_models
                              : ours.kind == EmulatedKind::READER ? reader_models
                                                                  : transporter_models;
    EXPECT_NE(lookup_model(table, padded.c_str()), nullptr);
  }
  EXPECT_EQ(emulated_products().size(), driver_rows);
}

}  // namespace

#include "emulator/models.h"

// Drive families add their rows here, most specific first.
const std::vector<EmulatedModel>& emulated_models() {
  static const std::vector<EmulatedModel> models = {};
  return models;
}

const EmulatedModel* install_emulated_model(EmulatedDevice& device) {
  for (const EmulatedModel& model : emulated_models()) {
    if (model.serves(device)) {
      model.install(device);
      return &model;
    }
  }
  return nullptr;
}

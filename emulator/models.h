// Emulated drive models: what turns a plain emulated device into a drive of a
// family. Each row of the model table says which devices it serves and
// installs itself on one: it registers handlers for the family's commands,
// loads the medium named by medium=, and takes the items it understands
// (EmulatedDevice::take_item). The first row that serves a device installs;
// a device no row serves answers only INQUIRY, TEST UNIT READY and REQUEST
// SENSE.
#pragma once

#include <vector>

#include "emulator/device.h"

struct EmulatedModel {
  const char* name;                              // for messages: "generic CD-ROM reader"
  bool (*serves)(const EmulatedDevice& device);  // by identity
  void (*install)(EmulatedDevice& device);       // throws EmulatedBusError
};

// The model table in the order it is searched.
const std::vector<EmulatedModel>& emulated_models();

// Installs the first model of the table that serves the device; returns its
// row, or null when none does. Throws EmulatedBusError from the model.
const EmulatedModel* install_emulated_model(EmulatedDevice& device);

#include "emulator/models.h"

#include "emulator/cdrom_drive.h"
#include "emulator/disc_transporter.h"
#include "emulator/mmc_drive.h"
#include "emulator/philips_recorder.h"

// Drive families add their rows here, most specific first.
const std::vector<EmulatedModel>& emulated_models() {
  static const std::vector<EmulatedModel> models = {
      {"Philips recorder", philips_recorder_serves, install_philips_recorder},
      {"disc transporter", disc_transporter_serves, install_disc_transporter},
      {"MMC drive", mmc_drive_serves, install_mmc_drive},
      // Last: every CD drive that no model above serves reads as a CD-ROM drive.
      {"generic CD-ROM reader", cdrom_drive_serves,
       [](EmulatedDevice& device) { install_cdrom_drive(device); }},
  };
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

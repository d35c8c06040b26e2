#include "emulator/models.h"

#include "emulator/cdrom_drive.h"
#include "emulator/disc_transporter.h"
#include "emulator/jvc_recorder.h"
#include "emulator/mmc_drive.h"
#include "emulator/nec_drive.h"
#include "emulator/philips_recorder.h"
#include "emulator/pioneer_drive.h"
#include "emulator/plextor_drive.h"
#include "emulator/ricoh_recorder.h"
#include "emulator/sony_drive.h"
#include "emulator/sony_recorder.h"
#include "emulator/toshiba_drive.h"
#include "emulator/yamaha_recorder.h"

// Drive families add their rows here, most specific first.
const std::vector<EmulatedModel>& emulated_models() {
  static const std::vector<EmulatedModel> models = {
      {"Philips recorder", philips_recorder_serves, install_philips_recorder},
      {"Sony recorder", sony_recorder_serves, install_sony_recorder},
      {"Ricoh recorder", ricoh_recorder_serves, install_ricoh_recorder},
      {"Yamaha recorder", yamaha_recorder_serves, install_yamaha_recorder},
      {"JVC recorder", jvc_recorder_serves, install_jvc_recorder},
      {"disc transporter", disc_transporter_serves, install_disc_transporter},
      {"NEC reader", nec_drive_serves, install_nec_drive},
      {"Pioneer reader", pioneer_drive_serves, install_pioneer_drive},
      {"Plextor reader", plextor_drive_serves, install_plextor_drive},
      {"Sony reader", sony_drive_serves, install_sony_drive},
      {"Toshiba reader", toshiba_drive_serves, install_toshiba_drive},
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

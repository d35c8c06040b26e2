#include "emulator/plextor_drive.h"

#include <optional>

#include "emulator/cdrom_drive.h"
#include "emulator/speed_page.h"

namespace {

constexpr uint8_t ERROR_RECOVERY_PAGE = 0x01;
constexpr uint8_t RECOVERY_FLAGS = 0x26;  // TB, PER, DTE

struct PlextorModel {
  uint8_t model_code;
  uint8_t top_speed;  // highest speed value of page 31h
};

constexpr PlextorModel PLEXTOR_MODELS[] = {{27, 2}, {28, 3}, {29, 4}, {30, 5}};

const PlextorModel* plextor_model(const EmulatedDevice& device) {
  const uint8_t code = reader_model_code(device);
  for (const PlextorModel& row : PLEXTOR_MODELS)
    if (row.model_code == code) return &row;
  return nullptr;
}

}  // namespace

bool plextor_drive_serves(const EmulatedDevice& device) { return plextor_model(device) != nullptr; }

void install_plextor_drive(EmulatedDevice& device) {
  const PlextorModel& model = *plextor_model(device);
  const std::shared_ptr<CdromDriveState> state = install_cdrom_drive(device);
  state->reads_cd_text = true;  // reads the R-W subchannel
  state->check_page = [](const std::vector<uint8_t>& page) -> std::optional<SenseCondition> {
    if (page[0] == ERROR_RECOVERY_PAGE && (page[2] & ~RECOVERY_FLAGS) != 0)
      return SENSE_INVALID_FIELD_IN_PARAMETERS;
    return std::nullopt;
  };
  std::vector<uint8_t> speeds;
  for (uint8_t value = 0; value <= model.top_speed; ++value) speeds.push_back(value);
  add_speed_page(*state, speeds);
}

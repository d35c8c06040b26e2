#include "emulator/sony_drive.h"

#include "emulator/cdrom_drive.h"
#include "emulator/speed_page.h"

namespace {

constexpr uint8_t MODEL_DOUBLE_SPEED = 32;

}  // namespace

bool sony_drive_serves(const EmulatedDevice& device) {
  const uint8_t code = reader_model_code(device);
  return code == 31 || code == MODEL_DOUBLE_SPEED;
}

void install_sony_drive(EmulatedDevice& device) {
  const bool fast = reader_model_code(device) == MODEL_DOUBLE_SPEED;
  const std::shared_ptr<CdromDriveState> state = install_cdrom_drive(device);
  state->reads_cd_text = true;  // reads the R-W subchannel
  add_speed_page(*state,
                 fast ? std::vector<uint8_t>{0x00, 0x01, 0xFF} : std::vector<uint8_t>{0x00, 0x01});
}

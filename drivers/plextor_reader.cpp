#include "drivers/plextor_reader.h"

#include "drivers/reader_family.h"

namespace {

constexpr uint8_t RECOVERY_OFF_FLAGS = 0x26;  // TB, PER, DTE
constexpr uint8_t READ_RETRY_COUNT = 3;

constexpr uint8_t SPEED_VALUES[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x04, 0x05};

constexpr uint16_t PLEXTOR_CAPS = CAP_READ_CDDA | CAP_READ_SUBQ | CAP_READ_CDG;

// clang-format off
constexpr ReaderModel PLEXTOR_MODELS[] = {
  // code caps         block  recorder read
  {27, PLEXTOR_CAPS, 2352,  2,       2},
  {28, PLEXTOR_CAPS, 2352,  3,       3},
  {29, PLEXTOR_CAPS, 2352,  4,       4},
  {30, PLEXTOR_CAPS, 2352,  6,       4},
};
// clang-format on

}  // namespace

PlextorReader::PlextorReader(uint8_t leaf_code) {
  apply_reader_model(*this, PLEXTOR_MODELS, leaf_code);
}

ResultCode PlextorReader::DisableErrorRecovery() {
  return SetErrorRecoveryRaw(RECOVERY_OFF_FLAGS, READ_RETRY_COUNT);
}

ResultCode PlextorReader::EnableErrorRecovery() { return SetErrorRecoveryRaw(0, READ_RETRY_COUNT); }

ResultCode PlextorReader::SetReadingSpeed(uint8_t speed) {
  return select_speed_page(*this, SPEED_VALUES, speed);
}

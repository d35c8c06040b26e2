#include "drivers/sony_reader.h"

#include "drivers/reader_family.h"

namespace {

constexpr uint8_t SPEED_VALUES[] = {0x00, 0x01, 0xFF};

constexpr uint16_t SONY_CAPS = CAP_READ_CDDA | CAP_READ_SUBQ | CAP_READ_CDG;

// clang-format off
constexpr ReaderModel SONY_MODELS[] = {
  // code caps      block  recorder read
  {31, SONY_CAPS, 2352,  1,       1},
  {32, SONY_CAPS, 2352,  2,       2},
};
// clang-format on

}  // namespace

SonyReader::SonyReader(uint8_t leaf_code) { apply_reader_model(*this, SONY_MODELS, leaf_code); }

ResultCode SonyReader::SetReadingSpeed(uint8_t speed) {
  return select_speed_page(*this, SPEED_VALUES, speed);
}

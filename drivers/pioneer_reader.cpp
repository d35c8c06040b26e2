#include "drivers/pioneer_reader.h"

#include "drivers/reader_family.h"

namespace {

// clang-format off
constexpr ReaderModel PIONEER_MODELS[] = {
  // code caps                           block  recorder read
  {25, CAP_READ_CDDA | CAP_READ_SUBQ, 2340,  2,       2},
  {26, CAP_READ_CDDA | CAP_READ_SUBQ, 2340,  5,       5},
};
// clang-format on

}  // namespace

PioneerReader::PioneerReader(uint8_t leaf_code) {
  apply_reader_model(*this, PIONEER_MODELS, leaf_code);
}

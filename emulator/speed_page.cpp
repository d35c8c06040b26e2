#include "emulator/speed_page.h"

#include <algorithm>
#include <optional>
#include <utility>

void add_speed_page(CdromDriveState& state, std::vector<uint8_t> values) {
  state.pages[EMU_SPEED_PAGE] = {EMU_SPEED_PAGE, 0x02, values.back(), 0x00};
  auto other_pages = std::move(state.check_page);
  state.check_page = [values = std::move(values), other_pages](
                         const std::vector<uint8_t>& page) -> std::optional<SenseCondition> {
    if (page[0] == EMU_SPEED_PAGE) {
      if (std::find(values.begin(), values.end(), page[2]) == values.end() || page[3] != 0)
        return SENSE_INVALID_FIELD_IN_PARAMETERS;
      return std::nullopt;
    }
    return other_pages ? other_pages(page) : std::nullopt;
  };
}

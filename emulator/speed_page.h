// The vendor speed page 31h of the reader families that take their reading
// speed as one value (page length 2: the value, a reserved zero byte).
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/cdrom_drive.h"

constexpr uint8_t EMU_SPEED_PAGE = 0x31;

// Adds the page to the drive's pages with the last of `values` current;
// MODE SELECT of any other value is refused with INVALID FIELD IN PARAMETER
// LIST. A page check the drive had already keeps checking the other pages.
void add_speed_page(CdromDriveState& state, std::vector<uint8_t> values);

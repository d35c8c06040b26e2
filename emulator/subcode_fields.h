// Fields of the tables that recorders of the host-built subcode families
// take: BCD numbers and times, catalog digits and ISRC characters, checked as
// a drive checks them before it writes them into the lead-in or the Q
// subchannel.
#pragma once

#include <cstdint>
#include <optional>

#include "common/timecode.h"

// The value of a BCD byte not above `max`; nothing for a bad digit or a
// larger value.
inline std::optional<uint8_t> bcd_field(uint8_t byte, uint8_t max) {
  if ((byte >> 4) > 9 || (byte & 0x0F) > 9) return std::nullopt;
  const uint8_t value = bcd_to_bin(byte);
  if (value > max) return std::nullopt;
  return value;
}

// The LBA of an absolute time in three BCD bytes; nothing for a bad time.
inline std::optional<int32_t> bcd_time_lba(const uint8_t* msf) {
  const std::optional<uint8_t> minute = bcd_field(msf[0], 99);
  const std::optional<uint8_t> second = bcd_field(msf[1], 59);
  const std::optional<uint8_t> frame = bcd_field(msf[2], 74);
  if (!minute || !second || !frame) return std::nullopt;
  return msf_to_lba(*minute, *second, *frame);
}

inline bool catalog_digit(char c) { return c >= '0' && c <= '9'; }

// An ISRC character at `position` (0 to 11): a digit or an upper-case letter
// in the first five places, a digit in the others.
inline bool isrc_character(char c, unsigned position) {
  return catalog_digit(c) || (position < 5 && c >= 'A' && c <= 'Z');
}

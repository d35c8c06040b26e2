#include "common/numbers.h"

namespace {

int digit_value(char c, unsigned base) {
  int value = -1;
  if (c >= '0' && c <= '9') value = c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value;
}

bool parse_digits(std::string_view text, unsigned base, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  uint64_t result = 0;
  for (const char c : text) {
    const int digit = digit_value(c, base);
    if (digit < 0 || static_cast<uint64_t>(digit) > max) return false;
    // result * base + digit > max, without overflowing
    if (result > (max - static_cast<uint64_t>(digit)) / base) return false;
    result = result * base + static_cast<uint64_t>(digit);
  }
  *value = result;
  return true;
}

}  // namespace

bool parse_decimal(std::string_view text, uint64_t max, uint64_t* value) {
  return parse_digits(text, 10, max, value);
}

bool parse_hex(std::string_view text, uint64_t max, uint64_t* value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  return parse_digits(text, 16, max, value);
}

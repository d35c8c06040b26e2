// Text helpers shared by switches, cue sheets and ISO9660 names.
#pragma once

#include <string>

// `c` in upper case when it is an ASCII letter a-z, else as it is.
inline char ascii_upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// `text` with the ASCII letters a-z in upper case; every other byte as it is
// (no locale: names written into volumes and matched switches stay the same
// on every system).
inline std::string upper_case(std::string text) {
  for (char& c : text) c = ascii_upper(c);
  return text;
}

// Reads a whole text as an unsigned decimal number of digits only (no sign,
// no blanks, nothing after it). False when it is not one or exceeds `max`.
inline bool parse_decimal(const std::string& text, unsigned long long max,
                          unsigned long long* out) {
  if (text.empty()) return false;
  unsigned long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<unsigned>(c - '0');
    if (value > (max - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

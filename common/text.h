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

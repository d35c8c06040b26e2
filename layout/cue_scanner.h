// Reads the items of one cue sheet line the way a formatted-input scan
// pattern does: "%s" a run of non-blank characters, a number, a literal
// character matched exactly, and a blank in the pattern skipping any white
// space. Each call reads one item and answers whether it matched; a caller
// counts the items that matched in a row and stops at the first that did
// not, as the scan would. Unlike a scan's conversion, a number is read in
// full: it never wraps, and one running into other text does not match.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What number() reads for a value no field can hold.
constexpr uint32_t NUMBER_OUT_OF_RANGE = UINT32_MAX;

class LineScanner {
 public:
  explicit LineScanner(std::string_view line) : line_(line) {}

  // "%s": skips white space, then reads a run of non-blank characters.
  bool word(std::string* out);

  // A file name: a word, or the text between double quotes when the next item
  // starts with one and the line holds the closing quote (blanks allowed
  // inside, the quotes not part of the name).
  bool file_name(std::string* out);

  // A decimal number: skips white space, takes an optional sign and at
  // least one digit, which must be followed by white space, the end of the
  // line or `follow` (not taken; '\0' for none), else nothing matches. A
  // value past 32 bits, and any value written with a minus sign ("-0" too),
  // reads as NUMBER_OUT_OF_RANGE, which every range check refuses.
  bool number(uint32_t* out, char follow = '\0');

  // A literal character of the pattern: matches exactly, skipping nothing.
  bool literal(char c);

  // " MM:SS:FF", three numbers joined by colons: the number of the three
  // that matched (0 to 3).
  int time(uint32_t* minute, uint32_t* second, uint32_t* frame);

 private:
  void skip_white_space();
  bool at_end() const { return pos_ >= line_.size(); }

  std::string_view line_;
  std::size_t pos_ = 0;
};

// White space as the scan sees it: blank, tab, newline, vertical tab, form
// feed, carriage return.
bool is_scan_space(char c);

// Reads the items of one cue sheet line the way a formatted-input scan
// pattern does: "%s" a run of non-blank characters, "%hu" an unsigned decimal
// number kept in 16 bits, a literal character matched exactly, and a blank in
// the pattern skipping any white space. Each call reads one item and answers
// whether it matched; a caller counts the items that matched in a row and
// stops at the first that did not, as the scan would.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class LineScanner {
 public:
  explicit LineScanner(std::string_view line) : line_(line) {}

  // "%s": skips white space, then reads a run of non-blank characters.
  bool word(std::string* out);

  // A file name: a word, or the text between double quotes when the next item
  // starts with one and the line holds the closing quote (blanks allowed
  // inside, the quotes not part of the name).
  bool file_name(std::string* out);

  // "%hu": skips white space, takes an optional sign and at least one digit.
  // The value wraps into 16 bits as the scan's conversion does; any value
  // written with a minus sign stays out of every legal range (a "-0" gives
  // 0xFFFF rather than 0), so a minus sign is never accepted.
  bool number(uint16_t* out);

  // A literal character of the pattern: matches exactly, skipping nothing.
  bool literal(char c);

  // " %hu:%hu:%hu": the number of the three numbers that matched (0 to 3).
  int time(uint16_t* minute, uint16_t* second, uint16_t* frame);

 private:
  void skip_white_space();
  bool at_end() const { return pos_ >= line_.size(); }

  std::string_view line_;
  std::size_t pos_ = 0;
};

// White space as the scan sees it: blank, tab, newline, vertical tab, form
// feed, carriage return.
bool is_scan_space(char c);

#include "layout/cue_scanner.h"

bool is_scan_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void LineScanner::skip_white_space() {
  while (!at_end() && is_scan_space(line_[pos_])) ++pos_;
}

bool LineScanner::word(std::string* out) {
  skip_white_space();
  const std::size_t start = pos_;
  while (!at_end() && !is_scan_space(line_[pos_])) ++pos_;
  if (pos_ == start) return false;
  out->assign(line_.substr(start, pos_ - start));
  return true;
}

bool LineScanner::file_name(std::string* out) {
  skip_white_space();
  if (!at_end() && line_[pos_] == '"') {
    const std::size_t close = line_.find('"', pos_ + 1);
    if (close != std::string_view::npos) {
      out->assign(line_.substr(pos_ + 1, close - pos_ - 1));
      pos_ = close + 1;
      return true;
    }
  }
  return word(out);
}

bool LineScanner::number(uint32_t* out, char follow) {
  skip_white_space();
  std::size_t p = pos_;
  bool negative = false;
  if (p < line_.size() && (line_[p] == '+' || line_[p] == '-')) {
    negative = line_[p] == '-';
    ++p;
  }
  if (p >= line_.size() || line_[p] < '0' || line_[p] > '9') return false;
  uint32_t value = 0;
  bool too_large = false;
  for (; p < line_.size() && line_[p] >= '0' && line_[p] <= '9'; ++p) {
    const auto digit = static_cast<uint32_t>(line_[p] - '0');
    if (value > (NUMBER_OUT_OF_RANGE - 1 - digit) / 10) too_large = true;
    if (!too_large) value = value * 10 + digit;
  }
  if (p < line_.size() && !is_scan_space(line_[p]) && (follow == '\0' || line_[p] != follow))
    return false;
  *out = negative || too_large ? NUMBER_OUT_OF_RANGE : value;
  pos_ = p;
  return true;
}

bool LineScanner::literal(char c) {
  if (at_end() || line_[pos_] != c) return false;
  ++pos_;
  return true;
}

int LineScanner::time(uint32_t* minute, uint32_t* second, uint32_t* frame) {
  if (!number(minute, ':')) return 0;
  if (!literal(':') || !number(second, ':')) return 1;
  if (!literal(':') || !number(frame)) return 2;
  return 3;
}

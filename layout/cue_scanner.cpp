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

bool LineScanner::number(uint16_t* out) {
  skip_white_space();
  std::size_t p = pos_;
  bool negative = false;
  if (p < line_.size() && (line_[p] == '+' || line_[p] == '-')) {
    negative = line_[p] == '-';
    ++p;
  }
  if (p >= line_.size() || line_[p] < '0' || line_[p] > '9') return false;
  // The conversion saturates at the largest unsigned long, then keeps the low
  // 16 bits, as the scan's conversion does.
  uint64_t value = 0;
  bool saturated = false;
  for (; p < line_.size() && line_[p] >= '0' && line_[p] <= '9'; ++p) {
    const auto digit = static_cast<uint64_t>(line_[p] - '0');
    if (value > (UINT64_MAX - digit) / 10) saturated = true;
    if (!saturated) value = value * 10 + digit;
  }
  if (saturated) value = UINT64_MAX;
  if (negative) value = 0 - value;
  auto result = static_cast<uint16_t>(value);
  if (negative && result == 0) result = 0xFFFF;
  *out = result;
  pos_ = p;
  return true;
}

bool LineScanner::literal(char c) {
  if (at_end() || line_[pos_] != c) return false;
  ++pos_;
  return true;
}

int LineScanner::time(uint16_t* minute, uint16_t* second, uint16_t* frame) {
  if (!number(minute)) return 0;
  if (!literal(':') || !number(second)) return 1;
  if (!literal(':') || !number(frame)) return 2;
  return 3;
}

#include "qemu/line_pattern.h"

#include <string_view>
#include <vector>

namespace {

const std::string_view ANY_TEXT = "{*}";
const std::string_view ANY_LINES = "{...}";

// Lines of a text, each with its newline; a text that ends without one has a
// last line without it.
std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

bool line_matches(std::string_view pattern, std::string_view line) {
  const std::size_t wildcard = pattern.find(ANY_TEXT);
  if (wildcard == std::string_view::npos) return pattern == line;
  if (line.substr(0, wildcard) != pattern.substr(0, wildcard)) return false;
  const std::string_view rest = pattern.substr(wildcard + ANY_TEXT.size());
  for (std::size_t at = wildcard; at <= line.size(); ++at) {
    // The wildcard never takes the newline that ends the line.
    if (at > wildcard && line[at - 1] == '\n') break;
    if (line_matches(rest, line.substr(at))) return true;
  }
  return false;
}

bool lines_match(const std::vector<std::string_view>& pattern, std::size_t p,
                 const std::vector<std::string_view>& text, std::size_t t) {
  if (p == pattern.size()) return t == text.size();
  std::string_view line = pattern[p];
  if (line == std::string(ANY_LINES) + "\n" || line == ANY_LINES) {
    for (std::size_t skip = t; skip <= text.size(); ++skip)
      if (lines_match(pattern, p + 1, text, skip)) return true;
    return false;
  }
  return t < text.size() && line_matches(line, text[t]) && lines_match(pattern, p + 1, text, t + 1);
}

}  // namespace

bool matches_line_pattern(const std::string& pattern, const std::string& text) {
  return lines_match(split_lines(pattern), 0, split_lines(text), 0);
}

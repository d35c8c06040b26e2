#include "layout/cue_metadata.h"

#include <strings.h>

#include "layout/cue_scanner.h"

namespace {

constexpr const char* kTextCommands[] = {
    "PERFORMER", "TITLE",   "SONGWRITER", "COMPOSER",  "ARRANGER",  "MESSAGE",    "DISC_ID",
    "GENRE",     "UPC_EAN", "TOC_INFO1",  "TOC_INFO2", "SIZE_INFO", "CDTEXTFILE",
};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_scan_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_scan_space(text.back())) text.remove_suffix(1);
  return text;
}

bool field_word(std::string_view word) {
  if (word.size() < 2) return false;
  bool letter = false;
  for (const char c : word) {
    if (c >= 'A' && c <= 'Z') {
      letter = true;
    } else if (!(c >= '0' && c <= '9') && c != '_' && c != '-') {
      return false;
    }
  }
  return letter;
}

}  // namespace

bool is_text_command(const std::string& command) {
  for (const char* keyword : kTextCommands)
    if (strcasecmp(command.c_str(), keyword) == 0) return true;
  return false;
}

bool text_value(std::string_view rest, std::string* value) {
  rest = trimmed(rest);
  value->clear();
  if (rest.empty()) return false;
  if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"') {
    value->assign(rest);
    return true;
  }
  const std::string_view inner = rest.substr(1, rest.size() - 2);
  for (std::size_t i = 0; i < inner.size(); ++i) {
    const char c = inner[i];
    const char next = i + 1 < inner.size() ? inner[i + 1] : '\0';
    if ((c == '\\' && (next == '"' || next == '\\')) || (c == '"' && next == '"')) {
      *value += next;
      ++i;
    } else {
      *value += c;
    }
  }
  return true;
}

bool rem_field(std::string_view rest, SheetText* field) {
  rest = trimmed(rest);
  std::size_t end = 0;
  while (end < rest.size() && !is_scan_space(rest[end])) ++end;
  const std::string_view word = rest.substr(0, end);
  if (!field_word(word)) return false;
  field->keyword.assign(word);
  field->rem = true;
  if (!text_value(rest.substr(end), &field->value)) field->value.clear();
  return true;
}

std::string text_line(const SheetText& text) {
  bool plain = !text.value.empty();
  for (const char c : text.value)
    if (is_scan_space(c) || c == '"') plain = false;
  std::string line = text.rem ? "REM " + text.keyword : text.keyword;
  if (text.rem && text.value.empty()) return line;
  if (plain && text.rem) return line + " " + text.value;
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.value.size(); ++i) {
    const char c = text.value[i];
    if (c == '"') {
      quoted += "\\\"";
    } else if (c == '\\' && (i + 1 == text.value.size() || text.value[i + 1] == '"' ||
                             text.value[i + 1] == '\\')) {
      quoted += "\\\\";
    } else {
      quoted += c;
    }
  }
  return line + " " + quoted + "\"";
}

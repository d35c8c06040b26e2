#include "common/switches.h"

#include <cctype>
#include <cstdio>

#include "common/console.h"
#include "common/text.h"

namespace {

// The value after "<name>=", or false when the argument does not go on with '='.
bool value_after(const std::string& upper, const std::string& name, std::string* value) {
  if (upper.size() <= name.size() || upper[name.size()] != '=') return false;
  *value = upper.substr(name.size() + 1);
  return true;
}

// One "%hu" conversion: optional blanks, an optional sign, decimal digits,
// taken modulo 2^16 like the C library's scan.
bool scan_u16(const std::string& text, std::size_t* pos, uint16_t* out) {
  std::size_t p = *pos;
  while (p < text.size() && std::isspace(static_cast<unsigned char>(text[p]))) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  if (p >= text.size() || !std::isdigit(static_cast<unsigned char>(text[p]))) return false;
  unsigned long long value = 0;
  while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) {
    value = value * 10 + static_cast<unsigned>(text[p] - '0');
    if (value > 0xFFFFFFFFull) value = 0xFFFFFFFFull;  // saturate like a long scan
    ++p;
  }
  *out = static_cast<uint16_t>(negative ? (0x10000u - (value & 0xFFFF)) : value);
  *pos = p;
  return true;
}

// "--help" prints the usage screen and "--version" the banner line, each with
// status 0, wherever it stands on the line (the first of them decides) and
// before any other argument is looked at. Both are matched as typed: "--HELP"
// is an ordinary argument.
void answer_help_or_version(const CommandLine& rules, int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string typed = argv[i] ? argv[i] : "";
    if (typed == "--help") {
      print_usage_screen(rules.tool_name, rules.usage_lines);
      throw ToolExit{0};
    }
    if (typed == "--version") {
      out_text(banner_line(rules.tool_name));
      throw ToolExit{0};
    }
  }
}

}  // namespace

SwitchRule plain_switch(const std::string& name, bool* flag, bool value) {
  return SwitchRule{name, false, [flag, value](const std::string&) {
                      *flag = value;
                      return true;
                    },
                    ""};
}

SwitchRule plain_switch(const std::string& name, std::function<void()> action) {
  return SwitchRule{name, false, [action](const std::string&) {
                      action();
                      return true;
                    },
                    ""};
}

SwitchRule address_switch(const std::string& name, DeviceAddress* address, bool* given,
                          const std::string& format_error) {
  return SwitchRule{name, true,
                    [name, address, given](const std::string& upper) {
                      std::string value;
                      if (!value_after(upper, name, &value)) return false;
                      DeviceAddress parsed;
                      std::size_t pos = 0;
                      if (!scan_u16(value, &pos, &parsed.host_adapter)) return false;
                      if (pos >= value.size() || value[pos++] != ':') return false;
                      if (!scan_u16(value, &pos, &parsed.id)) return false;
                      if (pos >= value.size() || value[pos++] != ':') return false;
                      if (!scan_u16(value, &pos, &parsed.lun)) return false;
                      *address = parsed;
                      if (given) *given = true;
                      return true;
                    },
                    format_error};
}

SwitchRule number_switch(const std::string& name, uint16_t* value, const std::string& format_error) {
  return SwitchRule{name, true,
                    [name, value](const std::string& upper) {
                      std::string text;
                      if (!value_after(upper, name, &text)) return false;
                      std::size_t pos = 0;
                      uint16_t parsed = 0;
                      if (!scan_u16(text, &pos, &parsed)) return false;
                      *value = parsed;
                      return true;
                    },
                    format_error};
}

SwitchRule text_switch(const std::string& name, std::string* value, const std::string& format_error) {
  return SwitchRule{name, true,
                    [name, value](const std::string& upper) {
                      std::string text;
                      if (!value_after(upper, name, &text)) return false;
                      std::size_t begin = 0;
                      while (begin < text.size() && std::isspace(static_cast<unsigned char>(text[begin])))
                        ++begin;
                      std::size_t end = begin;
                      while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])))
                        ++end;
                      if (end == begin) return false;
                      *value = text.substr(begin, end - begin);
                      return true;
                    },
                    format_error};
}

bool is_switch_argument(const std::string& argument) {
  if (argument.empty() || argument[0] != '/') return false;
  const std::size_t equals = argument.find('=');
  const std::string head = argument.substr(0, equals);
  return head.find('/', 1) == std::string::npos;
}

std::vector<std::string> parse_command_line(const CommandLine& rules, int argc,
                                            const char* const* argv) {
  answer_help_or_version(rules, argc, argv);
  const std::size_t slots = rules.parameter_missing.size();
  const bool needs_parameter = !rules.parameter_missing.empty() && !rules.parameter_missing[0].empty();
  if (argc <= 1 && rules.usage_when_empty && needs_parameter) {
    print_usage_screen(rules.tool_name, rules.usage_lines);
    throw ToolExit{1};
  }
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) {
    const std::string typed = argv[i] ? argv[i] : "";
    if (!is_switch_argument(typed)) {
      if (parameters.size() >= slots) fail_with(format_text("Too many parameters - %s\n", typed.c_str()));
      parameters.push_back(typed);
      continue;
    }
    const std::string upper = upper_case(typed);
    if (upper == "/?") {
      print_usage_screen(rules.tool_name, rules.usage_lines);
      throw ToolExit{1};
    }
    const SwitchRule* match = nullptr;
    for (const SwitchRule& rule : rules.switches) {
      const bool matches = rule.takes_value ? upper.compare(0, rule.name.size(), rule.name) == 0
                                            : upper == rule.name;
      if (matches) {
        match = &rule;
        break;
      }
    }
    if (match == nullptr) fail_with(format_text("Invalid switch - %s\n", typed.c_str()));
    if (!match->apply(upper)) fail_with(match->format_error);
  }
  for (std::size_t slot = parameters.size(); slot < slots; ++slot) {
    if (!rules.parameter_missing[slot].empty()) fail_with(rules.parameter_missing[slot]);
  }
  return parameters;
}

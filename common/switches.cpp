#include "common/switches.h"

#include <cctype>
#include <cstdio>

#include "common/console.h"
#include "common/numbers.h"
#include "common/text.h"

namespace {

// The value after "<name>=", or false when the argument does not go on with '='.
bool value_after(const std::string& upper, const std::string& name, std::string* value) {
  if (upper.size() <= name.size() || upper[name.size()] != '=') return false;
  *value = upper.substr(name.size() + 1);
  return true;
}

// One number of a switch value: digits only, at most 65535 (the range of
// the "%hu" the switches are written with); a larger number, a sign, a blank
// or any other character makes the value malformed.
bool scan_u16(std::string_view text, uint16_t* out) {
  uint64_t value = 0;
  if (!parse_decimal(text, 0xFFFF, &value)) return false;
  *out = static_cast<uint16_t>(value);
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
      throw ToolExit{0, print_usage_screen(rules.tool_name, rules.usage_lines)};
    }
    if (typed == "--version") {
      const std::string banner = banner_line(rules.tool_name);
      out_text(banner);
      throw ToolExit{0, banner};
    }
  }
}

}  // namespace

bool parse_device_address(std::string_view text, uint16_t max, DeviceAddress* address) {
  DeviceAddress parsed;
  uint16_t* const parts[] = {&parsed.host_adapter, &parsed.id, &parsed.lun};
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? text.find(':') : text.size();
    uint64_t value = 0;
    if (end == std::string_view::npos || !parse_decimal(text.substr(0, end), max, &value))
      return false;
    *parts[i] = static_cast<uint16_t>(value);
    text.remove_prefix(i < 2 ? end + 1 : end);
  }
  *address = parsed;
  return true;
}

SwitchRule plain_switch(const std::string& name, bool* flag, bool value) {
  return SwitchRule{name, false,
                    [flag, value](const std::string&) {
                      *flag = value;
                      return true;
                    },
                    ""};
}

SwitchRule plain_switch(const std::string& name, std::function<void()> action) {
  return SwitchRule{name, false,
                    [action = std::move(action)](const std::string&) {
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
                      if (!parse_device_address(value, 0xFFFF, &parsed)) return false;
                      *address = parsed;
                      if (given) *given = true;
                      return true;
                    },
                    format_error};
}

SwitchRule number_switch(const std::string& name, uint16_t* value,
                         const std::string& format_error) {
  return SwitchRule{name, true,
                    [name, value](const std::string& upper) {
                      std::string text;
                      if (!value_after(upper, name, &text)) return false;
                      uint16_t parsed = 0;
                      if (!scan_u16(text, &parsed)) return false;
                      *value = parsed;
                      return true;
                    },
                    format_error};
}

SwitchRule path_switch(const std::string& name, std::string* value,
                       const std::string& format_error) {
  SwitchRule rule{name, true,
                  [name, value](const std::string& typed) {
                    // The name is matched in any case, the path kept as typed.
                    if (!value_after(upper_case(typed), name, value)) return false;
                    *value = typed.substr(typed.size() - value->size());
                    return !value->empty();
                  },
                  format_error};
  rule.keeps_case = true;
  return rule;
}

SwitchRule text_switch(const std::string& name, std::string* value,
                       const std::string& format_error) {
  return SwitchRule{
      name, true,
      [name, value](const std::string& upper) {
        std::string text;
        if (!value_after(upper, name, &text)) return false;
        std::size_t begin = 0;
        while (begin < text.size() && std::isspace(static_cast<unsigned char>(text[begin])))
          ++begin;
        std::size_t end = begin;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end]))) ++end;
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
  const bool needs_parameter =
      !rules.parameter_missing.empty() && !rules.parameter_missing[0].empty();
  if (argc <= 1 && rules.usage_when_empty && needs_parameter) {
    throw ToolExit{1,
                   print_usage_screen(rules.tool_name, rules.usage_lines, rules.usage_key_pause)};
  }
  std::vector<std::string> parameters;
  for (int i = 1; i < argc; ++i) {
    const std::string typed = argv[i] ? argv[i] : "";
    if (!is_switch_argument(typed)) {
      if (parameters.size() >= slots)
        fail_with(format_text("Too many parameters - %s\n", typed.c_str()));
      parameters.push_back(typed);
      continue;
    }
    const std::string upper = upper_case(typed);
    if (upper == "/?") {
      throw ToolExit{1,
                     print_usage_screen(rules.tool_name, rules.usage_lines, rules.usage_key_pause)};
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
    if (!match->apply(match->keeps_case ? typed : upper)) fail_with(match->format_error);
  }
  for (std::size_t slot = parameters.size(); slot < slots; ++slot) {
    if (!rules.parameter_missing[slot].empty()) fail_with(rules.parameter_missing[slot]);
  }
  return parameters;
}

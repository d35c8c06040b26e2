// The shared command-line grammar: slash switches from a tool's table, matched
// exactly (plain switches) or by prefix (switches with a value), and at most a
// fixed number of positional parameters. Every failure prints its text and
// throws ToolExit{1}; nothing else is done.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A device address "ha:id:lun".
struct DeviceAddress {
  uint16_t host_adapter = 0;
  uint16_t id = 0;
  uint16_t lun = 0;
  bool operator==(const DeviceAddress&) const = default;
};

// Reads "ha:id:lun": three decimal numbers of digits only, each at most
// `max`, separated by single colons, with nothing before or after. False,
// leaving `address` alone, for anything else.
bool parse_device_address(std::string_view text, uint16_t max, DeviceAddress* address);

struct SwitchRule {
  // "/BATCH" (plain) or "/ID" (with a value, matched by this prefix).
  std::string name;
  // True for a switch with a value.
  bool takes_value = false;
  // For plain switches: called when the switch is given.
  // For value switches: called with the whole upper-case argument; returns
  // false when the value does not scan, which prints `format_error`.
  std::function<bool(const std::string& upper)> apply;
  // "Error: Illegal /ID format!\n" and the like.
  std::string format_error;
  // True for a value that keeps its case (a file name): apply then gets the
  // argument as typed.
  bool keeps_case = false;
};

// Rules for the usual kinds of switches.
SwitchRule plain_switch(const std::string& name, bool* flag, bool value = true);
SwitchRule plain_switch(const std::string& name, std::function<void()> action);
// "/ID=%hu:%hu:%hu": each number read whole and at most 65535.
SwitchRule address_switch(const std::string& name, DeviceAddress* address, bool* given,
                          const std::string& format_error);
// "<name>=%hu": the number read whole and at most 65535.
SwitchRule number_switch(const std::string& name, uint16_t* value, const std::string& format_error);
// "<name>=path": the value as typed (not upper-cased), not empty.
SwitchRule path_switch(const std::string& name, std::string* value,
                       const std::string& format_error);
// "<name>=%s": one word, in upper case.
SwitchRule text_switch(const std::string& name, std::string* value,
                       const std::string& format_error);

struct CommandLine {
  std::string tool_name;                 // "SECTCONV"
  std::vector<std::string> usage_lines;  // after the banner and the empty line
  std::vector<SwitchRule> switches;      // in the tool's order
  // One entry per positional slot: the text printed when the parameter is
  // missing, or empty for an optional slot.
  std::vector<std::string> parameter_missing;
  // Show the usage screen when started without any argument.
  bool usage_when_empty = true;
  // Wait for a key between the banner and the usage lines.
  bool usage_key_pause = false;
};

// True when the argument is a switch: it begins with '/' and the part before
// the first '=' holds no second '/' (so "/data/in.iso" is a path).
bool is_switch_argument(const std::string& argument);

// Parses argv[1..]. Returns the positional parameters as typed (fewer than the
// slots when optional ones are missing). "/?" prints the usage screen and ends
// with status 1; "--help" prints it and "--version" the banner line, and both
// end with status 0 (ToolExit{0}).
std::vector<std::string> parse_command_line(const CommandLine& rules, int argc,
                                            const char* const* argv);

// Command-line pieces shared by the two programs that build ISO9660 volumes
// from a directory tree.
#pragma once

#include <string>

#include "common/switches.h"
#include "iso9660/tree.h"

// Longest volume label.
constexpr std::size_t MAX_VOLUME_LABEL = 32;

// "/VOLUME=label", upper-cased. A value that does not scan fails with "Error:
// Illegal /VOLUME format!\n", a longer one than 32 characters with "Error:
// Volume label is too long!\n", one with any character but A-Z, 0-9 and '_'
// (a blank, '/', a control byte, UTF-8) with "Error: Illegal /VOLUME
// format!\n" and a line that names the allowed characters (ToolExit{1}).
SwitchRule volume_label_switch(std::string* label);

// Checks that a source path names a directory: it must end with '/'. Fails
// with "Error: Invalid pathname specification!\n" (ToolExit{1}). The path
// is used as typed; only names inside the volume are upper case.
void check_source_path(const std::string& path);

// The switches of the volume's extensions, in the order of the usage
// screens: "/JOLIET", "/ROCKRIDGE", "/KEEPOWNERS", "/BOOTINFO",
// "/BOOTLOAD=sectors" (1 to 65535, else "Error: Illegal /BOOTLOAD format!\n")
// and "/BOOT=path" (as typed; empty: "Error: Illegal /BOOT format!\n").
std::vector<SwitchRule> volume_format_switches(VolumeFormat* format);

// The usage lines of those switches, the names padded to `width`.
std::vector<std::string> volume_format_usage(std::size_t width);

// The synopsis line of those switches.
extern const char VOLUME_FORMAT_SYNOPSIS[];

// Checks the switches together: /KEEPOWNERS needs /ROCKRIDGE, /BOOTLOAD and
// /BOOTINFO need /BOOT ("Error: /KEEPOWNERS needs /ROCKRIDGE!\n", "Error:
// /BOOTLOAD and /BOOTINFO need /BOOT=path!\n"; ToolExit{1}).
void check_volume_format(const VolumeFormat& format);

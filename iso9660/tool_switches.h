// Command-line pieces shared by the two programs that build ISO9660 volumes
// from a directory tree.
#pragma once

#include <string>

#include "common/switches.h"

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

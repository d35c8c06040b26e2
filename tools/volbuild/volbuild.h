// The image tool: writes the ISO9660 volume of one directory tree into an
// image file of 2048-byte blocks, or of raw 2352-byte mode 1 sectors.
#pragma once

#include <string>

#include "iso9660/tree.h"

struct VolbuildSettings {
  std::string source_path;  // as typed, ending with '/'
  std::string image_path;
  bool logging = true;
  bool include_hidden = false;
  bool raw = false;
  bool recurse = false;
  bool include_system = false;
  std::string label;    // upper case, at most 32 characters; empty: all spaces
  VolumeFormat format;  // /JOLIET, /ROCKRIDGE, /KEEPOWNERS, /BOOT=, /BOOTLOAD=, /BOOTINFO
};

// Parses "VOLBUILD pathname isofile [switches]". Every fault prints its text
// and throws ToolExit{1}; "/?" and an empty command line show the usage screen.
VolbuildSettings parse_volbuild_command_line(int argc, const char* const* argv);

// Scans the tree, lays out the volume, then creates the image and writes it.
// Every fault that can be found before writing (the tree's limits, a file of
// 4 GiB or more, an unreadable source directory, a file that cannot be
// opened, a /RAW volume past MAX_RAW_IMAGE_SECTORS) ends the run before the
// image file is touched. A failure once the image is begun adds the line
// "Image file \"%s\" is incomplete.\n" after its message. Returns the exit
// status (0); failures throw ToolExit{1} after their message.
int run_volbuild(const VolbuildSettings& settings);

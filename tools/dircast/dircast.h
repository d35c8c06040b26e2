// The directory recording tool: lays out the ISO9660 volume of one directory
// tree in memory, then records it onto a blank disc as one data track, track
// at once, producing the volume's blocks while the recorder writes them.
#pragma once

#include <cstdint>
#include <string>

#include "common/switches.h"
#include "iso9660/tree.h"
#include "tools/shared/recording_options.h"

struct DircastSettings {
  std::string source_path;     // the positional parameter, as typed, ending with '/'
  bool address_given = false;  // from /ID= or CDWRITER_ID
  DeviceAddress address;
  uint16_t speed = 0;     // factor of /SPEED= (0: the recorder's maximum)
  bool confirm = true;    // cleared by /NOCONFIRM and /BATCH
  bool logging = true;    // cleared by /BATCH
  bool finalize = true;   // cleared by /NOFINALIZE
  bool overburn = false;  // /OVERBURN: record past the free blocks the drive reports
  bool session = false;   // /SESSION: close the session only, leave the disc open
  bool test = false;      // /TEST
  bool recurse = false;
  bool include_hidden = false;
  bool include_system = false;
  std::string label;    // /VOLUME=, upper case, at most 32 characters
  VolumeFormat format;  // /JOLIET, /ROCKRIDGE, /KEEPOWNERS, /BOOT=, /BOOTLOAD=, /BOOTINFO
  VerifyChoice verify;  // /VERIFY[=ha:id:lun]: read the track back after recording
  BlankMode blank = BlankMode::None;  // /BLANK=FAST|FULL: blank a used CD-RW first
};

// Parses "DIRCAST pathname [switches]" on top of the environment's settings
// (load_scsi_settings must have run: CDWRITER_ID gives the default address,
// /ID= replaces it). Switch errors print their text and throw ToolExit{1};
// "/?" and an empty command line print the usage text and throw ToolExit{1}.
DircastSettings parse_dircast_command_line(int argc, const char* const* argv);

// Finds the recorder, scans and lays out the tree, asks for confirmation and
// records the track: the volume, then 150 zero blocks. Every fault that can
// be found before recording (the recorder, its capabilities, a disc that is
// not blank, the path, the tree's limits, a file that cannot be opened, a
// track too long for a disc) prints its text and throws ToolExit{1} before
// anything is written. Once the track is open, a file that cannot be read
// ends the run the same way and a device failure raises MSGVEC; the track is
// then left as it stands. Returns the exit status 0.
int run_dircast(const DircastSettings& settings);

// The cue sheet generator's work: settings from the command line, the
// drive, its capability check, the analysis of the disc and the cue sheet
// that describes it.
#pragma once

#include <cstdint>
#include <string>

#include "common/switches.h"
#include "engine/source_analysis.h"

struct SheetGenSettings {
  std::string cue_sheet;       // the one positional parameter
  bool address_given = false;  // /ID= or CDREADER_ID
  DeviceAddress address;
  bool logging = true;                          // cleared by /BATCH
  bool isrc = false;                            // /ISRC
  bool mcn = false;                             // /MCN
  bool cd_text = false;                         // /CDTEXT
  bool reset = false;                           // /RESET
  uint8_t speed_code = 255;                     // /SPEED, 255: maximum
  SubcodeScan scan = SCAN_NONE;                 // /SUBCODE
  uint16_t threshold = DEFAULT_SCAN_THRESHOLD;  // /THRESH
};

// Parses the command line on top of the environment's settings
// (load_scsi_settings must have run: CDREADER_ID gives the default address).
// Every refusal prints the tool's text and throws ToolExit{1}; "/?" and an
// empty command line print the usage screen and throw ToolExit{1}.
SheetGenSettings parse_sheet_gen_command_line(int argc, const char* const* argv);

// Runs the tool: finds the drive, refuses a subcode scan on a drive that
// cannot read the Q subchannel, analyses the disc and writes the cue sheet.
// The tool's own refusals print their text and throw ToolExit{1}; drive and
// file failures raise MSGVEC (a sheet that cannot be written whole among
// them). Returns the exit status 0.
int run_sheet_gen(const SheetGenSettings& settings);

// The cue sheet generator's work: settings from the command line, the
// drive, its capability check, the analysis of the disc and the cue sheet
// that describes it.
#pragma once

#include <cstdint>
#include <string>

#include "common/switches.h"
#include "engine/secure_reading.h"
#include "engine/source_analysis.h"
#include "tools/shared/rip_output.h"

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
  std::string copy;                             // /COPY=, as typed; empty: no copy
  bool secure = false;                          // /SECURE (with /COPY)
  unsigned retries = SECURE_DEFAULT_RETRIES;    // /RETRIES (with /COPY)
  bool retries_given = false;
  int32_t offset = 0;  // /OFFSET, else CD_READ_OFFSET (with /COPY): the drive's read offset
  bool offset_given = false;
};

// Parses the command line on top of the environment's settings
// (load_scsi_settings must have run: CDREADER_ID gives the default address).
// /SECURE, /RETRIES=n and /OFFSET=n (as ripspan reads them) go with /COPY
// only ("Error: /SECURE, /RETRIES and /OFFSET go with /COPY\n"); with /COPY
// CD_READ_OFFSET gives the default offset.
// Every refusal prints the tool's text and throws ToolExit{1}; "/?" and an
// empty command line print the usage screen and throw ToolExit{1}.
SheetGenSettings parse_sheet_gen_command_line(int argc, const char* const* argv);

// Runs the tool: finds the drive, refuses a subcode scan on a drive that
// cannot read the Q subchannel, analyses the disc, copies it with /COPY and
// writes the cue sheet (with the copy's FILE line).
// The tool's own refusals print their text and throw ToolExit{1}; drive and
// file failures raise MSGVEC (a sheet that cannot be written whole among
// them). Returns the exit status: 0, or 1 when a /SECURE copy left
// positions undecided (the image and the sheet written whole all the same).
int run_sheet_gen(const SheetGenSettings& settings);

// Where the /COPY image goes: beside the cue sheet (in its folder) unless
// the name is an absolute path.
std::string copy_path(const SheetGenSettings& settings);

// The format of a /COPY name by its extension (.bin, .wav, .flac in any
// case); prints "Error: /COPY file name must end in .bin, .wav or .flac\n"
// and throws ToolExit{1} for any other.
RipFormat copy_format(const std::string& name);

// Copies the whole analysed disc into the /COPY file: the data tracks as raw
// sectors, the audio through rip_audio (jitter-corrected on every drive, or
// secure with /SECURE, corrected by the read offset), and prints the audio's
// report with the disc's identifiers (when logging, or with /SECURE), as
// ripspan does. Refuses, before
// the file is made, a disc with data tracks into a WAV or FLAC file ("Error:
// A disc with data tracks can only be copied into a .bin file\n") and a disc
// of several sessions ("Error: A disc of several sessions cannot be copied
// into one image file\n"), with ToolExit{1}. Drive and file failures raise
// MSGVEC; a copy that fails part-way leaves what was read, as ripspan does.
// Returns the positions a secure read left undecided (after "Error: N
// suspicious positions ..." on standard error when there are).
std::size_t copy_disc(CdReader& reader, const DiscLayout& layout, const SheetGenSettings& settings);

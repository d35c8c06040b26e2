// The cue sheet parser: reads a cue sheet, checks it line by line, opens and
// measures every image file it names, and builds a CueSheetLayout.
//
// Faults raise an MSGVEC record: a fault on a line (or a file that is not a
// whole number of blocks, found at the next FILE or at the end) raises
// "Invalid CUE SHEET command at line %u" with the fault's text as the cause;
// a cue sheet that cannot be read raises 'Unable to open file "%s"'; a sheet
// without tracks, a last file without tracks and a last track without index 1
// raise their own text alone. No partly built layout is ever returned.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "layout/disc_layout.h"

// Parses the cue sheet at `path`. Image files are opened as written, relative
// to the current folder, else relative to the cue sheet's folder.
std::unique_ptr<CueSheetLayout> parse_cue_sheet(const std::string& path);

// Parses cue sheet text already in memory. Image file names that are not
// found as written are looked up in `sheet_folder` (empty: the current folder
// only). Accepts CRLF line ends, a UTF-8 byte-order mark and a last line
// without a newline.
std::unique_ptr<CueSheetLayout> parse_cue_sheet_text(std::string_view text,
                                                     const std::string& sheet_folder);

// Releases a parsed layout and everything it owns; `sheet` is left empty.
void free_cue_sheet(std::unique_ptr<CueSheetLayout>& sheet);

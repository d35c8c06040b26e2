// The cue sheet parser: reads a cue sheet, checks it line by line, opens and
// measures every image file it names, and builds a CueSheetLayout.
//
// Faults raise an MSGVEC record: a fault on a line (or a file that is not a
// whole number of blocks, found at the next FILE or at the end) raises
// "Invalid CUE SHEET command at line %u" with the fault's text as the cause;
// a cue sheet that cannot be read raises 'Unable to open file "%s"', with the
// reason as the cause when the sheet is no regular file or is larger than
// CUE_SHEET_SIZE_LIMIT; a sheet without tracks, a last file without tracks
// and a last track without index 1 raise their own text alone. No partly
// built layout is ever returned.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "layout/disc_layout.h"

// Bytes of the largest cue sheet read: far more than a sheet of 99 tracks
// with every command needs, far less than would tie up the machine.
constexpr std::size_t CUE_SHEET_SIZE_LIMIT = 1 << 20;

// Parses the cue sheet at `path`, which must be a regular file. Image files,
// regular files too, are opened as written, relative to the current folder,
// else relative to the cue sheet's folder. A WAVE file may be any audio file
// the audio front end reads (audio/audio_file.h); one that is refused gives
// "WAV file is invalid or not CDROM compatible!", one that is converted to
// CD audio a line in the layout's warnings.
std::unique_ptr<CueSheetLayout> parse_cue_sheet(const std::string& path);

// Parses cue sheet text already in memory. Image file names that are not
// found as written are looked up in `sheet_folder` (empty: the current folder
// only). Lines may be of any length; accepts CRLF line ends, a UTF-8
// byte-order mark and a last line without a newline.
std::unique_ptr<CueSheetLayout> parse_cue_sheet_text(std::string_view text,
                                                     const std::string& sheet_folder);

// Refuses a layout of more than one session (REM SESSION 02 or later):
// "The CUE SHEET lays out %u sessions (session %02u begins at track %02u);
// only a disc of one session can be recorded from it": for a recorder that
// cannot record one session after another. A layout's sessions are never
// recorded as one.
void check_single_session(const DiscLayout& layout);

// Prints on standard error, for each track whose FLAGS SCMS no recorder
// family records, "WARNING! FLAGS SCMS of track %02u is not recorded\n".
void warn_unrecorded_flags(const DiscLayout& layout);

// Releases a parsed layout and everything it owns; `sheet` is left empty.
void free_cue_sheet(std::unique_ptr<CueSheetLayout>& sheet);

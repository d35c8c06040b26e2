// The cue sheet of a layout, in the syntax the cue sheet parser reads:
// catalog number, the disc's texts, the image file (or a line asking for
// one), and per track (after "REM SESSION nn" where a session of a layout
// of several begins) its TRACK line, its texts, ISRC, FLAGS, PREGAP, every
// INDEX (as the time within an image file that begins at LBA 0) and POSTGAP.
// Texts (TITLE "...", REM GENRE ...) are written as text_line gives them; a
// layout read from a disc has none unless its CD-TEXT was put in.
#pragma once

#include <string>

#include "layout/disc_layout.h"

// The text of the cue sheet. Without an image file name (null) the FILE
// line is "REM Add 'FILE <filename> <filetype>' command here!"; a name is
// written as given, in double quotes when it holds a blank, with BINARY or,
// for an audio file (WAV, FLAC), WAVE after it. The cuepoints
// from the second up to the lead-out are written; the track entries are
// taken in order, one for each change of track number.
std::string cue_sheet_text(const DiscLayout& layout, const std::string* image_name,
                           FileType file_type = FileType::Binary);

// Writes cue_sheet_text into a file created (or emptied) at `path`. A file
// that cannot be created raises 'Unable to create file "%s"' (a FIFO
// without a reader is one that cannot be); a sheet that cannot be written
// whole, or a file that does not close cleanly, raises "Unexpected failure
// writing file (disk full?)".
void write_cue_sheet(const std::string& path, const DiscLayout& layout,
                     const std::string* image_name, FileType file_type = FileType::Binary);

// The disc information tool's work: find the drive, read the table of
// contents and list it track by track with the lead-out; on request the
// catalog number, the ISRC codes, the sector modes of data tracks and the
// drive's mode pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/switches.h"
#include "drivers/cd_reader.h"
#include "layout/cd_text.h"
#include "layout/disc_layout.h"

class CdReader;

struct DiscInfoSettings {
  bool address_given = false;  // from /ID= or CDREADER_ID
  DeviceAddress address;
  bool isrc = false;     // /ISRC
  bool mcn = false;      // /MCN
  bool mode = false;     // /MODE
  bool prompt = true;    // cleared by /NOPROMPT
  bool dump = false;     // /DUMP
  bool cd_text = false;  // /CDTEXT
};

// Parses the tool's command line on top of the environment's settings
// (load_scsi_settings must have run: CDREADER_ID gives the default address,
// /ID= replaces it). Switch errors print their text and throw ToolExit{1};
// "/?" prints the usage text and throws ToolExit{1}.
DiscInfoSettings parse_disc_info_command_line(int argc, const char* const* argv);

// Runs the tool: opens the transport, scans the bus, lists the disc of the
// first reader or recorder (or of the one at the given address). A missing
// drive prints the tool's error and throws ToolExit{1}; drive errors raise
// MSGVEC. With /MODE the drive is set back to 2048-byte blocks after the
// table of contents is read. The devices are released on every path.
// Returns the exit status 0.
int run_disc_info(const DiscInfoSettings& settings);

// One line of the listing for a track entry, ending in the ISRC or
// "Not Available" and a newline.
std::string disc_info_track_line(const TrackEntry& track);

// The CD-TEXT listing of /CDTEXT: for each block a blank line, then
// "CD-TEXT of the disc:\n" and of each track ("CD-TEXT of track NN:\n")
// that has any, with one line a field as the cue sheet writes it ("  TITLE
// \"...\"\n"); the headings of blocks after the first name them ("CD-TEXT
// block 1 (German) of track NN:"). "\nNo CD-TEXT on this disc\n" when there
// is none.
std::string cd_text_listing(const CdTextContents& contents);
// The lines that list a disc's sessions: "Session %02u: Tracks %02u to
// %02u, Leadout: MM:SS:FF (LBA %06lu)" each ("Sessions 01 to %02u" for
// those READ TOC format 1 cannot tell apart).
std::string disc_info_session_lines(const std::vector<DiscSession>& sessions);

// MODE SENSE of all pages (raising its failure) and the dump of as much of
// the answer as the drive sent and its mode data length covers.
std::string read_mode_page_dump(CdReader& reader);

// The mode page dump of a MODE SENSE answer of `length` bytes: page code and
// length of 12 pages from the first page after the block descriptors (as
// many bytes as the header's block descriptor length), and the speed of page
// 31h; the walk stops where a page would leave the data.
std::string mode_page_dump(const uint8_t* data, std::size_t length);

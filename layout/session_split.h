// The sessions of a cue sheet (REM SESSION nn), each as a layout of its own
// that a recorder records at once after the sessions before it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "layout/disc_layout.h"

// From the lead-out of a session to the index 1 of the next session's first
// track: lead-out (6750 blocks after the disc's first session, 2250 after a
// later one), lead-in (4500) and pregap (150).
constexpr uint32_t FIRST_SESSION_GAP_FRAMES = 6750 + 4500 + 150;
constexpr uint32_t LATER_SESSION_GAP_FRAMES = 2250 + 4500 + 150;
constexpr uint32_t SESSION_PREGAP_FRAMES = 150;

// One session of a sheet: a layout that begins as a parsed layout does (the
// first track's index 0 at LBA -150, its index 1 at LBA 0 or later), and
// the image files with the part of each that the session's tracks hold.
struct SheetSession {
  uint8_t number = 1;
  std::unique_ptr<DiscLayout> layout;
  std::vector<ImageFile> files;
};

// Splits a parsed sheet into its sessions (one for a sheet without REM
// SESSION). A later session's first track has a pregap of 150 blocks, as
// the drive lays it out after the gap between the sessions: generated
// blocks are added or left out to make it so; where the sheet lays out that
// gap before its index 1 (an INDEX 00 at the previous session's lead-out, as
// a sheet of a recorded disc does), the image's blocks of the lead-out and
// lead-in are left out too. Index 0 blocks of an image that are fewer than
// the gap raise "Track %02u opens session %02u with MM:SS:FF of INDEX 00:
// ...". A BINARY file
// may hold tracks of several sessions; an audio file that would have to be
// cut raises "The audio file \"%s\" holds tracks of two sessions, or the gap
// before a session: only a BINARY file can be cut there".
std::vector<SheetSession> split_sessions(const CueSheetLayout& sheet);

// The blocks from LBA 0 to the lead-out of the last session when the
// sessions are recorded one after the other on a blank disc.
uint32_t sessions_disc_blocks(const std::vector<SheetSession>& sessions);

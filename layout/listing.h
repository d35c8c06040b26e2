// The layout listing, and the checks of a layout against a 74-minute disc.
#pragma once

#include <cstdint>

#include "layout/disc_layout.h"

// Prints the layout's cuepoints on standard output, one row per track index
// (start and length as time and as frames), from the second cuepoint up to
// the lead-out. With `paging` it stops before every 16th further row with
// "<hit any key to continue>\r" and waits for one key (wait_for_key). With
// `warnings` it flags each non-zero index shorter than four seconds and ends
// with a warning paragraph when it flagged any.
void list_layout(const DiscLayout& layout, bool paging, bool warnings);

// True when a layout of `total_frames` frames from LBA 0 is longer than a
// 74-minute disc (MAX_DISC_FRAMES).
bool exceeds_disc_length(uint32_t total_frames);

// The recording tool's check after parsing: when the layout is longer than 74
// minutes, prints "WARNING! Total disc time (MM:SS:FF) exceeds 74 minutes!"
// (the lead-out's absolute time) on standard error; then with `confirm` asks
// "Hit <RETURN> to continue (or CTRL/C to exit)..." and returns after RETURN;
// without it the warning is all (the recorder reported no capacity, so the
// disc may well take the layout). Does nothing for a layout that fits.
void check_disc_length(const DiscLayout& layout, bool confirm);

// The source disc analysis's check: prints "\nWARNING: Disc is longer than 74
// minutes!\n" on standard error when `last_lba` is above MAX_DISC_FRAMES, and
// goes on. Returns whether it warned.
bool warn_long_source_disc(uint32_t last_lba);

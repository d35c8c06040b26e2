// Track commands that the Philips and Yamaha recorder families share: WRITE
// TRACK (0xE6), which opens a track at once, and fixation (0xE9), which
// writes the lead-in and lead-out of a session.
#pragma once

#include <cstdint>

#include "layout/disc_layout.h"
#include "scsi/device.h"

// 0xE6 for `track`: byte 5 its number, byte 6 the mode (audio: 4, plus 1
// with pre-emphasis; Mode 1: 1; Mode 2 and CD-i: 2) and, when `copy_bit` is
// set, 8 for a track that may be copied. MSG_BUGCHECK without a command for
// a type above 3.
ResultCode send_write_track(ScsiDevice& device, const TrackEntry& track, bool copy_bit);

// 0xE9, not immediate: close mode 0 to 3 as the drives number them (0, 1, 3,
// 4), plus 8 with `session` (the disc stays open). MSG_BUGCHECK without a
// command for a close mode above 3.
ResultCode send_fixation(ScsiDevice& device, uint8_t close_mode, uint8_t session);

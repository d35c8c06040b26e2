// YamahaRecorder: the recorders "CDR100" (class 19) and "CDR102" (class 20).
// Track at once by WRITE TRACK (0xE6) and fixation (0xE9) with the speed in
// mode page 0x31; disc at once by a drive cue sheet of 8-byte entries sent
// with WRITE TOC (0xEA) behind write mode page 0x32, an empty WRITE TRACK,
// the blocks by WRITE(10), and a lead-out the drive writes on its own after
// SYNCHRONIZE CACHE while TEST UNIT READY answers "Device aborted command".
// The two leaves differ only in their speed limits.
#pragma once

#include <cstdint>
#include <vector>

#include "drivers/recorder_driver.h"

class YamahaRecorder : public RecorderDriver {
 public:
  // Slots 13 to 20.
  ResultCode CloseTrack() override;                                       // SYNCHRONIZE CACHE
  ResultCode FinalizeDisc(uint8_t close_mode, uint8_t session) override;  // 0xE9
  ResultCode OpenTrack(const TrackEntry& track) override;                 // 0xE6
  ResultCode SetWritingBlockLength(uint8_t track_type, uint16_t block_size) override;  // 1
  ResultCode SetWritingSpeed(uint8_t speed, uint8_t test) override;                    // page 0x31
  // WRITE(10) at `address`; repeated after 100 ms while the drive answers
  // "Device is busy", for a minute at most (then the busy answer stands).
  ResultCode Write(uint8_t* buffer, uint16_t block_size, uint16_t count, int32_t address) override;
  // Page 0x32, WRITE TOC and the empty WRITE TRACK (both raise; a layout
  // whose cue sheet cannot be built raises under "WRITE TOC" before anything
  // is sent); nextWriteAddress := -150.
  ResultCode BeginDiscAtOnce(const DiscAtOnceJob& job) override;
  // SYNCHRONIZE CACHE (raises), then waits while the drive writes the
  // lead-out: TEST UNIT READY every 5 seconds while it answers "Device
  // aborted command", 61 pauses at most; a drive still writing after the
  // last pause raises "The CD-Recorder was still writing the lead-out ...".
  ResultCode EndDiscAtOnce(uint8_t progress) override;
  // The disc-at-once write mode always closes the disc.
  bool LeavesDiscOpen() const override { return false; }

  ResultCode SetReadingSpeed(uint8_t speed) override;  // page 0x31

 protected:
  explicit YamahaRecorder(uint8_t model_class) { apply_recorder_profile(*this, model_class); }

 private:
  ResultCode SendSpeedPage(uint8_t value);
};

class YamahaClass19 : public YamahaRecorder {  // "CDR100"
 public:
  YamahaClass19() : YamahaRecorder(19) {}
};

class YamahaClass20 : public YamahaRecorder {  // "CDR102"
 public:
  YamahaClass20() : YamahaRecorder(20) {}
};

// The drive cue sheet for WRITE TOC: the catalog number (two entries), the
// lead-in entry, per track its ISRC (two entries) and a zero-length index 0
// when it has none, every cuepoint, the lead-out. Empty when a track's type
// is above 3.
std::vector<uint8_t> yamaha_cue_sheet(const DiscLayout& layout);

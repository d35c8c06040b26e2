// RicohRecorder: the "RO1060C" (class 13), a track-at-once recorder. A track
// is described in mode page 0x22 and written with WRITE TRACK (0xE6), which
// carries the blocks itself; SYNCHRONIZE CACHE ends it and fixation (0xE9)
// closes the session or disc. Disc-at-once is refused. The reading slots are
// the generic ones.
#pragma once

#include <cstdint>

#include "drivers/recorder_driver.h"

class RicohRecorder : public RecorderDriver {
 public:
  ResultCode CloseTrack() override;                                       // SYNCHRONIZE CACHE
  ResultCode FinalizeDisc(uint8_t close_mode, uint8_t session) override;  // 0xE9
  ResultCode OpenTrack(const TrackEntry& track) override;                 // page 0x22 only
  ResultCode SetWritingBlockLength(uint8_t track_type, uint16_t block_size) override;  // 1
  ResultCode SetWritingSpeed(uint8_t speed, uint8_t test) override;  // page 0x31: test only
  // WRITE TRACK of `count` blocks; the address is not sent. A failure
  // raises "'WRITE TRACK' command failed ...", except "Device aborted
  // command", which is returned so that the WRITE wrapper tries again.
  ResultCode Write(uint8_t* buffer, uint16_t block_size, uint16_t count, int32_t address) override;
  ResultCode BeginDiscAtOnce(const DiscAtOnceJob& job) override;  // "Illegal command request"
  ResultCode EndDiscAtOnce(uint8_t progress) override;            // "Illegal command request"

 protected:
  explicit RicohRecorder(uint8_t model_class);
};

class RicohClass13 : public RicohRecorder {  // "RO1060C"
 public:
  RicohClass13() : RicohRecorder(13) {}
};

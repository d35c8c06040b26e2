// SonyRecorder: the recorders of the Sony command set (vendor operation
// codes 0xE0 to 0xE6, 0xF0, 0xF1, 0xF5; mode pages 0x20 to 0x23 and 0x31),
// and its leaf classes 15, 16 and 17.
//
// Disc-at-once sends the whole disc as one drive cue sheet of 8-byte entries
// with WRITE START and streams the blocks with the vendor write command,
// which counts bytes, not blocks; the drive writes lead-in and lead-out
// itself. Track-at-once describes each track in page 0x23 and opens it with
// 0xF5. The drives report two finished operations as failures, which count
// as success: unit attention 0xD4 after a fixation, 0x80 after the last write.
#pragma once

#include <cstdint>
#include <vector>

#include "drivers/recorder_driver.h"

class SonyRecorder : public RecorderDriver {
 public:
  // Slots 13 to 20.
  ResultCode CloseTrack() override;                                       // 0xF0
  ResultCode FinalizeDisc(uint8_t close_mode, uint8_t session) override;  // 0xF1
  ResultCode OpenTrack(const TrackEntry& track) override;                 // page 0x23, then 0xF5
  ResultCode SetWritingBlockLength(uint8_t track_type, uint16_t block_size) override;  // 1
  ResultCode SetWritingSpeed(uint8_t speed, uint8_t test) override;                    // page 0x20
  // 0xE1 of block_size * count bytes (at most 24 bits, else MSG_BUGCHECK);
  // the address is not sent.
  ResultCode Write(uint8_t* buffer, uint16_t block_size, uint16_t count, int32_t address) override;
  // PrepareDiscAtOnce, the drive cue sheet with WRITE START (raises "'WRITE
  // START' command failed ..."; a track type above 3 raises the bugcheck
  // before anything is sent), nextWriteAddress := -150.
  ResultCode BeginDiscAtOnce(const DiscAtOnceJob& job) override;
  ResultCode EndDiscAtOnce(uint8_t progress) override;  // 1: the drive writes the lead-out
  // The drive cue sheet has no way to keep the disc open.
  bool LeavesDiscOpen() const override { return false; }
  // Slot 21: page 0x22 read and sent back with its byte 2 cleared. A failed
  // MODE SENSE is returned without sending anything back.
  virtual ResultCode PrepareDiscAtOnce();

  ResultCode SetReadingSpeed(uint8_t speed) override;  // page 0x31

 protected:
  explicit SonyRecorder(uint8_t model_class);

  // Class 15: WRITE START with byte 1 bit 4, speeds through its own bits.
  bool discAtOnceOnly = false;

 private:
  // MODE SENSE(6) of `page_code` (allocation `allocation`); the page's
  // `page_length` bytes go behind a zeroed 4-byte header in `list`.
  ResultCode SensePage(uint8_t page_code, uint8_t allocation, uint8_t page_length,
                       std::vector<uint8_t>* list);
};

// Leaf classes: the model class codes of the recorder table.

// "CDW-900E": disc-at-once only (the track-at-once slots answer "Illegal
// command request" without a command), and its own reading and tray
// commands: 0xE3 starts a read at an address, 0xE4 reads on from there by
// byte count, 0xE2 stops, 0xE6 moves the tray. A read at another address
// than where the last one ended starts the read there first.
class SonyClass15 : public SonyRecorder {
 public:
  SonyClass15();
  ResultCode CloseTrack() override;
  ResultCode FinalizeDisc(uint8_t close_mode, uint8_t session) override;
  ResultCode OpenTrack(const TrackEntry& track) override;
  ResultCode PrepareDiscAtOnce() override;  // 1

  ResultCode EjectDisc() override;
  ResultCode LoadDisc() override;
  // Audio without subcode only (another format: MSG_BUGCHECK).
  ResultCode ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                       uint8_t subcode_format) override;
  // 2352-byte blocks come scrambled and are descrambled.
  ResultCode ReadData(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba) override;
  ResultCode SetBlockLength(uint8_t sector_kind, uint32_t block_length) override;  // 1
  ResultCode SetReadingSpeed(uint8_t speed) override;                              // page 0x21
  ResultCode StartAudioRead(uint32_t lba, uint32_t block_size) override;
  ResultCode StartDataRead(uint32_t lba, uint8_t sector_kind, uint32_t block_length) override;
  ResultCode StopAudioRead() override;
  ResultCode StopDataRead() override;

 private:
  ResultCode StartRead(uint32_t lba, bool data);
  ResultCode ReadOn(uint8_t* buffer, uint32_t block_size, uint32_t count, uint32_t lba, bool data);

  // Where the drive's read stands: the next LBA 0xE4 delivers and its kind
  // (valid after a successful start).
  bool readStarted = false;
  bool readData = false;
  uint32_t readNext = 0;
};

class SonyClass16 : public SonyRecorder {  // "CD-R   CDU920S", "CDS615E"
 public:
  SonyClass16() : SonyRecorder(16) {}
};

class SonyClass17 : public SonyRecorder {  // "CD-R   CDU924S", "CDS620E", "CD-R2001", ...
 public:
  SonyClass17() : SonyRecorder(17) {}
};

// The drive cue sheet for WRITE START: the lead-in entry, one entry per
// cuepoint (lead-out included) and, with `codes`, the catalog number and
// two entries per ISRC. Empty when a track's type is above 3.
std::vector<uint8_t> sony_cue_sheet(const DiscLayout& layout, bool codes);

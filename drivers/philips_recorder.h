// PhilipsRecorder: the recorders of the Philips command set (vendor
// operation codes 0xE6, 0xE7, 0xE9, 0xED, 0xEE, mode pages 0x22, 0x23 and,
// on class 14, 0x31), and its leaf classes, one per model class. The leaves
// set the model's fields and the few values in which its drives differ; the
// class 2 leaf records a whole disc from one table instead of a table of
// contents and a lead-in.
//
// Disc-at-once recording sets the drive's block length to 2352 bytes, so
// Write sends 2048-byte (Mode 1) and 2336-byte (Mode 2) blocks as raw
// sectors built at the addresses nextWriteAddress gives whenever 2352 is the
// block length in force. CD+G tracks go as 2448-byte blocks (audio and
// subcode, not byte-swapped) with the block length switched to 2448 for
// them; the lead-out goes at 2352 again.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "drivers/recorder_driver.h"

class PhilipsRecorder : public RecorderDriver {
 public:
  // Slots 13 to 20.
  ResultCode CloseTrack() override;                                       // SYNCHRONIZE CACHE
  ResultCode FinalizeDisc(uint8_t close_mode, uint8_t session) override;  // 0xE9
  ResultCode OpenTrack(const TrackEntry& track) override;                 // 0xE6
  // A CD+G track's 2448-byte blocks need that block length in force: it is
  // switched to 2448 for them and back to 2352 for the next track of
  // another size; otherwise nothing is sent. The result is SetBlockLength's.
  ResultCode SetWritingBlockLength(uint8_t track_type, uint16_t block_size) override;
  ResultCode SetWritingSpeed(uint8_t speed, uint8_t test) override;  // page 0x23 (0x31)
  // 2352-byte blocks are byte-swapped in place before WRITE(10) and swapped
  // back when the drive refuses them, so that a retry sends the same bytes.
  ResultCode Write(uint8_t* buffer, uint16_t block_size, uint16_t count, int32_t address) override;
  ResultCode BeginDiscAtOnce(const DiscAtOnceJob& job) override;
  ResultCode EndDiscAtOnce(uint8_t progress) override;
  // Only the models whose table of contents carries the session bit.
  bool LeavesDiscOpen() const override { return RecorderCaps & CAP_SESSION_BIT; }

  // Reading slots the family's drives answer differently.
  ResultCode EjectDisc() override;
  ResultCode LoadDisc() override;
  ResultCode ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                       uint8_t subcode_format) override;
  ResultCode ReadData(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba) override;
  // Any kind: a block descriptor with density 0 and block_length.
  ResultCode SetBlockLength(uint8_t sector_kind, uint32_t block_length) override;
  ResultCode SetReadingSpeed(uint8_t speed) override;
  ResultCode StartAudioRead(uint32_t lba, uint32_t block_size) override;
  ResultCode StopAudioRead() override;

  // READ SESSION: the lead-in and lead-out lengths the drive will write;
  // raises "'READ SESSION' command failed ..." when asked to.
  ResultCode ReadSession(uint16_t* leadin_blocks, uint16_t* leadout_blocks, bool raise);

 protected:
  explicit PhilipsRecorder(uint8_t model_class);

  // Values in which the leaves differ.
  bool descrambleRawData = true;  // ReadData descrambles 2352-byte blocks
  bool startStopEject = false;    // eject and load by START/STOP UNIT
  bool readCdda = false;          // audio by READ CD-DA; audio start and stop do nothing
  bool swapCdda = false;          // READ CD-DA audio comes byte-swapped
  bool speedPage31 = false;       // speeds through page 0x31; session format always 0

 private:
  // Where the LBA 0 of a session recorded after the disc's sessions lies:
  // past the disc's lead-out (READ TOC), its length (6750 blocks after the
  // first session, 2250 after a later one, by READ TOC format 1), a
  // lead-in and a pregap; 0 when the table of contents cannot be read.
  int32_t LaterSessionStart();
  ResultCode SendCatalogPage(const DiscLayout& layout);
  ResultCode SendSpeedPage(uint8_t code, uint8_t limit, bool writing, uint8_t test);
  ResultCode WriteAsRawSectors(const uint8_t* buffer, uint16_t block_size, uint16_t count,
                               int32_t address);

  // Kept from BeginDiscAtOnce for EndDiscAtOnce.
  uint16_t leadinLength = 0;
  uint16_t leadoutLength = 0;
  TrackType firstTrackType = TrackType::Audio;
  TrackType lastTrackType = TrackType::Audio;

  // The block length the last successful SetBlockLength put in force (0:
  // not known).
  uint32_t blockLengthInForce = 0;
  // Raw sectors built from 2048- and 2336-byte blocks, allocated at first use.
  std::vector<uint8_t> rawSectors;
  // A conversion that the drive refused part-way: the call it belongs to
  // and the blocks already accepted, so that a retry of the same call sends
  // only the rest.
  const uint8_t* partialBuffer = nullptr;
  uint16_t partialCount = 0;
  uint16_t partialSent = 0;
};

// Leaf classes: the model class codes of the recorder table.
class PhilipsClass6 : public PhilipsRecorder {  // "CDD521/02", "CDD521/10", "RF4100"
 public:
  PhilipsClass6() : PhilipsRecorder(6) {}
};

class PhilipsClass7 : public PhilipsRecorder {  // "CDD522/10", "PCD225"
 public:
  PhilipsClass7() : PhilipsRecorder(7) {}
};

class PhilipsClass8 : public PhilipsRecorder {  // "CDD2000", "CDR4220", "CD-R2000", ...
 public:
  PhilipsClass8() : PhilipsRecorder(8) { descrambleRawData = false; }
};

class PhilipsClass9 : public PhilipsRecorder {  // "CDD2600", "CDD2600/01", "CD-Writer 6020"
 public:
  PhilipsClass9() : PhilipsRecorder(9) { descrambleRawData = false; }
};

class PhilipsClass12 : public PhilipsRecorder {  // "CD-WO DW-S114X"
 public:
  PhilipsClass12() : PhilipsRecorder(12) {
    descrambleRawData = false;
    startStopEject = true;
    readCdda = true;
  }
};

class PhilipsClass14 : public PhilipsRecorder {  // "RO-1420C", "PX-R24CS"
 public:
  PhilipsClass14() : PhilipsRecorder(14) {
    descrambleRawData = false;
    startStopEject = true;
    readCdda = true;
    swapCdda = true;
    speedPage31 = true;
  }
};

// "KHSW/OB-01": the whole disc from one table (FORMAT DISC, WRITE DISC); the
// drive writes lead-in, first pregap and lead-out itself.
class PhilipsClass2 : public PhilipsRecorder {
 public:
  PhilipsClass2() : PhilipsRecorder(2) {}
  // Drops the first track's pregap from the job's layout, sets
  // nextWriteAddress to 0, sends the disc table and WRITE DISC (both raise).
  ResultCode BeginDiscAtOnce(const DiscAtOnceJob& job) override;
  // SYNCHRONIZE CACHE (raises).
  ResultCode EndDiscAtOnce(uint8_t progress) override;
  // The drive makes the first pregap of 2 seconds itself.
  bool RecordsLongFirstPregap() const override { return false; }
  // Its disc table counts from the disc's first block: a later session of
  // the same run would carry a first session's addresses.
  bool RecordsLaterSessions() const override { return false; }
};

// The drive's table of contents for WRITE SESSION: one descriptor per track
// (length, control nibble and ISRC flag, ISRC, then the LBAs of its indexes
// 1, 2, ... and of the next track's first cuepoint or the lead-out). Empty
// when a track's type is above 3.
std::vector<uint8_t> philips_session_toc(const DiscLayout& layout);

// The class 2 disc table for FORMAT DISC: the disc header, one 32-byte entry
// per track and the lead-out entry. Empty when a track's type is above 3.
std::vector<uint8_t> philips_disc_table(const DiscLayout& layout, bool session);

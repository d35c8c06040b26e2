// JvcRecorder: recorders on which the host programs the subcode of every
// area of the disc. Before blocks are written the driver sets address limits
// (SET LIMITS, 0xB3) and the Q subcode of each range (SET SUBCODE, 0xC2), and
// sends the table of contents entries the drive writes into the lead-in;
// optimum power calibration (0xEC), clearing the subcode (0xE4), writing the
// program memory area (0xE1) and fixation (0xE3) are commands of their own.
// Blocks go to the host's addresses (nextWriteAddress) with WRITE(10), whose
// control byte tells the drive whether more follow. Mode pages carry a
// block descriptor of 2048-byte blocks. Leaves: classes 10, 11 and 18.
#pragma once

#include <cstdint>
#include <vector>

#include "drivers/recorder_driver.h"

class JvcRecorder : public RecorderDriver {
 public:
  // Slots 13 to 20.
  // CLEAR SUBCODE, the table of contents of a one-track data disc whose
  // lead-out lies two blocks past nextWriteAddress, WRITE PMA (all raise).
  ResultCode CloseTrack() override;
  ResultCode FinalizeDisc(uint8_t close_mode, uint8_t session) override;  // 0xE3
  // Write mode page (track at once), block format, EXECUTE OPC, the subcode
  // of track 01 (pause from LBA -150, index 01 from 0 to two blocks past its
  // end), then 145 pregap blocks through the gap writer from LBA -145.
  ResultCode OpenTrack(const TrackEntry& track) override;
  // MODE SELECT of the block descriptor (density by type and size), unless
  // the drive already has that format; a type above 3 gives MSG_BUGCHECK.
  ResultCode SetWritingBlockLength(uint8_t track_type, uint16_t block_size) override;
  ResultCode SetWritingSpeed(uint8_t speed, uint8_t test) override;  // pages 0x21, 0x31
  // WRITE(10) at nextWriteAddress (`address` is not used); the control byte
  // carries 0 when the write ends at the end address, else 2 in bits 6-7.
  ResultCode Write(uint8_t* buffer, uint16_t block_size, uint16_t count, int32_t address) override;
  // Write mode page, EXECUTE OPC, the subcode program and the table of
  // contents of the layout (raise); nextWriteAddress := -150.
  ResultCode BeginDiscAtOnce(const DiscAtOnceJob& job) override;
  ResultCode EndDiscAtOnce(uint8_t progress) override;  // 1: the drive ends on the last write

  // READ CD-DA, three tries; with subcode format 1 the drive's unpacked Q
  // fields are packed into the standard Q layout.
  ResultCode ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                       uint8_t subcode_format) override;

  // The last block of the recording under way.
  int32_t endAddress = 0;

 protected:
  explicit JvcRecorder(uint8_t model_class) { apply_recorder_profile(*this, model_class); }

 private:
  // Mode page behind the header and the 2048-byte block descriptor (raises).
  void SendPage(const uint8_t* page, uint8_t page_bytes);
  void SendWriteModePage(uint8_t mode);
  // One programmed area: SET LIMITS, then its Q item.
  void ProgramArea(int32_t start, int32_t length, bool pause, uint8_t control, uint8_t track_bcd,
                   uint8_t index_bcd);
  void SendSubcode(const std::vector<uint8_t>& data);
  void Command12(uint8_t opcode, uint8_t byte5, const char* name);

  // The block format in force on the drive: density and block length, as
  // the last block descriptor sent left it (a mode page brings 2048-byte
  // blocks of density 0); none at first.
  bool formatKnown = false;
  uint8_t formatDensity = 0;
  uint16_t formatLength = 0;
};

class JvcClass10 : public JvcRecorder {  // "RCD-1000", "RCD5020", "RCD-5020", "XR-W2001"
 public:
  JvcClass10() : JvcRecorder(10) {}
};

class JvcClass11 : public JvcRecorder {  // "RCD5040", "RCD-5040", "XR-W2010"
 public:
  JvcClass11() : JvcRecorder(11) {}
};

class JvcClass18 : public JvcRecorder {  // "CD-R50S-000", "RCD 4X4"
 public:
  JvcClass18() : JvcRecorder(18) {}
};

// NecReader: the readers of the NEC command set. Audio comes through the
// vendor command D4h (always 2352-byte sectors), and the block length is set
// by reading the block descriptor with the error recovery page and sending
// both back. Leaves: model codes 21 to 24.
#pragma once

#include "drivers/cd_reader.h"

class NecReader : public CdReader {
 public:
  // READ CD-DA D4h of `count` 2352-byte sectors, whichever of the subcode
  // formats 0 to 2 is asked for (the caller's buffer then holds at least as
  // much). Format 3 (96 bytes a sector) and unknown formats, and a count
  // above 65535, return MSG_BUGCHECK without a command: the drive would send
  // more than the buffer holds.
  ResultCode ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                       uint8_t subcode_format) override;
  // Kind 0: 1 without a command. Otherwise MODE SENSE of 20 bytes for the
  // error recovery page (its failure is the result), then MODE SELECT of the
  // same 20 bytes (page format) with the header's first three bytes cleared,
  // block_length in the block descriptor and a read retry count of 3.
  ResultCode SetBlockLength(uint8_t sector_kind, uint32_t block_length) override;

 protected:
  explicit NecReader(uint8_t leaf_code);
};

class NecClass21 : public NecReader {  // "CD-ROM DRIVE:500"
 public:
  NecClass21() : NecReader(21) {}
};

class NecClass22 : public NecReader {  // "CD-ROM DRIVE:222", "CD-ROM DRIVE:501"
 public:
  NecClass22() : NecReader(22) {}
};

class NecClass23 : public NecReader {  // "CD-ROM DRIVE:502"
 public:
  NecClass23() : NecReader(23) {}
};

class NecClass24 : public NecReader {  // "CD-ROM DRIVE:462"
 public:
  NecClass24() : NecReader(24) {}
};

// ToshibaReader: readers that choose what READ(10) reads by the density code
// of the block descriptor: 82h audio (2352 bytes, or 2368 with the Q
// subchannel in the drive's own layout), 83h 2048-byte data, 00h other data
// block lengths, 81h the sector kind 2. Audio is read with READ(10); the
// drive keeps no reading speed. Leaves: model codes 33 to 35.
#pragma once

#include "drivers/cd_reader.h"

// Density codes of the block descriptor.
constexpr uint8_t TOSHIBA_DENSITY_DATA = 0x00;
constexpr uint8_t TOSHIBA_DENSITY_KIND2 = 0x81;
constexpr uint8_t TOSHIBA_DENSITY_AUDIO = 0x82;
constexpr uint8_t TOSHIBA_DENSITY_DATA_2048 = 0x83;

class ToshibaReader : public CdReader {
 public:
  // READ(10) of audio at the block length in force (set by SetBlockLength
  // of kind 0): `count` 2352-byte sectors for subcode formats 0 and 2, and
  // 2368-byte sectors for format 1, whose last 16 bytes are then rewritten
  // from the drive's layout (control, ADR, track, index, relative and
  // absolute M:S:F in bytes 2352-2361) into the standard Q layout (control
  // and ADR in one byte, track, index, relative M:S:F, a zero, absolute
  // M:S:F, zeros). Format 3 and unknown formats, and a count above 65535,
  // return MSG_BUGCHECK without a command.
  ResultCode ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                       uint8_t subcode_format) override;
  // A block descriptor (density, block_length, no blocks): kind 0 density
  // 82h; kind 1 83h for 2048 bytes, else 00h; kind 2 81h. Any other kind
  // returns MSG_BUGCHECK without a command.
  ResultCode SetBlockLength(uint8_t sector_kind, uint32_t block_length) override;
  ResultCode SetReadingSpeed(uint8_t speed) override;                     // 1
  ResultCode StartAudioRead(uint32_t lba, uint32_t block_size) override;  // kind 0
  ResultCode StopAudioRead() override;                                    // kind 1, 2048
  // StartDataRead and StopDataRead keep the generic forms, which go through
  // SetBlockLength above.

 protected:
  explicit ToshibaReader(uint8_t leaf_code);
};

class ToshibaClass33 : public ToshibaReader {  // "CD-ROM XM-3401TA", "XM-3401TE", "XM-4100TA", ...
 public:
  ToshibaClass33() : ToshibaReader(33) {}
};

class ToshibaClass34 : public ToshibaReader {  // "CD-ROM XM-5901TA", "XM-5901TD", "XM-3501TA", ...
 public:
  ToshibaClass34() : ToshibaReader(34) {}
};

class ToshibaClass35 : public ToshibaReader {  // "CD-ROM XM-3701TA", "XM-5401TA", "XM-5601TA"
 public:
  ToshibaClass35() : ToshibaReader(35) {}
};

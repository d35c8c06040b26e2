// SonyReader: readers that take their reading speed from the vendor page
// 31h with their own values. Leaves: model codes 31 and 32.
#pragma once

#include "drivers/cd_reader.h"

class SonyReader : public CdReader {
 public:
  // Page 31h with the speed value of min(speed, maxReadSpeed): 00h, 01h,
  // FFh for indexes 0 to 2.
  ResultCode SetReadingSpeed(uint8_t speed) override;

 protected:
  explicit SonyReader(uint8_t leaf_code);
};

class SonyClass31 : public SonyReader {  // "CD-ROM CDU-561", "CDU-8003", "CDU-8003A", ...
 public:
  SonyClass31() : SonyReader(31) {}
};

class SonyClass32 : public SonyReader {  // "CD-ROM CDU-76S"
 public:
  SonyClass32() : SonyReader(32) {}
};

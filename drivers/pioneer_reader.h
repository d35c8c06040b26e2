// PioneerReader: readers that take the generic reader's commands throughout
// and differ from it only in their values (no CD+G subcode, higher speeds).
// Leaves: model codes 25 and 26.
#pragma once

#include "drivers/cd_reader.h"

class PioneerReader : public CdReader {
 protected:
  explicit PioneerReader(uint8_t leaf_code);
};

class PioneerClass25 : public PioneerReader {  // "CD-ROM DR-U124X"
 public:
  PioneerClass25() : PioneerReader(25) {}
};

class PioneerClass26 : public PioneerReader {  // "CD-ROM DR-U10X"
 public:
  PioneerClass26() : PioneerReader(26) {}
};

// PlextorReader: readers that switch error recovery through the error
// recovery page and take their reading speed from the vendor page 31h.
// Leaves: model codes 27 to 30.
#pragma once

#include "drivers/cd_reader.h"

class PlextorReader : public CdReader {
 public:
  // SET ERROR RECOVERY with the TB, PER and DTE flags (26h), retry count 3.
  ResultCode DisableErrorRecovery() override;
  // SET ERROR RECOVERY with no flags, retry count 3.
  ResultCode EnableErrorRecovery() override;
  // Page 31h with the speed value of min(speed, maxReadSpeed): 0, 1, 2, 3,
  // 4, 4, 5 for indexes 0 to 6.
  ResultCode SetReadingSpeed(uint8_t speed) override;

 protected:
  explicit PlextorReader(uint8_t leaf_code);
};

class PlextorClass27 : public PlextorReader {  // "CD-ROM PX-4XCE", "PX-4XCH", "PX-4XCS"
 public:
  PlextorClass27() : PlextorReader(27) {}
};

class PlextorClass28 : public PlextorReader {  // "CD-ROM PX-6XCS"
 public:
  PlextorClass28() : PlextorReader(28) {}
};

class PlextorClass29 : public PlextorReader {  // "CD-ROM PX-8XCS"
 public:
  PlextorClass29() : PlextorReader(29) {}
};

class PlextorClass30 : public PlextorReader {  // "CD-ROM PX-12CS", "CD-ROM PX-12TS"
 public:
  PlextorClass30() : PlextorReader(30) {}
};

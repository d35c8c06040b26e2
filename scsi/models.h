// The built-in tables of known drive models: recorders, readers and the disc
// transporter. A row's model code selects the driver class (scan.h).
#pragma once

#include <cstdint>

// 16 characters padded with blanks and a terminating zero; a table ends with
// a row whose name begins with zero.
struct ModelEntry {
  char product[17];
  uint8_t model_code;
};

// Model codes outside the tables.
constexpr uint8_t MODEL_DISK = 0;
constexpr uint8_t MODEL_UNKNOWN_CDROM = 1;
constexpr uint8_t MODEL_TRANSPORTER = 3;
// A CD drive the tables do not know that answers GET CONFIGURATION as a
// drive of the multimedia command set (scan.h, set_unknown_drive_probe).
constexpr uint8_t MODEL_MMC = 36;

extern const ModelEntry recorder_models[];
extern const ModelEntry reader_models[];
extern const ModelEntry transporter_models[];

// The first row whose name equals `product` (a zero-terminated 16-character
// product identification) byte for byte, trailing blanks included; null when
// there is none.
const ModelEntry* lookup_model(const ModelEntry* table, const char* product);

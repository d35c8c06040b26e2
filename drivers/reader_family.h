// What the reader families share: the values a leaf class sets (one table
// row per model code, kept beside each family's classes) and the vendor
// speed page 31h that more than one family selects its reading speed with.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drivers/cd_reader.h"

// The values in which the leaves of a reader family differ.
struct ReaderModel {
  uint8_t model_code;
  uint16_t caps;                    // readerCaps
  uint16_t default_block_length;    // defaultBlockLength
  uint8_t max_recorder_read_speed;  // maxRecorderReadSpeed
  uint8_t max_read_speed;           // maxReadSpeed
};

// Sets the reader's fields from the row of `models` with `model_code`; a
// code without a row leaves the generic reader's values.
template <std::size_t N>
void apply_reader_model(CdReader& reader, const ReaderModel (&models)[N], uint8_t model_code) {
  for (const ReaderModel& row : models) {
    if (row.model_code != model_code) continue;
    reader.readerCaps = row.caps;
    reader.defaultBlockLength = row.default_block_length;
    reader.maxRecorderReadSpeed = row.max_recorder_read_speed;
    reader.maxReadSpeed = row.max_read_speed;
  }
}

// SetReadingSpeed of the families that take a speed value from a table:
// index = the smaller of `speed` and the reader's maxReadSpeed (and of the
// table's last index), then MODE SELECT (page format) of the 8-byte list
// with page 31h, length 2, and the table's value in byte 6.
template <std::size_t N>
ResultCode select_speed_page(CdReader& reader, const uint8_t (&values)[N], uint8_t speed) {
  uint8_t index = speed < reader.maxReadSpeed ? speed : reader.maxReadSpeed;
  if (index >= N) index = static_cast<uint8_t>(N - 1);
  uint8_t data[8] = {0, 0, 0, 0, 0x31, 0x02, values[index], 0};
  return reader.ModeSelectRaw(data, sizeof data, true);
}

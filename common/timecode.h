// CD time codes: minute, second, frame (75 frames a second), logical block
// addresses (LBA 0 is absolute time 00:02:00) and binary-coded decimal.
#pragma once

#include <cstdint>
#include <string>

constexpr int32_t FRAMES_PER_SECOND = 75;
constexpr int32_t FRAMES_PER_MINUTE = 4500;
// Absolute frames before LBA 0.
constexpr int32_t LBA_OFFSET_FRAMES = 150;
// The last address whose time a sector header can show in BCD: 99:59:74,
// LBA 449849. Past it a header is not BCD, and past minute 255 it repeats
// an earlier one.
constexpr int32_t LAST_BCD_LBA =
    99 * FRAMES_PER_MINUTE + 59 * FRAMES_PER_SECOND + 74 - LBA_OFFSET_FRAMES;

// Minute, second, frame as binary values (not BCD).
struct MsfTime {
  uint8_t minute = 0;
  uint8_t second = 0;
  uint8_t frame = 0;
  bool operator==(const MsfTime&) const = default;
};

// minute*4500 + second*75 + frame - 150.
int32_t msf_to_lba(uint8_t minute, uint8_t second, uint8_t frame);
// minute*4500 + second*75 + frame.
int32_t msf_to_frames(uint8_t minute, uint8_t second, uint8_t frame);
// Splits a frame count; each field is stored as a byte.
void frames_to_msf(int32_t frames, MsfTime* out);
MsfTime frames_to_msf(int32_t frames);
// Absolute time of an LBA (adds 150 first).
void lba_to_msf(int32_t lba, MsfTime* out);
MsfTime lba_to_msf(int32_t lba);
// "MM:SS:FF" of a frame count.
std::string msf_text(int32_t frames);

// (byte & 0x0F) + (byte >> 4) * 10; the digits are not checked.
uint8_t bcd_to_bin(uint8_t byte);
// BCD of the low byte of value; a value of 100 or more prints
// "Illegal BCD number!\n" on standard error and returns the formula's byte.
uint8_t bin_to_bcd(uint32_t value);

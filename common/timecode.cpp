#include "common/timecode.h"

#include <cstdio>

int32_t msf_to_lba(uint8_t minute, uint8_t second, uint8_t frame) {
  return msf_to_frames(minute, second, frame) - LBA_OFFSET_FRAMES;
}

int32_t msf_to_frames(uint8_t minute, uint8_t second, uint8_t frame) {
  return minute * FRAMES_PER_MINUTE + second * FRAMES_PER_SECOND + frame;
}

void frames_to_msf(int32_t frames, MsfTime* out) {
  out->minute = static_cast<uint8_t>(frames / FRAMES_PER_MINUTE);
  out->second = static_cast<uint8_t>((frames % FRAMES_PER_MINUTE) / FRAMES_PER_SECOND);
  out->frame = static_cast<uint8_t>(frames % FRAMES_PER_SECOND);
}

MsfTime frames_to_msf(int32_t frames) {
  MsfTime msf;
  frames_to_msf(frames, &msf);
  return msf;
}

void lba_to_msf(int32_t lba, MsfTime* out) { frames_to_msf(lba + LBA_OFFSET_FRAMES, out); }

MsfTime lba_to_msf(int32_t lba) {
  MsfTime msf;
  lba_to_msf(lba, &msf);
  return msf;
}

uint8_t bcd_to_bin(uint8_t byte) { return static_cast<uint8_t>((byte & 0x0F) + (byte >> 4) * 10); }

uint8_t bin_to_bcd(uint32_t value) {
  const uint32_t low = value & 0xFF;
  if (low >= 100) {
    std::fflush(stdout);
    std::fputs("Illegal BCD number!\n", stderr);
  }
  return static_cast<uint8_t>((low / 10) * 16 + low % 10);
}

std::string msf_text(int32_t frames) {
  const MsfTime time = frames_to_msf(frames);
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", time.minute, time.second, time.frame);
  return text;
}

// What a real drive's audio reads show beyond jitter, for the secure reader
// to prove itself against: scratched sectors, the drive's read offset, its
// read cache.
//
// Bus value items:
// - scratch=FIRST[-LAST]: those LBAs read differently on each read (a few
//   bytes wrong, flagged in the C2 error pointers), and right one read in
//   four;
// - offset=N: the drive's read offset in stereo samples (-5000 to 5000):
//   asked for a sector it delivers the audio that begins N samples earlier
//   (a ripper corrects it by reading N samples later);
// - cache=1: a re-read of a sector still in the drive's 1 MiB buffer (the
//   last 445 sectors delivered) returns the earlier read's bytes and C2
//   pointers.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "emulator/cd_disc.h"
#include "emulator/device.h"

class ReadDefects {
 public:
  static constexpr uint32_t C2_BYTES = 294;
  static constexpr uint32_t CACHE_BYTES = 1024 * 1024;

  // Takes the items above; throws EmulatedBusError for a bad value.
  void take_items(EmulatedDevice& device);

  // The shift in bytes the drive's read offset adds to every audio read.
  int64_t offset_bytes() const { return -4 * int64_t{offset_samples_}; }
  bool caches() const { return cache_; }

  // The source of a shifted audio read (AudioSectorSource): the disc
  // sector at `lba` as the drive reads it this time: its cached read while
  // the cache holds it, else the disc's bytes, scratched when the sector is,
  // with the C2 pointers of the wrong bytes.
  void read_sector(const EmulatedDisc& disc, int32_t lba, uint8_t* audio, uint8_t* c2);
  // Keeps the C2 pointers of a sector delivered to the host, which c2()
  // then gives.
  void delivered(const uint8_t* c2);
  const std::array<uint8_t, C2_BYTES>& c2() const { return c2_; }

 private:
  uint64_t next_random();

  int32_t scratch_first_ = 1;
  int32_t scratch_last_ = 0;
  int32_t offset_samples_ = 0;
  bool cache_ = false;
  uint64_t random_ = 0x5EED;
  std::array<uint8_t, C2_BYTES> c2_{};
  struct Cached {
    std::vector<uint8_t> audio;
    std::array<uint8_t, C2_BYTES> c2;
  };
  std::unordered_map<int32_t, Cached> cached_;
  std::deque<int32_t> cache_order_;
};

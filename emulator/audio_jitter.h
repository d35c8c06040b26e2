// Jitter of the emulated CD-ROM drive's audio reads, as the drives that
// jitter correction was made for showed it: each READ CD-DA but the first
// after a REZERO UNIT (or after power-on) starts up to N stereo samples
// (4 bytes each) early or late, chosen by a reproducible generator. Data
// reads stay exact; subcode stays with the sector that was asked for.
//
// Bus value items: jitter=N (0 to 100000 samples, default 0: exact) and
// seed=S (0 to 4294967295, default 1) of the generator.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "emulator/cd_disc.h"
#include "emulator/device.h"

class AudioJitter {
 public:
  // Takes jitter= and seed= from the device; throws EmulatedBusError for a
  // value that is not a number in range.
  void take_items(EmulatedDevice& device);

  // REZERO UNIT: the next audio read lands exactly.
  void rezero() { exact_next_ = true; }
  // The shift in bytes of the next audio read (negative: early).
  int64_t next_shift_bytes();

 private:
  uint32_t samples_ = 0;
  uint64_t state_ = 1;
  bool exact_next_ = true;
};

// Where a shifted read takes each disc sector's 2352 bytes and its C2
// pointers (294 bytes, one bit a byte); null: the disc's bytes, no errors.
using AudioSectorSource = std::function<void(int32_t lba, uint8_t* sector, uint8_t* c2)>;

// Reads the 2352 audio bytes that begin `shift` bytes after the start of
// each sector asked for, keeping the last two sectors it read so that a run
// of consecutive sectors reads each one once. Bytes outside the disc read as
// zeros.
class ShiftedAudioReader {
 public:
  static constexpr std::size_t C2_BYTES = 294;

  ShiftedAudioReader(const EmulatedDisc& disc, int64_t shift, AudioSectorSource source = {})
      : disc_(disc), shift_(shift), source_(std::move(source)) {}
  // The audio of the sector at `lba`, and, when `c2` is given, the C2
  // pointers of the bytes delivered.
  void read(int32_t lba, uint8_t* out, uint8_t* c2 = nullptr);

 private:
  std::size_t sector(int64_t lba);  // the slot that holds it

  const EmulatedDisc& disc_;
  int64_t shift_;
  AudioSectorSource source_;
  std::array<int64_t, 2> cached_lba_{INT64_MIN, INT64_MIN};
  std::array<std::array<uint8_t, 2352>, 2> cached_{};
  std::array<std::array<uint8_t, C2_BYTES>, 2> cached_c2_{};
};

#include "emulator/audio_jitter.h"

#include <cstring>
#include <string>

#include "common/numbers.h"
#include "common/sector.h"

namespace {

constexpr uint32_t MAX_JITTER_SAMPLES = 100000;

}  // namespace

void AudioJitter::take_items(EmulatedDevice& device) {
  uint64_t value = 0;
  if (const auto item = device.take_item("jitter")) {
    if (!parse_decimal(*item, MAX_JITTER_SAMPLES, &value))
      throw EmulatedBusError("bad item \"jitter=" + *item + "\" (0 to 100000 stereo samples)");
    samples_ = static_cast<uint32_t>(value);
  }
  if (const auto item = device.take_item("seed")) {
    if (!parse_decimal(*item, UINT32_MAX, &value))
      throw EmulatedBusError("bad item \"seed=" + *item + "\" (0 to 4294967295)");
    state_ = value;
  }
}

int64_t AudioJitter::next_shift_bytes() {
  const bool exact = exact_next_;
  exact_next_ = false;
  if (exact || samples_ == 0) return 0;
  // splitmix64: every seed, 0 included, gives a long sequence.
  state_ += 0x9E3779B97F4A7C15ull;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  const auto span = uint64_t{samples_} * 2 + 1;
  return (static_cast<int64_t>(z % span) - static_cast<int64_t>(samples_)) * 4;
}

std::size_t ShiftedAudioReader::sector(int64_t lba) {
  const std::size_t slot = static_cast<std::size_t>(lba & 1);
  if (cached_lba_[slot] != lba) {
    cached_c2_[slot].fill(0);
    if (lba < INT32_MIN / 2 || lba > INT32_MAX / 2) {
      cached_[slot].fill(0);
    } else if (source_) {
      source_(static_cast<int32_t>(lba), cached_[slot].data(), cached_c2_[slot].data());
    } else {
      disc_.read_sector(static_cast<int32_t>(lba), cached_[slot].data());
    }
    cached_lba_[slot] = lba;
  }
  return slot;
}

namespace {

bool pointer_bit(const uint8_t* c2, std::size_t byte) {
  return c2[byte / 8] & (0x80 >> (byte % 8));
}

}  // namespace

void ShiftedAudioReader::read(int32_t lba, uint8_t* out, uint8_t* c2) {
  const auto size = static_cast<int64_t>(RAW_SECTOR_SIZE);
  const int64_t position = int64_t{lba} * size + shift_;
  int64_t first = position / size;
  if (position % size < 0) --first;  // round toward minus infinity
  const auto within = static_cast<std::size_t>(position - first * size);
  const std::size_t a = sector(first);
  const std::size_t b = within > 0 ? sector(first + 1) : a;
  std::memcpy(out, cached_[a].data() + within, RAW_SECTOR_SIZE - within);
  if (within > 0) std::memcpy(out + RAW_SECTOR_SIZE - within, cached_[b].data(), within);
  if (c2 == nullptr) return;
  if (within == 0) {
    std::memcpy(c2, cached_c2_[a].data(), C2_BYTES);
    return;
  }
  std::memset(c2, 0, C2_BYTES);
  for (std::size_t i = 0; i < RAW_SECTOR_SIZE; ++i) {
    const bool bad = i < RAW_SECTOR_SIZE - within
                         ? pointer_bit(cached_c2_[a].data(), i + within)
                         : pointer_bit(cached_c2_[b].data(), i - (RAW_SECTOR_SIZE - within));
    if (bad) c2[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
}

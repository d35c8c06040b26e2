#include "emulator/read_defects.h"

#include <cstdio>
#include <cstring>

#include "common/numbers.h"
#include "common/sector.h"

namespace {

constexpr uint64_t MAX_LBA = 450000;
constexpr uint64_t MAX_OFFSET = 5000;
constexpr unsigned WRONG_BYTES = 8;  // bytes a scratched read gets wrong
constexpr std::size_t CACHE_SECTORS = ReadDefects::CACHE_BYTES / RAW_SECTOR_SIZE;

bool parse_offset(const std::string& text, int32_t* out) {
  const bool negative = !text.empty() && (text[0] == '-' || text[0] == '+');
  uint64_t value = 0;
  if (!parse_decimal(negative ? text.substr(1) : text, MAX_OFFSET, &value)) return false;
  *out = text[0] == '-' ? -static_cast<int32_t>(value) : static_cast<int32_t>(value);
  return true;
}

}  // namespace

void ReadDefects::take_items(EmulatedDevice& device) {
  if (const auto item = device.take_item("scratch")) {
    const std::size_t dash = item->find('-');
    uint64_t first = 0, last = 0;
    bool read = parse_decimal(item->substr(0, dash), MAX_LBA, &first);
    last = first;
    if (read && dash != std::string::npos)
      read = parse_decimal(item->substr(dash + 1), MAX_LBA, &last);
    if (!read || last < first)
      throw EmulatedBusError("bad item \"scratch=" + *item + "\" (FIRST[-LAST], LBAs)");
    scratch_first_ = static_cast<int32_t>(first);
    scratch_last_ = static_cast<int32_t>(last);
  }
  if (const auto item = device.take_item("offset")) {
    if (!parse_offset(*item, &offset_samples_))
      throw EmulatedBusError("bad item \"offset=" + *item + "\" (-5000 to 5000 stereo samples)");
  }
  if (const auto item = device.take_item("cache")) {
    if (*item != "0" && *item != "1")
      throw EmulatedBusError("bad item \"cache=" + *item + "\" (0 or 1)");
    cache_ = *item == "1";
  }
}

uint64_t ReadDefects::next_random() {
  // splitmix64
  random_ += 0x9E3779B97F4A7C15ull;
  uint64_t z = random_;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void ReadDefects::read_sector(const EmulatedDisc& disc, int32_t lba, uint8_t* audio, uint8_t* c2) {
  if (cache_) {
    const auto found = cached_.find(lba);
    if (found != cached_.end()) {
      std::memcpy(audio, found->second.audio.data(), RAW_SECTOR_SIZE);
      std::memcpy(c2, found->second.c2.data(), C2_BYTES);
      return;
    }
  }
  disc.read_sector(lba, audio);
  std::memset(c2, 0, C2_BYTES);
  if (lba >= scratch_first_ && lba <= scratch_last_ && next_random() % 4 != 0) {
    for (unsigned i = 0; i < WRONG_BYTES; ++i) {
      const uint64_t r = next_random();
      const auto at = static_cast<std::size_t>(r % RAW_SECTOR_SIZE);
      audio[at] ^= static_cast<uint8_t>(1 + (r >> 32) % 255);
      c2[at / 8] |= static_cast<uint8_t>(0x80 >> (at % 8));
    }
  }
  if (!cache_) return;
  Cached& entry = cached_[lba];
  entry.audio.assign(audio, audio + RAW_SECTOR_SIZE);
  std::memcpy(entry.c2.data(), c2, C2_BYTES);
  cache_order_.push_back(lba);
  while (cache_order_.size() > CACHE_SECTORS) {
    // Held since its first read: a re-read while cached does not renew it.
    cached_.erase(cache_order_.front());
    cache_order_.pop_front();
  }
}

void ReadDefects::delivered(const uint8_t* c2) { std::memcpy(c2_.data(), c2, C2_BYTES); }

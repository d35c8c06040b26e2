#include "engine/read_offset.h"

#include <algorithm>
#include <vector>

#include "common/sector.h"

namespace {

constexpr int64_t SECTOR = RAW_SECTOR_SIZE;

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Collects bytes and passes them on in whole sectors.
class SectorAssembler {
 public:
  explicit SectorAssembler(const SpanSink& sink) : sink_(sink) {}
  void add(const uint8_t* bytes, std::size_t length) {
    pending_.insert(pending_.end(), bytes, bytes + length);
    const std::size_t whole = pending_.size() / SECTOR;
    if (whole == 0) return;
    sink_(pending_.data(), RAW_SECTOR_SIZE, static_cast<uint32_t>(whole));
    pending_.erase(pending_.begin(),
                   pending_.begin() + static_cast<std::ptrdiff_t>(whole * SECTOR));
  }
  void zeros(std::size_t length) {
    const std::vector<uint8_t> zero(length, 0);
    add(zero.data(), zero.size());
  }

 private:
  const SpanSink& sink_;
  std::vector<uint8_t> pending_;
};

// The bytes of sectors first..last outside the readable area, from one
// plain read, or empty when the drive refuses it.
std::vector<uint8_t> probe(CdReader& reader, int64_t first, int64_t last) {
  if (first < 0 || last > UINT32_MAX || last < first) return {};
  std::vector<uint8_t> bytes(static_cast<std::size_t>(last - first + 1) * SECTOR);
  const ResultCode result =
      reader.ReadAudioSectors(bytes.data(), static_cast<uint32_t>(last - first + 1),
                              static_cast<uint32_t>(first), SUBCODE_NONE, false);
  return result == 1 ? bytes : std::vector<uint8_t>{};
}

}  // namespace

OffsetReadReport read_with_offset(CdReader& reader, int32_t offset, uint32_t first, uint32_t last,
                                  uint32_t readable_first, uint32_t readable_last,
                                  const SectorRangeReader& read, const SpanSink& sink) {
  OffsetReadReport report;
  if (offset == 0) {
    read(first, last, sink);
    return report;
  }
  // The drive's byte stream wanted: [begin, end), counted from LBA 0.
  const int64_t begin = int64_t{first} * SECTOR + 4 * int64_t{offset};
  const int64_t end = (int64_t{last} + 1) * SECTOR + 4 * int64_t{offset};
  const int64_t need_first = floor_div(begin, SECTOR);
  const int64_t need_last = floor_div(end - 1, SECTOR);
  const int64_t read_first = std::max<int64_t>(need_first, readable_first);
  const int64_t read_last = std::min<int64_t>(need_last, readable_last);

  SectorAssembler out(sink);
  // Where the next byte passed on lies in the stream.
  int64_t position = begin;
  auto take = [&](const uint8_t* bytes, int64_t from, std::size_t length) {
    // `bytes` hold the stream from `from` on.
    const int64_t stop = std::min<int64_t>(from + static_cast<int64_t>(length), end);
    if (stop <= position) return;
    out.add(bytes + (position - from), static_cast<std::size_t>(stop - position));
    position = stop;
  };
  auto outside = [&](int64_t sector_first, int64_t sector_last, uint32_t* zero_samples) {
    if (sector_last < sector_first) return;
    const std::vector<uint8_t> bytes = probe(reader, sector_first, sector_last);
    const int64_t from = sector_first * SECTOR;
    if (!bytes.empty()) {
      take(bytes.data(), from, bytes.size());
      return;
    }
    const int64_t stop = std::min(end, (sector_last + 1) * SECTOR);
    if (stop <= position) return;
    *zero_samples += static_cast<uint32_t>((stop - position) / 4);
    out.zeros(static_cast<std::size_t>(stop - position));
    position = stop;
  };

  outside(need_first, std::min(need_last, read_first - 1), &report.zero_samples_before);
  if (read_first <= read_last) {
    int64_t from = read_first * SECTOR;
    read(static_cast<uint32_t>(read_first), static_cast<uint32_t>(read_last),
         [&](const uint8_t* blocks, uint16_t, uint32_t count) {
           take(blocks, from, std::size_t{count} * RAW_SECTOR_SIZE);
           from += int64_t{count} * SECTOR;
         });
  }
  outside(std::max(need_first, read_last + 1), need_last, &report.zero_samples_after);
  return report;
}

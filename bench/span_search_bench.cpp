// The reference search of jitter correction: the cost of a search through a
// batch of n blocks, found at the end or not found, on varied audio and on a
// steady signal that makes every candidate compare almost a whole sector.
// Time per block staying flat as n grows shows that it grows linearly.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "common/sector.h"

namespace {

std::vector<uint8_t> varied(std::size_t bytes) {
  std::vector<uint8_t> data(bytes);
  uint32_t x = 12345;
  for (uint8_t& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return data;
}

// The reference is the batch's last block: every earlier place is tried.
void BM_FindReferenceVaried(benchmark::State& state) {
  const auto count = static_cast<uint16_t>(state.range(0));
  const std::vector<uint8_t> buffer = varied(std::size_t{count} * RAW_SECTOR_SIZE);
  const std::vector<uint8_t> reference(buffer.end() - RAW_SECTOR_SIZE, buffer.end());
  for (auto _ : state)
    benchmark::DoNotOptimize(find_sector(reference.data(), buffer.data(), count));
  state.SetItemsProcessed(state.iterations() * count);
}

// A steady signal: each candidate matches up to the reference's last byte.
void BM_FindReferenceSteady(benchmark::State& state) {
  const auto count = static_cast<uint16_t>(state.range(0));
  const std::vector<uint8_t> buffer(std::size_t{count} * RAW_SECTOR_SIZE, 0x55);
  std::vector<uint8_t> reference(RAW_SECTOR_SIZE, 0x55);
  reference.back() = 0x56;
  for (auto _ : state)
    benchmark::DoNotOptimize(find_sector(reference.data(), buffer.data(), count));
  state.SetItemsProcessed(state.iterations() * count);
}

}  // namespace

BENCHMARK(BM_FindReferenceVaried)->Arg(27)->Arg(108)->Arg(432)->Arg(1728);
BENCHMARK(BM_FindReferenceSteady)->Arg(27)->Arg(108)->Arg(432)->Arg(1728);

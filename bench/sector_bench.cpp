// Throughput of raw sector encoding, counted in bytes of raw output.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "common/sector.h"
#include "common/sector_parity.h"

namespace {

const uint8_t kDataSubheader[4] = {0, 0, SUBMODE_DATA, 0};

void build(benchmark::State& state, SectorType type, bool with_data) {
  std::vector<uint8_t> data(64 * 2048);
  std::mt19937 engine(1);
  for (uint8_t& b : data) b = static_cast<uint8_t>(engine());
  std::vector<uint8_t> out(64 * RAW_SECTOR_SIZE);
  int32_t lba = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < 64; ++i)
      build_sector(out.data() + i * RAW_SECTOR_SIZE, type, lba++, kDataSubheader,
                   with_data ? data.data() + i * 2048 : nullptr, true, false, false);
    if (lba > 300000) lba = 0;
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 64 * RAW_SECTOR_SIZE);
}

void BM_BuildMode1Data(benchmark::State& s) { build(s, SECTOR_MODE1, true); }
void BM_BuildMode1Null(benchmark::State& s) { build(s, SECTOR_MODE1, false); }
void BM_BuildMode2Form1Data(benchmark::State& s) { build(s, SECTOR_MODE2_FORM1, true); }
void BM_BuildMode2Form1Null(benchmark::State& s) { build(s, SECTOR_MODE2_FORM1, false); }

void BM_EdcOfSector(benchmark::State& state) {
  std::vector<uint8_t> data(2064, 0x5A);
  for (auto _ : state)
    benchmark::DoNotOptimize(compute_edc(EDC_TABLE.data(), data.data(), data.size(), 0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2064);
}

// compute_ecc as the processor dispatches it, or with the portable build.
void ecc(benchmark::State& state, bool portable) {
  RawSector sector{};
  for (std::size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i * 31);
  sector[15] = 1;
  for (auto _ : state) {
    if (portable)
      sector_parity::compute_ecc_with(sector_parity::PORTABLE_BUILD, sector.data(), false);
    else
      compute_ecc(sector.data(), false);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * RAW_SECTOR_SIZE);
}

void BM_EccOfSector(benchmark::State& s) { ecc(s, false); }
void BM_EccOfSectorPortable(benchmark::State& s) { ecc(s, true); }

BENCHMARK(BM_BuildMode1Data);
BENCHMARK(BM_BuildMode1Null);
BENCHMARK(BM_BuildMode2Form1Data);
BENCHMARK(BM_BuildMode2Form1Null);
BENCHMARK(BM_EdcOfSector);
BENCHMARK(BM_EccOfSector);
BENCHMARK(BM_EccOfSectorPortable);

}  // namespace

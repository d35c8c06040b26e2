// The sectors' EDC and the standard CRC-32: reflected 32-bit CRCs without
// inversion, computed sixteen bytes a step with sliced tables, and on
// processors with carry-less multiplication by folding 64 bytes a step
// (256 bytes a step, in four 64-byte vectors, where it multiplies whole
// 64-byte vectors).
#include <array>
#include <cstring>

#include "common/byteorder.h"
#include "common/sector.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

constexpr std::size_t kSliceCount = 16;
using CrcTable = std::array<uint32_t, 256>;
using CrcSlices = std::array<CrcTable, kSliceCount>;

// Slice k turns a byte into its contribution to the CRC k bytes before the
// end of a sixteen-byte step; slice 0 is the ordinary table.
constexpr CrcSlices make_crc_slices(uint32_t polynomial) {
  CrcSlices slices{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1) ? polynomial : 0);
    slices[0][i] = value;
  }
  for (std::size_t k = 1; k < kSliceCount; ++k)
    for (std::size_t i = 0; i < 256; ++i) {
      const uint32_t previous = slices[k - 1][i];
      slices[k][i] = (previous >> 8) ^ slices[0][previous & 0xFF];
    }
  return slices;
}

constexpr uint32_t reflect32(uint32_t value) {
  uint32_t out = 0;
  for (int bit = 0; bit < 32; ++bit)
    if (value & (1u << bit)) out |= 1u << (31 - bit);
  return out;
}

// Folding constants: x^e mod P (P with its x^32 term, in normal bit order),
// bit-reflected and shifted left once, for e = 16*128 +- 32 (256 bytes
// ahead), 4*128 +- 32 (64 bytes ahead) and 128 +- 32 (16 bytes ahead).
struct FoldKeys {
  uint64_t ahead256_low;
  uint64_t ahead256_high;
  uint64_t ahead64_low;
  uint64_t ahead64_high;
  uint64_t ahead16_low;
  uint64_t ahead16_high;
};

constexpr uint64_t fold_key(uint64_t normal_polynomial, int exponent) {
  uint64_t remainder = 1;
  for (int i = 0; i < exponent; ++i) {
    remainder <<= 1;
    if (remainder & (1ull << 32)) remainder ^= normal_polynomial;
  }
  return static_cast<uint64_t>(reflect32(static_cast<uint32_t>(remainder))) << 1;
}

constexpr FoldKeys make_fold_keys(uint32_t reflected_polynomial) {
  const uint64_t normal = (1ull << 32) | reflect32(reflected_polynomial);
  return {fold_key(normal, 16 * 128 + 32), fold_key(normal, 16 * 128 - 32),
          fold_key(normal, 4 * 128 + 32),  fold_key(normal, 4 * 128 - 32),
          fold_key(normal, 128 + 32),      fold_key(normal, 128 - 32)};
}

struct CrcKind {
  CrcSlices slices;
  FoldKeys keys;
};

constexpr CrcKind kEdc = {make_crc_slices(0xD8018001u), make_fold_keys(0xD8018001u)};
constexpr CrcKind kCrc32 = {make_crc_slices(0xEDB88320u), make_fold_keys(0xEDB88320u)};

// The published CRC-32 folding constants.
static_assert(kCrc32.keys.ahead64_low == 0x154442bd4ull &&
              kCrc32.keys.ahead64_high == 0x1c6e41596ull &&
              kCrc32.keys.ahead16_low == 0x1751997d0ull &&
              kCrc32.keys.ahead16_high == 0xccaa009eull);

uint32_t crc_sliced(const CrcSlices& t, const uint8_t* bytes, std::size_t length, uint32_t crc) {
  for (; length >= kSliceCount; length -= kSliceCount, bytes += kSliceCount) {
    const uint32_t a = crc ^ get_le32(bytes);
    const uint32_t b = get_le32(bytes + 4);
    const uint32_t c = get_le32(bytes + 8);
    const uint32_t d = get_le32(bytes + 12);
    crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
          t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
          t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
          t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
  }
  for (std::size_t i = 0; i < length; ++i) crc = t[0][(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

#if defined(__x86_64__)
__attribute__((target("pclmul,sse2"))) inline __m128i load(const uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x carried forward by the distance of `keys`, added to the data there.
__attribute__((target("pclmul,sse2"))) inline __m128i fold(__m128i x, __m128i keys, __m128i next) {
  const __m128i low = _mm_clmulepi64_si128(x, keys, 0x00);
  const __m128i high = _mm_clmulepi64_si128(x, keys, 0x11);
  return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse2"))) inline __m128i keys128(uint64_t low, uint64_t high) {
  return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

// The CRC of bytes[0, length) given x, sixteen bytes with the CRC of
// bytes[0, at): folds the rest sixteen bytes at a time, then the tables.
__attribute__((target("pclmul,sse2"))) uint32_t finish_folded(const CrcKind& kind, __m128i x,
                                                              const uint8_t* bytes, std::size_t at,
                                                              std::size_t length) {
  const __m128i ahead16 = keys128(kind.keys.ahead16_low, kind.keys.ahead16_high);
  for (; length - at >= 16; at += 16) x = fold(x, ahead16, load(bytes + at));
  uint8_t folded[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(folded), x);
  return crc_sliced(kind.slices, bytes + at, length - at, crc_sliced(kind.slices, folded, 16, 0));
}

// Folds the data into one sixteen-byte value with the same CRC, four
// sixteen-byte lanes 64 bytes at a time, then finishes with the tables.
// Needs at least 64 bytes.
__attribute__((target("pclmul,sse2"))) uint32_t crc_folded(const CrcKind& kind,
                                                           const uint8_t* bytes, std::size_t length,
                                                           uint32_t seed) {
  const __m128i ahead64 = keys128(kind.keys.ahead64_low, kind.keys.ahead64_high);
  const __m128i ahead16 = keys128(kind.keys.ahead16_low, kind.keys.ahead16_high);
  __m128i x0 = _mm_xor_si128(load(bytes), _mm_cvtsi32_si128(static_cast<int>(seed)));
  __m128i x1 = load(bytes + 16);
  __m128i x2 = load(bytes + 32);
  __m128i x3 = load(bytes + 48);
  std::size_t at = 64;
  for (; length - at >= 64; at += 64) {
    x0 = fold(x0, ahead64, load(bytes + at));
    x1 = fold(x1, ahead64, load(bytes + at + 16));
    x2 = fold(x2, ahead64, load(bytes + at + 32));
    x3 = fold(x3, ahead64, load(bytes + at + 48));
  }
  return finish_folded(kind, fold(fold(fold(x0, ahead16, x1), ahead16, x2), ahead16, x3), bytes, at,
                       length);
}

#define WIDE_FOLD_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul")))

// fold() on four sixteen-byte lanes at once.
WIDE_FOLD_TARGET inline __m512i fold512(__m512i x, __m512i keys, __m512i next) {
  const __m512i low = _mm512_clmulepi64_epi128(x, keys, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(x, keys, 0x11);
  return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // low ^ high ^ next
}

WIDE_FOLD_TARGET inline __m512i load512(const uint8_t* at) { return _mm512_loadu_si512(at); }

WIDE_FOLD_TARGET inline __m512i keys512(uint64_t low, uint64_t high) {
  const auto l = static_cast<long long>(low);
  const auto h = static_cast<long long>(high);
  return _mm512_set_epi64(h, l, h, l, h, l, h, l);
}

// Sixteen-byte lane `i` of x (the zeroing form spares the compiler an
// undefined source).
#define LANE_OF(x, i) _mm512_maskz_extracti32x4_epi32(0xF, x, i)

// crc_folded with sixteen lanes: four 64-byte vectors 256 bytes at a time,
// folded into one, which takes any further 64 bytes, then its four lanes
// into one. Needs at least 256 bytes.
WIDE_FOLD_TARGET uint32_t crc_folded_wide(const CrcKind& kind, const uint8_t* bytes,
                                          std::size_t length, uint32_t seed) {
  const __m512i ahead256 = keys512(kind.keys.ahead256_low, kind.keys.ahead256_high);
  const __m512i ahead64 = keys512(kind.keys.ahead64_low, kind.keys.ahead64_high);
  const __m128i ahead16 = keys128(kind.keys.ahead16_low, kind.keys.ahead16_high);
  __m512i part[4];
  for (std::size_t i = 0; i < 4; ++i) part[i] = load512(bytes + 64 * i);
  part[0] ^= _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(seed)));
  std::size_t at = 256;
  for (; length - at >= 256; at += 256)
    for (std::size_t i = 0; i < 4; ++i)
      part[i] = fold512(part[i], ahead256, load512(bytes + at + 64 * i));
  __m512i x = part[0];
  for (std::size_t i = 1; i < 4; ++i) x = fold512(x, ahead64, part[i]);
  for (; length - at >= 64; at += 64) x = fold512(x, ahead64, load512(bytes + at));
  __m128i lane = LANE_OF(x, 0);
  lane = fold(lane, ahead16, LANE_OF(x, 1));
  lane = fold(lane, ahead16, LANE_OF(x, 2));
  lane = fold(lane, ahead16, LANE_OF(x, 3));
  return finish_folded(kind, lane, bytes, at, length);
}

bool has_carryless_multiply() {
  static const bool present = __builtin_cpu_supports("pclmul");
  return present;
}

bool has_wide_carryless_multiply() {
  static const bool present =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
  return present;
}
#endif

}  // namespace

extern constexpr std::array<uint32_t, 256> EDC_TABLE = kEdc.slices[0];
extern constexpr std::array<uint32_t, 256> CRC32_TABLE = kCrc32.slices[0];

static_assert(EDC_TABLE[1] == 0x90910101u && EDC_TABLE[128] == 0xD8018001u);
static_assert(CRC32_TABLE[1] == 0x77073096u);

uint32_t compute_edc(const uint32_t* table, const void* data, std::size_t length, uint32_t seed) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  const CrcKind* kind = table == EDC_TABLE.data()     ? &kEdc
                        : table == CRC32_TABLE.data() ? &kCrc32
                                                      : nullptr;
  if (kind == nullptr) {
    uint32_t crc = seed;
    for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
  }
#if defined(__x86_64__)
  if (length >= 256 && has_wide_carryless_multiply())
    return crc_folded_wide(*kind, bytes, length, seed);
  if (length >= 64 && has_carryless_multiply()) return crc_folded(*kind, bytes, length, seed);
#endif
  return crc_sliced(kind->slices, bytes, length, seed);
}

uint16_t q_crc(const uint8_t* q10) { return subchannel_crc(q10, 10); }

// P and Q parity with 64-byte vectors and the GF(2^8) affine instructions.
//
// The same product code and Q line as the portable build (sector_parity.cpp),
// computed from the two check sums instead of by division: a code vector
// c_0..c_(n-1) whose last two symbols hi, lo are its parity meets
// sum c_k = 0 and sum alpha^(n-1-k) * c_k = 0. With S0 and S1 those sums over
// the data symbols alone, hi = (S0 + S1) / 3 and lo = S0 + hi.
//
// gf2p8affineqb applies one 8x8 bit matrix to every byte, and multiplying by
// a constant of our field (polynomial 0x11D) is such a matrix: one
// instruction weights a whole row. P: S1 of the 43 columns is the sum of the
// 24 rows, row k weighted by alpha^(25 - k). Q: row r, placed in the line,
// is weighted by alpha^(25 - r); the rest of the weight, alpha^(44 - j),
// differs per place j. A product by a different factor in every byte needs
// gf2p8mulb, whose field has the polynomial 0x11B. The two fields are
// isomorphic through a linear map T (alpha goes to a root of 0x11D in the
// other field), so the rows go into the line already mapped by T (the row
// weight and T make one matrix), the line is multiplied by T(alpha^(44 - j))
// with gf2p8mulb and mapped back by the inverse of T. Three byte
// permutations fold the 68 places into the 26 diagonals, in parity order.
#include "common/sector.h"
#include "common/sector_parity.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

#include <array>

namespace sector_parity {
namespace {

#define WIDE_TARGET __attribute__((target("avx512f,avx512bw,avx512vl,avx512vbmi,gfni")))

// A linear map of bytes, by the images of bits 0..7.
using ByteMap = std::array<uint8_t, 8>;

// The matrix operand of gf2p8affineqb: output bit i is the parity of the
// input bits that byte 7 - i selects.
constexpr uint64_t affine_matrix(const ByteMap& images) {
  uint64_t matrix = 0;
  for (unsigned i = 0; i < 8; ++i) {
    uint64_t row = 0;
    for (unsigned b = 0; b < 8; ++b) row |= static_cast<uint64_t>((images[b] >> i) & 1) << b;
    matrix |= row << (8 * (7 - i));
  }
  return matrix;
}

// Product in the field of gf2p8mulb.
constexpr uint8_t multiply_11b(uint8_t a, uint8_t b) {
  unsigned product = 0;
  unsigned x = a;
  for (unsigned bit = 0; bit < 8; ++bit) {
    if ((b >> bit) & 1) product ^= x;
    x <<= 1;
    if (x & 0x100) x ^= 0x11B;
  }
  return static_cast<uint8_t>(product);
}

// The first root of x^8 + x^4 + x^3 + x^2 + 1 in the 0x11B field.
constexpr uint8_t find_root() {
  for (unsigned c = 2; c < 256; ++c) {
    uint8_t power[9] = {1};
    for (unsigned i = 1; i < 9; ++i) power[i] = multiply_11b(power[i - 1], static_cast<uint8_t>(c));
    if ((power[8] ^ power[4] ^ power[3] ^ power[2] ^ power[0]) == 0) return static_cast<uint8_t>(c);
  }
  return 0;
}

constexpr uint8_t kRoot = find_root();
static_assert(kRoot != 0);

// T: bit b of one of our bytes stands for alpha^b and goes to root^b.
constexpr uint8_t to_other_field(uint8_t x) {
  uint8_t y = 0;
  uint8_t power = 1;
  for (unsigned b = 0; b < 8; ++b) {
    if ((x >> b) & 1) y ^= power;
    power = multiply_11b(power, kRoot);
  }
  return y;
}

static_assert(to_other_field(alpha_power(200)) ==
              multiply_11b(to_other_field(alpha_power(77)), to_other_field(alpha_power(123))));

// Multiplication by alpha^power, followed by T when `mapped`.
constexpr uint64_t times_alpha(uint32_t power, bool mapped) {
  ByteMap images{};
  for (uint32_t b = 0; b < 8; ++b) {
    const uint8_t product = alpha_power(power + b);
    images[b] = mapped ? to_other_field(product) : product;
  }
  return affine_matrix(images);
}

constexpr uint64_t make_from_other_field() {
  std::array<uint8_t, 256> inverse{};
  for (unsigned x = 0; x < 256; ++x)
    inverse[to_other_field(static_cast<uint8_t>(x))] = static_cast<uint8_t>(x);
  ByteMap images{};
  for (unsigned b = 0; b < 8; ++b) images[b] = inverse[1u << b];
  return affine_matrix(images);
}

constexpr uint64_t kFromOtherField = make_from_other_field();

// 1/3 = alpha^(255 - 25), since 3 = alpha^25.
static_assert(alpha_power(25) == 3);
constexpr uint64_t kInverseOfThree = times_alpha(255 - 25, false);

template <bool mapped, std::size_t rows>
constexpr std::array<uint64_t, rows> make_row_weights() {
  std::array<uint64_t, rows> weights{};
  for (std::size_t r = 0; r < rows; ++r)
    weights[r] = times_alpha(static_cast<uint32_t>(25 - r), mapped);
  return weights;
}

constexpr auto kPRowWeights = make_row_weights<false, 24>();
constexpr auto kQRowWeights = make_row_weights<true, kRows>();

// The Q line in two 64-byte vectors and one 16-byte vector (bytes 128..143).
constexpr std::size_t kLineParts = 3;

// Row r fills line bytes 50 - 2r .. 135 - 2r: its bits in each part.
constexpr std::array<std::array<uint64_t, kLineParts>, kRows> make_row_masks() {
  std::array<std::array<uint64_t, kLineParts>, kRows> masks{};
  for (std::size_t r = 0; r < kRows; ++r)
    for (std::size_t part = 0; part < kLineParts; ++part)
      for (std::size_t lane = 0; lane < (part < 2 ? 64 : 16); ++lane) {
        const std::size_t at = 64 * part + lane;
        if (at + 2 * r >= 50 && at + 2 * r < 50 + kRowBytes) masks[r][part] |= uint64_t{1} << lane;
      }
  return masks;
}

constexpr auto kRowMasks = make_row_masks();

// T(alpha^(44 - j)) at line bytes 2j and 2j + 1, zero past the line.
constexpr std::array<uint8_t, 192> make_place_weights() {
  std::array<uint8_t, 192> weights{};
  for (std::size_t at = 0; at < kLineBytes; ++at)
    weights[at] = to_other_field(alpha_power(static_cast<uint32_t>(44 + 255 - at / 2)));
  return weights;
}

constexpr auto kPlaceWeights = make_place_weights();

// Q parity byte i (i < 52, diagonal d = i / 2) comes from line byte
// m = 2(25 - d) + i % 2 and its places 26 and 52 further: line bytes m,
// m + 52 and m + 104, as indexes into parts 0, 0-1 and 1-2.
constexpr std::array<std::array<uint8_t, 64>, kLineParts> make_fold_indexes() {
  std::array<std::array<uint8_t, 64>, kLineParts> indexes{};
  for (std::size_t i = 0; i < 52; ++i) {
    const std::size_t m = 50 - 2 * (i / 2) + i % 2;
    indexes[0][i] = static_cast<uint8_t>(m);
    indexes[1][i] = static_cast<uint8_t>(m + 52);
    indexes[2][i] = static_cast<uint8_t>(m + 104 - 64);
  }
  return indexes;
}

constexpr auto kFoldIndexes = make_fold_indexes();

// A matrix for every qword of a vector.
WIDE_TARGET inline __m512i matrix(uint64_t m) {
  return _mm512_set1_epi64(static_cast<long long>(m));
}
WIDE_TARGET inline __m256i matrix256(uint64_t m) {
  return _mm256_set1_epi64x(static_cast<long long>(m));
}
WIDE_TARGET inline __m128i matrix128(uint64_t m) {
  return _mm_set1_epi64x(static_cast<long long>(m));
}

WIDE_TARGET inline __m512i load64(const uint8_t* at) { return _mm512_loadu_si512(at); }

WIDE_TARGET inline __m512i apply(__m512i x, __m512i m) {
  return _mm512_gf2p8affine_epi64_epi8(x, m, 0);
}

// a ^ b ^ c in one instruction.
WIDE_TARGET inline __m512i xor3(__m512i a, __m512i b, __m512i c) {
  return _mm512_ternarylogic_epi64(a, b, c, 0x96);
}
WIDE_TARGET inline __m128i xor3(__m128i a, __m128i b, __m128i c) {
  return _mm_ternarylogic_epi64(a, b, c, 0x96);
}

WIDE_TARGET void compute_p(uint8_t* sector) {
  // Each row as 64 + 32 bytes; the last 10 belong to the next row and give
  // lanes that are never stored.
  const uint8_t* row = sector + SECTOR_HEADER_OFFSET;
  __m512i s0 = _mm512_setzero_si512();
  __m512i s1 = s0;
  __m256i s0_tail = _mm256_setzero_si256();
  __m256i s1_tail = s0_tail;
#pragma GCC unroll 2
  for (std::size_t k = 0; k < kPRowWeights.size(); ++k, row += kRowBytes) {
    const __m512i x = load64(row);
    const __m256i tail = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + 64));
    s0 ^= x;
    s1 ^= apply(x, matrix(kPRowWeights[k]));
    s0_tail ^= tail;
    s1_tail ^= _mm256_gf2p8affine_epi64_epi8(tail, matrix256(kPRowWeights[k]), 0);
  }
  const __m512i hi = apply(s0 ^ s1, matrix(kInverseOfThree));
  const __m256i hi_tail =
      _mm256_gf2p8affine_epi64_epi8(s0_tail ^ s1_tail, matrix256(kInverseOfThree), 0);
  const __mmask32 tail_bytes = (1u << (kRowBytes - 64)) - 1;
  uint8_t* parity = sector + P_PARITY_OFFSET;
  _mm512_storeu_si512(parity, hi);
  _mm256_mask_storeu_epi8(parity + 64, tail_bytes, hi_tail);
  _mm512_storeu_si512(parity + kRowBytes, s0 ^ hi);
  _mm256_mask_storeu_epi8(parity + kRowBytes + 64, tail_bytes, s0_tail ^ hi_tail);
}

// The sum of places j, j + 26 and j + 52 of a line, in parity order: bytes
// 2d and 2d + 1 for diagonal d.
WIDE_TARGET __m512i fold_places(__m512i part0, __m512i part1, __m128i part2) {
  const __m512i first = _mm512_permutex2var_epi8(part0, load64(kFoldIndexes[0].data()), part1);
  const __m512i second = _mm512_permutex2var_epi8(part0, load64(kFoldIndexes[1].data()), part1);
  const __m512i third = _mm512_permutex2var_epi8(part1, load64(kFoldIndexes[2].data()),
                                                 _mm512_zextsi128_si512(part2));
  return first ^ second ^ third;
}

WIDE_TARGET void compute_q(uint8_t* sector) {
  __m512i s0[2] = {};
  __m512i weighted[2] = {};
  __m128i s0_end = _mm_setzero_si128();
  __m128i weighted_end = s0_end;
  // Line byte L of row r is sector byte 88r + L - 38: before the sector for
  // row 0's first bytes, which its mask keeps the load from touching (a
  // masked load reads no byte whose mask bit is clear).
  const uintptr_t line_start = reinterpret_cast<uintptr_t>(sector) - 38;
  static_assert(kRows % 2 == 0);
  for (std::size_t r = 0; r < kRows; r += 2) {  // two rows a step, three-way XORs
    const uintptr_t at = line_start + 88 * r;
    for (std::size_t part = 0; part < 2; ++part) {
      const __m512i a = _mm512_maskz_loadu_epi8(kRowMasks[r][part],
                                                reinterpret_cast<const void*>(at + 64 * part));
      const __m512i b = _mm512_maskz_loadu_epi8(kRowMasks[r + 1][part],
                                                reinterpret_cast<const void*>(at + 88 + 64 * part));
      s0[part] = xor3(s0[part], a, b);
      weighted[part] = xor3(weighted[part], apply(a, matrix(kQRowWeights[r])),
                            apply(b, matrix(kQRowWeights[r + 1])));
    }
    const __m128i a = _mm_maskz_loadu_epi8(static_cast<__mmask16>(kRowMasks[r][2]),
                                           reinterpret_cast<const void*>(at + 128));
    const __m128i b = _mm_maskz_loadu_epi8(static_cast<__mmask16>(kRowMasks[r + 1][2]),
                                           reinterpret_cast<const void*>(at + 88 + 128));
    s0_end = xor3(s0_end, a, b);
    weighted_end = xor3(weighted_end, _mm_gf2p8affine_epi64_epi8(a, matrix128(kQRowWeights[r]), 0),
                        _mm_gf2p8affine_epi64_epi8(b, matrix128(kQRowWeights[r + 1]), 0));
  }
  __m512i sum[2];
  for (std::size_t part = 0; part < 2; ++part)
    sum[part] = s0[part] ^ apply(_mm512_gf2p8mul_epi8(weighted[part],
                                                      load64(kPlaceWeights.data() + 64 * part)),
                                 matrix(kFromOtherField));
  const __m128i end_weights =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPlaceWeights.data() + 128));
  const __m128i sum_end =
      s0_end ^ _mm_gf2p8affine_epi64_epi8(_mm_gf2p8mul_epi8(weighted_end, end_weights),
                                          matrix128(kFromOtherField), 0);
  const __m512i hi = apply(fold_places(sum[0], sum[1], sum_end), matrix(kInverseOfThree));
  const __m512i lo = fold_places(s0[0], s0[1], s0_end) ^ hi;
  const __mmask64 diagonals = (uint64_t{1} << 52) - 1;
  _mm512_mask_storeu_epi8(sector + Q_PARITY_OFFSET, diagonals, hi);
  _mm512_mask_storeu_epi8(sector + Q_PARITY_OFFSET + 52, diagonals, lo);
}

}  // namespace

const Build* wide_build() {
  static const Build build = {compute_p, compute_q};
  __builtin_cpu_init();  // safe even from another file's static initializer
  const bool present = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                       __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
                       __builtin_cpu_supports("gfni");
  return present ? &build : nullptr;
}

}  // namespace sector_parity

#else

namespace sector_parity {

const Build* wide_build() { return nullptr; }

}  // namespace sector_parity

#endif

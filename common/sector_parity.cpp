// P and Q parity of the CD-ROM product code.
//
// The 2236 bytes from the header on form 26 rows of 86 bytes (43 columns of
// two-byte words; rows 24 and 25 are the P parity). Even and odd bytes are two
// codes of the same shape, so every operation below works on whole bytes.
//
// P: the 24 data rows of a column are divided by x^2 + 3x + 2 with the
// two-register division, one row at a time for all 43 columns at once.
//
// Q: diagonal d takes word k (k = 0..42) from row (d + k) mod 26, column k.
// Its two parity symbols follow from S0 = sum of the symbols and
// S1 = sum alpha^(44 - k) * symbol: hi = (S0 + S1) / 3, lo = S0 + hi. Placing
// row r at offset 25 - r of a 68-word line (j = k - r + 25) puts every word
// of diagonal d at a place j with (25 - j) mod 26 = d, and splits its weight
// into alpha^(44 - j) * alpha^(25 - r). So S0 is the XOR of the placed rows,
// and S1 comes from one Horner pass over the rows (line = line * alpha + row)
// followed by one multiplication per place j; both are whole-line vector
// operations, then the places fold into the 26 diagonals.
//
// This is the portable build; processors with 64-byte vectors and GF(2^8)
// affine instructions take sector_parity_wide.cpp, which compute_ecc picks
// when the program starts.
#include "common/sector_parity.h"

#include <array>
#include <cstring>

#include "common/sector.h"

namespace sector_parity {
namespace {

typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef int8_t SignedBytes16 __attribute__((vector_size(16)));

constexpr std::size_t kAreaOffset = SECTOR_HEADER_OFFSET;
constexpr std::size_t kLineVectors = 9;  // 144 bytes

Bytes16 load16(const uint8_t* at) {
  Bytes16 v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

void store16(uint8_t* at, Bytes16 v) { std::memcpy(at, &v, sizeof v); }

Bytes16 splat(uint8_t byte) {
  Bytes16 v;
  std::memset(&v, byte, sizeof v);
  return v;
}

// 2 * x in GF(2^8) for 16 bytes: shift left, reduce by 0x11D where the top bit fell out.
Bytes16 times2(Bytes16 x) {
  const SignedBytes16 zero = {};
  const Bytes16 carry = reinterpret_cast<Bytes16>(reinterpret_cast<SignedBytes16>(x) < zero);
  return static_cast<Bytes16>(x + x) ^ (carry & splat(0x1D));
}

// A multiplier for 16 bytes, one factor per byte, as eight masks: mask b is
// 0xFF in the bytes whose factor has bit b set.
using Multiplier = std::array<std::array<uint8_t, 16>, 8>;

constexpr Multiplier make_multiplier(const std::array<uint8_t, 16>& factors) {
  Multiplier m{};
  for (std::size_t b = 0; b < 8; ++b)
    for (std::size_t lane = 0; lane < 16; ++lane)
      m[b][lane] = (factors[lane] >> b) & 1 ? 0xFF : 0x00;
  return m;
}

// x * factor, byte by byte: the sum of alpha^b * x over the factor's bits b.
Bytes16 multiply(Bytes16 x, const Multiplier& m) {
  Bytes16 product = {};
  for (std::size_t b = 0; b < 8; ++b) {
    Bytes16 mask;
    std::memcpy(&mask, m[b].data(), sizeof mask);
    product ^= x & mask;
    x = times2(x);
  }
  return product;
}

// Line place j (bytes 2j, 2j + 1) still lacks the factor alpha^(44 - j).
constexpr std::array<Multiplier, kLineVectors> make_place_weights() {
  std::array<Multiplier, kLineVectors> weights{};
  for (std::size_t v = 0; v < kLineVectors; ++v) {
    std::array<uint8_t, 16> factors{};
    for (std::size_t lane = 0; lane < 16; ++lane) {
      const std::size_t j = (16 * v + lane) / 2;
      factors[lane] = j < kLineBytes / 2 ? alpha_power(static_cast<uint32_t>(44 + 255 - j)) : 0;
    }
    weights[v] = make_multiplier(factors);
  }
  return weights;
}

constexpr auto kPlaceWeights = make_place_weights();

// 1/3 = alpha^(255 - 25), since 3 = alpha^25.
static_assert(alpha_power(25) == 3);
constexpr Multiplier make_inverse_of_three() {
  std::array<uint8_t, 16> factors{};
  for (uint8_t& f : factors) f = alpha_power(255 - 25);
  return make_multiplier(factors);
}

constexpr Multiplier kInverseOfThree = make_inverse_of_three();

// Which bytes of line vector v hold bytes of row r: row byte b sits at line
// byte b + 50 - 2r.
constexpr std::array<std::array<std::array<uint8_t, 16>, kLineVectors>, kRows> make_row_masks() {
  std::array<std::array<std::array<uint8_t, 16>, kLineVectors>, kRows> masks{};
  for (std::size_t r = 0; r < kRows; ++r)
    for (std::size_t v = 0; v < kLineVectors; ++v)
      for (std::size_t lane = 0; lane < 16; ++lane) {
        const long b = static_cast<long>(16 * v + lane) - 50 + 2 * static_cast<long>(r);
        masks[r][v][lane] = (b >= 0 && b < static_cast<long>(kRowBytes)) ? 0xFF : 0x00;
      }
  return masks;
}

constexpr auto kRowMasks = make_row_masks();

void compute_p(uint8_t* sector) {
  const uint8_t* area = sector + kAreaOffset;
  Bytes16 hi[6] = {};
  Bytes16 lo[6] = {};
  for (std::size_t k = 0; k < 24; ++k) {
    const uint8_t* row = area + kRowBytes * k;
    for (std::size_t v = 0; v < 6; ++v) {  // 96 bytes: the last 10 lanes belong to no column
      const Bytes16 f = load16(row + 16 * v) ^ hi[v];
      const Bytes16 twice = times2(f);
      hi[v] = lo[v] ^ twice ^ f;
      lo[v] = twice;
    }
  }
  uint8_t out[2][96];
  for (std::size_t v = 0; v < 6; ++v) {
    store16(out[0] + 16 * v, hi[v]);
    store16(out[1] + 16 * v, lo[v]);
  }
  std::memcpy(sector + P_PARITY_OFFSET, out[0], kRowBytes);
  std::memcpy(sector + P_PARITY_OFFSET + kRowBytes, out[1], kRowBytes);
}

// Adds rows 0..25 into line vectors first..first+count-1, by XOR (plain)
// and by Horner's rule (weighted). A place outside a row reads zero through
// its mask (from a place inside the sector, whatever it holds).
template <std::size_t first, std::size_t count>
void add_rows(const uint8_t* sector, Bytes16* weighted, Bytes16* plain) {
  Bytes16 w[count] = {};
  Bytes16 p[count] = {};
  for (std::size_t r = 0; r < kRows; ++r) {
#pragma GCC unroll 8
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t v = first + i;
      // Row r's byte 16v - 50 + 2r, at sector byte 88r + 16v - 38.
      const std::size_t place = 88 * r + 16 * v;
      Bytes16 mask;
      std::memcpy(&mask, kRowMasks[r][v].data(), sizeof mask);
      const Bytes16 x = load16(sector + (place >= 38 ? place - 38 : 0)) & mask;
      w[i] = times2(w[i]) ^ x;
      p[i] ^= x;
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    weighted[first + i] = w[i];
    plain[first + i] = p[i];
  }
}

void compute_q(uint8_t* sector) {
  Bytes16 weighted[kLineVectors];
  Bytes16 plain[kLineVectors];
  add_rows<0, 5>(sector, weighted, plain);
  add_rows<5, 4>(sector, weighted, plain);
  // S0 and S1 by place, zero beyond the line, then folded by diagonal:
  // place j belongs to diagonal 25 - (j mod 26), so the places 0..25,
  // 26..51 and 52..77 (byte offsets 0, 52, 104) add up lane by lane.
  uint8_t s0_line[176] = {};
  uint8_t s1_line[176] = {};
  for (std::size_t v = 0; v < kLineVectors; ++v) {
    store16(s0_line + 16 * v, plain[v]);
    store16(s1_line + 16 * v, multiply(weighted[v], kPlaceWeights[v]));
  }
  uint8_t hi[64];
  uint8_t lo[64];
  for (std::size_t v = 0; v < 4; ++v) {
    const std::size_t at = 16 * v;
    const Bytes16 s0 =
        load16(s0_line + at) ^ load16(s0_line + 52 + at) ^ load16(s0_line + 104 + at);
    const Bytes16 s1 =
        load16(s1_line + at) ^ load16(s1_line + 52 + at) ^ load16(s1_line + 104 + at);
    const Bytes16 h = multiply(s0 ^ s1, kInverseOfThree);
    store16(hi + at, h);
    store16(lo + at, s0 ^ h);
  }
  uint8_t* parity = sector + Q_PARITY_OFFSET;
  for (std::size_t d = 0; d < 26; ++d) {
    const std::size_t j = 2 * (25 - d);
    parity[2 * d] = hi[j];
    parity[2 * d + 1] = hi[j + 1];
    parity[52 + 2 * d] = lo[j];
    parity[52 + 2 * d + 1] = lo[j + 1];
  }
}

}  // namespace

const Build PORTABLE_BUILD = {compute_p, compute_q};

void compute_ecc_with(const Build& build, uint8_t* sector, bool data_is_zero) {
  uint8_t header[4] = {};
  const bool mode2 = sector[15] == 2;
  if (mode2) {
    std::memcpy(header, sector + SECTOR_HEADER_OFFSET, 4);
    std::memset(sector + SECTOR_HEADER_OFFSET, 0, 4);
  }
  build.p(sector);
  if (data_is_zero) {
    for (std::size_t c = 0; c < P_SKIP_FLAGS.size(); ++c) {
      if (!P_SKIP_FLAGS[c]) continue;
      std::memset(sector + P_PARITY_OFFSET + 2 * c, 0, 2);
      std::memset(sector + P_PARITY_OFFSET + kRowBytes + 2 * c, 0, 2);
    }
  }
  build.q(sector);
  if (data_is_zero) {
    for (std::size_t d = 0; d < Q_SKIP_FLAGS.size(); ++d) {
      if (!Q_SKIP_FLAGS[d]) continue;
      std::memset(sector + Q_PARITY_OFFSET + 2 * d, 0, 2);
      std::memset(sector + Q_PARITY_OFFSET + 52 + 2 * d, 0, 2);
    }
  }
  if (mode2) std::memcpy(sector + SECTOR_HEADER_OFFSET, header, 4);
}

}  // namespace sector_parity

void compute_ecc(uint8_t* sector, bool data_is_zero) {
  static const sector_parity::Build& build =
      sector_parity::wide_build() ? *sector_parity::wide_build() : sector_parity::PORTABLE_BUILD;
  sector_parity::compute_ecc_with(build, sector, data_is_zero);
}

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
#include <array>
#include <cstring>

#include "common/sector.h"

namespace {

typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef int8_t SignedBytes16 __attribute__((vector_size(16)));

constexpr std::size_t kAreaOffset = SECTOR_HEADER_OFFSET;
constexpr std::size_t kRowBytes = 86;
constexpr std::size_t kRows = 26;
constexpr std::size_t kLineBytes = 136;  // 68 places of one word
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

struct FieldTables {
  // exp[i] = alpha^i for i < 510, zero from 510 on; log[0] points into the zeros.
  std::array<uint8_t, 766> exp{};
  std::array<uint16_t, 256> log{};
};

constexpr FieldTables make_field_tables() {
  FieldTables t;
  uint32_t x = 1;
  for (uint32_t i = 0; i < 255; ++i) {
    t.exp[i] = static_cast<uint8_t>(x);
    t.exp[i + 255] = static_cast<uint8_t>(x);
    t.log[x] = static_cast<uint16_t>(i);
    x <<= 1;
    if (x & 0x100) x ^= 0x11D;
  }
  t.log[0] = 510;
  return t;
}

constexpr FieldTables kField = make_field_tables();

// a * alpha^power, power 0..254.
uint8_t times_alpha_power(uint8_t a, uint32_t power) { return kField.exp[kField.log[a] + power]; }

// 1/3 = alpha^(255 - log 3).
constexpr uint32_t kInverseOfThreePower = 255 - kField.log[3];

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

// For each place j of the line: its diagonal (25 - j) mod 26 and the power
// of alpha, (44 - j) mod 255, that its weighted sum still lacks.
struct LinePlace {
  uint8_t diagonal;
  uint8_t power;
};

constexpr std::array<LinePlace, kLineBytes / 2> make_line_places() {
  std::array<LinePlace, kLineBytes / 2> places{};
  for (std::size_t j = 0; j < places.size(); ++j)
    places[j] = {static_cast<uint8_t>((25 + 26 * 3 - j) % 26), static_cast<uint8_t>((44 + 255 - j) % 255)};
  return places;
}

constexpr auto kLinePlaces = make_line_places();

void compute_q(uint8_t* sector) {
  Bytes16 weighted[kLineVectors];
  Bytes16 plain[kLineVectors];
  add_rows<0, 5>(sector, weighted, plain);
  add_rows<5, 4>(sector, weighted, plain);
  uint8_t s0_line[kLineVectors * 16];
  uint8_t s1_line[kLineVectors * 16];
  for (std::size_t v = 0; v < kLineVectors; ++v) {
    store16(s0_line + 16 * v, plain[v]);
    store16(s1_line + 16 * v, weighted[v]);
  }
  uint8_t s0[52] = {};
  uint8_t s1[52] = {};
  for (std::size_t j = 0; j < kLinePlaces.size(); ++j) {
    const std::size_t d = kLinePlaces[j].diagonal;
    const uint32_t power = kLinePlaces[j].power;
    s0[2 * d] ^= s0_line[2 * j];
    s0[2 * d + 1] ^= s0_line[2 * j + 1];
    s1[2 * d] ^= times_alpha_power(s1_line[2 * j], power);
    s1[2 * d + 1] ^= times_alpha_power(s1_line[2 * j + 1], power);
  }
  uint8_t* parity = sector + Q_PARITY_OFFSET;
  for (std::size_t i = 0; i < 52; ++i) {
    const uint8_t hi = times_alpha_power(static_cast<uint8_t>(s0[i] ^ s1[i]), kInverseOfThreePower);
    parity[i] = hi;
    parity[52 + i] = static_cast<uint8_t>(s0[i] ^ hi);
  }
}

}  // namespace

void compute_ecc(uint8_t* sector, bool data_is_zero) {
  uint8_t header[4] = {};
  const bool mode2 = sector[15] == 2;
  if (mode2) {
    std::memcpy(header, sector + SECTOR_HEADER_OFFSET, 4);
    std::memset(sector + SECTOR_HEADER_OFFSET, 0, 4);
  }
  compute_p(sector);
  if (data_is_zero) {
    for (std::size_t c = 0; c < P_SKIP_FLAGS.size(); ++c) {
      if (!P_SKIP_FLAGS[c]) continue;
      std::memset(sector + P_PARITY_OFFSET + 2 * c, 0, 2);
      std::memset(sector + P_PARITY_OFFSET + kRowBytes + 2 * c, 0, 2);
    }
  }
  compute_q(sector);
  if (data_is_zero) {
    for (std::size_t d = 0; d < Q_SKIP_FLAGS.size(); ++d) {
      if (!Q_SKIP_FLAGS[d]) continue;
      std::memset(sector + Q_PARITY_OFFSET + 2 * d, 0, 2);
      std::memset(sector + Q_PARITY_OFFSET + 52 + 2 * d, 0, 2);
    }
  }
  if (mode2) std::memcpy(sector + SECTOR_HEADER_OFFSET, header, 4);
}

// The two builds of the P and Q parity behind compute_ecc: the portable one
// and the one for processors with 64-byte vectors and GF(2^8) affine
// instructions. They give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sector_parity {

constexpr std::size_t kRowBytes = 86;    // 43 columns of one word
constexpr std::size_t kRows = 26;        // 24 data rows, then P hi and P lo
constexpr std::size_t kLineBytes = 136;  // the Q line: 68 places of one word

// alpha^power in GF(2^8) with the field polynomial 0x11D, alpha = 2.
constexpr uint8_t alpha_power(uint32_t power) {
  uint32_t x = 1;
  for (uint32_t i = 0; i < power % 255; ++i) {
    x <<= 1;
    if (x & 0x100) x ^= 0x11D;
  }
  return static_cast<uint8_t>(x);
}

// One build: p fills the P parity (2076..2247) from bytes 12..2075, q the Q
// parity (2248..2351) from bytes 12..2247, both taking the bytes as they
// stand.
struct Build {
  void (*p)(uint8_t* sector);
  void (*q)(uint8_t* sector);
};

extern const Build PORTABLE_BUILD;

// The wide build, or null when this processor lacks its instructions.
const Build* wide_build();

// compute_ecc with the given build.
void compute_ecc_with(const Build& build, uint8_t* sector, bool data_is_zero);

}  // namespace sector_parity

// Independent checks of raw 2352-byte sectors for tests: the EDC run one bit
// at a time from its generator polynomial, the P and Q parity tested against
// their check equations with GF(2^8) products made bit by bit, the scrambler
// taken from its shift register, header times computed from the address.
// Nothing here uses the library's tables or encoder, so that a fault there
// cannot hide in a test that checks its output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/sector.h"

namespace cdm_test {

// Product in GF(2^8) with the field polynomial x^8 + x^4 + x^3 + x^2 + 1.
uint8_t gf_multiply(uint8_t a, uint8_t b);

// The sector EDC of `length` bytes: the polynomial
// (x^16 + x^15 + x^2 + 1)(x^16 + x^2 + x + 1), reflected, one bit at a time.
uint32_t bitwise_edc(const uint8_t* data, std::size_t length);

// The 2352 bytes a scrambled sector is XORed with: 12 zeros (the sync stays
// clear), then the output of the 15-bit shift register x^15 + x + 1 preset
// to 1, least significant bit first.
const std::vector<uint8_t>& scrambler_sequence();

// "" when every P column (24 symbols + 2 parity) and Q diagonal (43 + 2) of
// both byte halves meets its two check equations, counting a mode 2 sector's
// header as zero; else the first that does not ("Q diagonal 7 half 1").
std::string parity_faults(const uint8_t* sector);

// What one raw sector should hold.
struct ExpectedSector {
  int32_t lba = 0;
  // SECTOR_MODE1, SECTOR_MODE2_FORM1 or SECTOR_MODE2 (2336 bytes as given).
  SectorType type = SECTOR_MODE1;
  // The user data (2048 bytes, 2336 for SECTOR_MODE2); null for a sector of
  // a postgap: mode 1 zero data with EDC and parity, mode 2 all zeros.
  const uint8_t* data = nullptr;
  // Mode 2 form 1 with data: the 4 subheader bytes, written twice.
  const uint8_t* subheader = nullptr;
  // Bytes 12..2351 XORed with the scrambler sequence.
  bool scrambled = false;
};

// "" when `sector` is exactly what `expected` says; else what is wrong first
// ("sync", "header", "user data", "EDC", "P column 3 half 0", ...).
std::string raw_sector_faults(const uint8_t* sector, const ExpectedSector& expected);

}  // namespace cdm_test

#include "support/sector_checks.h"

#include <algorithm>
#include <cstring>

namespace cdm_test {

namespace {

constexpr uint32_t kFieldPolynomial = 0x11D;

// alpha * x: the product with 2, the one step of Horner's rule.
uint8_t times_alpha(uint8_t x) {
  const uint32_t shifted = uint32_t{x} << 1;
  return static_cast<uint8_t>(shifted & 0x100 ? shifted ^ kFieldPolynomial : shifted);
}

// A codeword v_0..v_{n-1} of the P or Q code meets sum v_i = 0 and
// sum v_i * alpha^(n-1-i) = 0.
bool meets_check_equations(const std::vector<uint8_t>& v) {
  uint8_t plain_sum = 0;
  uint8_t weighted_sum = 0;
  for (const uint8_t symbol : v) {
    plain_sum ^= symbol;
    weighted_sum = static_cast<uint8_t>(times_alpha(weighted_sum) ^ symbol);
  }
  return plain_sum == 0 && weighted_sum == 0;
}

uint8_t bcd(int value) { return static_cast<uint8_t>((value / 10) * 16 + value % 10); }

uint32_t le32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

bool all_zero(const uint8_t* from, std::size_t length) {
  return std::all_of(from, from + length, [](uint8_t b) { return b == 0; });
}

bool same_bytes(const uint8_t* a, const uint8_t* b, std::size_t length) {
  return std::memcmp(a, b, length) == 0;
}

}  // namespace

uint8_t gf_multiply(uint8_t a, uint8_t b) {
  uint32_t product = 0;
  uint32_t shifted = a;
  for (int bit = 0; bit < 8; ++bit) {
    if (b & (1u << bit)) product ^= shifted;
    shifted <<= 1;
    if (shifted & 0x100) shifted ^= kFieldPolynomial;
  }
  return static_cast<uint8_t>(product);
}

uint32_t bitwise_edc(const uint8_t* data, std::size_t length) {
  uint64_t product = 0;
  for (int a : {16, 15, 2, 0})
    for (int b : {16, 2, 1, 0}) product ^= 1ull << (a + b);
  uint32_t reflected = 0;
  for (int bit = 0; bit < 32; ++bit)
    if (product & (1ull << bit)) reflected |= 1u << (31 - bit);
  uint32_t crc = 0;
  for (std::size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ reflected : crc >> 1;
  }
  return crc;
}

const std::vector<uint8_t>& scrambler_sequence() {
  static const std::vector<uint8_t> sequence = [] {
    // Fibonacci form: 15 register bits, output the lowest, feed back
    // bit 0 ^ bit 1 at the top.
    std::vector<int> reg(15, 0);
    reg[0] = 1;
    std::vector<uint8_t> bytes(RAW_SECTOR_SIZE, 0);
    for (std::size_t i = 12; i < bytes.size(); ++i) {
      int byte = 0;
      for (int bit = 0; bit < 8; ++bit) {
        byte |= reg[0] << bit;
        const int feedback = reg[0] ^ reg[1];
        reg.erase(reg.begin());
        reg.push_back(feedback);
      }
      bytes[i] = static_cast<uint8_t>(byte);
    }
    return bytes;
  }();
  return sequence;
}

std::string parity_faults(const uint8_t* sector) {
  std::vector<uint8_t> area(sector + 12, sector + RAW_SECTOR_SIZE);
  if (sector[15] == 2) std::fill(area.begin(), area.begin() + 4, 0);
  for (int half = 0; half < 2; ++half) {
    for (int column = 0; column < 43; ++column) {
      std::vector<uint8_t> v;
      for (int k = 0; k < 26; ++k) v.push_back(area[2 * column + 86 * k + half]);
      if (!meets_check_equations(v))
        return "P column " + std::to_string(column) + " half " + std::to_string(half);
    }
    for (int diagonal = 0; diagonal < 26; ++diagonal) {
      std::vector<uint8_t> v;
      for (int k = 0; k < 43; ++k) v.push_back(area[(86 * diagonal + 88 * k) % 2236 + half]);
      v.push_back(area[2236 + 2 * diagonal + half]);
      v.push_back(area[2236 + 52 + 2 * diagonal + half]);
      if (!meets_check_equations(v))
        return "Q diagonal " + std::to_string(diagonal) + " half " + std::to_string(half);
    }
  }
  return "";
}

std::string raw_sector_faults(const uint8_t* raw, const ExpectedSector& expected) {
  std::vector<uint8_t> clear(raw, raw + RAW_SECTOR_SIZE);
  if (expected.scrambled)
    for (std::size_t i = 0; i < clear.size(); ++i) clear[i] ^= scrambler_sequence()[i];
  const uint8_t* s = clear.data();

  const uint8_t sync[12] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0};
  if (!same_bytes(s, sync, 12)) return "sync";
  const int frames = expected.lba + 150;
  const bool mode1 = expected.type == SECTOR_MODE1;
  const uint8_t header[4] = {bcd(frames / 4500), bcd(frames / 75 % 60), bcd(frames % 75),
                             static_cast<uint8_t>(mode1 ? 1 : 2)};
  if (!same_bytes(s + 12, header, 4)) return "header";

  if (expected.type == SECTOR_MODE2 || (!mode1 && expected.data == nullptr)) {
    const bool body_right =
        expected.data ? same_bytes(s + 16, expected.data, 2336) : all_zero(s + 16, 2336);
    return body_right ? "" : "mode 2 body";
  }
  const std::size_t data_at = mode1 ? 16 : 24;
  if (!mode1 &&
      (!same_bytes(s + 16, expected.subheader, 4) || !same_bytes(s + 20, expected.subheader, 4)))
    return "subheader";
  if (expected.data ? !same_bytes(s + data_at, expected.data, 2048) : !all_zero(s + data_at, 2048))
    return "user data";
  const uint32_t edc = mode1 ? bitwise_edc(s, 2064) : bitwise_edc(s + 16, 2056);
  if (le32(s + data_at + 2048) != edc) return "EDC";
  if (mode1 && !all_zero(s + 2068, 8)) return "zeros after the EDC";
  return parity_faults(s);
}

}  // namespace cdm_test

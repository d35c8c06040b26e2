#include "common/sector.h"

#include <cstring>
#include <utility>

#include "common/timecode.h"

namespace {

constexpr std::array<uint32_t, 256> make_crc_table(uint32_t polynomial) {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1) ? polynomial : 0);
    table[i] = value;
  }
  return table;
}

constexpr uint8_t gf_double(uint32_t x) {
  return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x11D : 0));
}

constexpr std::array<uint8_t, 256> make_gf_table(bool times_three) {
  std::array<uint8_t, 256> table{};
  for (uint32_t x = 0; x < 256; ++x)
    table[x] = static_cast<uint8_t>(gf_double(x) ^ (times_three ? x : 0));
  return table;
}

// Runs the shift register x^15 + x + 1 from 1, one output bit per step,
// filling bytes from their least significant bit.
constexpr std::array<uint8_t, RAW_SECTOR_SIZE> make_scrambler() {
  std::array<uint8_t, RAW_SECTOR_SIZE> table{};
  uint32_t shift = 1;
  for (std::size_t i = 12; i < RAW_SECTOR_SIZE; ++i) {
    uint32_t byte = 0;
    for (uint32_t bit = 0; bit < 8; ++bit) {
      byte |= (shift & 1) << bit;
      const uint32_t feedback = (shift ^ (shift >> 1)) & 1;
      shift = (shift >> 1) | (feedback << 14);
    }
    table[i] = static_cast<uint8_t>(byte);
  }
  return table;
}

// Tables for sixteen bytes a step: slice k turns a byte into its CRC
// contribution k bytes before the end of the step.
constexpr std::size_t kSliceCount = 16;
using CrcSlices = std::array<std::array<uint32_t, 256>, kSliceCount>;

constexpr CrcSlices make_crc_slices(uint32_t polynomial) {
  CrcSlices slices{};
  slices[0] = make_crc_table(polynomial);
  for (std::size_t k = 1; k < kSliceCount; ++k)
    for (std::size_t i = 0; i < 256; ++i) {
      const uint32_t previous = slices[k - 1][i];
      slices[k][i] = (previous >> 8) ^ slices[0][previous & 0xFF];
    }
  return slices;
}

constexpr CrcSlices kEdcSlices = make_crc_slices(0xD8018001u);
constexpr CrcSlices kCrc32Slices = make_crc_slices(0xEDB88320u);

uint32_t load_le32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

void put_le32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

extern constexpr std::array<uint8_t, 12> SECTOR_SYNC = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
extern constexpr std::array<uint32_t, 256> EDC_TABLE = kEdcSlices[0];
extern constexpr std::array<uint32_t, 256> CRC32_TABLE = kCrc32Slices[0];
extern constexpr std::array<uint8_t, 256> GF_MUL2 = make_gf_table(false);
extern constexpr std::array<uint8_t, 256> GF_MUL3 = make_gf_table(true);
extern constexpr std::array<uint8_t, 43> P_SKIP_FLAGS = {
    0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1, 1, 1, 1};
extern constexpr std::array<uint8_t, 26> Q_SKIP_FLAGS = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0,
                                                         0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0};
extern constexpr std::array<uint8_t, RAW_SECTOR_SIZE> SCRAMBLER_TABLE = make_scrambler();

static_assert(EDC_TABLE[1] == 0x90910101u && EDC_TABLE[128] == 0xD8018001u);
static_assert(CRC32_TABLE[1] == 0x77073096u);
static_assert(SCRAMBLER_TABLE[12] == 0x01 && SCRAMBLER_TABLE[13] == 0x80 &&
              SCRAMBLER_TABLE[14] == 0x00 && SCRAMBLER_TABLE[15] == 0x60);

uint32_t compute_edc(const uint32_t* table, const void* data, std::size_t length, uint32_t seed) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  uint32_t crc = seed;
  const CrcSlices* slices = table == EDC_TABLE.data()     ? &kEdcSlices
                            : table == CRC32_TABLE.data() ? &kCrc32Slices
                                                          : nullptr;
  if (slices != nullptr) {
    const CrcSlices& t = *slices;
    for (; length >= kSliceCount; length -= kSliceCount, bytes += kSliceCount) {
      const uint32_t a = crc ^ load_le32(bytes);
      const uint32_t b = load_le32(bytes + 4);
      const uint32_t c = load_le32(bytes + 8);
      const uint32_t d = load_le32(bytes + 12);
      crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
            t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
            t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
            t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
    }
  }
  for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t sector_edc(const uint8_t* sector) {
  if (sector[15] == 1) return compute_edc(EDC_TABLE.data(), sector, 2064, 0);
  if (sector[18] & SUBMODE_FORM2) return compute_edc(EDC_TABLE.data(), sector + 16, 2332, 0);
  return compute_edc(EDC_TABLE.data(), sector + 16, 2056, 0);
}

void build_sector(uint8_t* sector, SectorType type, int32_t lba, const uint8_t* subheader,
                  const uint8_t* data, bool form2_edc, bool minute_a0, bool scramble) {
  if (type == SECTOR_RAW) {
    if (data)
      std::memcpy(sector, data, RAW_SECTOR_SIZE);
    else
      std::memset(sector, 0, RAW_SECTOR_SIZE);
    return;
  }
  const MsfTime msf = lba_to_msf(lba);
  std::memcpy(sector, SECTOR_SYNC.data(), SECTOR_SYNC.size());
  sector[12] = static_cast<uint8_t>(bin_to_bcd(msf.minute) + (minute_a0 ? 0xA0 : 0));
  sector[13] = bin_to_bcd(msf.second);
  sector[14] = bin_to_bcd(msf.frame);
  sector[15] = type == SECTOR_MODE0 ? 0 : type == SECTOR_MODE1 ? 1 : 2;
  uint8_t* body = sector + SECTOR_DATA_OFFSET;
  switch (type) {
    case SECTOR_MODE0:
      std::memset(body, 0, MODE2_BODY_SIZE);
      break;
    case SECTOR_MODE1:
      if (data)
        std::memcpy(body, data, DATA_BLOCK_SIZE);
      else
        std::memset(body, 0, DATA_BLOCK_SIZE);
      std::memset(sector + 2068, 0, 8);
      put_le32(sector + MODE1_EDC_OFFSET, sector_edc(sector));
      compute_ecc(sector, data == nullptr);
      break;
    case SECTOR_MODE2:
      if (data)
        std::memcpy(body, data, MODE2_BODY_SIZE);
      else
        std::memset(body, 0, MODE2_BODY_SIZE);
      break;
    case SECTOR_MODE2_FORM1:
      if (!data) {
        std::memset(body, 0, MODE2_BODY_SIZE);
        break;
      }
      std::memcpy(body, subheader, 4);
      std::memcpy(body + 4, subheader, 4);
      std::memcpy(sector + MODE2_DATA_OFFSET, data, DATA_BLOCK_SIZE);
      put_le32(sector + FORM1_EDC_OFFSET, sector_edc(sector));
      compute_ecc(sector, false);
      break;
    case SECTOR_MODE2_FORM2:
      if (!data) {
        std::memset(body, 0, MODE2_BODY_SIZE);
        sector[18] = SUBMODE_FORM2;
        sector[22] = SUBMODE_FORM2;
        break;
      }
      std::memcpy(body, subheader, 4);
      std::memcpy(body + 4, subheader, 4);
      std::memcpy(sector + MODE2_DATA_OFFSET, data, FORM2_DATA_SIZE);
      put_le32(sector + FORM2_EDC_OFFSET, form2_edc ? sector_edc(sector) : 0);
      break;
    default:
      break;
  }
  transform_sector(sector, false, false, scramble);
}

void transform_sector(uint8_t* block, bool swap_bytes, bool swap_words, bool scramble) {
  if (!swap_bytes && !swap_words && !scramble) return;
  for (std::size_t i = 0; i < RAW_SECTOR_SIZE; i += 4) {
    uint8_t* w = block + i;
    if (scramble && swap_bytes) {
      for (std::size_t b = 0; b < 4; ++b) w[b] ^= SCRAMBLER_TABLE[i + b];
      std::swap(w[0], w[1]);
      std::swap(w[2], w[3]);
    } else if (swap_bytes && swap_words) {
      std::swap(w[0], w[3]);
      std::swap(w[1], w[2]);
    } else if (swap_bytes) {
      std::swap(w[0], w[1]);
      std::swap(w[2], w[3]);
    } else if (swap_words) {
      std::swap(w[0], w[2]);
      std::swap(w[1], w[3]);
    } else {
      for (std::size_t b = 0; b < 4; ++b) w[b] ^= SCRAMBLER_TABLE[i + b];
    }
  }
}

bool sector_matches_address(const uint8_t* sector, int32_t lba) {
  const MsfTime msf = lba_to_msf(lba);
  return sector[12] == bin_to_bcd(msf.minute) && sector[13] == bin_to_bcd(msf.second) &&
         sector[14] == bin_to_bcd(msf.frame);
}

bool sectors_equal(const uint8_t* a, const uint8_t* b) {
  return std::memcmp(a, b, RAW_SECTOR_SIZE) == 0;
}

const uint8_t* find_sector(const uint8_t* pattern, const uint8_t* buffer, uint16_t count) {
  if (count < 2) return nullptr;
  const std::size_t places = (static_cast<std::size_t>(count) - 1) * SECTOR_WORDS;
  for (std::size_t place = 0; place < places; ++place)
    if (sectors_equal(pattern, buffer + 4 * place)) return buffer + 4 * place;
  return nullptr;
}

bool sector_is_zero(const uint8_t* block) {
  for (std::size_t i = 0; i < RAW_SECTOR_SIZE; ++i)
    if (block[i] != 0) return false;
  return true;
}

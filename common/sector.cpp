#include "common/sector.h"

#include <cstring>
#include <utility>

#include "common/byteorder.h"
#include "common/timecode.h"

namespace {

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

}  // namespace

extern constexpr std::array<uint8_t, 12> SECTOR_SYNC = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
extern constexpr std::array<uint8_t, 256> GF_MUL2 = make_gf_table(false);
extern constexpr std::array<uint8_t, 256> GF_MUL3 = make_gf_table(true);
extern constexpr std::array<uint8_t, 43> P_SKIP_FLAGS = {
    0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1, 1, 1, 1};
extern constexpr std::array<uint8_t, 26> Q_SKIP_FLAGS = {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0,
                                                         0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0};
extern constexpr std::array<uint8_t, RAW_SECTOR_SIZE> SCRAMBLER_TABLE = make_scrambler();

static_assert(SCRAMBLER_TABLE[12] == 0x01 && SCRAMBLER_TABLE[13] == 0x80 &&
              SCRAMBLER_TABLE[14] == 0x00 && SCRAMBLER_TABLE[15] == 0x60);

namespace {

// The lane operations of transform_sector, on one 16- or 32-bit lane and the
// scrambler's lane at the same place. Each works on the bytes as they lie in
// memory, whatever the machine's byte order.
struct ScrambleSwap {
  using Lane = uint16_t;
  Lane operator()(Lane w, Lane s) const {
    w ^= s;
    return static_cast<Lane>((w << 8) | (w >> 8));
  }
};
struct ReverseBytes {
  using Lane = uint32_t;
  Lane operator()(Lane w, Lane) const { return __builtin_bswap32(w); }
};
struct SwapBytes {
  using Lane = uint16_t;
  Lane operator()(Lane w, Lane) const { return static_cast<Lane>((w << 8) | (w >> 8)); }
};
struct SwapWords {
  using Lane = uint32_t;
  Lane operator()(Lane w, Lane) const { return (w << 16) | (w >> 16); }
};
struct Scramble {
  using Lane = uint32_t;
  Lane operator()(Lane w, Lane s) const { return w ^ s; }
};

// One pass over the lanes of a block, from `from` to `to`: the same block
// (IN_PLACE, where the compiler sees that each lane is read before it is
// written) or two that do not overlap. A plain loop that the compiler turns
// into vector code, inlined into each build of the callers below.
#define INLINE_PASS __attribute__((always_inline)) inline
template <bool IN_PLACE, typename Op>
INLINE_PASS void transform_lanes(uint8_t* to, const uint8_t* from, Op op) {
  using Lane = typename Op::Lane;
  const uint8_t* source = IN_PLACE ? to : from;
  for (std::size_t i = 0; i < RAW_SECTOR_SIZE; i += sizeof(Lane)) {
    Lane w;
    Lane s;
    std::memcpy(&w, source + i, sizeof w);
    std::memcpy(&s, SCRAMBLER_TABLE.data() + i, sizeof s);
    w = op(w, s);
    std::memcpy(to + i, &w, sizeof w);
  }
}

template <bool IN_PLACE>
INLINE_PASS void transform_lanes_of(uint8_t* to, const uint8_t* from, bool swap_bytes,
                                    bool swap_words, bool scramble) {
  if (scramble && swap_bytes)
    transform_lanes<IN_PLACE>(to, from, ScrambleSwap{});
  else if (swap_bytes && swap_words)
    transform_lanes<IN_PLACE>(to, from, ReverseBytes{});
  else if (swap_bytes)
    transform_lanes<IN_PLACE>(to, from, SwapBytes{});
  else if (swap_words)
    transform_lanes<IN_PLACE>(to, from, SwapWords{});
  else if (scramble)
    transform_lanes<IN_PLACE>(to, from, Scramble{});
  else if (!IN_PLACE)
    std::memcpy(to, from, RAW_SECTOR_SIZE);
}

// Machines that have wider vectors than the baseline get a second build of
// the passes, chosen when the program starts.
#if defined(__x86_64__) && defined(__GNUC__)
#define WIDE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_VECTOR_CLONES
#endif

WIDE_VECTOR_CLONES
void transform_block(uint8_t* block, bool swap_bytes, bool swap_words, bool scramble) {
  transform_lanes_of<true>(block, block, swap_bytes, swap_words, scramble);
}

WIDE_VECTOR_CLONES
void transform_block_copy(uint8_t* to, const uint8_t* from, bool swap_bytes, bool swap_words,
                          bool scramble) {
  transform_lanes_of<false>(to, from, swap_bytes, swap_words, scramble);
}

}  // namespace

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
    case SECTOR_MODE0: std::memset(body, 0, MODE2_BODY_SIZE); break;
    case SECTOR_MODE1:
      if (!data)
        std::memset(body, 0, DATA_BLOCK_SIZE);
      else if (data != body)
        std::memcpy(body, data, DATA_BLOCK_SIZE);
      std::memset(sector + 2068, 0, 8);
      put_le32(sector + MODE1_EDC_OFFSET, sector_edc(sector));
      compute_ecc(sector, data == nullptr);
      break;
    case SECTOR_MODE2:
      if (!data)
        std::memset(body, 0, MODE2_BODY_SIZE);
      else if (data != body)
        std::memcpy(body, data, MODE2_BODY_SIZE);
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
    default: break;
  }
  transform_sector(sector, false, false, scramble);
}

void transform_sector(uint8_t* block, bool swap_bytes, bool swap_words, bool scramble) {
  transform_block(block, swap_bytes, swap_words, scramble);
}

void transform_sector_copy(uint8_t* to, const uint8_t* from, bool swap_bytes, bool swap_words,
                           bool scramble) {
  transform_block_copy(to, from, swap_bytes, swap_words, scramble);
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

uint16_t subchannel_crc(const uint8_t* bytes, std::size_t count) {
  uint16_t crc = 0;
  for (std::size_t i = 0; i < count; ++i) {
    crc = static_cast<uint16_t>(crc ^ (bytes[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return static_cast<uint16_t>(~crc);
}

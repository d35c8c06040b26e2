#include "common/sector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "common/sector_parity.h"
#include "common/timecode.h"
#include "support/sector_checks.h"

namespace {

using cdm_test::bitwise_edc;
using cdm_test::gf_multiply;
using cdm_test::parity_faults;

uint32_t le32(const uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

std::vector<uint8_t> random_bytes(std::size_t length, unsigned seed) {
  std::mt19937 engine(seed);
  std::vector<uint8_t> bytes(length);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(engine());
  return bytes;
}

const uint8_t kDataSubheader[4] = {0, 0, SUBMODE_DATA, 0};

TEST(SectorTables, KnownEntries) {
  EXPECT_EQ(EDC_TABLE[1], 0x90910101u);
  EXPECT_EQ(EDC_TABLE[128], 0xD8018001u);
  EXPECT_EQ(CRC32_TABLE[1], 0x77073096u);
  for (int x = 0; x < 256; ++x) {
    EXPECT_EQ(GF_MUL2[x], gf_multiply(static_cast<uint8_t>(x), 2));
    EXPECT_EQ(GF_MUL3[x], gf_multiply(static_cast<uint8_t>(x), 3));
  }
  // The standard CRC-32 check value, with the usual pre- and post-inversion.
  EXPECT_EQ(compute_edc(CRC32_TABLE.data(), "123456789", 9, 0xFFFFFFFFu) ^ 0xFFFFFFFFu,
            0xCBF43926u);
  // A running checksum over pieces equals the one over the whole.
  const std::vector<uint8_t> bytes = random_bytes(10007, 1);
  const uint32_t whole = compute_edc(CRC32_TABLE.data(), bytes.data(), bytes.size(), 0);
  uint32_t pieces = 0;
  for (std::size_t at = 0; at < bytes.size(); at += 333)
    pieces = compute_edc(CRC32_TABLE.data(), bytes.data() + at,
                         std::min<std::size_t>(333, bytes.size() - at), pieces);
  EXPECT_EQ(pieces, whole);
  // Every length and alignment against the bit-by-bit EDC.
  for (std::size_t offset = 0; offset < 8; ++offset)
    for (std::size_t length = 0; length < 600; ++length)
      ASSERT_EQ(compute_edc(EDC_TABLE.data(), bytes.data() + offset, length, 0),
                bitwise_edc(bytes.data() + offset, length));
}

TEST(SectorTables, ScramblerIsTheShiftRegisterSequence) {
  const std::vector<uint8_t>& sequence = cdm_test::scrambler_sequence();
  for (std::size_t i = 0; i < RAW_SECTOR_SIZE; ++i) ASSERT_EQ(SCRAMBLER_TABLE[i], sequence[i]) << i;
  EXPECT_EQ(SCRAMBLER_TABLE[12], 0x01);
  EXPECT_EQ(SCRAMBLER_TABLE[13], 0x80);
  EXPECT_EQ(SCRAMBLER_TABLE[14], 0x00);
  EXPECT_EQ(SCRAMBLER_TABLE[15], 0x60);
}

TEST(BuildSector, Mode1WithDataHasHeaderEdcAndValidParity) {
  for (int32_t lba : {0, 1234, 333000 - 151}) {
    const std::vector<uint8_t> data = random_bytes(2048, static_cast<unsigned>(lba) + 7);
    RawSector s;
    build_sector(s.data(), SECTOR_MODE1, lba, nullptr, data.data(), false, false, false);
    EXPECT_EQ(std::memcmp(s.data(), SECTOR_SYNC.data(), 12), 0);
    const MsfTime msf = lba_to_msf(lba);
    EXPECT_EQ(s[12], bin_to_bcd(msf.minute));
    EXPECT_EQ(s[13], bin_to_bcd(msf.second));
    EXPECT_EQ(s[14], bin_to_bcd(msf.frame));
    EXPECT_EQ(s[15], 1);
    EXPECT_EQ(std::memcmp(s.data() + 16, data.data(), 2048), 0);
    EXPECT_EQ(le32(s.data() + 2064), bitwise_edc(s.data(), 2064));
    EXPECT_EQ(bitwise_edc(s.data(), 2068), 0u);  // data followed by its own EDC
    for (int i = 2068; i < 2076; ++i) EXPECT_EQ(s[i], 0);
    EXPECT_EQ(parity_faults(s.data()), "");
    EXPECT_TRUE(sector_matches_address(s.data(), lba));
    EXPECT_FALSE(sector_matches_address(s.data(), lba + 1));
  }
}

TEST(BuildSector, Mode1NullDataSkipsOnlyZeroParity) {
  RawSector s;
  build_sector(s.data(), SECTOR_MODE1, 0, nullptr, nullptr, false, false, false);
  const uint8_t header[4] = {0x00, 0x02, 0x00, 0x01};
  EXPECT_EQ(std::memcmp(s.data() + 12, header, 4), 0);
  for (int i = 16; i < 2064; ++i) ASSERT_EQ(s[i], 0);
  EXPECT_NE(le32(s.data() + 2064), 0u);
  EXPECT_EQ(le32(s.data() + 2064), bitwise_edc(s.data(), 2064));
  EXPECT_EQ(parity_faults(s.data()), "");
  RawSector full = s;
  compute_ecc(full.data(), false);
  EXPECT_TRUE(sectors_equal(full.data(), s.data()));
}

TEST(BuildSector, SkipFlagsLeaveZerosEvenOverNonZeroData) {
  // Told the data are zero when they are not, the flagged vectors get zero parity.
  RawSector s;
  const std::vector<uint8_t> data = random_bytes(2048, 3);
  build_sector(s.data(), SECTOR_MODE1, 0, nullptr, data.data(), false, false, false);
  compute_ecc(s.data(), true);
  for (int c = 0; c < 43; ++c) {
    if (!P_SKIP_FLAGS[c]) continue;
    for (int at : {2076 + 2 * c, 2077 + 2 * c, 2162 + 2 * c, 2163 + 2 * c})
      EXPECT_EQ(s[at], 0) << c;
  }
  for (int d = 0; d < 26; ++d) {
    if (!Q_SKIP_FLAGS[d]) continue;
    for (int at : {2248 + 2 * d, 2249 + 2 * d, 2300 + 2 * d, 2301 + 2 * d})
      EXPECT_EQ(s[at], 0) << d;
  }
}

// The wide-vector parity against the portable one on random sectors: both
// must meet the check equations and agree byte for byte, including the skip
// flags applied over data that are not zero and a mode 2 header.
TEST(SectorParity, WideBuildMatchesPortable) {
  const sector_parity::Build* wide = sector_parity::wide_build();
  if (wide == nullptr) GTEST_SKIP() << "no wide-vector build on this processor";
  struct Case {
    uint8_t mode;
    bool zero_data;
    bool data_is_zero;
  };
  const Case cases[] = {{1, false, false}, {2, false, false}, {0x61, false, false},
                        {1, true, true},   {2, true, true},   {1, false, true}};
  unsigned seed = 100;
  for (const Case& c : cases) {
    for (int round = 0; round < 20; ++round) {
      SCOPED_TRACE(testing::Message() << "mode " << int{c.mode} << " zero data " << c.zero_data
                                      << " data_is_zero " << c.data_is_zero << " round " << round);
      const std::vector<uint8_t> original = random_bytes(RAW_SECTOR_SIZE, ++seed);
      RawSector portable;
      std::memcpy(portable.data(), original.data(), RAW_SECTOR_SIZE);
      portable[15] = c.mode;
      if (c.zero_data) std::memset(portable.data() + 16, 0, P_PARITY_OFFSET - 16);
      RawSector fast = portable;
      const RawSector before = portable;
      sector_parity::compute_ecc_with(sector_parity::PORTABLE_BUILD, portable.data(),
                                      c.data_is_zero);
      sector_parity::compute_ecc_with(*wide, fast.data(), c.data_is_zero);
      ASSERT_EQ(std::memcmp(portable.data(), before.data(), P_PARITY_OFFSET), 0);
      if (!c.data_is_zero || c.zero_data) {
        ASSERT_EQ(parity_faults(portable.data()), "");
      }
      ASSERT_TRUE(sectors_equal(fast.data(), portable.data()));
    }
  }
}

TEST(BuildSector, Mode2Form1) {
  const std::vector<uint8_t> data = random_bytes(2048, 5);
  RawSector s;
  build_sector(s.data(), SECTOR_MODE2_FORM1, 4500, kDataSubheader, data.data(), true, false, false);
  const uint8_t header[12] = {0x01, 0x02, 0x00, 0x02, 0, 0, 8, 0, 0, 0, 8, 0};
  EXPECT_EQ(std::memcmp(s.data() + 12, header, 12), 0);
  EXPECT_EQ(std::memcmp(s.data() + 24, data.data(), 2048), 0);
  EXPECT_EQ(le32(s.data() + 2072), bitwise_edc(s.data() + 16, 2056));
  EXPECT_EQ(parity_faults(s.data()), "");

  RawSector gap;
  build_sector(gap.data(), SECTOR_MODE2_FORM1, 0, nullptr, nullptr, true, false, false);
  const uint8_t gap_header[4] = {0x00, 0x02, 0x00, 0x02};
  EXPECT_EQ(std::memcmp(gap.data() + 12, gap_header, 4), 0);
  for (int i = 16; i < 2352; ++i) ASSERT_EQ(gap[i], 0);
}

TEST(BuildSector, Mode2Form2AndTheFormlessModes) {
  const std::vector<uint8_t> data = random_bytes(2352, 9);
  const uint8_t subheader[4] = {1, 2, SUBMODE_FORM2 | SUBMODE_AUDIO, 4};
  RawSector s;
  build_sector(s.data(), SECTOR_MODE2_FORM2, 10, subheader, data.data(), true, false, false);
  EXPECT_EQ(std::memcmp(s.data() + 16, subheader, 4), 0);
  EXPECT_EQ(std::memcmp(s.data() + 20, subheader, 4), 0);
  EXPECT_EQ(std::memcmp(s.data() + 24, data.data(), 2324), 0);
  EXPECT_EQ(le32(s.data() + 2348), bitwise_edc(s.data() + 16, 2332));
  EXPECT_EQ(sector_edc(s.data()), le32(s.data() + 2348));
  build_sector(s.data(), SECTOR_MODE2_FORM2, 10, subheader, data.data(), false, false, false);
  EXPECT_EQ(le32(s.data() + 2348), 0u);

  build_sector(s.data(), SECTOR_MODE2_FORM2, 0, nullptr, nullptr, true, false, false);
  for (int i = 16; i < 2352; ++i) ASSERT_EQ(s[i], (i == 18 || i == 22) ? SUBMODE_FORM2 : 0) << i;

  build_sector(s.data(), SECTOR_MODE2, 0, nullptr, data.data(), true, true, false);
  EXPECT_EQ(s[12], 0xA0);  // minute 0 + 0xA0
  EXPECT_EQ(s[15], 2);
  EXPECT_EQ(std::memcmp(s.data() + 16, data.data(), 2336), 0);

  build_sector(s.data(), SECTOR_MODE0, 0, nullptr, data.data(), true, false, false);
  EXPECT_EQ(s[15], 0);
  for (int i = 16; i < 2352; ++i) ASSERT_EQ(s[i], 0);

  build_sector(s.data(), SECTOR_RAW, 0, nullptr, data.data(), true, false, true);
  EXPECT_EQ(std::memcmp(s.data(), data.data(), 2352), 0);  // copied, not scrambled
  build_sector(s.data(), SECTOR_RAW, 0, nullptr, nullptr, true, false, true);
  EXPECT_TRUE(sector_is_zero(s.data()));
}

TEST(TransformSector, EveryRowOfTheTable) {
  RawSector block;
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 1);
  const RawSector original = block;
  auto word = [](const RawSector& b, std::size_t w) {
    return std::array<uint8_t, 4>{b[4 * w], b[4 * w + 1], b[4 * w + 2], b[4 * w + 3]};
  };
  auto scr = [&](std::size_t w, int b) {
    return static_cast<uint8_t>(original[4 * w + b] ^ SCRAMBLER_TABLE[4 * w + b]);
  };
  const std::size_t w = 100;
  const auto o = word(original, w);

  RawSector b = original;
  transform_sector(b.data(), true, false, true);
  EXPECT_EQ(word(b, w), (std::array<uint8_t, 4>{scr(w, 1), scr(w, 0), scr(w, 3), scr(w, 2)}));
  b = original;
  transform_sector(b.data(), true, true, true);  // all three: as scramble and swap_bytes
  EXPECT_EQ(word(b, w), (std::array<uint8_t, 4>{scr(w, 1), scr(w, 0), scr(w, 3), scr(w, 2)}));
  b = original;
  transform_sector(b.data(), true, true, false);
  EXPECT_EQ(word(b, w), (std::array<uint8_t, 4>{o[3], o[2], o[1], o[0]}));
  b = original;
  transform_sector(b.data(), true, false, false);
  EXPECT_EQ(word(b, w), (std::array<uint8_t, 4>{o[1], o[0], o[3], o[2]}));
  b = original;
  transform_sector(b.data(), false, true, false);
  EXPECT_EQ(word(b, w), (std::array<uint8_t, 4>{o[2], o[3], o[0], o[1]}));
  b = original;
  transform_sector(b.data(), false, true, true);  // swap_words comes before scramble
  EXPECT_EQ(word(b, w), (std::array<uint8_t, 4>{o[2], o[3], o[0], o[1]}));
  b = original;
  transform_sector(b.data(), false, false, false);
  EXPECT_TRUE(sectors_equal(b.data(), original.data()));

  transform_sector(b.data(), false, false, true);
  EXPECT_EQ(std::memcmp(b.data(), original.data(), 12), 0);  // sync place untouched
  for (std::size_t i = 12; i < 2352; ++i) ASSERT_EQ(b[i], original[i] ^ SCRAMBLER_TABLE[i]);
  transform_sector(b.data(), false, false, true);
  EXPECT_TRUE(sectors_equal(b.data(), original.data()));
}

// Every flag combination, every byte of the block, at an address of any
// alignment: against the rule written out byte by byte.
TEST(TransformSector, EveryByteAtAnyAlignment) {
  struct Flags {
    bool swap_bytes, swap_words, scramble;
  };
  const Flags all[] = {{false, false, false}, {false, false, true}, {false, true, false},
                       {false, true, true},   {true, false, false}, {true, false, true},
                       {true, true, false},   {true, true, true}};
  const std::vector<uint8_t> source = random_bytes(2352 + 3, 17);
  for (const Flags& f : all) {
    for (std::size_t misalign : {0, 1, 3}) {
      SCOPED_TRACE(testing::Message()
                   << "swap_bytes " << f.swap_bytes << " swap_words " << f.swap_words
                   << " scramble " << f.scramble << " at +" << misalign);
      const uint8_t* in = source.data() + misalign;
      std::vector<uint8_t> expected(2352);
      for (std::size_t i = 0; i < 2352; i += 4) {
        uint8_t b[4];
        for (std::size_t k = 0; k < 4; ++k)
          b[k] = f.scramble && (f.swap_bytes || !f.swap_words)
                     ? static_cast<uint8_t>(in[i + k] ^ SCRAMBLER_TABLE[i + k])
                     : in[i + k];
        const std::size_t* order;
        static const std::size_t same[] = {0, 1, 2, 3}, bytes[] = {1, 0, 3, 2},
                                 reversed[] = {3, 2, 1, 0}, words[] = {2, 3, 0, 1};
        if (f.swap_bytes)
          order = f.swap_words && !f.scramble ? reversed : bytes;
        else
          order = f.swap_words ? words : same;
        for (std::size_t k = 0; k < 4; ++k) expected[i + k] = b[order[k]];
      }
      std::vector<uint8_t> place(2352 + 3);
      uint8_t* out = place.data() + misalign;
      std::memcpy(out, in, 2352);
      transform_sector(out, f.swap_bytes, f.swap_words, f.scramble);
      EXPECT_EQ(std::vector<uint8_t>(out, out + 2352), expected);
    }
  }
}

TEST(BuildSector, ScrambledSectorIsTheClearOneXorScrambler) {
  const std::vector<uint8_t> data = random_bytes(2048, 11);
  RawSector clear;
  RawSector scrambled;
  build_sector(clear.data(), SECTOR_MODE1, 77, nullptr, data.data(), true, false, false);
  build_sector(scrambled.data(), SECTOR_MODE1, 77, nullptr, data.data(), true, false, true);
  for (std::size_t i = 0; i < 2352; ++i) ASSERT_EQ(scrambled[i], clear[i] ^ SCRAMBLER_TABLE[i]);
}

TEST(SectorCompare, FindSectorAtWordPlaces) {
  std::vector<uint8_t> buffer = random_bytes(3 * 2352, 13);
  RawSector pattern;
  std::memcpy(pattern.data(), buffer.data() + 4 * 701, 2352);
  EXPECT_EQ(find_sector(pattern.data(), buffer.data(), 3), buffer.data() + 4 * 701);
  EXPECT_EQ(find_sector(pattern.data(), buffer.data(), 1), nullptr);
  EXPECT_EQ(find_sector(pattern.data(), buffer.data(), 0), nullptr);
  std::memcpy(pattern.data(), buffer.data(), 2352);
  EXPECT_EQ(find_sector(pattern.data(), buffer.data(), 1), nullptr);  // count 1 tries nothing
  EXPECT_EQ(find_sector(pattern.data(), buffer.data(), 2), buffer.data());
  pattern[2351] ^= 1;
  EXPECT_EQ(find_sector(pattern.data(), buffer.data(), 3), nullptr);
  EXPECT_FALSE(sectors_equal(pattern.data(), buffer.data()));

  RawSector zero{};
  EXPECT_TRUE(sector_is_zero(zero.data()));
  zero[2351] = 1;
  EXPECT_FALSE(sector_is_zero(zero.data()));
}

TEST(BuildSector, LastAddressWithABcdHeader) {
  // 99:59:74 is the last time a header can hold; one more sector is minute 100.
  const std::vector<uint8_t> data = random_bytes(2048, 17);
  RawSector s;
  build_sector(s.data(), SECTOR_MODE1, LAST_BCD_LBA, nullptr, data.data(), false, false, false);
  const uint8_t header[4] = {0x99, 0x59, 0x74, 0x01};
  EXPECT_EQ(std::memcmp(s.data() + 12, header, 4), 0);
  cdm_test::ExpectedSector expected;
  expected.lba = LAST_BCD_LBA;
  expected.data = data.data();
  EXPECT_EQ(cdm_test::raw_sector_faults(s.data(), expected), "");
  EXPECT_EQ(lba_to_msf(LAST_BCD_LBA + 1), (MsfTime{100, 0, 0}));
}

}  // namespace

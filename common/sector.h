// Raw 2352-byte CD sectors: sync, header, subheader, user data, EDC and the
// P and Q parity of the CD-ROM product code, the sector scrambler and the
// byte-order transforms applied to raw blocks on their way to a recorder,
// and a few comparisons on raw blocks. Pure functions: nothing here talks to
// a device or a file, and nothing fails; every sector buffer is 2352 bytes
// and no size is checked.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "common/timecode.h"

constexpr std::size_t RAW_SECTOR_SIZE = 2352;
constexpr std::size_t DATA_BLOCK_SIZE = 2048;                 // mode 1 and mode 2 form 1 user data
constexpr std::size_t MODE2_BODY_SIZE = 2336;                 // everything after the header
constexpr std::size_t FORM2_DATA_SIZE = 2324;                 // mode 2 form 2 user data
constexpr std::size_t CDG_BLOCK_SIZE = RAW_SECTOR_SIZE + 96;  // audio and its P-W subcode
constexpr std::size_t SECTOR_WORDS = RAW_SECTOR_SIZE / 4;     // 588 32-bit words

// Sectors that a raw image whose first sector is LBA 0 can hold before its
// headers run past the last BCD address (LBA 0 to LAST_BCD_LBA): 449850.
// Writers of raw images refuse a larger one before writing anything.
constexpr uint64_t MAX_RAW_IMAGE_SECTORS = uint64_t{LAST_BCD_LBA} + 1;

// Byte offsets inside a raw sector.
constexpr std::size_t SECTOR_HEADER_OFFSET = 12;  // minute, second, frame (BCD), mode
constexpr std::size_t SECTOR_DATA_OFFSET = 16;    // mode 1 data, mode 2 subheader
constexpr std::size_t MODE1_EDC_OFFSET = 2064;
constexpr std::size_t MODE2_DATA_OFFSET = 24;  // after the subheader and its copy
constexpr std::size_t FORM1_EDC_OFFSET = 2072;
constexpr std::size_t FORM2_EDC_OFFSET = 2348;
constexpr std::size_t P_PARITY_OFFSET = 2076;  // 172 bytes
constexpr std::size_t Q_PARITY_OFFSET = 2248;  // 104 bytes

// Submode bits of a mode 2 subheader (byte 2 of the four).
constexpr uint8_t SUBMODE_VIDEO = 0x02;
constexpr uint8_t SUBMODE_AUDIO = 0x04;
constexpr uint8_t SUBMODE_DATA = 0x08;
constexpr uint8_t SUBMODE_FORM2 = 0x20;

// One raw sector. The functions below take its bytes (sector.data()) so that
// they work as well on places inside larger buffers.
using RawSector = std::array<uint8_t, RAW_SECTOR_SIZE>;

// The kind of sector build_sector makes.
enum SectorType : uint8_t {
  SECTOR_RAW = 0,          // 2352 bytes copied whole (or zeros), no header written
  SECTOR_MODE0 = 1,        // header mode 0, 2336 zeros
  SECTOR_MODE1 = 2,        // 2048 data bytes, EDC, 8 zeros, P, Q
  SECTOR_MODE2 = 3,        // 2336 bytes copied (or zeros)
  SECTOR_MODE2_FORM1 = 4,  // subheader twice, 2048 data bytes, EDC, P, Q
  SECTOR_MODE2_FORM2 = 5,  // subheader twice, 2324 data bytes, EDC (or zero)
};

// The 12-byte sync pattern: 00, ten bytes FF, 00.
extern const std::array<uint8_t, 12> SECTOR_SYNC;

// Reflected CRC tables, entry i = i shifted right eight times with the
// polynomial XORed in whenever a 1 is shifted out.
// EDC_TABLE: polynomial 0xD8018001, the sectors' error detection code.
// CRC32_TABLE: polynomial 0xEDB88320, the standard CRC-32.
extern const std::array<uint32_t, 256> EDC_TABLE;
extern const std::array<uint32_t, 256> CRC32_TABLE;

// GF(2^8) (field polynomial 0x11D) products 2*x and 3*x, the two
// coefficients of the generator x^2 + 3x + 2 of the P and Q codes.
extern const std::array<uint8_t, 256> GF_MUL2;
extern const std::array<uint8_t, 256> GF_MUL3;

// The vectors whose parity is computed when the user data are all zero
// (1: skipped). 43 P columns and 26 Q diagonals.
extern const std::array<uint8_t, 43> P_SKIP_FLAGS;
extern const std::array<uint8_t, 26> Q_SKIP_FLAGS;

// 2352 bytes: 12 zeros (the sync is never scrambled), then the scrambling
// sequence of the 15-bit shift register x^15 + x + 1 preset to 1, least
// significant bit first. In byte order.
extern const std::array<uint8_t, RAW_SECTOR_SIZE> SCRAMBLER_TABLE;

// Running CRC over `length` bytes: for each byte b,
// crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8), from `seed`, no final
// inversion. With EDC_TABLE.data() and seed 0 it is a sector's EDC; with
// CRC32_TABLE it keeps a running CRC-32 over data read in pieces (seed with
// the previous result). Any other table works too, more slowly.
uint32_t compute_edc(const uint32_t* table, const void* data, std::size_t length, uint32_t seed);

// CRC of a Q subchannel frame: CRC-16 with polynomial x^16 + x^12 + x^5 + 1
// over the first 10 bytes, inverted, as the disc stores it (big-endian, in
// bytes 10 and 11 of the frame).
uint16_t q_crc(const uint8_t* q10);

// The EDC of a built sector over the range its mode byte and submode give:
// mode 1: bytes 0..2063; mode 2 with submode bit 0x20: bytes 16..2347;
// otherwise bytes 16..2071.
uint32_t sector_edc(const uint8_t* sector);

// Fills the P parity (2076..2247) and Q parity (2248..2351) over the bytes
// from offset 12. For a mode 2 sector the header counts as zero (it is left
// as it was). With data_is_zero the vectors marked in the skip flags get
// zero parity without being computed.
void compute_ecc(uint8_t* sector, bool data_is_zero);

// Builds one raw sector in place at address `lba`. `subheader` (4 bytes) is
// used by the mode 2 forms only; `data` null means all-zero user data;
// The data of a mode 1 or plain mode 2 sector may already lie in place
// (at `sector` + 16); otherwise it must not overlap the sector.
// `form2_edc` computes the form 2 EDC (else it stays 0); `minute_a0` adds
// 0xA0 to the BCD minute; `scramble` scrambles the finished sector.
// A mode 2 form 1 or form 2 sector with null data gets no subheader, EDC or
// parity (form 2 only its two form 2 submode bits).
void build_sector(uint8_t* sector, SectorType type, int32_t lba, const uint8_t* subheader,
                  const uint8_t* data, bool form2_edc, bool minute_a0, bool scramble);

// Rewrites a 2352-byte block taken as 588 little-endian 32-bit words, by the
// first that applies: scramble and swap_bytes: XOR with the scrambler, then
// exchange the bytes of each 16-bit half; swap_bytes and swap_words: reverse
// the four bytes; swap_bytes: exchange the bytes of each half; swap_words:
// exchange the halves; scramble: XOR with the scrambler; else nothing.
void transform_sector(uint8_t* block, bool swap_bytes, bool swap_words, bool scramble);
// The same, writing the rewritten block to `to` (which must not overlap
// `from`) in the one pass.
void transform_sector_copy(uint8_t* to, const uint8_t* from, bool swap_bytes, bool swap_words,
                           bool scramble);

// True when header bytes 12..14 hold the BCD time of `lba` (mode byte not compared).
bool sector_matches_address(const uint8_t* sector, int32_t lba);

// True when two 2352-byte blocks are equal.
bool sectors_equal(const uint8_t* a, const uint8_t* b);

// The first 4-byte-aligned place in `buffer` (count blocks of 2352 bytes)
// where a whole block equals `pattern`, trying (count - 1) * 588 places one
// word apart; null when none matches (always for count 0 or 1).
const uint8_t* find_sector(const uint8_t* pattern, const uint8_t* buffer, uint16_t count);
inline uint8_t* find_sector(const uint8_t* pattern, uint8_t* buffer, uint16_t count) {
  return const_cast<uint8_t*>(find_sector(pattern, static_cast<const uint8_t*>(buffer), count));
}

// True when all 2352 bytes of a block are zero.
bool sector_is_zero(const uint8_t* block);

// CRC-16 of subchannel data (the Q frame's first 10 bytes, a CD-TEXT pack's
// first 16): polynomial x^16 + x^12 + x^5 + 1, initial value 0, inverted, as
// the disc stores it (big-endian after the bytes).
uint16_t subchannel_crc(const uint8_t* bytes, std::size_t count);

// CD-TEXT on the emulated MMC recorder: the lead-in's R-W subcode that the
// host writes in a session at once, turned back into packs, checked and
// kept with the recording.
#include <algorithm>
#include <cstring>

#include "common/sector.h"
#include "emulator/mmc_drive.h"
#include "layout/cd_text.h"

namespace {

constexpr uint32_t SUBCODE_BLOCK = 96;
constexpr uint32_t SYMBOLS_PER_PACK = 24;
constexpr uint32_t PACKS_PER_BLOCK = SUBCODE_BLOCK / SYMBOLS_PER_PACK;

// One pack from its 24 six-bit symbols (the R-W bits of 24 subcode bytes,
// R the highest), the first symbol's bits first.
void pack_from_symbols(const uint8_t* symbols, uint8_t* pack) {
  std::memset(pack, 0, CD_TEXT_PACK_SIZE);
  for (uint32_t bit = 0; bit < SYMBOLS_PER_PACK * 6; ++bit) {
    const uint8_t symbol = symbols[bit / 6] & 0x3F;
    if (symbol & (0x20 >> (bit % 6))) pack[bit / 8] |= static_cast<uint8_t>(0x80 >> (bit % 8));
  }
}

bool same_pack(const uint8_t* packs, std::size_t a, std::size_t b) {
  return std::memcmp(packs + a * CD_TEXT_PACK_SIZE, packs + b * CD_TEXT_PACK_SIZE,
                     CD_TEXT_PACK_SIZE) == 0;
}

// The packs of one cycle of the lead-in's repeated packs; 0 when the
// repetition breaks off.
std::size_t cycle_length(const std::vector<uint8_t>& packs) {
  const std::size_t count = packs.size() / CD_TEXT_PACK_SIZE;
  std::size_t cycle = 1;
  while (cycle < count && !same_pack(packs.data(), cycle, 0)) ++cycle;
  for (std::size_t i = cycle; i < count; ++i)
    if (!same_pack(packs.data(), i, i % cycle)) return 0;
  return cycle;
}

// Puts the packs and their texts into the recording.
void keep_cd_text(MmcDriveState& s, std::size_t cycle) {
  RecordedDiscInfo& disc = s.drive->disc()->recording();
  disc.cd_text.assign(s.leadin_packs.begin(),
                      s.leadin_packs.begin() + static_cast<long>(cycle * CD_TEXT_PACK_SIZE));
  // A cue sheet holds one language: the first block's.
  const CdTextContents contents = decode_cd_text(disc.cd_text.data(), cycle);
  const CdTextBlock none;
  const CdTextBlock& block = contents.empty() ? none : contents.blocks.front();
  disc.disc_texts = block.disc;
  const uint8_t first = disc.sessions.back().first_track;
  for (DiscTrack& track : disc.tracks) {
    if (track.number < first) continue;
    track.texts.clear();
    for (const SheetText& text : block.tracks[track.number])
      if (text.keyword != "ISRC") track.texts.push_back(text);
  }
}

}  // namespace

bool valid_leadin_form(const MmcDriveState& state, uint8_t form) {
  const uint8_t main = form & 0x3F;
  const uint8_t sub = form & 0xC0;
  if (main != 0x01 && main != 0x14 && main != 0x34) return false;
  return sub == 0 || (sub == LEADIN_FORM_SUBCODE && state.records_cd_text);
}

void expect_leadin_subcode(MmcDriveState& state, int32_t leadin_start, int32_t program_area) {
  state.leadin_open = true;
  state.leadin_next = leadin_start;
  state.leadin_end = program_area;
  state.leadin_packs.clear();
}

EmulatedAnswer write_leadin_subcode(MmcDriveState& s, const EmulatedCommand& c, int32_t lba,
                                    uint32_t count) {
  if (lba != s.leadin_next || int64_t{lba} + count > s.leadin_end)
    return refuse(SENSE_INVALID_ADDRESS_FOR_WRITE);
  if (uint64_t{count} * SUBCODE_BLOCK != c.buffer_length || c.buffer == nullptr)
    return refuse(SENSE_ILLEGAL_MODE_FOR_TRACK);
  std::vector<uint8_t> packs(count * PACKS_PER_BLOCK * CD_TEXT_PACK_SIZE);
  for (uint32_t i = 0; i < count * PACKS_PER_BLOCK; ++i)
    pack_from_symbols(c.buffer + i * SYMBOLS_PER_PACK, packs.data() + i * CD_TEXT_PACK_SIZE);
  if (bad_cd_text_pack(packs.data(), packs.size()) >= 0)
    return refuse(SENSE_PARAMETER_VALUE_INVALID);
  s.leadin_packs.insert(s.leadin_packs.end(), packs.begin(), packs.end());
  s.leadin_next += static_cast<int32_t>(count);
  if (s.leadin_next < s.leadin_end) return EmulatedAnswer::good();
  s.leadin_open = false;
  const std::size_t cycle = cycle_length(s.leadin_packs);
  if (cycle == 0) return refuse(SENSE_PARAMETER_VALUE_INVALID);
  keep_cd_text(s, cycle);
  s.leadin_packs.clear();
  return EmulatedAnswer::good();
}

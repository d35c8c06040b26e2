// CD-TEXT on MMC recorders: the lead-in's R-W subcode that carries the
// packs in a session at once.
#include <algorithm>
#include <cstring>

#include "common/msgvec.h"
#include "common/timecode.h"
#include "drivers/mmc_drive.h"
#include "layout/cd_text.h"

namespace {

constexpr uint32_t SUBCODE_BLOCK = 96;
constexpr uint32_t PACKS_PER_BLOCK = 4;
constexpr uint32_t SYMBOLS_PER_PACK = 24;
constexpr uint16_t DISC_INFORMATION_LENGTH = 34;
constexpr int32_t MSF_WRAP_FRAMES = 100 * 4500;

// The LBA of an MSF address; from 90 minutes on one before 00:00:00.
int32_t leadin_lba(const uint8_t* msf) {
  int32_t frames = msf_to_frames(msf[0], msf[1], msf[2]);
  if (msf[0] >= 90) frames -= MSF_WRAP_FRAMES;
  return frames - static_cast<int32_t>(LBA_OFFSET_FRAMES);
}

}  // namespace

void cd_text_subcode(const uint8_t* four_packs, uint8_t* subcode96) {
  std::memset(subcode96, 0, SUBCODE_BLOCK);
  for (uint32_t p = 0; p < PACKS_PER_BLOCK; ++p) {
    const uint8_t* pack = four_packs + p * CD_TEXT_PACK_SIZE;
    uint8_t* symbols = subcode96 + p * SYMBOLS_PER_PACK;
    for (uint32_t bit = 0; bit < SYMBOLS_PER_PACK * 6; ++bit)
      if (pack[bit / 8] & (0x80 >> (bit % 8)))
        symbols[bit / 6] |= static_cast<uint8_t>(0x20 >> (bit % 6));
  }
}

int32_t MmcRecorder::ReadLeadInStart() {
  uint8_t info[DISC_INFORMATION_LENGTH] = {};
  uint32_t received = 0;
  CheckNamed(ReadDiscInformationRaw(info, sizeof info, &received), "READ DISC INFORMATION", true);
  if (received < 20) CheckNamed(MSG_BUGCHECK, "READ DISC INFORMATION", true);
  return leadin_lba(info + 17);
}

void MmcRecorder::WriteLeadInText(const std::vector<uint8_t>& packs, int32_t start, int32_t end) {
  const std::size_t count = packs.size() / CD_TEXT_PACK_SIZE;
  if (start >= end || count == 0) CheckNamed(MSG_BUGCHECK, "WRITE", true);
  constexpr uint32_t BLOCKS_PER_WRITE = MAX_TRANSFER_BYTES / SUBCODE_BLOCK;
  std::vector<uint8_t> buffer(BLOCKS_PER_WRITE * SUBCODE_BLOCK);
  std::size_t next_pack = 0;
  for (int32_t lba = start; lba < end;) {
    const auto blocks =
        static_cast<uint16_t>(std::min<int64_t>(BLOCKS_PER_WRITE, int64_t{end} - lba));
    for (uint16_t b = 0; b < blocks; ++b) {
      uint8_t four[PACKS_PER_BLOCK * CD_TEXT_PACK_SIZE];
      for (uint32_t p = 0; p < PACKS_PER_BLOCK; ++p, next_pack = (next_pack + 1) % count)
        std::memcpy(four + p * CD_TEXT_PACK_SIZE, packs.data() + next_pack * CD_TEXT_PACK_SIZE,
                    CD_TEXT_PACK_SIZE);
      cd_text_subcode(four, buffer.data() + b * SUBCODE_BLOCK);
    }
    CheckNamed(WriteRaw(buffer.data(), SUBCODE_BLOCK, blocks, static_cast<uint32_t>(lba), 0),
               "WRITE", true);
    lba += blocks;
  }
}

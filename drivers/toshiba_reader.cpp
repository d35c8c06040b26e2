#include "drivers/toshiba_reader.h"

#include <cstring>

#include "common/msgvec.h"
#include "drivers/reader_family.h"

namespace {

constexpr uint8_t SECTOR_KIND_2 = 2;
constexpr uint32_t AUDIO_SIZE = 2352;
constexpr uint32_t Q_SIZE = 16;

constexpr uint16_t TOSHIBA_CAPS = CAP_READ_CDDA | CAP_READ_SUBQ | CAP_JITTER_CORRECT;

// clang-format off
constexpr ReaderModel TOSHIBA_MODELS[] = {
  // code caps         block  recorder read
  {33, TOSHIBA_CAPS, 2352,  1,       0},
  {34, TOSHIBA_CAPS, 2352,  2,       0},
  {35, TOSHIBA_CAPS, 2352,  3,       0},
};
// clang-format on

// The drive's 16 bytes after the audio (control, ADR, track, index, relative
// M:S:F, absolute M:S:F) in the standard Q layout.
void standard_q(uint8_t* q) {
  const uint8_t drive[10] = {q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7], q[8], q[9]};
  std::memset(q, 0, Q_SIZE);
  q[0] = static_cast<uint8_t>(drive[0] * 16 + (drive[1] & 0x0F));
  std::memcpy(q + 1, drive + 2, 5);  // track, index, relative M:S:F
  std::memcpy(q + 7, drive + 7, 3);  // absolute M:S:F
}

}  // namespace

ToshibaReader::ToshibaReader(uint8_t leaf_code) {
  apply_reader_model(*this, TOSHIBA_MODELS, leaf_code);
}

ResultCode ToshibaReader::ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                                    uint8_t subcode_format) {
  if (subcode_format > SUBCODE_ALL || count > UINT16_MAX) return MSG_BUGCHECK;
  // With the Q subchannel every sector is 2368 bytes long, and the request
  // asks for all of them.
  const uint32_t size = subcode_format == SUBCODE_Q ? AUDIO_SIZE + Q_SIZE : AUDIO_SIZE;
  const ResultCode result = ReadRaw(buffer, size, static_cast<uint16_t>(count), lba, 0);
  if (result == 1 && subcode_format == SUBCODE_Q)
    for (uint32_t i = 0; i < count; ++i) standard_q(buffer + std::size_t{i} * size + AUDIO_SIZE);
  return result;
}

ResultCode ToshibaReader::SetBlockLength(uint8_t sector_kind, uint32_t block_length) {
  uint8_t density = 0;
  switch (sector_kind) {
    case SECTOR_KIND_AUDIO: density = TOSHIBA_DENSITY_AUDIO; break;
    case SECTOR_KIND_DATA:
      density = block_length == 2048 ? TOSHIBA_DENSITY_DATA_2048 : TOSHIBA_DENSITY_DATA;
      break;
    case SECTOR_KIND_2: density = TOSHIBA_DENSITY_KIND2; break;
    default: return MSG_BUGCHECK;
  }
  return SelectBlockDescriptorRaw(density, block_length, 0);
}

ResultCode ToshibaReader::SetReadingSpeed(uint8_t /*speed*/) { return 1; }

ResultCode ToshibaReader::StartAudioRead(uint32_t /*lba*/, uint32_t block_size) {
  return SetBlockLength(SECTOR_KIND_AUDIO, block_size);
}

ResultCode ToshibaReader::StopAudioRead() { return SetBlockLength(SECTOR_KIND_DATA, 2048); }

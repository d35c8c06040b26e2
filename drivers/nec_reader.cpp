#include "drivers/nec_reader.h"

#include "common/byteorder.h"
#include "common/msgvec.h"
#include "drivers/reader_family.h"

namespace {

constexpr uint8_t OP_READ_CDDA_NEC = 0xD4;
constexpr uint8_t ERROR_RECOVERY_PAGE = 0x01;
// Header, one block descriptor and the 8-byte error recovery page.
constexpr uint8_t BLOCK_LENGTH_PAGES = 20;
constexpr uint8_t READ_RETRY_COUNT = 3;

// clang-format off
constexpr ReaderModel NEC_MODELS[] = {
  // code caps                               block  recorder read
  {21, CAP_READ_CDDA | CAP_JITTER_CORRECT, 2340,  1,       0},
  {22, CAP_READ_CDDA | CAP_JITTER_CORRECT, 2340,  2,       0},
  {23, CAP_READ_CDDA | CAP_JITTER_CORRECT, 2352,  3,       0},
  {24, CAP_READ_CDDA | CAP_JITTER_CORRECT, 2352,  4,       0},
};
// clang-format on

}  // namespace

NecReader::NecReader(uint8_t leaf_code) { apply_reader_model(*this, NEC_MODELS, leaf_code); }

ResultCode NecReader::ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                                uint8_t subcode_format) {
  uint32_t length = 0;
  if (subcode_format > SUBCODE_ALL || count > UINT16_MAX ||
      !transfer_length(audio_sector_size(SUBCODE_NONE), count, &length))
    return MSG_BUGCHECK;
  uint8_t cdb[10] = {OP_READ_CDDA_NEC, LunBits()};
  put_be32(cdb + 2, lba);
  put_be16(cdb + 7, count);
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length);
}

ResultCode NecReader::SetBlockLength(uint8_t sector_kind, uint32_t block_length) {
  if (sector_kind == SECTOR_KIND_AUDIO) return 1;
  uint8_t data[BLOCK_LENGTH_PAGES] = {};
  const ResultCode sensed = ModeSenseRaw(data, BLOCK_LENGTH_PAGES, ERROR_RECOVERY_PAGE, 0);
  if (sensed != 1) return sensed;
  data[0] = 0;  // mode data length, medium type and device-specific byte
  data[1] = 0;
  data[2] = 0;
  put_be24(data + 9, block_length);
  data[15] = READ_RETRY_COUNT;
  return ModeSelectRaw(data, BLOCK_LENGTH_PAGES, true);
}

#include "drivers/cd_text_reading.h"

#include <algorithm>

#include "common/byteorder.h"
#include "common/msgvec.h"

namespace {

constexpr uint8_t OP_READ_TOC = 0x43;
constexpr uint8_t TOC_FORMAT_CD_TEXT = 5;
constexpr uint16_t HEADER_LENGTH = 4;

ResultCode read_toc_cd_text(CdReader& reader, uint8_t* buffer, uint16_t length,
                            uint32_t* received) {
  uint8_t cdb[10] = {OP_READ_TOC, reader.LunBits(), TOC_FORMAT_CD_TEXT};
  put_be16(cdb + 7, length);
  return reader.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, buffer, length, received);
}

}  // namespace

CdTextAnswer read_cd_text_packs(CdReader& reader, std::vector<uint8_t>* packs) {
  packs->clear();
  uint8_t header[HEADER_LENGTH] = {};
  uint32_t received = 0;
  const ResultCode result = read_toc_cd_text(reader, header, HEADER_LENGTH, &received);
  if (result == MSG_ILLEGAL_REQUEST) return CdTextAnswer::Refused;
  reader.CheckNamed(result, "READ TOC", true);
  const uint32_t length = std::min<uint32_t>(get_be16(header) + 2u, 0xFFFF);
  if (received < HEADER_LENGTH || length < HEADER_LENGTH + CD_TEXT_PACK_SIZE)
    return CdTextAnswer::None;
  std::vector<uint8_t> data(length);
  reader.CheckNamed(read_toc_cd_text(reader, data.data(), static_cast<uint16_t>(length), &received),
                    "READ TOC", true);
  if (received < HEADER_LENGTH) return CdTextAnswer::None;
  const uint32_t bytes = std::min(received, length) - HEADER_LENGTH;
  const auto first = data.begin() + HEADER_LENGTH;
  packs->assign(first,
                first + static_cast<std::ptrdiff_t>(bytes / CD_TEXT_PACK_SIZE * CD_TEXT_PACK_SIZE));
  return packs->empty() ? CdTextAnswer::None : CdTextAnswer::Read;
}

CdTextAnswer read_disc_cd_text(CdReader& reader, CdTextContents* contents, DiscLayout* layout) {
  std::vector<uint8_t> packs;
  const CdTextAnswer answer = read_cd_text_packs(reader, &packs);
  *contents = decode_cd_text(packs.data(), packs.size() / CD_TEXT_PACK_SIZE);
  if (answer == CdTextAnswer::Read && contents->empty()) return CdTextAnswer::None;
  if (answer == CdTextAnswer::Read && layout != nullptr)
    apply_cd_text(contents->blocks.front(), layout);
  return answer;
}

// The write speeds an MMC recorder reports: GET PERFORMANCE with its write
// speed descriptors, turned into the factors the recording tools offer.
#include <algorithm>

#include "common/byteorder.h"
#include "drivers/mmc_drive.h"

namespace {

constexpr uint8_t OP_GET_PERFORMANCE = 0xAC;
constexpr uint8_t TYPE_WRITE_SPEED = 0x03;
constexpr uint32_t HEADER_BYTES = 8;
constexpr uint32_t DESCRIPTOR_BYTES = 16;
constexpr uint16_t MOST_DESCRIPTORS = 32;
constexpr uint8_t WRITE_PARAMETERS_BUFE = 0x40;

}  // namespace

std::vector<uint16_t> parse_write_speeds(const uint8_t* data, uint32_t length) {
  std::vector<uint16_t> speeds;
  if (length < HEADER_BYTES) return speeds;
  const uint64_t end = std::min<uint64_t>(length, uint64_t{get_be32(data)} + 4);
  for (uint64_t at = HEADER_BYTES; at + DESCRIPTOR_BYTES <= end; at += DESCRIPTOR_BYTES) {
    const uint32_t kbs = get_be32(data + at + 12);
    if (kbs == 0 || kbs > 0xFFFF) continue;
    speeds.push_back(static_cast<uint16_t>(kbs));
  }
  std::sort(speeds.begin(), speeds.end());
  speeds.erase(std::unique(speeds.begin(), speeds.end()), speeds.end());
  return speeds;
}

uint8_t mmc_speed_factor(uint16_t kbs) {
  return static_cast<uint8_t>(std::min<uint32_t>((uint32_t{kbs} * 10 + 882) / 1764, 255));
}

ResultCode MmcRecorder::GetPerformanceRaw(uint8_t* buffer, uint16_t descriptors,
                                          uint32_t* transferred) {
  uint8_t cdb[12] = {OP_GET_PERFORMANCE};
  put_be16(cdb + 8, descriptors);
  cdb[10] = TYPE_WRITE_SPEED;
  return Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 12, buffer,
                 HEADER_BYTES + uint32_t{descriptors} * DESCRIPTOR_BYTES, transferred);
}

void MmcRecorder::ReadWriteSpeeds() {
  std::vector<uint8_t> data(HEADER_BYTES + MOST_DESCRIPTORS * DESCRIPTOR_BYTES);
  uint32_t received = 0;
  if (GetPerformanceRaw(data.data(), MOST_DESCRIPTORS, &received) != 1) return;
  std::vector<uint8_t> factors;
  std::vector<uint16_t> speeds;
  for (const uint16_t kbs : parse_write_speeds(data.data(), received)) {
    const uint8_t factor = mmc_speed_factor(kbs);
    if (factor == 0 || (!factors.empty() && factors.back() == factor)) continue;
    factors.push_back(factor);
    speeds.push_back(kbs);
  }
  if (factors.empty()) return;
  writeSpeedFactors = factors;
  writeSpeedsKbs = speeds;
  maxWriteSpeed = factors.back();
}

void MmcRecorder::MarkUnderrunProtection(std::vector<uint8_t>& page) const {
  if (underrunProtection && page.size() > 2) page[2] |= WRITE_PARAMETERS_BUFE;
}

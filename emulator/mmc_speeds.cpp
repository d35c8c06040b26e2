// The emulated MMC recorder's write speeds, buffer underrun protection and
// overburn: items speeds=F1/F2/... (the factors it reports, default
// 4/8/16/24/32/48), bufe=0|1 (default 1) and overburn=MINUTES (0 to 9, how
// far past the capacity it records, default 2), GET PERFORMANCE (ACh) with the write speed
// descriptors, and the BUFE bit of the write parameters page, refused with
// INVALID FIELD IN PARAMETER LIST by a drive that does not report it.
#include <algorithm>
#include <optional>
#include <string>

#include "common/byteorder.h"
#include "common/numbers.h"
#include "common/timecode.h"
#include "emulator/mmc_drive.h"

namespace {

constexpr uint8_t OP_GET_PERFORMANCE = 0xAC;
constexpr uint8_t TYPE_WRITE_SPEED = 0x03;
constexpr uint8_t WRITE_PARAMETERS_PAGE = 0x05;
constexpr uint8_t PAGE_BUFE = 0x40;
constexpr uint32_t DESCRIPTOR_BYTES = 16;
constexpr uint16_t DEFAULT_FACTORS[] = {4, 8, 16, 24, 32, 48};
constexpr uint64_t MAX_FACTOR = 52;
constexpr uint64_t DEFAULT_OVERBURN_MINUTES = 2;
constexpr uint64_t MAX_OVERBURN_MINUTES = 9;

std::vector<uint16_t> take_factors(EmulatedDevice& device) {
  const std::optional<std::string> item = device.take_item("speeds");
  if (!item) return {std::begin(DEFAULT_FACTORS), std::end(DEFAULT_FACTORS)};
  std::vector<uint16_t> factors;
  std::size_t at = 0;
  while (at <= item->size()) {
    const std::size_t slash = std::min(item->find('/', at), item->size());
    uint64_t factor = 0;
    if (!parse_decimal(item->substr(at, slash - at), MAX_FACTOR, &factor) || factor == 0 ||
        (!factors.empty() && factor <= factors.back()))
      throw EmulatedBusError("bad item \"speeds=" + *item +
                             "\" (factors 1 to 52 in rising order, F1/F2/...)");
    factors.push_back(static_cast<uint16_t>(factor));
    at = slash + 1;
  }
  return factors;
}

EmulatedAnswer get_performance(const std::shared_ptr<MmcDriveState>& s, EmulatedDevice& device,
                               const EmulatedCommand& c) {
  if (c.cdb[10] != TYPE_WRITE_SPEED) return refuse(SENSE_INVALID_FIELD_IN_CDB);
  if (device.medium() == nullptr) return refuse(SENSE_MEDIUM_NOT_PRESENT);
  const uint32_t most = get_be16(c.cdb + 8);
  std::vector<uint8_t> data(8, 0);
  // Fastest first, as drives list them.
  for (auto kbs = s->write_speeds_kbs.rbegin(); kbs != s->write_speeds_kbs.rend(); ++kbs) {
    if ((data.size() - 8) / DESCRIPTOR_BYTES >= most) break;
    uint8_t descriptor[DESCRIPTOR_BYTES] = {};
    const RecordedDisc* disc = s->drive ? s->drive->disc() : nullptr;
    if (disc != nullptr)  // the end LBA the speed holds to
      put_be32(descriptor + 4, static_cast<uint32_t>(disc->recording().capacity - 1));
    put_be32(descriptor + 8, s->read_speed_kbs);
    put_be32(descriptor + 12, *kbs);
    data.insert(data.end(), descriptor, descriptor + DESCRIPTOR_BYTES);
  }
  put_be32(data.data(), static_cast<uint32_t>(data.size() - 4));
  c.send_data(data.data(), static_cast<uint32_t>(data.size()),
              static_cast<uint32_t>(8 + most * DESCRIPTOR_BYTES));
  return EmulatedAnswer::good();
}

}  // namespace

uint16_t mmc_factor_kbs(uint16_t factor) {
  return static_cast<uint16_t>((uint32_t{factor} * 1764 + 5) / 10);
}

void take_mmc_speed_items(EmulatedDevice& device, MmcDriveState* state) {
  for (const uint16_t factor : take_factors(device))
    state->write_speeds_kbs.push_back(mmc_factor_kbs(factor));
  if (const std::optional<std::string> bufe = device.take_item("bufe")) {
    if (*bufe != "0" && *bufe != "1")
      throw EmulatedBusError("bad item \"bufe=" + *bufe + "\" (0 or 1)");
    state->underrun_protection = *bufe == "1";
  }
}

int32_t take_mmc_overburn(EmulatedDevice& device) {
  const std::optional<std::string> item = device.take_item("overburn");
  uint64_t minutes = DEFAULT_OVERBURN_MINUTES;
  if (item && !parse_decimal(*item, MAX_OVERBURN_MINUTES, &minutes))
    throw EmulatedBusError("bad item \"overburn=" + *item + "\" (minutes, 0 to 9)");
  return static_cast<int32_t>(minutes) * FRAMES_PER_MINUTE;
}

void install_mmc_speeds(EmulatedDevice& device, const std::shared_ptr<MmcDriveState>& state) {
  device.set_handler(OP_GET_PERFORMANCE, bind_handler<get_performance>(state));
  // The write parameters page's BUFE bit only where the drive has it.
  auto check = state->reading->check_page;
  const bool bufe = state->underrun_protection;
  state->reading->check_page = [check, bufe](const std::vector<uint8_t>& page) {
    if (!bufe && page[0] == WRITE_PARAMETERS_PAGE && page.size() > 2 && (page[2] & PAGE_BUFE))
      return std::optional<SenseCondition>(SENSE_INVALID_FIELD_IN_PARAMETERS);
    return check ? check(page) : std::nullopt;
  };
}

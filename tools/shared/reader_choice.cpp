#include "tools/shared/reader_choice.h"

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "common/console.h"
#include "common/numbers.h"
#include "engine/read_offset.h"
#include "scsi/scan.h"
#include "scsi/settings.h"
#include "tools/shared/drive_setup.h"

void reader_address_from_environment(bool* given, DeviceAddress* address) {
  const ScsiSettings& environment = scsi_settings();
  if (!environment.reader_id_given) return;
  *given = true;
  *address = {environment.reader_ha, environment.reader_id, environment.reader_lun};
}

CdReader* choose_reader(bool address_given, const DeviceAddress& address) {
  if (!address_given) {
    auto* reader = dynamic_cast<CdReader*>(
        find_device(KIND_MASK_READER_OR_RECORDER, ANY_ADDRESS, ANY_ADDRESS, ANY_ADDRESS));
    if (reader == nullptr)
      fail_with("\nError: Unable to find a CDROM device on the SCSI bus!\n" +
                device_list_full_note());
    return reader;
  }
  auto* reader = dynamic_cast<CdReader*>(find_device_at(KIND_MASK_READER_OR_RECORDER, address));
  if (reader == nullptr)
    fail_with(format_text("\nError: Specified device (%u:%u:%u) is not a CDROM!\n",
                          address.host_adapter, address.id, address.lun) +
              device_list_full_note());
  return reader;
}

std::string reader_found_text(const CdReader& reader) {
  return "CDROM device found...\n" + format_text("  HA #%u - SCSI ID #%u - %.8s %.16s %.4s\n\n",
                                                 reader.host_adapter, reader.target, reader.vendor,
                                                 reader.product, reader.revision);
}

std::string generic_driver_warning(const CdReader& reader) {
  if (typeid(reader) != typeid(CdReader)) return "";
  return "Warning: CDROM device model is unknown to this program!\n"
         "The generic CDROM device driver will be used...\n\n";
}

SwitchRule reading_speed_switch(uint8_t* speed_code) {
  auto speed = std::make_shared<uint16_t>(0);
  SwitchRule rule = number_switch("/SPEED", speed.get(), "Error: Illegal /SPEED format!\n");
  rule.apply = [read = rule.apply, speed, speed_code](const std::string& upper) {
    if (!read(upper)) return false;
    static constexpr uint16_t speeds[] = {1, 2, 4, 6, 8, 10, 12};
    for (uint8_t code = 0; code < sizeof speeds / sizeof speeds[0]; ++code)
      if (speeds[code] == *speed) {
        *speed_code = code;
        return true;
      }
    fail_with("Error: Illegal reading speed specified!\n");
  };
  return rule;
}

bool switch_value(const std::string& upper, const std::string& name, std::string* value) {
  if (upper.size() <= name.size() || upper.compare(0, name.size(), name) != 0 ||
      upper[name.size()] != '=')
    return false;
  *value = upper.substr(name.size() + 1);
  return true;
}

namespace {

constexpr uint64_t MAX_RETRIES = 1000;

// "-5000" to "5000" (a "+" allowed): a read offset in stereo samples.
bool parse_offset(const std::string& text, int32_t* offset) {
  const bool sign = !text.empty() && (text[0] == '-' || text[0] == '+');
  uint64_t value = 0;
  if (!parse_decimal(sign ? text.substr(1) : text, UINT64_MAX, &value)) return false;
  if (value > static_cast<uint64_t>(MAX_READ_OFFSET)) return false;
  *offset = text[0] == '-' ? -static_cast<int32_t>(value) : static_cast<int32_t>(value);
  return true;
}

}  // namespace

SwitchRule retries_switch(unsigned* retries, bool* given) {
  return SwitchRule{
      "/RETRIES", true,
      [retries, given](const std::string& upper) {
        std::string text;
        uint64_t value = 0;
        if (!switch_value(upper, "/RETRIES", &text) || !parse_decimal(text, UINT64_MAX, &value))
          return false;
        if (value > MAX_RETRIES) fail_with("Error: Illegal /RETRIES value specified!\n");
        *retries = static_cast<unsigned>(value);
        *given = true;
        return true;
      },
      "Error: Illegal /RETRIES value format!\n"};
}

SwitchRule read_offset_switch(int32_t* offset, bool* given) {
  return SwitchRule{"/OFFSET", true,
                    [offset, given](const std::string& upper) {
                      std::string text;
                      if (!switch_value(upper, "/OFFSET", &text) || text.empty()) return false;
                      if (text.find_first_not_of("+-0123456789") != std::string::npos) return false;
                      if (!parse_offset(text, offset))
                        fail_with("Error: Illegal /OFFSET value specified!\n");
                      *given = true;
                      return true;
                    },
                    "Error: Illegal /OFFSET value format!\n"};
}

void read_offset_from_environment(int32_t* offset) {
  const char* value = std::getenv("CD_READ_OFFSET");
  if (value == nullptr || *value == '\0') return;
  if (!parse_offset(value, offset)) fail_with("Error: Illegal CD_READ_OFFSET value specified!\n");
}

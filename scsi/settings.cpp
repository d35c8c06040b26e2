#include "scsi/settings.h"

#include <cstdio>
#include <cstdlib>

namespace {

// "%hu:%hu:%hu" as the address variables are read; true when all three convert.
bool parse_address(const char* text, uint8_t* ha, uint8_t* id, uint8_t* lun) {
  if (text == nullptr) return false;
  unsigned short a = 0, b = 0, c = 0;
  if (std::sscanf(text, "%hu:%hu:%hu", &a, &b, &c) != 3) return false;
  *ha = static_cast<uint8_t>(a);
  *id = static_cast<uint8_t>(b);
  *lun = static_cast<uint8_t>(c);
  return true;
}

}  // namespace

ScsiSettings& scsi_settings() {
  static ScsiSettings settings;
  return settings;
}

void load_scsi_settings() {
  ScsiSettings fresh;
  fresh.lun_enabled = std::getenv("LUN_ENABLED") != nullptr;
  fresh.trace_enabled = std::getenv("TRACE_SCSI_ENABLED") != nullptr;
  fresh.reader_id_given = parse_address(std::getenv("CDREADER_ID"), &fresh.reader_ha,
                                        &fresh.reader_id, &fresh.reader_lun);
  fresh.writer_id_given = parse_address(std::getenv("CDWRITER_ID"), &fresh.writer_ha,
                                        &fresh.writer_id, &fresh.writer_lun);
  scsi_settings() = fresh;
}

// The environment settings of the drive tools: LUN_ENABLED,
// TRACE_SCSI_ENABLED, CDREADER_ID and CDWRITER_ID.
#pragma once

#include <cstdint>

struct ScsiSettings {
  bool lun_enabled = false;
  bool trace_enabled = false;
  bool reader_id_given = false;
  uint8_t reader_ha = 0;
  uint8_t reader_id = 0;
  uint8_t reader_lun = 0;
  bool writer_id_given = false;
  uint8_t writer_ha = 0;
  uint8_t writer_id = 0;
  uint8_t writer_lun = 0;
};

// The process's settings (all clear until load_scsi_settings).
ScsiSettings& scsi_settings();

// Reads the four variables into scsi_settings(). A variable counts as present
// whatever its value; an address is taken only when all three numbers of
// "ha:id:lun" convert (each cut to 8 bits), else it is ignored silently.
void load_scsi_settings();

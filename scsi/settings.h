// The environment settings of the drive tools: LUN_ENABLED,
// TRACE_SCSI_ENABLED, CDREADER_ID and CDWRITER_ID, and MMC_DISABLED, which
// keeps CD drives the model tables do not know on the generic reader.
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
  bool mmc_disabled = false;
};

// The process's settings (all clear until load_scsi_settings).
ScsiSettings& scsi_settings();

// Reads the four variables into scsi_settings(). LUN_ENABLED and
// TRACE_SCSI_ENABLED count as present whatever their value. An address
// variable that is set and not empty must be "ha:id:lun" with three numbers
// from 0 to 255 and nothing else; otherwise raises "Invalid CDREADER_ID value
// "TEXT" (ha:id:lun, each a number from 0 to 255)" (or CDWRITER_ID), leaving
// the settings as they were.
void load_scsi_settings();

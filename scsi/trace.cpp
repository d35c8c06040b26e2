#include "scsi/trace.h"

#include "common/console.h"
#include "common/msgvec.h"
#include "scsi/settings.h"

std::string format_scsi_trace(const ScsiRequest& request, ResultCode result) {
  std::string line =
      format_text("SCSI %u:%u:%u [", request.host_adapter, request.target, request.lun);
  for (uint8_t i = 0; i < request.cdb_length && i < sizeof request.cdb; ++i)
    line += format_text(i ? " %02X" : "%02X", request.cdb[i]);
  const uint8_t direction = request.direction();
  const char* way = direction == SRB_DIR_IN ? "in" : direction == SRB_DIR_OUT ? "out" : "none";
  line += format_text("] %s %u", way, request.buffer_length);
  // The bytes moved, when the target answered and they fall short.
  const bool answered = request.srb_status == SS_COMP ||
                        (request.srb_status == SS_ERR && request.ha_status == HASTAT_OK);
  if (answered && request.transferred < request.buffer_length)
    line += format_text(" (%u moved)", request.transferred);
  line += format_text(": status %02X/%02X/%02X", request.srb_status, request.ha_status,
                      request.target_status);
  if (request.srb_status == SS_ERR && request.target_status == STATUS_CHECK_CONDITION)
    line += format_text(", sense key %X ASC %02X ASCQ %02X", request.sense_area[2] & SENSE_KEY_MASK,
                        request.sense_area[12], request.sense_area[13]);
  line += format_text(", result %d", result);
  if (const char* text = result < 0 ? message_text(result) : nullptr)
    line += format_text(" (%s)", text);
  return line + "\n";
}

void trace_scsi_note(const std::string& text) {
  if (scsi_settings().trace_enabled) err_text("SCSI: " + text + "\n");
}

#include "scsi/device.h"

#include <algorithm>
#include <cstring>

#include "common/console.h"
#include "common/msgvec.h"
#include "scsi/settings.h"
#include "scsi/trace.h"

ResultCode ScsiDevice::Execute(uint8_t command_code, uint8_t direction, const uint8_t* cdb,
                               uint8_t cdb_length, uint8_t* buffer, uint32_t buffer_length,
                               uint32_t* transferred) {
  ScsiRequest request;  // zero-filled
  request.command_code = command_code;
  request.host_adapter = host_adapter;
  request.target = target;
  request.lun = lun;
  request.flags = static_cast<uint8_t>(direction | SRB_EVENT_NOTIFY);
  if (buffer != nullptr) {
    request.buffer = buffer;
    request.buffer_length = buffer_length;
    request.transferred = buffer_length;
  }
  request.sense_length = SENSE_LENGTH;
  request.cdb_length = cdb_length;
  if (cdb != nullptr)
    std::memcpy(request.cdb, cdb, std::min<std::size_t>(cdb_length, sizeof request.cdb));

  ResultCode result = 0;
  if (ScsiTransport* transport = scsi_transport()) {
    transport->execute(request);
    if (request.srb_status == SS_COMP) {
      result = 1;
    } else if (request.srb_status != SS_PENDING) {
      std::memcpy(last_sense.data(), request.sense_area, SENSE_LENGTH);
      result = aspi_status_to_result(request.srb_status, request.ha_status, request.target_status,
                                     request.sense_area);
    }
  } else {
    request.transferred = 0;
  }
  const uint32_t moved = std::min(request.transferred, request.buffer_length);
  request.transferred = moved;
  // What the device did not send is never left as it was.
  if (request.direction() == SRB_DIR_IN && moved < request.buffer_length)
    std::memset(request.buffer + moved, 0, request.buffer_length - moved);
  if (transferred != nullptr) {
    *transferred = moved;
  } else if (result == 1 && moved < request.buffer_length) {
    result = MSG_DATA_OVERRUN;
  }
  if (scsi_settings().trace_enabled) err_text(format_scsi_trace(request, result));
  return result;
}

ResultCode ScsiDevice::Reset() { return 1; }

ResultCode ScsiDevice::CheckNamed(ResultCode result, const char* name, bool raise) const {
  if (result != 1 && raise)
    raise_message(MSG_COMMAND_FAILED, 4, result, 0, name, host_adapter, target, lun);
  return result;
}

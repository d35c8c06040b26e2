#include "scsi/device.h"

#include <algorithm>
#include <cstring>

#include "common/console.h"
#include "common/msgvec.h"
#include "scsi/settings.h"
#include "scsi/trace.h"

ResultCode ScsiDevice::Execute(uint8_t command_code, uint8_t direction, const uint8_t* cdb,
                               uint8_t cdb_length, uint8_t* buffer, uint32_t buffer_length) {
  ScsiRequest request;  // zero-filled
  request.command_code = command_code;
  request.host_adapter = host_adapter;
  request.target = target;
  request.lun = lun;
  request.flags = static_cast<uint8_t>(direction | SRB_EVENT_NOTIFY);
  if (buffer != nullptr) {
    request.buffer = buffer;
    request.buffer_length = buffer_length;
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
      result = aspi_status_to_result(request.srb_status, request.ha_status,
                                     request.target_status, request.sense_area);
    }
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

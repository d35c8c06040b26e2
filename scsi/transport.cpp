#include "scsi/transport.h"

#include "common/msgvec.h"

namespace {

struct TransportState {
  std::unique_ptr<ScsiTransport> transport;
  uint8_t adapter_count = 0;
  TransportFactory factory = nullptr;
};

TransportState& state() {
  static TransportState instance;
  return instance;
}

ResultCode request_status_result(uint8_t srb_status) {
  switch (srb_status) {
    case SS_COMP: return 1;
    case SS_ABORTED: return MSG_REQUEST_ABORTED;
    case SS_ABORT_FAIL: return MSG_ABORT_FAILED;
    case SS_INVALID_CMD: return MSG_INVALID_REQUEST;
    case SS_INVALID_HA: return MSG_INVALID_HOST_ADAPTER;
    case SS_NO_DEVICE: return MSG_NO_DEVICE;
    case SS_INVALID_SRB: return MSG_INVALID_SRB;
    default: return MSG_UNEXPECTED_ASPI_ERROR;
  }
}

ResultCode host_status_result(uint8_t ha_status) {
  switch (ha_status) {
    case HASTAT_TIMEOUT: return MSG_TIMED_OUT;
    case HASTAT_COMMAND_TIMEOUT: return MSG_REQUEST_EXPIRED;
    case HASTAT_MESSAGE_REJECT: return MSG_MESSAGE_REJECT;
    case HASTAT_BUS_RESET: return MSG_BUS_RESET;
    case HASTAT_PARITY_ERROR: return MSG_PARITY_ERROR;
    case HASTAT_REQUEST_SENSE_FAILED: return MSG_SENSE_FAILED;
    case HASTAT_SEL_TO: return MSG_SELECTION_TIMEOUT;
    case HASTAT_DO_DU: return MSG_DATA_OVERRUN;
    case HASTAT_BUS_FREE: return MSG_BUS_FREE;
    case HASTAT_PHASE_ERR: return MSG_BUS_FAILURE;
    default: return MSG_HOST_ADAPTER_ERROR;
  }
}

ResultCode sense_result(const uint8_t* sense) {
  const uint8_t byte2 = sense ? sense[2] : 0;
  switch (byte2 & SENSE_KEY_MASK) {
    case SENSE_KEY_RECOVERED_ERROR: return 1;
    case SENSE_KEY_NOT_READY: return MSG_NOT_READY;
    case SENSE_KEY_MEDIUM_ERROR: return MSG_MEDIUM_ERROR;
    case SENSE_KEY_HARDWARE_ERROR: return MSG_HARDWARE_ERROR;
    case SENSE_KEY_ILLEGAL_REQUEST: return MSG_ILLEGAL_REQUEST;
    case SENSE_KEY_UNIT_ATTENTION: return MSG_UNIT_ATTENTION;
    case SENSE_KEY_BLANK_CHECK: return MSG_BLANK_CHECK;
    case SENSE_KEY_VENDOR_SPECIFIC: return MSG_DEVICE_BUSY;
    case SENSE_KEY_ABORTED_COMMAND: return MSG_ABORTED_COMMAND;
    case SENSE_KEY_VOLUME_OVERFLOW: return MSG_VOLUME_OVERFLOW;
    default: break;
  }
  if (byte2 & SENSE_EOM) return MSG_END_OF_MEDIUM;
  // A refused write (data protect), an aborted copy, a miscompare or a
  // reserved key is a failure: reporting it as success would lose data.
  switch (byte2 & SENSE_KEY_MASK) {
    case SENSE_KEY_DATA_PROTECT:
    case SENSE_KEY_COPY_ABORTED:
    case SENSE_KEY_MISCOMPARE:
    case 0xF: return MSG_SENSE_ERROR;
    default: return 1;
  }
}

}  // namespace

void set_transport_factory(TransportFactory factory) { state().factory = factory; }

ScsiTransport* scsi_transport() { return state().transport.get(); }

std::unique_ptr<ScsiTransport> install_scsi_transport(std::unique_ptr<ScsiTransport> transport) {
  std::unique_ptr<ScsiTransport> previous = std::move(state().transport);
  state().transport = std::move(transport);
  return previous;
}

int aspi_open(bool raise_on_failure) {
  TransportState& current = state();
  if (!current.transport && current.factory) current.transport = current.factory();
  int result = 0;
  if (current.transport && current.transport->open()) {
    current.adapter_count = current.transport->adapter_count();
    result = 1;
  }
  if (result != 1 && raise_on_failure) raise_message(MSG_ASPI_INIT_FAILED, 0, 0, 0);
  return result;
}

uint8_t aspi_adapter_count() { return state().adapter_count; }

ResultCode aspi_status_to_result(uint8_t srb_status, uint8_t ha_status, uint8_t target_status,
                                 const uint8_t* sense) {
  if (srb_status != SS_ERR) return request_status_result(srb_status);
  if (ha_status != HASTAT_OK) return host_status_result(ha_status);
  switch (target_status) {
    case STATUS_GOOD: return MSG_UNEXPECTED_ASPI_ERROR;
    case STATUS_BUSY: return MSG_TARGET_BUSY;
    case STATUS_RESERVATION_CONFLICT: return MSG_RESERVATION_CONFLICT;
    case STATUS_CHECK_CONDITION: return sense_result(sense);
    default: return MSG_TARGET_ERROR;
  }
}

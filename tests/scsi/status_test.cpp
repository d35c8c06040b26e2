#include <gtest/gtest.h>

#include "common/msgvec.h"
#include "scsi/transport.h"

namespace {

// Sense data with a key and the end-of-medium bit as wanted.
struct Sense {
  uint8_t bytes[SENSE_LENGTH] = {};
  Sense(uint8_t key, bool eom = false) {
    bytes[0] = 0x70;
    bytes[2] = static_cast<uint8_t>(key | (eom ? SENSE_EOM : 0));
  }
};

TEST(StatusTranslation, RequestStatusRowsComeFirst) {
  const Sense not_ready(SENSE_KEY_NOT_READY);
  // The request status decides whatever the other bytes say.
  EXPECT_EQ(aspi_status_to_result(SS_COMP, HASTAT_SEL_TO, STATUS_CHECK_CONDITION, not_ready.bytes),
            1);
  EXPECT_EQ(aspi_status_to_result(SS_ABORTED, 0, 0, nullptr), MSG_REQUEST_ABORTED);
  EXPECT_EQ(aspi_status_to_result(SS_ABORT_FAIL, 0, 0, nullptr), MSG_ABORT_FAILED);
  EXPECT_EQ(aspi_status_to_result(SS_INVALID_CMD, 0, 0, nullptr), MSG_INVALID_REQUEST);
  EXPECT_EQ(aspi_status_to_result(SS_INVALID_HA, 0, 0, nullptr), MSG_INVALID_HOST_ADAPTER);
  EXPECT_EQ(aspi_status_to_result(SS_NO_DEVICE, 0, 0, nullptr), MSG_NO_DEVICE);
  EXPECT_EQ(aspi_status_to_result(SS_INVALID_SRB, 0, 0, nullptr), MSG_INVALID_SRB);
  EXPECT_EQ(aspi_status_to_result(0x05, HASTAT_SEL_TO, 0, nullptr), MSG_UNEXPECTED_ASPI_ERROR);
  EXPECT_EQ(aspi_status_to_result(SS_PENDING, 0, 0, nullptr), MSG_UNEXPECTED_ASPI_ERROR);
}

TEST(StatusTranslation, HostAdapterRowsComeBeforeTheTarget) {
  const struct {
    uint8_t ha;
    ResultCode result;
  } rows[] = {
      {HASTAT_TIMEOUT, MSG_TIMED_OUT},
      {HASTAT_COMMAND_TIMEOUT, MSG_REQUEST_EXPIRED},
      {HASTAT_MESSAGE_REJECT, MSG_MESSAGE_REJECT},
      {HASTAT_BUS_RESET, MSG_BUS_RESET},
      {HASTAT_PARITY_ERROR, MSG_PARITY_ERROR},
      {HASTAT_REQUEST_SENSE_FAILED, MSG_SENSE_FAILED},
      {HASTAT_SEL_TO, MSG_SELECTION_TIMEOUT},
      {HASTAT_DO_DU, MSG_DATA_OVERRUN},
      {HASTAT_BUS_FREE, MSG_BUS_FREE},
      {HASTAT_PHASE_ERR, MSG_BUS_FAILURE},
      {0x01, MSG_HOST_ADAPTER_ERROR},
      {0x0A, MSG_HOST_ADAPTER_ERROR},
      {HASTAT_OTHER_ERROR, MSG_HOST_ADAPTER_ERROR},
  };
  const Sense recovered(SENSE_KEY_RECOVERED_ERROR);
  for (const auto& row : rows)
    EXPECT_EQ(aspi_status_to_result(SS_ERR, row.ha, STATUS_CHECK_CONDITION, recovered.bytes),
              row.result)
        << "host adapter status " << int(row.ha);
}

TEST(StatusTranslation, TargetStatusRows) {
  EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_GOOD, nullptr), MSG_UNEXPECTED_ASPI_ERROR);
  EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_BUSY, nullptr), MSG_TARGET_BUSY);
  EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_RESERVATION_CONFLICT, nullptr),
            MSG_RESERVATION_CONFLICT);
  EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, 0x22, nullptr), MSG_TARGET_ERROR);
  EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, 0x28, nullptr), MSG_TARGET_ERROR);
}

TEST(StatusTranslation, SenseKeysOfCheckCondition) {
  const struct {
    uint8_t key;
    ResultCode result;
  } rows[] = {
      {SENSE_KEY_RECOVERED_ERROR, 1},
      {SENSE_KEY_NOT_READY, MSG_NOT_READY},
      {SENSE_KEY_MEDIUM_ERROR, MSG_MEDIUM_ERROR},
      {SENSE_KEY_HARDWARE_ERROR, MSG_HARDWARE_ERROR},
      {SENSE_KEY_ILLEGAL_REQUEST, MSG_ILLEGAL_REQUEST},
      {SENSE_KEY_UNIT_ATTENTION, MSG_UNIT_ATTENTION},
      {SENSE_KEY_BLANK_CHECK, MSG_BLANK_CHECK},
      {SENSE_KEY_VENDOR_SPECIFIC, MSG_DEVICE_BUSY},
      {SENSE_KEY_ABORTED_COMMAND, MSG_ABORTED_COMMAND},
      {SENSE_KEY_VOLUME_OVERFLOW, MSG_VOLUME_OVERFLOW},
  };
  for (const auto& row : rows) {
    // A listed key decides before the end-of-medium bit.
    for (const bool eom : {false, true}) {
      const Sense sense(row.key, eom);
      EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_CHECK_CONDITION, sense.bytes), row.result)
          << "sense key " << int(row.key) << " eom " << eom;
    }
  }
}

TEST(StatusTranslation, SenseKeysWithoutARow) {
  // No sense and equal: success unless the end-of-medium bit is set.
  for (const uint8_t key : {SENSE_KEY_NO_SENSE, SENSE_KEY_EQUAL}) {
    EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_CHECK_CONDITION, Sense(key).bytes), 1);
    EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_CHECK_CONDITION, Sense(key, true).bytes),
              MSG_END_OF_MEDIUM);
  }
  // A refused write, an aborted copy, a miscompare and the reserved key are
  // failures, not successes.
  for (const uint8_t key :
       {SENSE_KEY_DATA_PROTECT, SENSE_KEY_COPY_ABORTED, SENSE_KEY_MISCOMPARE, uint8_t{0xF}}) {
    EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_CHECK_CONDITION, Sense(key).bytes),
              MSG_SENSE_ERROR)
        << "sense key " << int(key);
    EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_CHECK_CONDITION, Sense(key, true).bytes),
              MSG_END_OF_MEDIUM);
  }
  // The other bits of byte 2 do not change the key.
  Sense filemark_ili(SENSE_KEY_NOT_READY);
  filemark_ili.bytes[2] |= 0xA0;
  EXPECT_EQ(aspi_status_to_result(SS_ERR, 0, STATUS_CHECK_CONDITION, filemark_ili.bytes),
            MSG_NOT_READY);
}

}  // namespace

// Sense conditions an emulated device reports, by name: sense key with
// additional sense code and qualifier.
#pragma once

#include <cstdint>

#include "scsi/transport.h"

struct SenseCondition {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
  bool operator==(const SenseCondition&) const = default;
};

constexpr SenseCondition SENSE_NONE{SENSE_KEY_NO_SENSE, 0x00, 0x00};
constexpr SenseCondition SENSE_BECOMING_READY{SENSE_KEY_NOT_READY, 0x04, 0x01};
constexpr SenseCondition SENSE_OPERATION_IN_PROGRESS{SENSE_KEY_NOT_READY, 0x04, 0x07};
constexpr SenseCondition SENSE_MEDIUM_NOT_PRESENT{SENSE_KEY_NOT_READY, 0x3A, 0x00};
constexpr SenseCondition SENSE_UNRECOVERED_READ_ERROR{SENSE_KEY_MEDIUM_ERROR, 0x11, 0x00};
constexpr SenseCondition SENSE_WRITE_ERROR{SENSE_KEY_MEDIUM_ERROR, 0x0C, 0x00};
constexpr SenseCondition SENSE_INCOMPATIBLE_MEDIUM{SENSE_KEY_MEDIUM_ERROR, 0x30, 0x00};
constexpr SenseCondition SENSE_INVALID_OPCODE{SENSE_KEY_ILLEGAL_REQUEST, 0x20, 0x00};
constexpr SenseCondition SENSE_LBA_OUT_OF_RANGE{SENSE_KEY_ILLEGAL_REQUEST, 0x21, 0x00};
constexpr SenseCondition SENSE_INVALID_FIELD_IN_CDB{SENSE_KEY_ILLEGAL_REQUEST, 0x24, 0x00};
constexpr SenseCondition SENSE_LUN_NOT_SUPPORTED{SENSE_KEY_ILLEGAL_REQUEST, 0x25, 0x00};
constexpr SenseCondition SENSE_INVALID_FIELD_IN_PARAMETERS{SENSE_KEY_ILLEGAL_REQUEST, 0x26, 0x00};
constexpr SenseCondition SENSE_PARAMETER_VALUE_INVALID{SENSE_KEY_ILLEGAL_REQUEST, 0x26, 0x02};
constexpr SenseCondition SENSE_INVALID_ADDRESS_FOR_WRITE{SENSE_KEY_ILLEGAL_REQUEST, 0x21, 0x02};
constexpr SenseCondition SENSE_COMMAND_SEQUENCE_ERROR{SENSE_KEY_ILLEGAL_REQUEST, 0x2C, 0x00};
constexpr SenseCondition SENSE_CANNOT_WRITE_INCOMPATIBLE{SENSE_KEY_ILLEGAL_REQUEST, 0x30, 0x05};
constexpr SenseCondition SENSE_END_OF_USER_AREA{SENSE_KEY_ILLEGAL_REQUEST, 0x63, 0x00};
constexpr SenseCondition SENSE_ILLEGAL_MODE_FOR_TRACK{SENSE_KEY_ILLEGAL_REQUEST, 0x64, 0x00};
// Medium changers: no disc left in the source element, and an element the
// changer cannot reach (a recorder whose tray is closed).
constexpr SenseCondition SENSE_SOURCE_ELEMENT_EMPTY{SENSE_KEY_ILLEGAL_REQUEST, 0x3B, 0x0E};
constexpr SenseCondition SENSE_ELEMENT_NOT_ACCESSIBLE{SENSE_KEY_ILLEGAL_REQUEST, 0x3B, 0x11};
constexpr SenseCondition SENSE_MEDIUM_CHANGED{SENSE_KEY_UNIT_ATTENTION, 0x28, 0x00};
constexpr SenseCondition SENSE_POWER_ON_RESET{SENSE_KEY_UNIT_ATTENTION, 0x29, 0x00};
constexpr SenseCondition SENSE_WRITE_PROTECTED{SENSE_KEY_DATA_PROTECT, 0x27, 0x00};
constexpr SenseCondition SENSE_BLANK_MEDIUM{SENSE_KEY_BLANK_CHECK, 0x00, 0x00};
constexpr SenseCondition SENSE_COMMAND_ABORTED{SENSE_KEY_ABORTED_COMMAND, 0x00, 0x00};
// A recorder whose buffer cannot take the blocks yet (vendor-specific key).
constexpr SenseCondition SENSE_DRIVE_BUSY{SENSE_KEY_VENDOR_SPECIFIC, 0x00, 0x00};
constexpr SenseCondition SENSE_END_OF_MEDIUM{SENSE_KEY_VOLUME_OVERFLOW, 0x00, 0x02};

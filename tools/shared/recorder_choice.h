// The recorder a recording program uses, and the command-line pieces the
// recording programs share: the recorder address of the environment and
// "/SPEED=n".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/switches.h"
#include "drivers/recorder_driver.h"

// The recorder address of the environment (CDWRITER_ID), when it gives one:
// sets `given` and `address`, else leaves them. /ID= replaces it afterwards.
void recorder_address_from_environment(bool* given, DeviceAddress* address);

// The recorder at `address` when `address_given`, else the first one the bus
// scan found. None prints "\nError: Specified device (%u:%u:%u) is not a
// CD-Recorder or is unknown!\n" or "\nError: Unable to find a known
// CD-Recorder device on the SCSI bus!\n" and throws ToolExit{1}.
RecorderDriver& choose_recorder(bool address_given, const DeviceAddress& address);

// "  HA #%u - SCSI ID #%u - %.8s %.16s %.4s\n\n" for a device found.
std::string device_found_line(const ScsiDevice& device);

// A "<name>=%hu" switch whose value `check` then accepts or refuses with
// its own error.
SwitchRule checked_number_switch(const std::string& name, uint16_t* value,
                                 const std::string& format_error,
                                 std::function<void(uint16_t)> check);

// "/SPEED=n": the factor asked for, which resolve_recording_speed
// (recording_options.h) checks once the recorder is known. A value that does
// not scan fails with "Error: Illegal /SPEED format!\n", 0 with "Error:
// Illegal recording speed specified!\n" (ToolExit{1}).
SwitchRule recording_speed_switch(uint16_t* factor);

// The drive a reading program uses: the reader or recorder at the address
// the user gave, or the first one the bus scan found.
#pragma once

#include <cstdint>
#include <string>

#include "common/switches.h"
#include "drivers/cd_reader.h"

// The reader address of the environment (CDREADER_ID), when it gives one:
// sets `given` and `address`, else leaves them. /ID= replaces it afterwards.
void reader_address_from_environment(bool* given, DeviceAddress* address);

// The device at `address` when `address_given`, else the first reader or
// recorder. None prints "\nError: Specified device (%u:%u:%u) is not a
// CDROM!\n" or "\nError: Unable to find a CDROM device on the SCSI bus!\n"
// and throws ToolExit{1}.
CdReader* choose_reader(bool address_given, const DeviceAddress& address);

// "CDROM device found...\n" and the line with host adapter, target, vendor,
// product and revision, then an empty line.
std::string reader_found_text(const CdReader& reader);

// The warning printed for a drive that the generic reader driver serves (a
// model no table knows): "Warning: CDROM device model is unknown to this
// program!\n" and "The generic CDROM device driver will be used...\n\n";
// "" for every other driver.
std::string generic_driver_warning(const CdReader& reader);

// "/SPEED=n" of the reading programs: n is 1, 2, 4, 6, 8, 10 or 12, stored as
// the speed codes 0 to 6. A value that is no number is the format error
// "Error: Illegal /SPEED format!\n"; any other number prints "Error: Illegal
// reading speed specified!\n" and throws ToolExit{1}.
SwitchRule reading_speed_switch(uint8_t* speed_code);

// The value after "<name>=" of an upper-case argument, or false when the
// argument does not go on with '='.
bool switch_value(const std::string& upper, const std::string& name, std::string* value);

// The switches of a copy of audio that proves itself (ripspan's span,
// sheetgen's /COPY). "/RETRIES=n": 0 to 1000 re-reads ("Error: Illegal
// /RETRIES value specified!\n" past it, the format error for no number).
SwitchRule retries_switch(unsigned* retries, bool* given);
// "/OFFSET=n": the drive's read offset, -5000 to 5000 samples ("Error:
// Illegal /OFFSET value specified!\n" past it, the format error for no
// number).
SwitchRule read_offset_switch(int32_t* offset, bool* given);
// The drive's read offset from CD_READ_OFFSET, when it is set: "Error:
// Illegal CD_READ_OFFSET value specified!\n" and ToolExit{1} when it is not
// a number from -5000 to 5000.
void read_offset_from_environment(int32_t* offset);

// The drive a reading program uses: the reader or recorder at the address
// the user gave, or the first one the bus scan found.
#pragma once

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

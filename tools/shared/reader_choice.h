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

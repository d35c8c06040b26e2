// Outputs that must never be written over: the files that hold the disc of
// a device on the bus (an emulated disc's sheet, image or state), however
// the name reaches them (a hard or symbolic link, another spelling).
#pragma once

#include <string>

// The line that says why such an output is refused.
constexpr const char MEDIUM_FILE_REASON[] = "It holds the disc of a drive on the SCSI bus";

// True when `path` names an existing file that holds a device's medium. The
// transport must be open (the bus scanned); false when nothing is there.
bool path_holds_medium(const std::string& path);

// The same for an open descriptor.
bool descriptor_holds_medium(int fd);

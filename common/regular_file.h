// Opening files whose contents are read as data: only regular files are
// opened. A FIFO, a device or a directory named in their place could block
// the open or a read, have effects of its own (a tape rewinds when opened),
// or never end (/dev/zero). The name is checked before it is opened, the
// open never waits (a FIFO swapped in after the check is found by the check
// of the open descriptor), and a whole-file read stops at its limit.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

enum class FileOpening {
  Opened,
  Failed,      // missing, not permitted, or any other failure of the system
  NotRegular,  // a FIFO, a device, a directory, a socket
};

// Opens `path` read-only when it is a regular file and answers the
// descriptor (close-on-exec, non-blocking, which changes nothing for a
// regular file); answers -1 otherwise. `result`, when given, says which;
// `opened`, when given, receives what fstat says of the open file.
int open_regular_file(const std::string& path, FileOpening* result = nullptr,
                      struct stat* opened = nullptr);

enum class FileReading {
  Read,
  Failed,
  NotRegular,
  TooLarge,  // more than the limit, also when the file grew while read
};

// Reads the whole regular file at `path` into `text` when it holds at most
// `limit` bytes. At most limit + 1 bytes are ever read, so a file that grows
// while read is refused rather than read without end; `text` is emptied on
// every answer but Read.
FileReading read_regular_file(const std::string& path, std::size_t limit, std::string* text);

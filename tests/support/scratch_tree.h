// Trees of folders and files written into a scratch directory, for tests
// that build ISO9660 volumes from them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/run_program.h"

class ScratchTree : public ScratchDirectory {
 public:
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return file(relative); }

  // Creates a folder (and its parents) below this one.
  void make_folder(const std::string& relative) const;
  // Writes a file (creating its folders) of `size` bytes of a pattern that
  // depends on `seed`: the same seed gives the same leading bytes.
  void write_file(const std::string& relative, uint64_t size, unsigned seed = 1) const;
  void write_text(const std::string& relative, const std::string& text) const;
  // Sets a file's modification time (seconds since 1970).
  void set_time(const std::string& relative, int64_t seconds) const;
};

// The bytes of a whole file; empty when it cannot be read.
std::vector<uint8_t> read_file_bytes(const std::string& path);
bool file_exists(const std::string& path);

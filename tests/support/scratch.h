// Scratch folders and whole files for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A fresh empty directory for one test, removed with everything in it when
// the object goes. It is on a file system in memory (/dev/shm) when the
// machine has one with room for the largest discs the tests record, else in
// the system's temporary folder. Creating a file costs half a millisecond
// on some disks and microseconds there, which decides the time of tests
// that write trees of a thousand files; reading a sparse file's holes costs
// a disk's file system a page of zeros each, which decides the time of tests
// that record full-length discs of silence.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Whole-file helpers for tests: a file that cannot be read reads as empty.
std::string read_file(const std::string& path);
std::vector<uint8_t> read_file_bytes(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

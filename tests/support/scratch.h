// Scratch folders and whole files for tests.
#pragma once

#include <string>

// A fresh empty directory under the system's temporary folder for one test,
// removed with everything in it when the object goes.
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

// Whole-file helpers for tests: read_file returns "" for a missing file.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

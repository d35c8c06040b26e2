// Runs one of the suite's programs as a user would, with standard input
// closed (or fed from a text), and keeps what it printed and its exit status.
#pragma once

#include <string>
#include <vector>

struct ProgramRun {
  std::string out;   // standard output
  std::string err;   // standard error
  int status = -1;   // exit status; 128 + signal number when killed by a signal
};

// Runs CDM_BIN_DIR/<program> with `arguments` in `directory` (the current one
// when empty). Standard input reads `input` (nothing by default).
ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory = "", const std::string& input = "");

// Runs any program, found on PATH when `program` holds no '/' (the readers
// of other makers that check the suite's output), in the same way.
ProgramRun run_command(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory = "", const std::string& input = "");

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

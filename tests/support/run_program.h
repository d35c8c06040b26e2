// Runs one of the suite's programs as a user would, with standard input
// closed (or fed from a text), and keeps what it printed and its exit status.
#pragma once

#include <string>
#include <vector>

#include "support/scratch.h"

constexpr int RUN_PROGRAM_TIME_LIMIT = 120;

struct ProgramRun {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status; 128 + signal number when killed by a signal
};

// Runs CDM_BIN_DIR/<program> with `arguments` in `directory` (the current one
// when empty). Standard input reads `input` (nothing by default). A program
// still running after RUN_PROGRAM_TIME_LIMIT seconds is killed: its status is
// then 128 + SIGKILL and its standard error ends in "(killed: time limit)",
// so a hang fails the test instead of the test run.
ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory = "", const std::string& input = "");

// Runs any program, found on PATH when `program` holds no '/' (the readers
// of other makers that check the suite's output), in the same way.
// `time_limit` replaces RUN_PROGRAM_TIME_LIMIT (virtual machines take longer).
ProgramRun run_command(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory = "", const std::string& input = "",
                       int time_limit = RUN_PROGRAM_TIME_LIMIT);

// Where run_program_with_stdout puts a program's standard output.
enum class StdoutPlace {
  kClosed,      // closed, as a shell's ">&-" leaves it
  kAllClosed,   // closed, and standard input too ("<&- >&-")
  kBrokenPipe,  // a pipe whose reading end is closed: writes fail with EPIPE
  kFile,        // an existing file opened for writing, not created ("/dev/full")
};

// Runs CDM_BIN_DIR/<program> as run_program does, with standard output at
// `place` (`path` names the file of kFile); `out` stays empty.
ProgramRun run_program_with_stdout(const std::string& program,
                                   const std::vector<std::string>& arguments,
                                   const std::string& directory, StdoutPlace place,
                                   const std::string& path = "");

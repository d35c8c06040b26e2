#include "support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory, const std::string& input) {
  return run_command(std::string(CDM_BIN_DIR) + "/" + program, arguments, directory, input);
}

namespace {

// Where the child's standard output goes: kept in a file of the run, or
// somewhere else.
struct OutputPlace {
  bool kept = true;
  StdoutPlace place = StdoutPlace::kClosed;
  std::string path;
};

// The pipe that standard output takes for kBrokenPipe: its reading end is
// closed before the program starts. -1 when none is needed.
struct BrokenPipe {
  int write_end = -1;
  BrokenPipe() = default;
  BrokenPipe(const BrokenPipe&) = delete;
  BrokenPipe& operator=(const BrokenPipe&) = delete;
  ~BrokenPipe() {
    if (write_end >= 0) close(write_end);
  }
};

// Starts the program with posix_spawn: unlike fork, it does not copy the test
// process's page tables, which under the sanitizers' shadow memory made
// starting a program cost more than running it. The descriptors are set up
// as a shell would. Returns 0, or the error that kept the program from
// starting (not found, a place that cannot be opened); the child never ran.
int spawn(const std::string& program, std::vector<char*>& argv, const std::string& directory,
          const std::string& in_path, const std::string& out_path, const std::string& err_path,
          const OutputPlace& output, pid_t& child) {
  BrokenPipe broken;
  if (!output.kept && output.place == StdoutPlace::kBrokenPipe) {
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) return errno;
    close(ends[0]);
    broken.write_end = ends[1];
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  if (output.kept)
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  else if (output.place == StdoutPlace::kFile)
    posix_spawn_file_actions_addopen(&actions, 1, output.path.c_str(), O_WRONLY, 0);
  else if (output.place == StdoutPlace::kBrokenPipe)
    posix_spawn_file_actions_adddup2(&actions, broken.write_end, 1);
  else
    posix_spawn_file_actions_addclose(&actions, 1);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (!output.kept && output.place == StdoutPlace::kAllClosed)
    posix_spawn_file_actions_addclose(&actions, 0);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  // As a shell starts it: a write to a closed pipe would end the program.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  const int failed =
      posix_spawnp(&child, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return failed;
}

ProgramRun run_with(const std::string& program, const std::vector<std::string>& arguments,
                    const std::string& directory, const std::string& input, int time_limit,
                    const OutputPlace& output) {
  ScratchDirectory capture;
  const std::string out_path = capture.file("out");
  const std::string err_path = capture.file("err");
  const std::string in_path = capture.file("in");
  write_file(in_path, input);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  pid_t child = -1;
  const int not_started =
      spawn(program, argv, directory, in_path, out_path, err_path, output, child);
  if (not_started != 0) {
    // The statuses a shell gives: 127 for a program it cannot find, 126 else.
    ProgramRun run;
    run.status = not_started == ENOENT ? 127 : 126;
    run.err = "(not started: " + std::string(std::strerror(not_started)) + ")";
    return run;
  }
  int wait_status = 0;
  bool killed = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(time_limit);
  // Woken when the child ends (its pidfd becomes readable), or every 2 ms
  // where the kernel has no pidfds.
  const int ended = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  for (;;) {
    const pid_t done = waitpid(child, &wait_status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (!killed && left.count() < 0) {
      kill(child, SIGKILL);
      killed = true;
    }
    if (ended >= 0) {
      pollfd end{ended, POLLIN, 0};
      poll(&end, 1, killed ? -1 : static_cast<int>(left.count()) + 1);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  if (ended >= 0) close(ended);
  ProgramRun run;
  run.out = read_file(out_path);
  run.err = read_file(err_path);
  if (killed) run.err += "(killed: time limit)";
  if (WIFEXITED(wait_status)) run.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) run.status = 128 + WTERMSIG(wait_status);
  return run;
}

}  // namespace

ProgramRun run_command(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory, const std::string& input, int time_limit) {
  return run_with(program, arguments, directory, input, time_limit, OutputPlace{});
}

ProgramRun run_program_with_stdout(const std::string& program,
                                   const std::vector<std::string>& arguments,
                                   const std::string& directory, StdoutPlace place,
                                   const std::string& path) {
  const OutputPlace output{false, place, path};
  return run_with(std::string(CDM_BIN_DIR) + "/" + program, arguments, directory, "",
                  RUN_PROGRAM_TIME_LIMIT, output);
}

#include "support/run_program.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
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

// The descriptor of the place (not kept) that standard output takes (for
// the closed places, a pipe closed again before the program starts); -1
// when it cannot be opened. Runs in the child.
int open_output_place(const OutputPlace& output) {
  if (output.place == StdoutPlace::kFile) return open(output.path.c_str(), O_WRONLY);
  int ends[2] = {-1, -1};
  if (pipe(ends) != 0) return -1;
  close(ends[0]);
  return ends[1];
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

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int in_fd = open(in_path.c_str(), O_RDONLY);
    const int out_fd = output.kept ? open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                   : open_output_place(output);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0) _exit(126);
    dup2(in_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    if (!output.kept && output.place == StdoutPlace::kAllClosed) close(0);
    if (!output.kept &&
        (output.place == StdoutPlace::kClosed || output.place == StdoutPlace::kAllClosed))
      close(1);
    // As a shell starts it: a write to a closed pipe would end the program.
    signal(SIGPIPE, SIG_DFL);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    execvp(program.c_str(), argv.data());
    _exit(127);
  }
  int wait_status = 0;
  bool killed = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(time_limit);
  for (;;) {
    const pid_t done = waitpid(child, &wait_status, WNOHANG);
    if (done == child || (done < 0 && errno != EINTR)) break;
    if (!killed && std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      killed = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
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

#include "qemu/qemu_drive.h"

#include <unistd.h>

#include <cstdlib>

#include "support/scratch.h"

namespace {

constexpr int MACHINE_COULD_NOT_RUN = 125;

// True when `program` is an executable file in a folder of PATH.
bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "";
  for (std::size_t begin = 0, end = 0; begin <= folders.size(); begin = end + 1) {
    end = folders.find(':', begin);
    if (end == std::string::npos) end = folders.size();
    const std::string folder = end > begin ? folders.substr(begin, end - begin) : ".";
    if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// The last few lines of a text, for a failure message.
std::string tail_lines(const std::string& text, int count) {
  std::size_t at = text.size();
  if (at > 0 && text[at - 1] == '\n') --at;
  while (at > 0 && count > 0) {
    at = text.rfind('\n', at - 1);
    if (at == std::string::npos) return text;
    --count;
  }
  return text.substr(at + (count == 0 ? 1 : 0));
}

// A program that found no drive at all: in a machine whose drive had not
// appeared by the time the program started (the runner waits 30 seconds
// for it, which a loaded machine may need more than).
bool found_no_drive(const ProgramRun& run) {
  return run.err.find("device on the SCSI bus!") != std::string::npos ||
         run.err.find("drive_probe: no drive at") != std::string::npos;
}

}  // namespace

std::string vm_runner_script() { return std::string(CDM_SOURCE_DIR) + "/tests/qemu/run-in-vm"; }

std::vector<VmOutcome> run_all_in_vm(const std::vector<VmRequest>& requests,
                                     const std::string& runner) {
  std::vector<VmOutcome> outcomes(requests.size());
  if (!on_path("qemu-system-x86_64")) {
    for (VmOutcome& outcome : outcomes)
      outcome.skip_reason = "qemu-system-x86_64 is not installed (scripts/setup.sh installs it)";
    return outcomes;
  }
  if (requests.empty()) return outcomes;
  for (const VmRequest& request : requests)
    if (request.medium != requests.front().medium || request.image != requests.front().image) {
      for (VmOutcome& outcome : outcomes)
        outcome.failure = "the programs of one machine must hold the same medium";
      return outcomes;
    }
  ScratchDirectory results;
  std::vector<std::string> arguments = {runner, "--timeout", std::to_string(VM_RUN_TIMEOUT_S),
                                        "--results", results.path()};
  const VmRequest& first = requests.front();
  if (first.medium == DriveMedium::VOLUME)
    arguments.insert(arguments.end(), {"--medium", first.image});
  for (const VmRequest& request : requests) {
    if (&request != &first) arguments.push_back("--then");
    for (const std::string& variable : request.environment)
      arguments.insert(arguments.end(), {"--env", variable});
    for (const std::string& file : request.files)
      arguments.insert(arguments.end(), {"--file", file});
    arguments.push_back("--");
    arguments.push_back(request.program);
    arguments.insert(arguments.end(), request.arguments.begin(), request.arguments.end());
  }

  ProgramRun machine;
  for (int attempt = 1; attempt <= 2; ++attempt) {
    machine = run_command("bash", arguments, "", "", 1800);
    if (machine.status == MACHINE_COULD_NOT_RUN) continue;
    bool no_drive = false;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const std::string stem = results.file(std::to_string(i + 1));
      ProgramRun& run = outcomes[i].run;
      run.out = read_file(stem + ".out");
      run.err = read_file(stem + ".err");
      run.status = std::atoi(read_file(stem + ".status").c_str());
      no_drive = no_drive || found_no_drive(run);
    }
    if (attempt == 2 || !no_drive) return outcomes;
  }
  for (VmOutcome& outcome : outcomes) {
    outcome.run = machine;
    outcome.failure = "QEMU is installed but the virtual machine could not run the program:\n" +
                      tail_lines(machine.err, 8);
  }
  return outcomes;
}

VmOutcome run_in_vm(const VmRequest& request, const std::string& runner) {
  return run_all_in_vm({request}, runner).front();
}

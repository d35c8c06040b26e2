#include "qemu/qemu_drive.h"

#include <unistd.h>

#include <cstdlib>

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

VmOutcome run_in_vm(const VmRequest& request, const std::string& runner) {
  VmOutcome outcome;
  if (!on_path("qemu-system-x86_64")) {
    outcome.skip_reason = "qemu-system-x86_64 is not installed (scripts/setup.sh installs it)";
    return outcome;
  }
  std::vector<std::string> arguments = {runner, "--timeout", std::to_string(VM_RUN_TIMEOUT_S)};
  if (request.medium == DriveMedium::VOLUME)
    arguments.insert(arguments.end(), {"--medium", request.image});
  for (const std::string& variable : request.environment)
    arguments.insert(arguments.end(), {"--env", variable});
  for (const std::string& file : request.files) arguments.insert(arguments.end(), {"--file", file});
  arguments.push_back("--");
  arguments.push_back(request.program);
  arguments.insert(arguments.end(), request.arguments.begin(), request.arguments.end());

  for (int attempt = 1; attempt <= 2; ++attempt) {
    outcome.run = run_command("bash", arguments, "", "", 1800);
    if (outcome.run.status != MACHINE_COULD_NOT_RUN &&
        (attempt == 2 || !found_no_drive(outcome.run)))
      return outcome;
  }
  outcome.failure = "QEMU is installed but the virtual machine could not run the program:\n" +
                    tail_lines(outcome.run.err, 8);
  return outcome;
}

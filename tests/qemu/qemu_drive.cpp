#include "qemu/qemu_drive.h"

#include <cstdlib>
#include <filesystem>

namespace {

constexpr int SCRIPT_COULD_NOT_RUN = 125;

bool is_file(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::is_regular_file(path, ignored);
}

// The last few lines of a text, for a skip reason.
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
// appeared by the time the program started (the script waits ten seconds
// for it, which a loaded machine may need more than).
bool found_no_drive(const ProgramRun& run) {
  return run.err.find("device on the SCSI bus!") != std::string::npos ||
         run.err.find("drive_probe: no drive at") != std::string::npos;
}

}  // namespace

std::string qemu_drive_script() {
  if (const char* chosen = std::getenv("QEMU_DRIVE_RUN")) return is_file(chosen) ? chosen : "";
  for (const std::string& path : {std::string(CDM_SOURCE_DIR) + "/../shared/qemu-drive/run",
                                  std::string("/work/shared/qemu-drive/run")})
    if (is_file(path)) return path;
  return "";
}

VmOutcome run_in_vm(const VmRequest& request) {
  VmOutcome outcome;
  const std::string script = qemu_drive_script();
  if (script.empty()) {
    outcome.skip_reason = "no qemu-drive/run script (looked for $QEMU_DRIVE_RUN, "
                          "../shared/qemu-drive/run and /work/shared/qemu-drive/run)";
    return outcome;
  }
  // Through bash: the shared folder may be laid out without execute bits.
  std::vector<std::string> arguments = {script, "--timeout", std::to_string(VM_RUN_TIMEOUT_S)};
  if (request.medium == DriveMedium::VOLUME) {
    arguments.insert(arguments.end(), {"--medium", request.image});
  } else {
    arguments.push_back("--no-medium");
  }
  for (const std::string& variable : request.environment)
    arguments.insert(arguments.end(), {"--env", variable});
  arguments.push_back("--");
  arguments.push_back(request.program);
  arguments.insert(arguments.end(), request.arguments.begin(), request.arguments.end());

  for (int attempt = 1; attempt <= 2; ++attempt) {
    outcome.run = run_command("bash", arguments, "", "", 1800);
    if (outcome.run.status != SCRIPT_COULD_NOT_RUN && (attempt == 2 || !found_no_drive(outcome.run)))
      return outcome;
    if (outcome.run.err.find("cannot install") != std::string::npos) break;
  }
  outcome.skip_reason = "the virtual machine could not run the program: " +
                        tail_lines(outcome.run.err, 5);
  return outcome;
}

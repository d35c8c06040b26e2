// Runs the suite's programs inside a small virtual machine whose only
// SCSI device is QEMU's emulated CD-ROM drive (tests/qemu/run-in-vm), so that
// the programs reach a drive model written elsewhere through the Linux SCSI
// generic backend.
#pragma once

#include <string>
#include <vector>

#include "support/run_program.h"

// What the drive holds for a run.
enum class DriveMedium { NO_DISC, VOLUME };

struct VmRequest {
  std::string program;  // a path on this machine
  std::vector<std::string> arguments;
  DriveMedium medium = DriveMedium::NO_DISC;
  std::string image;                     // the 2048-byte-sector image for VOLUME
  std::vector<std::string> environment;  // NAME=VALUE, set inside the machine only
  std::vector<std::string> files;        // copied into the machine's working folder
};

struct VmOutcome {
  ProgramRun run;           // the program's output and status (when it ran)
  std::string skip_reason;  // not empty when QEMU is not installed
  std::string failure;      // not empty when QEMU is there but could not run it
};

// The project's runner, tests/qemu/run-in-vm.
std::string vm_runner_script();

// Time limit of one machine run, in seconds, handed to the runner. Generous:
// under software emulation on a loaded machine a run can take minutes.
constexpr int VM_RUN_TIMEOUT_S = 600;

// Runs the requests one after the other in one fresh machine through
// `runner`; they all hold the same medium. One outcome per request, in
// order. Without qemu-system-x86_64 on PATH each outcome carries a skip
// reason. When the machine fails to start or to run the programs (the
// runner's status 125) it is tried once more; after that each outcome
// carries the failure with the runner's reason. When a program found no
// drive on the bus the machine is also run once more (the drive may not have
// appeared in time); the second outcomes stand.
std::vector<VmOutcome> run_all_in_vm(const std::vector<VmRequest>& requests,
                                     const std::string& runner = vm_runner_script());

// One request in a machine of its own.
VmOutcome run_in_vm(const VmRequest& request, const std::string& runner = vm_runner_script());

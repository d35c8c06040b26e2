// Runs one of the suite's programs inside a small virtual machine whose only
// SCSI device is QEMU's emulated CD-ROM drive (the qemu-drive/run script of
// the shared folder beside the repository), so that the program reaches a
// drive model written elsewhere through the Linux SCSI generic backend.
#pragma once

#include <string>
#include <vector>

#include "support/run_program.h"

// What the drive holds for a run.
enum class DriveMedium { NO_DISC, VOLUME };

struct VmRequest {
  std::string program;              // a path on this machine
  std::vector<std::string> arguments;
  DriveMedium medium = DriveMedium::NO_DISC;
  std::string image;                // the 2048-byte-sector image for VOLUME
  std::vector<std::string> environment;  // NAME=VALUE, set inside the machine only
};

struct VmOutcome {
  ProgramRun run;          // the program's output and status (when it ran)
  std::string skip_reason; // not empty when the machine could not run it
};

// The run script: $QEMU_DRIVE_RUN when set, else ../shared/qemu-drive/run
// from the source folder, else /work/shared/qemu-drive/run; "" when none of
// them is a file.
std::string qemu_drive_script();

// Time limit of one machine run, in seconds, handed to the script. Generous:
// under software emulation on a loaded machine a run can take minutes.
constexpr int VM_RUN_TIMEOUT_S = 600;

// Runs the request in a fresh machine. When the machine fails to start or to
// run the program (the script's status 125) it is tried once more, unless
// the packages it needs cannot be installed; after that the outcome carries
// the reason instead of a result. A program that found no drive on the bus
// is also run once more (the drive may not have appeared in time); the
// second outcome stands.
VmOutcome run_in_vm(const VmRequest& request);

// The virtual machine runner itself: what it refuses before it starts a
// machine, and that a machine that cannot start fails the test run instead
// of skipping it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "qemu/qemu_drive.h"
#include "support/run_program.h"
#include "support/scsi_fakes.h"

namespace {

const std::string DISCINFO = std::string(CDM_BIN_DIR) + "/discinfo";

TEST(VmRunner, RefusesBadRequestsWithStatus125) {
  ScratchDirectory dir;
  struct Case {
    std::vector<std::string> arguments;
    std::string err;
  };
  const Case cases[] = {
      {{"--", dir.file("missing")},
       "run-in-vm: not an executable file: " + dir.file("missing") + "\n"},
      {{"--medium", dir.file("none.iso"), "--", DISCINFO},
       "run-in-vm: cannot read the medium " + dir.file("none.iso") + "\n"},
      {{"--file", dir.file("none.iso"), "--", DISCINFO},
       "run-in-vm: cannot read the file " + dir.file("none.iso") + "\n"},
      {{"--env", "1ST=x", "--", DISCINFO}, "run-in-vm: not NAME=VALUE: 1ST=x\n"},
      {{"--env", "TRACE_SCSI_ENABLED", "--", DISCINFO},
       "run-in-vm: not NAME=VALUE: TRACE_SCSI_ENABLED\n"},
      {{"--timeout", "1m", "--", DISCINFO}, "run-in-vm: --timeout needs whole seconds: 1m\n"},
      {{"--medium"}, "run-in-vm: --medium needs an image\n"},
      {{"--no-medium"}, "run-in-vm: no program given\n"},
      {{"--", DISCINFO, "--then"}, "run-in-vm: no program given\n"},
      {{"--", DISCINFO, "--then", "--", DISCINFO},
       "run-in-vm: more than one program needs --results\n"},
      {{"--", DISCINFO, "--then", "--medium", dir.file("none.iso"), "--", DISCINFO},
       "run-in-vm: --medium belongs before the first program\n"},
      {{"--results", dir.file("none"), "--", DISCINFO},
       "run-in-vm: cannot write the results in " + dir.file("none") + "\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {vm_runner_script()};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProgramRun run = run_command("bash", arguments);
    EXPECT_EQ(run.status, 125) << c.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

// A kernel release whose modules are installed, or "" when there is none.
std::string installed_kernel_release() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/boot", error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("vmlinuz-", 0) == 0 &&
        std::filesystem::is_directory("/lib/modules/" + name.substr(8), error))
      return name.substr(8);
  }
  return "";
}

TEST(VmRunner, MachineThatCannotStartFailsInsteadOfSkipping) {
  const std::string release = installed_kernel_release();
  if (release.empty()) GTEST_SKIP() << "no kernel with its modules under /boot and /lib/modules";
  // A kernel file of the right name that QEMU cannot boot.
  ScratchDirectory dir;
  const std::string kernel = dir.file("vmlinuz-" + release);
  write_file(kernel, "not a kernel\n");
  cdm_test::ScopedEnv chosen("RUN_IN_VM_KERNEL", kernel);
  // With the accelerator chosen, the runner does not probe KVM with this
  // kernel, nor keep the answer for a file that each run makes anew.
  cdm_test::ScopedEnv accelerator("RUN_IN_VM_ACCEL", "tcg");
  VmRequest request;
  request.program = DISCINFO;
  const VmOutcome outcome = run_in_vm(request);
  if (!outcome.skip_reason.empty()) GTEST_SKIP() << outcome.skip_reason;
  EXPECT_EQ(outcome.run.status, 125);
  EXPECT_NE(outcome.failure.find("run-in-vm: the machine ended (status 1) after 0 of 1 programs\n"),
            std::string::npos)
      << outcome.failure;
}

}  // namespace

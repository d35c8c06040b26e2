// Our emulated CD-ROM drive against QEMU's: drive_probe sends both the same
// commands for the same disc (QEMU's drive in a virtual machine through the
// Linux SCSI generic backend, ours on the emulated bus) and every answer must
// be the same, result, sense bytes and data, except at the steps where the
// two drive models are known to differ; emulator/README.md says how and why.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "qemu/shared_machines.h"
#include "support/scsi_fakes.h"

namespace {

// Steps of drive_probe where the answers differ, grouped by the difference
// the emulator's documentation describes.
const std::set<std::string> DIFFERING_STEPS = {
    // Identity and the SCSI version the drive claims.
    "INQUIRY",
    // The lead-out's control nibble; the format field of byte 9; the
    // session descriptor; the full TOC (format 2).
    "READ TOC format 0 LBA",
    "READ TOC format 0 MSF",
    "READ TOC track AA",
    "READ TOC format 1 (sessions)",
    "READ TOC byte 2 format 1",
    "READ TOC byte 2 format 2 MSF",
    // QEMU takes operation code 42h for UNMAP: a host adapter error.
    "READ SUB-CHANNEL format 1",
    "READ SUB-CHANNEL format 2 (MCN)",
    "READ SUB-CHANNEL format 3 track 1 (ISRC)",
    // Mode pages, block descriptors, MODE SENSE(10).
    "MODE SENSE page 01",
    "MODE SENSE page 01 DBD",
    "MODE SENSE page 0D",
    "MODE SENSE page 0E",
    "MODE SENSE page 2A",
    "MODE SENSE page 3F",
    "MODE SENSE page 3F changeable",
    "MODE SENSE page 3F default",
    "MODE SENSE(10) page 3F",
    // Sense data of a read out of range: ours names the LBA.
    "READ(10) after last LBA",
    "READ(10) past the end",
    // Block lengths: QEMU wants the page format bit, has 512 but not the
    // raw lengths, and accepts 2340 without using it.
    "MODE SELECT block length 2340",
    "MODE SENSE page 01 after 2340",
    "READ(10) LBA 16 at 2340",
    "MODE SELECT block length 2352",
    "READ(10) LBA 16 at 2352",
    "MODE SELECT block length 2048",
    "MODE SENSE page 01 after PF 2340",
    "READ(10) LBA 16 at 2340 after PF",
    "MODE SELECT PF block length 512",
    "READ CAPACITY after 512",
    // QEMU has no READ CD-DA.
    "READ CD-DA LBA 16 format 0",
    "READ CD-DA LBA 16 format 1",
};

// A probe report: step name -> the lines that followed it.
std::map<std::string, std::string> parse_report(const std::string& report) {
  std::map<std::string, std::string> steps;
  std::istringstream lines(report);
  std::string line, name;
  while (std::getline(lines, line)) {
    if (line.rfind("== ", 0) == 0) {
      name = line.substr(3);
      steps[name];
    } else if (!name.empty()) {
      steps[name] += line + "\n";
    }
  }
  return steps;
}

// The probe runs last in the machine it shares: it leaves the drive
// stopped, and it compares the answers of a drive as the programs before it
// left it with those of ours, fresh: they must not have left a mark.
const bool probe_registered =
    share_machine("drive_probe", "QemuDrive.EmulatedDriveAnswersAsQemuDriveDoes", 2,
                  [](const SharedVolume& volume) { return on_shared_volume(DRIVE_PROBE, volume); });

TEST(QemuDrive, EmulatedDriveAnswersAsQemuDriveDoes) {
  const SharedVolume& volume = shared_volume();
  ASSERT_EQ(volume.failure, "");
  const VmOutcome& qemu = shared_outcome("drive_probe");
  if (!qemu.skip_reason.empty()) GTEST_SKIP() << qemu.skip_reason;
  if (!qemu.failure.empty()) FAIL() << qemu.failure;
  ASSERT_EQ(qemu.run.status, 0) << qemu.run.err;

  ScratchTree tree;
  tree.write_text("disc.cue", "FILE \"" + volume.image +
                                  "\" BINARY\n  TRACK 01 MODE1/2048\n"
                                  "    INDEX 01 00:00:00\n");
  ProgramRun ours;
  {
    cdm_test::ScopedEnv bus("EMULATED_SCSI_BUS",
                            "0:3:0=QEMU CD-ROM,vendor=QEMU,revision=2.5+,medium=disc.cue");
    ours = run_command(DRIVE_PROBE, {}, tree.path());
  }
  ASSERT_EQ(ours.status, 0) << ours.err;

  const auto qemu_steps = parse_report(qemu.run.out);
  const auto our_steps = parse_report(ours.out);
  ASSERT_EQ(qemu_steps.size(), our_steps.size());
  for (const auto& [name, answer] : qemu_steps) {
    ASSERT_TRUE(our_steps.count(name)) << name;
    if (DIFFERING_STEPS.count(name)) continue;
    EXPECT_EQ(our_steps.at(name), answer) << "== " << name << " (QEMU's answer expected)";
  }
}

}  // namespace

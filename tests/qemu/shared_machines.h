// Machines that the machine tests of one process share. A boot costs
// seconds of software emulation, more than most programs run in it, so the
// tests register what they run in a machine when the process starts, and
// the first test that asks for an outcome runs the requests of every test
// that runs in this process: one machine for the tests' volume and one for
// an empty drive, side by side. A test run alone boots its own machine.
#pragma once

#include <functional>
#include <string>

#include "qemu/qemu_drive.h"
#include "support/scratch_tree.h"

// The volume in the shared machines' drive: made once per process by
// volbuild from the folder src/ of its tree (long names, a link, modes, a
// deep folder and a file of 300000 bytes), with Rock Ridge and Joliet names.
struct SharedVolume {
  ScratchTree tree;     // src/ and disc.iso; room for the tests' own files
  std::string image;    // tree / "disc.iso"
  std::string bytes;    // the volume's contents
  std::string failure;  // why volbuild could not make it
};
const SharedVolume& shared_volume();

// A request that runs `program` with the shared volume in the drive.
VmRequest on_shared_volume(const std::string& program, const SharedVolume& volume);

using RequestMaker = std::function<VmRequest(const SharedVolume&)>;

// Registers the request `key` of the test named `test` (as gtest names it,
// "Suite.Name"), made by `make` when the machines start. In its machine the
// requests run by `turn`, lowest first, and then in the order registered;
// each finds the drive as the ones before left it. Returns true, for a
// static initialiser.
bool share_machine(const std::string& key, const std::string& test, int turn, RequestMaker make);

// The outcome of the request `key`; a failure when no request of a test
// that runs has that key.
const VmOutcome& shared_outcome(const std::string& key);

// The lock on a recorder's disc, so that two programs never record into, or
// read from, the same disc at once: an exclusive flock on PATH.lock beside
// the disc's files (which a blank disc does not have), held from the
// moment the bus loads the disc until it lets it go. Every device of one
// process that uses the same disc shares one lock; another program is
// refused at once, before it sends a command. The lock file is removed when
// the lock is let go; one left by a killed program is simply taken again.
#pragma once

#include <memory>
#include <string>

#include "emulator/device.h"

// The disc is locked by another program; the text names the disc.
struct MediumInUse : EmulatedMediumError {
  explicit MediumInUse(const std::string& path)
      : EmulatedMediumError("The disc " + path + " is in use by another program") {}
};

class MediumLock {
 public:
  // Locks the disc kept at `path` (PATH.lock). Throws MediumInUse when
  // another program holds it and EmulatedMediumError when the lock file
  // cannot be made; a folder that takes no new files (read-only, not
  // permitted, missing) holds a disc no one can record into, which is read
  // unlocked (null).
  static std::shared_ptr<MediumLock> take(const std::string& path);
  MediumLock(const MediumLock&) = delete;
  MediumLock& operator=(const MediumLock&) = delete;
  ~MediumLock();

 private:
  MediumLock(std::string file, int fd) : file_(std::move(file)), fd_(fd) {}
  std::string file_;
  int fd_;
};

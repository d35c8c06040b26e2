#include "emulator/medium_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "common/interrupt.h"

namespace {

using FileId = std::pair<dev_t, ino_t>;

// The locks this process holds, by the lock file's identity: a second
// open of the file would be a second owner to flock.
std::map<FileId, std::weak_ptr<MediumLock>>& held_locks() {
  static std::map<FileId, std::weak_ptr<MediumLock>> locks;
  return locks;
}

// A holder that lets go removes the file; one that took the lock after it
// was opened finds another file (or none) at the name, and tries again.
constexpr int LOCK_TRIES = 16;

}  // namespace

std::shared_ptr<MediumLock> MediumLock::take(const std::string& path) {
  const std::string file = path + ".lock";
  for (int attempt = 0; attempt < LOCK_TRIES; ++attempt) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      if (errno == EACCES || errno == EROFS || errno == EPERM || errno == ENOENT ||
          errno == ENOTDIR)
        return nullptr;
      throw EmulatedMediumError("The disc " + path + " cannot be locked: " + file + ": " +
                                std::strerror(errno));
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      ::close(fd);
      throw EmulatedMediumError("The disc " + path + " cannot be locked: " + file +
                                " is not a regular file");
    }
    const FileId id{opened.st_dev, opened.st_ino};
    if (std::shared_ptr<MediumLock> mine = held_locks()[id].lock()) {
      ::close(fd);
      return mine;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) throw MediumInUse(path);
      throw EmulatedMediumError("The disc " + path + " cannot be locked: " + file + ": " +
                                std::strerror(error));
    }
    struct stat named {};
    if (::stat(file.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
        named.st_ino != opened.st_ino) {
      ::close(fd);
      continue;
    }
    std::shared_ptr<MediumLock> lock(new MediumLock(file, fd));
    held_locks()[id] = lock;
    register_temporary_file(file);
    return lock;
  }
  throw MediumInUse(path);
}

MediumLock::~MediumLock() {
  ::unlink(file_.c_str());
  forget_temporary_file(file_);
  ::close(fd_);
}

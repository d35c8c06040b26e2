#include "common/byte_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const char kNotAFile[] = "Not a regular file or block device";
const char kSameFile[] = "It is the input file";

// Opens without waiting (a named pipe would wait for its other end), then
// makes reads and writes wait again. -1 with `failure` set when it fails.
int open_without_waiting(const std::string& path, int flags, std::string* failure) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    *failure = std::strerror(errno);
    return -1;
  }
  const int status = fcntl(fd, F_GETFL);
  if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    *failure = std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// Two opened files are one when they are the same inode, or the same block
// device reached through two device nodes.
bool same_file(const struct stat& a, const struct stat& b) {
  if (S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode)) return a.st_rdev == b.st_rdev;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes `fd` into `kept` when no check found a failure, else closes it.
bool keep_unless_failed(int fd, const std::string& failure, int* kept) {
  if (!failure.empty()) {
    ::close(fd);
    return false;
  }
  *kept = fd;
  return true;
}

}  // namespace

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileSource::open(const std::string& path) {
  failure_.clear();
  const int fd = open_without_waiting(path, O_RDONLY, &failure_);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    failure_ = std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    failure_ = std::strerror(EISDIR);
  } else if (!S_ISREG(info.st_mode) && !S_ISBLK(info.st_mode)) {
    failure_ = kNotAFile;
  } else if (lseek(fd, 0, SEEK_END) < 0 || lseek(fd, 0, SEEK_SET) != 0) {
    failure_ = std::strerror(errno);
  }
  return keep_unless_failed(fd, failure_, &fd_);
}

bool FileSource::length(uint64_t* bytes) {
  const off_t here = lseek(fd_, 0, SEEK_CUR);
  const off_t end = lseek(fd_, 0, SEEK_END);
  if (here < 0 || end < 0 || lseek(fd_, here, SEEK_SET) != here) return false;
  *bytes = static_cast<uint64_t>(end);
  return true;
}

std::size_t FileSource::read(uint8_t* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd_, buffer + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

FileSink::~FileSink() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileSink::create(const std::string& path, const FileSource* not_from) {
  // Opened without truncation first, so that the input is never emptied.
  // An empty file is left as it is: on some file systems (ext4) truncating
  // even an empty file makes its close wait until all data written is on its
  // way to the disk, which costs as much as the writing itself.
  failure_.clear();
  const int fd = open_without_waiting(path, O_WRONLY | O_CREAT, &failure_);
  if (fd < 0) return false;
  struct stat out_info {};
  struct stat in_info {};
  if (fstat(fd, &out_info) != 0) {
    failure_ = std::strerror(errno);
  } else if (not_from && not_from->descriptor() >= 0 &&
             fstat(not_from->descriptor(), &in_info) == 0 && same_file(out_info, in_info)) {
    failure_ = kSameFile;
  } else if (S_ISREG(out_info.st_mode) && out_info.st_size > 0 && ftruncate(fd, 0) != 0) {
    failure_ = std::strerror(errno);
  }
  return keep_unless_failed(fd, failure_, &fd_);
}

bool FileSink::write(const uint8_t* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(fd_, data + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

bool FileSink::close() {
  if (fd_ < 0) return true;
  const int fd = fd_;
  fd_ = -1;
  return ::close(fd) == 0;
}

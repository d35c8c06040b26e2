#include "common/byte_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileSource::open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || lseek(fd, 0, SEEK_END) < 0 ||
      lseek(fd, 0, SEEK_SET) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
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
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  struct stat out_info {};
  struct stat in_info {};
  const bool same = not_from && not_from->descriptor() >= 0 && fstat(fd, &out_info) == 0 &&
                    fstat(not_from->descriptor(), &in_info) == 0 &&
                    out_info.st_dev == in_info.st_dev && out_info.st_ino == in_info.st_ino;
  // An empty file is left as it is: on some file systems (ext4) truncating
  // even an empty file makes its close wait until all data written is on
  // its way to the disk, which costs as much as the writing itself.
  if (same || (fstat(fd, &out_info) == 0 && S_ISREG(out_info.st_mode) && out_info.st_size > 0 &&
               ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
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

#include "common/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

int open_regular_file(const std::string& path, FileOpening* result, struct stat* opened) {
  FileOpening answer = FileOpening::Failed;
  int fd = -1;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    answer = FileOpening::Failed;
  } else if (!S_ISREG(info.st_mode)) {
    answer = FileOpening::NotRegular;
  } else if ((fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) < 0) {
    answer = FileOpening::Failed;
  } else if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    fd = -1;
    answer = FileOpening::NotRegular;
  } else {
    answer = FileOpening::Opened;
    if (opened) *opened = info;
  }
  if (result) *result = answer;
  return fd;
}

FileReading read_regular_file(const std::string& path, std::size_t limit, std::string* text) {
  text->clear();
  FileOpening opening = FileOpening::Failed;
  const int fd = open_regular_file(path, &opening);
  if (fd < 0)
    return opening == FileOpening::NotRegular ? FileReading::NotRegular : FileReading::Failed;
  struct stat info {};
  FileReading answer = FileReading::Read;
  if (fstat(fd, &info) != 0) {
    answer = FileReading::Failed;
  } else if (static_cast<uint64_t>(info.st_size) > limit) {
    answer = FileReading::TooLarge;
  } else {
    char buffer[65536];
    while (true) {
      const std::size_t wanted = std::min(sizeof buffer, limit + 1 - text->size());
      const ssize_t got = read(fd, buffer, wanted);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        answer = FileReading::Failed;
        break;
      }
      if (got == 0) break;
      text->append(buffer, static_cast<std::size_t>(got));
      if (text->size() > limit) {
        answer = FileReading::TooLarge;
        break;
      }
    }
  }
  close(fd);
  if (answer != FileReading::Read) text->clear();
  return answer;
}

#include "tools/shared/medium_files.h"

#include <sys/stat.h>

#include "scsi/transport.h"

namespace {

bool holds_medium(const struct stat& info) {
  const ScsiTransport* transport = scsi_transport();
  return transport != nullptr && transport->holds_medium_file(info.st_dev, info.st_ino);
}

}  // namespace

bool path_holds_medium(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && holds_medium(info);
}

bool descriptor_holds_medium(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && holds_medium(info);
}

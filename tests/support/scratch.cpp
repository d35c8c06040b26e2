#include "support/scratch.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

// Where scratch directories go (see scratch.h), decided once a process.
const std::string& scratch_base() {
  static const std::string base = [] {
    // Room for two tests at a time, each holding images and recordings of
    // up to a full-length disc (about 800 MB).
    constexpr unsigned long long kRoomNeeded = 4ULL << 30;
    const char* memory = "/dev/shm";
    struct statvfs room {};
    if (access(memory, W_OK | X_OK) == 0 && std::filesystem::is_directory(memory) &&
        statvfs(memory, &room) == 0 &&
        static_cast<unsigned long long>(room.f_bavail) * room.f_frsize >= kRoomNeeded)
      return std::string(memory);
    return std::filesystem::temp_directory_path().string();
  }();
  return base;
}

// The whole of a file, read into one buffer of its size: the tests read
// recorded discs of hundreds of megabytes, which a growing buffer would copy
// over and over. Files that are not regular (pipes, /proc) grow as they come.
template <typename Bytes>
Bytes read_whole_file(const std::string& path) {
  Bytes bytes;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  struct stat info {};
  const bool sized = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  bytes.resize(sized ? static_cast<std::size_t>(info.st_size) : 0);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      // Past the size it had: a probe for more, so a full buffer costs no copy.
      char probe[65536];
      const ssize_t got = read(fd, probe, sizeof probe);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      bytes.insert(bytes.end(), probe, probe + got);
      used += static_cast<std::size_t>(got);
      continue;
    }
    const ssize_t got = read(fd, reinterpret_cast<char*>(bytes.data()) + used, bytes.size() - used);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    used += static_cast<std::size_t>(got);
  }
  close(fd);
  bytes.resize(used);
  return bytes;
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::path(scratch_base()) / "cdm-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string read_file(const std::string& path) { return read_whole_file<std::string>(path); }

std::vector<uint8_t> read_file_bytes(const std::string& path) {
  return read_whole_file<std::vector<uint8_t>>(path);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

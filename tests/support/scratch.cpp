#include "support/scratch.h"

#include <stdlib.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

ScratchDirectory::ScratchDirectory() : ScratchDirectory(memory_scratch_base()) {}

ScratchDirectory::ScratchDirectory(const std::string& base) {
  std::string pattern = (std::filesystem::path(base) / "cdm-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string memory_scratch_base() {
  static const std::string base = [] {
    // Two tests at a time each hold a full-length disc (about 800 MB)
    // there, written and read back, besides their images.
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

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

#include "support/scratch_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace {

void make_parent(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
}

}  // namespace

void ScratchTree::make_folder(const std::string& relative) const {
  std::filesystem::create_directories(*this / relative);
}

void ScratchTree::write_file(const std::string& relative, uint64_t size, unsigned seed) const {
  const std::string path = *this / relative;
  make_parent(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<char> chunk(65536);
  uint32_t state = seed * 2654435761u + 1;
  for (uint64_t done = 0; done < size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(chunk.size(), size - done));
    for (std::size_t i = 0; i < n; ++i) {
      state = state * 1103515245u + 12345u;
      chunk[i] = static_cast<char>(state >> 24);
    }
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    done += n;
  }
  if (!out) throw std::runtime_error("cannot write " + path);
}

void ScratchTree::write_text(const std::string& relative, const std::string& text) const {
  const std::string path = *this / relative;
  make_parent(path);
  ::write_file(path, text);
}

void ScratchTree::set_time(const std::string& relative, int64_t seconds) const {
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  if (utimensat(AT_FDCWD, (*this / relative).c_str(), times, 0) != 0)
    throw std::runtime_error("utimensat failed");
}

std::vector<uint8_t> read_file_bytes(const std::string& path) {
  const std::string bytes = read_file(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

#include "support/scratch_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

SampleTree write_sample_tree(const ScratchTree& tree) {
  SampleTree sample;
  const std::vector<std::pair<std::string, uint64_t>> files = {
      {"src/empty.txt", 0},
      {"src/one.bin", 1},
      {"src/block.bin", 2048},
      {"src/block1.bin", 2049},
      {"src/Big Data.raw", 300000},
      {"src/docs/Readme.md", 1234},
      {"src/docs/Long_File_Name.text", 4097},
      {"src/docs/long_file_name.texture", 77},
      {"src/docs/deep/er/x.dat", 65000},
      {"src/music/track01.wav", 150000},
  };
  unsigned seed = 1;
  for (const auto& [path, size] : files) tree.write_file(path, size, seed++);
  tree.write_file("src/.hidden", 10);
  sample.volume_path_of = {
      {"src/empty.txt", "EMPTY.TXT"},
      {"src/one.bin", "ONE.BIN"},
      {"src/block.bin", "BLOCK.BIN"},
      {"src/block1.bin", "BLOCK1.BIN"},
      {"src/Big Data.raw", "BIG_DATA.RAW"},
      {"src/docs/Readme.md", "DOCS/README.MD"},
      {"src/docs/Long_File_Name.text", "DOCS/LONG_FIL.TEX"},
      {"src/docs/long_file_name.texture", "DOCS/LONG_F_1.TEX"},
      {"src/docs/deep/er/x.dat", "DOCS/DEEP/ER/X.DAT"},
      {"src/music/track01.wav", "MUSIC/TRACK01.WAV"},
  };
  return sample;
}

std::vector<std::string> files_below(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& item : std::filesystem::recursive_directory_iterator(folder)) {
    if (item.is_regular_file())
      found.push_back(std::filesystem::relative(item.path(), folder).string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string extracted_tree_faults(const ScratchTree& tree, const std::string& image,
                                  const SampleTree& sample) {
  std::filesystem::remove_all(tree / "copy");
  const ProgramRun extracted = run_command(
      "xorriso", {"-osirrox", "on", "-indev", "stdio:" + image, "-extract", "/", tree / "copy"});
  if (extracted.status != 0) return "xorriso: " + extracted.err;
  std::vector<std::string> expected;
  for (const auto& [source, volume_path] : sample.volume_path_of) {
    expected.push_back(volume_path);
    if (read_file_bytes(tree / ("copy/" + volume_path)) != read_file_bytes(tree / source))
      return "differs: " + source;
  }
  std::sort(expected.begin(), expected.end());
  if (files_below(tree / "copy") != expected) return "other files extracted";
  return "";
}

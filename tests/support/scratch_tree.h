// Trees of folders and files written into a scratch directory, for tests
// that build ISO9660 volumes from them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/run_program.h"

// The tree's folder is where every scratch directory is, often on a file
// system in memory (see scratch.h); paths under /dev need "stdio:" before
// them for xorriso.
class ScratchTree : public ScratchDirectory {
 public:
  // path() + "/" + relative.
  std::string operator/(const std::string& relative) const { return file(relative); }

  // Creates a folder (and its parents) below this one.
  void make_folder(const std::string& relative) const;
  // Writes a file (creating its folders) of `size` bytes of a pattern that
  // depends on `seed`: the same seed gives the same leading bytes.
  void write_file(const std::string& relative, uint64_t size, unsigned seed = 1) const;
  void write_text(const std::string& relative, const std::string& text) const;
  // Sets a file's modification time (seconds since 1970).
  void set_time(const std::string& relative, int64_t seconds) const;
};

bool file_exists(const std::string& path);

// A tree with the shapes that matter (empty, one-byte, block-sized and
// longer files, names that collide as level 1 names, blanks, folders three
// deep, a hidden file), written below "src/", and the names its files get in
// the volume.
struct SampleTree {
  std::map<std::string, std::string> volume_path_of;  // source path -> volume path
};
SampleTree write_sample_tree(const ScratchTree& tree);

// Every regular file below `folder`, as sorted paths relative to it.
std::vector<std::string> files_below(const std::string& folder);

// Extracts the volume `image` (2048-byte blocks) with xorriso into
// tree/"copy" and compares it with the sample, file by file: "" when every
// file came back whole and nothing else came out, else what differs first.
std::string extracted_tree_faults(const ScratchTree& tree, const std::string& image,
                                  const SampleTree& sample);

// Rock Ridge: the system use entries (SUSP with RRIP 1.12) of the primary
// tree's directory records, the continuation areas that hold what does not
// fit in a record, and the relocation of directories deeper than level 8.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "iso9660/tree.h"

// What stat says of a host file, as Rock Ridge records it.
PosixAttributes posix_attributes(const struct stat& info);

// Moves every directory that sits at level 9 into the relocation directory
// ("RR_MOVED" at level 2, made when needed), again and again until no
// directory is deeper than level 8 in the primary tree. The moved directory's
// entry stays in its parent as a child link (ENTRY_RELOCATED); the relocation
// directory gets a record of its own for it (ENTRY_MOVED). The Joliet tree
// keeps the natural shape (natural_parent, moved_away).
void relocate_deep_directories(DirectoryNode* root);

// The continuation areas of a volume: blocks after the primary directory
// extents, filled in the order the records are placed. Counting the blocks
// (keep_bytes false) and filling them place every record alike.
class ContinuationPool {
 public:
  ContinuationPool(uint32_t first_block, bool keep_bytes)
      : first_block_(first_block), keep_bytes_(keep_bytes) {}
  // The system use area of one record with `capacity` bytes of room: the
  // entries that fit, and a CE entry that leads to the rest, placed here.
  // Always of even length.
  std::string place(const std::vector<std::string>& entries, std::size_t capacity);
  // Blocks used so far.
  uint32_t blocks() const { return blocks_; }
  // The blocks' bytes (blocks() × 2048), when kept.
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  // Room for `length` bytes in one block: the block and the offset.
  std::pair<uint32_t, uint32_t> reserve(std::size_t length);

  uint32_t first_block_ = 0;
  bool keep_bytes_ = false;
  uint32_t blocks_ = 0;
  std::size_t used_in_last_ = 0;
  std::vector<uint8_t> bytes_;
};

// Which record of a directory extent.
enum class RecordRole { Self, Parent, Entry };

// The identifier of a primary record with Rock Ridge, as ECMA-119 writes
// it: a file's name with ";1", a directory's name alone.
std::string rock_ridge_identifier(const DirectoryEntry& entry);

// The system use entries of one primary record of `node`: its "." (Self),
// its ".." (Parent) or the record of `entry`. The root's "." begins with SP
// and ends with ER. Block numbers (CL, PL) are those already assigned.
std::vector<std::string> system_use_entries(const DirectoryNode& node, const DirectoryEntry* entry,
                                            RecordRole role);

// Length of a primary record with Rock Ridge; placed as it will be, in a
// pool of its own.
std::size_t rock_ridge_record_length(const DirectoryNode& node, const DirectoryEntry* entry,
                                     RecordRole role);

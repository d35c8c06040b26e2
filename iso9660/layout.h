// Layout of a scanned tree as an ISO9660 volume: name order, directory
// sizing, path table size and the assignment of every extent, so that each
// block's address is known before the first block is produced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "iso9660/tree.h"

constexpr std::size_t ISO_BLOCK_SIZE = 2048;
// The most sectors a directory extent or a path table may occupy.
constexpr uint32_t MAX_EXTENT_SECTORS = 31;
// Blocks of the system area, then the primary descriptor and the terminator.
constexpr uint32_t SYSTEM_AREA_BLOCKS = 16;
constexpr uint32_t PRIMARY_DESCRIPTOR_BLOCK = 16;
constexpr uint32_t TERMINATOR_BLOCK = 17;
constexpr uint32_t PATH_TABLE_BLOCK = 18;
// Bytes of the largest path table.
constexpr uint32_t MAX_PATH_TABLE_BYTES = MAX_EXTENT_SECTORS * ISO_BLOCK_SIZE;
// The most blocks a volume may have: its size is a 32-bit field.
constexpr uint64_t MAX_VOLUME_BLOCKS = 0xFFFFFFFFull;
// The most entries a directory of 31 sectors can hold (records of the
// shortest name, 36 bytes: 55 in the first sector, 56 in each other one).
constexpr std::size_t MAX_DIRECTORY_ENTRIES =
    (ISO_BLOCK_SIZE - 2 * 34) / 36 + 30 * (ISO_BLOCK_SIZE / 36);
// With Joliet or Rock Ridge, whose records are longer, a directory extent
// may take up to 4096 sectors (8 MiB) and is handed over in pieces.
constexpr uint32_t MAX_EXTENDED_DIRECTORY_SECTORS = 4096;

// The most sectors a directory of this format may take, and the most
// entries such a directory can hold (records of the shortest name).
uint32_t max_directory_sectors(const VolumeFormat& format);
std::size_t max_directory_entries(const VolumeFormat& format);

// Name order: byte by byte; at the first difference a '.' comes before any
// other character, else the smaller byte comes first; a prefix comes before
// the longer name. True when `a` sorts before `b`.
bool name_order_before(const std::string& a, const std::string& b);

// Sectors of a directory extent whose "." and ".." records take `dot_bytes`
// and whose further records have these lengths, packed in order; a record
// never crosses a sector boundary.
uint32_t pack_sectors(std::size_t dot_bytes, const std::vector<std::size_t>& record_lengths);

// Length of the directory record of a name of `length` characters:
// (length with its lowest bit cleared) + 36.
std::size_t directory_record_length(std::size_t name_length);

// Sorts one directory's entry and child lists and sets its sector count and
// its own entry's size (count × 2048). Fails with "Error: Too many files in
// directory!\n" and the directory's path in quotes on the next line
// (ToolExit{1}) when it needs 32 sectors or more.
void size_directory(DirectoryNode* node);
// The same failure, for a directory known to hold too many entries.
[[noreturn]] void fail_too_many_files(const std::string& path);

// size_directory for every directory of the tree.
void size_directories(DirectoryNode* root);

// Bytes of one path table.
uint32_t path_table_size(const DirectoryNode* root);
// Bytes a directory of that name adds to a path table.
uint32_t path_table_record_length(const std::string& name);

// Fail (ToolExit{1}) when a path table of `bytes` would pass 31 sectors
// ("Error: Path table exceeds 31 sectors (too many directories)!\n") and
// when a volume of `blocks` would pass 2^32 - 1 blocks ("Error: Volume
// exceeds 4294967295 blocks!\n"). The scan checks them as the tree grows,
// the layout once more on the whole tree.
void check_path_table_bytes(uint64_t bytes);
void check_volume_blocks(uint64_t blocks);

// The directories in path table order: level by level, depth first within a
// level in child order.
std::vector<DirectoryNode*> directories_in_path_table_order(DirectoryNode* root);

// Gives every directory its extent and number (path table order) from
// `first_directory_block`, then every non-empty file its extent in file order
// (depth first, pre-order; a node's files before its children). Returns the
// volume's size in blocks. Fails as check_volume_blocks does.
uint32_t assign_extents(DirectoryNode* root, uint32_t first_directory_block);

// Blocks a file of `size` bytes occupies.
uint32_t blocks_of(uint32_t size);

// The Joliet tree's path tables and directories.
struct JolietLayout {
  uint32_t path_table_bytes = 0;
  uint32_t path_table_blocks = 0;
  uint32_t l_table_block = 0;
  uint32_t m_table_block = 0;
  uint32_t root_extent = 0;
  const DirectoryNode* root = nullptr;
  std::vector<DirectoryNode*> directory_order;
};

// The whole layout of a scanned tree. Without extensions: the descriptors
// at 16 and 17, the path tables from 18, the directories, the files. The
// extensions add a boot record (17) and a Joliet descriptor before the
// terminator, the Joliet path tables after the primary ones, and after the
// primary directories the continuation areas and the Joliet directories.
struct VolumeLayout {
  uint32_t path_table_bytes = 0;   // P
  uint32_t path_table_blocks = 0;  // n = ⌈P / 2048⌉
  uint32_t volume_blocks = 0;      // V: blocks the volume holds
  uint32_t origin = 0;             // the disc block of the volume's block 0
  uint32_t root_extent = 0;        // 18 + 2n
  uint32_t m_table_block = 0;      // 18 + n
  uint32_t l_table_block = PATH_TABLE_BLOCK;
  uint32_t terminator_block = TERMINATOR_BLOCK;
  uint32_t boot_record_block = 0;        // 0: none
  uint32_t joliet_descriptor_block = 0;  // 0: none
  uint32_t continuation_block = 0;
  uint32_t continuation_blocks = 0;
  JolietLayout joliet;
  std::vector<DirectoryNode*> directory_order;
};

// Sizes the directories, measures the path table and assigns the extents,
// every block address counted from the disc block `origin` where the
// volume's first block goes (a volume of a later session). Fails
// (ToolExit{1}) as size_directories does, and as check_path_table_bytes
// does before any extent is set.
VolumeLayout lay_out_volume(DirectoryNode* root, uint32_t origin = 0);

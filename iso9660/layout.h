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

// Name order: byte by byte; at the first difference a '.' comes before any
// other character, else the smaller byte comes first; a prefix comes before
// the longer name. True when `a` sorts before `b`.
bool name_order_before(const std::string& a, const std::string& b);

// Length of the directory record of a name of `length` characters:
// (length with its lowest bit cleared) + 36.
std::size_t directory_record_length(std::size_t name_length);

// Sorts every entry and child list and sets every directory's sector count
// and its own entry's size (count × 2048). Fails with "Error: Too many files
// in directory!\n" (ToolExit{1}) when a directory needs 32 sectors or more.
void size_directories(DirectoryNode* root);

// Bytes of one path table.
uint32_t path_table_size(const DirectoryNode* root);

// The directories in path table order: level by level, depth first within a
// level in child order.
std::vector<DirectoryNode*> directories_in_path_table_order(DirectoryNode* root);

// Gives every directory its extent and number (path table order) from
// `first_directory_block`, then every non-empty file its extent in file order
// (depth first, pre-order; a node's files before its children). Returns the
// volume's size in blocks. Fails (ToolExit{1}) when the volume would pass
// 2^32 blocks.
uint32_t assign_extents(DirectoryNode* root, uint32_t first_directory_block);

// Blocks a file of `size` bytes occupies.
uint32_t blocks_of(uint32_t size);

// The whole layout of a scanned tree.
struct VolumeLayout {
  uint32_t path_table_bytes = 0;        // P
  uint32_t path_table_blocks = 0;       // n = ⌈P / 2048⌉
  uint32_t volume_blocks = 0;           // V
  uint32_t root_extent = 0;             // 18 + 2n
  uint32_t m_table_block = 0;           // 18 + n
  std::vector<DirectoryNode*> directory_order;
};

// Sizes the directories, measures the path table and assigns the extents.
// Fails (ToolExit{1}) as size_directories does, and with "Error: Path table
// exceeds 31 sectors (too many directories)!\n" before any extent is set.
VolumeLayout lay_out_volume(DirectoryNode* root);

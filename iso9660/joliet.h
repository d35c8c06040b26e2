// Joliet: a supplementary volume descriptor (UCS-2 level 3) with its own
// path tables and directory tree of names up to 64 UCS-2 characters, whose
// file records point at the primary tree's file data. The Joliet tree keeps
// the host tree's shape even where Rock Ridge relocates deep directories.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iso9660/layout.h"
#include "iso9660/level1_names.h"
#include "iso9660/tree.h"

// Longest Joliet name, in UCS-2 characters.
constexpr std::size_t MAX_JOLIET_NAME = 64;

// The Joliet form of one host name: UTF-8 decoded (a name that is not valid
// UTF-8 is read as Latin-1), characters outside UCS-2, control characters
// and * / : ; ? \ made '_', cut to 64 characters keeping an extension of up
// to 16.
std::u16string joliet_name(const std::string& host_name);

// The Joliet names of one directory's names, in the order given, made
// unique: a name keeps its plain form unless an earlier one has it; later
// ones get a "_N" tail before their extension.
std::vector<std::u16string> unique_joliet_names(const std::vector<HostName>& host_names);

// Bytes a directory of that name adds to a Joliet path table.
uint32_t joliet_path_table_record_length(const std::u16string& name);

// Sorts the node's Joliet entries and sets its Joliet sector count. Fails
// as size_directory does when it needs 32 sectors or more.
void size_joliet_directory(DirectoryNode* node);

// Orders the Joliet tree (children, levels, numbers), measures its path
// table (failing as check_path_table_bytes does) and places its two tables
// from `first_block`. Returns the block after them.
uint32_t lay_out_joliet_tables(DirectoryNode* root, uint32_t first_block, JolietLayout* layout);

// Gives every Joliet directory its extent from `next_block`, in path table
// order. Returns the block after them.
uint64_t assign_joliet_extents(const JolietLayout& layout, uint64_t next_block);

// Fills one 2048-byte block with the supplementary volume descriptor.
void build_joliet_descriptor(uint8_t* block, const std::string& label, const VolumeLayout& layout,
                             const EntryTime& created);

// Fills `buffer` (zeroed, path_table_blocks × 2048 bytes) with one Joliet
// path table.
void emit_joliet_path_table(const JolietLayout& layout, uint8_t* buffer, bool big_endian);

// Fills `buffer` (zeroed, joliet_sector_count × 2048 bytes) with the node's
// Joliet directory extent.
void build_joliet_directory_extent(const DirectoryNode& node, uint8_t* buffer);

// The ISO9660 structures built in memory, one block or one extent at a time:
// the primary volume descriptor, the terminator, the path tables and the
// directory extents. Numbers go in both byte orders where the format has both.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iso9660/layout.h"
#include "iso9660/tree.h"

// Start of the data preparer identifier of every volume.
extern const char DATA_PREPARER_TEXT[];

// Fills one 2048-byte block with the primary volume descriptor. `label` is
// already upper case, at most 32 characters (empty: all spaces). `created`
// gives the root record's time and the creation and modification dates.
void build_primary_descriptor(uint8_t* block, const std::string& label, uint32_t volume_blocks,
                              uint32_t path_table_bytes, uint32_t l_table_block,
                              uint32_t m_table_block, uint32_t root_sectors, uint32_t root_extent,
                              const EntryTime& created);

// Fills one 2048-byte block with the volume descriptor set terminator.
void build_terminator(uint8_t* block);

// Fills `buffer` (zeroed, path_table_blocks × 2048 bytes) with one path
// table of the directories in `order`: little-endian numbers (L table) or
// big-endian (M table).
void emit_path_table(const std::vector<DirectoryNode*>& order, uint8_t* buffer, bool big_endian);

class ContinuationPool;

// Fills `buffer` (zeroed, sector_count × 2048 bytes) with the directory
// extent of `node`: the "." and ".." records, then one record per entry; a
// record never crosses a sector boundary. With Rock Ridge, each record
// carries its system use entries, and what does not fit goes into `pool`.
void build_directory_extent(const DirectoryNode& node, uint8_t* buffer,
                            ContinuationPool* pool = nullptr);

// The 7-byte recording date and time; the offset from Greenwich is 0. Years
// outside what the byte can hold are clamped.
void put_record_date(uint8_t* at, const EntryTime& time);

// Copies `text` and pads the field with spaces up to `length` bytes.
void put_text(uint8_t* at, const std::string& text, std::size_t length);

// A directory record without its identifier (length, extent, size, date,
// flags, volume sequence 1, identifier length); returns the identifier's place.
uint8_t* put_record_head(uint8_t* at, std::size_t length, uint32_t extent, uint32_t size,
                         const EntryTime& date, uint8_t flags, std::size_t identifier_length);

// Record flags of an entry: 02h for a directory, 01h when hidden.
uint8_t record_flags(const DirectoryEntry& entry);

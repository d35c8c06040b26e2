#include "iso9660/records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/byteorder.h"
#include "iso9660/rock_ridge.h"

const char DATA_PREPARER_TEXT[] = "ISO9660 Image File Formatter - Version 2.4A";

namespace {

constexpr std::size_t kDotRecordLength = 34;

uint32_t directory_bytes(const DirectoryNode& node) {
  return node.sector_count * static_cast<uint32_t>(ISO_BLOCK_SIZE);
}

// The records of a directory with Rock Ridge: identifiers as ECMA-119 writes
// them and the system use area after each.
void build_rock_ridge_extent(const DirectoryNode& node, uint8_t* buffer, ContinuationPool* pool) {
  const EntryTime& date = node.own_entry->date;
  uint8_t* at = buffer;
  std::size_t free_bytes = ISO_BLOCK_SIZE;
  const auto put = [&](const DirectoryEntry* entry, RecordRole role) {
    uint32_t extent = node.extent;
    uint32_t size = directory_bytes(node);
    uint8_t flags = ENTRY_DIRECTORY;
    std::string identifier(1, '\0');
    EntryTime when = date;
    if (role == RecordRole::Parent) {
      extent = node.parent->extent;
      size = directory_bytes(*node.parent);
      identifier[0] = 1;
    } else if (role == RecordRole::Entry) {
      const DirectoryNode* directory = entry->node;
      extent = directory != nullptr ? directory->extent : entry->extent;
      size = directory != nullptr ? directory_bytes(*directory) : entry->size;
      flags = record_flags(*entry);
      if (entry->flags & ENTRY_RELOCATED) flags &= static_cast<uint8_t>(~ENTRY_DIRECTORY);
      identifier = rock_ridge_identifier(*entry);
      when = entry->date;
    }
    const std::size_t base = 33 + identifier.size() + (identifier.size() % 2 == 0 ? 1 : 0);
    const std::string area = pool->place(system_use_entries(node, entry, role), 255 - base);
    const std::size_t length = base + area.size();
    if (length > free_bytes) {
      at += free_bytes;
      free_bytes = ISO_BLOCK_SIZE;
    }
    std::memcpy(put_record_head(at, length, extent, size, when, flags, identifier.size()),
                identifier.data(), identifier.size());
    std::memcpy(at + base, area.data(), area.size());
    at += length;
    free_bytes -= length;
  };
  put(nullptr, RecordRole::Self);
  put(nullptr, RecordRole::Parent);
  for (const auto& entry : node.entries) put(entry.get(), RecordRole::Entry);
}

}  // namespace

void put_text(uint8_t* at, const std::string& text, std::size_t length) {
  std::memset(at, ' ', length);
  std::memcpy(at, text.data(), std::min(text.size(), length));
}

void put_record_date(uint8_t* at, const EntryTime& time) {
  const int year = std::clamp<int>(time.year, 1900, 2155);
  at[0] = static_cast<uint8_t>(year - 1900);
  at[1] = static_cast<uint8_t>(time.month);
  at[2] = static_cast<uint8_t>(time.day);
  at[3] = static_cast<uint8_t>(time.hour);
  at[4] = static_cast<uint8_t>(time.minute);
  at[5] = static_cast<uint8_t>(time.second);
  at[6] = 0;
}

namespace {

// The 17-byte volume date: 16 digits and a zero offset byte.
void put_volume_date(uint8_t* at, const EntryTime& time) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%4u%02u%02u%02u%02u%02u00", unsigned{time.year} % 10000,
                unsigned{time.month}, unsigned{time.day}, unsigned{time.hour},
                unsigned{time.minute}, unsigned{time.second});
  std::memcpy(at, digits, 16);
  at[16] = 0;
}

}  // namespace

uint8_t* put_record_head(uint8_t* at, std::size_t length, uint32_t extent, uint32_t size,
                         const EntryTime& date, uint8_t flags, std::size_t identifier_length) {
  at[0] = static_cast<uint8_t>(length);
  at[1] = 0;
  put_both32(at + 2, extent);
  put_both32(at + 10, size);
  put_record_date(at + 18, date);
  at[25] = flags;
  at[26] = 0;
  at[27] = 0;
  put_both16(at + 28, 1);
  at[32] = static_cast<uint8_t>(identifier_length);
  return at + 33;
}

uint8_t record_flags(const DirectoryEntry& entry) {
  return static_cast<uint8_t>(((entry.flags & ENTRY_DIRECTORY) ? 0x02 : 0) |
                              ((entry.flags & ENTRY_HIDDEN) ? 0x01 : 0));
}

void build_primary_descriptor(uint8_t* block, const std::string& label, uint32_t volume_blocks,
                              uint32_t path_table_bytes, uint32_t l_table_block,
                              uint32_t m_table_block, uint32_t root_sectors, uint32_t root_extent,
                              const EntryTime& created) {
  std::memset(block, 0, ISO_BLOCK_SIZE);
  block[0] = 1;
  std::memcpy(block + 1, "CD001", 5);
  block[6] = 1;
  put_text(block + 8, "", 32);
  put_text(block + 40, label, 32);
  put_both32(block + 80, volume_blocks);
  put_both16(block + 120, 1);
  put_both16(block + 124, 1);
  put_both16(block + 128, static_cast<uint32_t>(ISO_BLOCK_SIZE));
  put_both32(block + 132, path_table_bytes);
  put_le32(block + 140, l_table_block);
  put_be32(block + 148, m_table_block);
  uint8_t* identifier = put_record_head(block + 156, kDotRecordLength, root_extent,
                                        root_sectors * static_cast<uint32_t>(ISO_BLOCK_SIZE),
                                        created, ENTRY_DIRECTORY, 1);
  identifier[0] = 0;
  put_text(block + 190, "", 128);
  put_text(block + 318, "", 128);
  put_text(block + 446, DATA_PREPARER_TEXT, 128);
  put_text(block + 574, "", 128);
  put_text(block + 702, "", 37 * 3);
  put_volume_date(block + 813, created);
  put_volume_date(block + 830, created);
  std::memset(block + 847, '0', 16);
  std::memset(block + 864, '0', 16);
  block[881] = 1;
}

void build_terminator(uint8_t* block) {
  std::memset(block, 0, ISO_BLOCK_SIZE);
  block[0] = 255;
  std::memcpy(block + 1, "CD001", 5);
  block[6] = 1;
}

void emit_path_table(const std::vector<DirectoryNode*>& order, uint8_t* buffer, bool big_endian) {
  uint8_t* at = buffer;
  for (const DirectoryNode* node : order) {
    const bool root = node->parent == node;
    const std::size_t length = root ? 1 : node->name.size();
    at[0] = static_cast<uint8_t>(length);
    at[1] = 0;
    if (big_endian) {
      put_be32(at + 2, node->extent);
      put_be16(at + 6, node->parent->directory_number);
    } else {
      put_le32(at + 2, node->extent);
      put_le16(at + 6, node->parent->directory_number);
    }
    if (root) {
      at[8] = 0;
    } else {
      std::memcpy(at + 8, node->name.data(), length);
    }
    at += 8 + length + (length & 1);
  }
}

void build_directory_extent(const DirectoryNode& node, uint8_t* buffer, ContinuationPool* pool) {
  if (format_of(node).rock_ridge) {
    build_rock_ridge_extent(node, buffer, pool);
    return;
  }
  const EntryTime& date = node.own_entry->date;
  uint8_t* at = buffer;
  put_record_head(at, kDotRecordLength, node.extent, directory_bytes(node), date, ENTRY_DIRECTORY,
                  1)[0] = 0;
  at += kDotRecordLength;
  put_record_head(at, kDotRecordLength, node.parent->extent, directory_bytes(*node.parent), date,
                  ENTRY_DIRECTORY, 1)[0] = 1;
  at += kDotRecordLength;
  std::size_t free_bytes = ISO_BLOCK_SIZE - 2 * kDotRecordLength;
  for (const auto& entry : node.entries) {
    const std::size_t name_length = entry->name.size();
    const std::size_t length = directory_record_length(name_length);
    if (length > free_bytes) {
      at += free_bytes;
      free_bytes = ISO_BLOCK_SIZE;
    }
    const uint8_t flags = record_flags(*entry);
    uint8_t* identifier =
        put_record_head(at, length, entry->extent, entry->size, entry->date, flags, name_length);
    std::memcpy(identifier, entry->name.data(), name_length);
    std::memcpy(identifier + name_length, ";1", 2);
    at += length;
    free_bytes -= length;
  }
}

#include "iso9660/joliet.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "common/byteorder.h"
#include "common/console.h"
#include "iso9660/records.h"

namespace {

// Extensions longer than this (with their dot) are cut like the rest.
constexpr std::size_t kLongestKeptExtension = 16;

// The code points of valid UTF-8, or false.
bool decode_utf8(const std::string& text, std::vector<char32_t>* out) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t value = 0;
    if (lead < 0x80) {
      value = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static const char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[extra] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
      return false;
    out->push_back(value);
    i += extra + 1;
  }
  return true;
}

bool forbidden(char32_t c) {
  return c < 0x20 || c > 0xFFFF || c == '*' || c == '/' || c == ':' || c == ';' || c == '?' ||
         c == '\\';
}

// Where a name's extension begins (its last dot), or the name's length.
std::size_t extension_start(const std::u16string& name) {
  const std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || dot == 0 || name.size() - dot > kLongestKeptExtension)
    return name.size();
  return dot;
}

// `base` + `tail` + `extension`, the base cut so that the whole fits 64.
std::u16string fitted(const std::u16string& name, const std::u16string& tail) {
  const std::size_t dot = extension_start(name);
  const std::u16string extension = name.substr(dot);
  const std::size_t room = MAX_JOLIET_NAME - extension.size() - tail.size();
  return name.substr(0, std::min(dot, room)) + tail + extension;
}

bool joliet_before(const DirectoryEntry* a, const DirectoryEntry* b) {
  return a->joliet_name < b->joliet_name;
}

uint32_t joliet_bytes(const DirectoryNode& node) {
  return node.joliet_sector_count * static_cast<uint32_t>(ISO_BLOCK_SIZE);
}

const DirectoryNode& joliet_parent(const DirectoryNode& node) {
  return node.natural_parent != nullptr ? *node.natural_parent : *node.parent;
}

std::string ucs2_bytes(const std::u16string& text) {
  std::string bytes;
  for (const char16_t c : text) {
    bytes.push_back(static_cast<char>(c >> 8));
    bytes.push_back(static_cast<char>(c & 0xFF));
  }
  return bytes;
}

// A text field in UCS-2, padded with UCS-2 spaces (an odd last byte is 0).
void put_ucs2_text(uint8_t* at, const std::string& text, std::size_t length) {
  std::memset(at, 0, length);
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    at[i] = 0;
    at[i + 1] = i / 2 < text.size() ? static_cast<uint8_t>(text[i / 2]) : ' ';
  }
}

std::string joliet_identifier(const DirectoryEntry& entry) {
  std::string identifier = ucs2_bytes(entry.joliet_name);
  if (entry.node == nullptr) identifier += ucs2_bytes(u";1");
  return identifier;
}

std::size_t joliet_record_length(const std::string& identifier) {
  return 33 + identifier.size() + (identifier.size() % 2 == 0 ? 1 : 0);
}

void order_joliet_tree(DirectoryNode* node, uint16_t level,
                       std::vector<std::vector<DirectoryNode*>>* levels) {
  node->joliet_level = level;
  if (levels->size() < level) levels->resize(level);
  (*levels)[level - 1].push_back(node);
  node->joliet_children.clear();
  for (const auto& child : node->children)
    if (!child->relocation_directory) node->joliet_children.push_back(child.get());
  node->joliet_children.insert(node->joliet_children.end(), node->moved_away.begin(),
                               node->moved_away.end());
  std::sort(node->joliet_children.begin(), node->joliet_children.end(),
            [](const DirectoryNode* a, const DirectoryNode* b) {
              return joliet_before(a->own_entry, b->own_entry);
            });
  for (DirectoryNode* child : node->joliet_children)
    order_joliet_tree(child, static_cast<uint16_t>(level + 1), levels);
}

}  // namespace

std::u16string joliet_name(const std::string& host_name) {
  std::vector<char32_t> points;
  if (!decode_utf8(host_name, &points)) {
    points.clear();
    for (const char c : host_name) points.push_back(static_cast<unsigned char>(c));
  }
  std::u16string name;
  for (const char32_t c : points) name.push_back(forbidden(c) ? u'_' : static_cast<char16_t>(c));
  if (name.size() > MAX_JOLIET_NAME) name = fitted(name, u"");
  return name;
}

std::vector<std::u16string> unique_joliet_names(const std::vector<HostName>& host_names) {
  std::vector<std::u16string> names;
  names.reserve(host_names.size());
  for (const HostName& host : host_names) names.push_back(joliet_name(host.name));
  std::unordered_set<std::u16string> taken(names.begin(), names.end());
  std::unordered_set<std::u16string> handed_out;
  for (std::u16string& name : names) {
    if (handed_out.insert(name).second) continue;
    for (unsigned tail = 1;; ++tail) {
      const std::string digits = "_" + std::to_string(tail);
      const std::u16string candidate = fitted(name, std::u16string(digits.begin(), digits.end()));
      if (taken.count(candidate) != 0) continue;
      taken.insert(candidate);
      handed_out.insert(candidate);
      name = candidate;
      break;
    }
  }
  return names;
}

uint32_t joliet_path_table_record_length(const std::u16string& name) {
  return static_cast<uint32_t>(8 + 2 * name.size());
}

void size_joliet_directory(DirectoryNode* node) {
  node->joliet_entries.clear();
  for (const auto& entry : node->entries)
    if (entry->node == nullptr || !entry->node->relocation_directory)
      node->joliet_entries.push_back(entry.get());
  std::sort(node->joliet_entries.begin(), node->joliet_entries.end(), joliet_before);
  std::vector<std::size_t> lengths;
  lengths.reserve(node->joliet_entries.size());
  for (const DirectoryEntry* entry : node->joliet_entries)
    lengths.push_back(joliet_record_length(joliet_identifier(*entry)));
  const uint32_t sectors = pack_sectors(2 * 34, lengths);
  if (sectors > max_directory_sectors(format_of(*node))) fail_too_many_files(node->path);
  node->joliet_sector_count = static_cast<uint16_t>(sectors);
}

uint32_t lay_out_joliet_tables(DirectoryNode* root, uint32_t first_block, JolietLayout* layout) {
  std::vector<std::vector<DirectoryNode*>> levels;
  order_joliet_tree(root, 1, &levels);
  layout->root = root;
  layout->directory_order.clear();
  for (const auto& level : levels)
    layout->directory_order.insert(layout->directory_order.end(), level.begin(), level.end());
  uint64_t bytes = 0;
  uint16_t number = 0;
  for (DirectoryNode* node : layout->directory_order) {
    node->joliet_number = ++number;
    bytes += node == root ? 10 : joliet_path_table_record_length(node->own_entry->joliet_name);
  }
  check_path_table_bytes(bytes);
  layout->path_table_bytes = static_cast<uint32_t>(bytes);
  layout->path_table_blocks = blocks_of(layout->path_table_bytes);
  layout->l_table_block = first_block;
  layout->m_table_block = first_block + layout->path_table_blocks;
  return layout->m_table_block + layout->path_table_blocks;
}

uint64_t assign_joliet_extents(const JolietLayout& layout, uint64_t next_block) {
  for (DirectoryNode* node : layout.directory_order) {
    node->joliet_extent = static_cast<uint32_t>(next_block);
    next_block += node->joliet_sector_count;
  }
  return next_block;
}

void build_joliet_descriptor(uint8_t* block, const std::string& label, const VolumeLayout& layout,
                             const EntryTime& created) {
  const JolietLayout& joliet = layout.joliet;
  build_primary_descriptor(block, label, layout.origin + layout.volume_blocks,
                           joliet.path_table_bytes, joliet.l_table_block, joliet.m_table_block,
                           joliet.root->joliet_sector_count, joliet.root->joliet_extent, created);
  block[0] = 2;
  // UCS-2 level 3.
  std::memcpy(block + 88, "%/E", 3);
  put_ucs2_text(block + 8, "", 32);
  put_ucs2_text(block + 40, label, 32);
  put_ucs2_text(block + 190, "", 128);
  put_ucs2_text(block + 318, "", 128);
  put_ucs2_text(block + 446, DATA_PREPARER_TEXT, 128);
  put_ucs2_text(block + 574, "", 128);
  for (std::size_t field = 702; field < 813; field += 37) put_ucs2_text(block + field, "", 37);
}

void emit_joliet_path_table(const JolietLayout& layout, uint8_t* buffer, bool big_endian) {
  uint8_t* at = buffer;
  for (const DirectoryNode* node : layout.directory_order) {
    const bool root = node == layout.root;
    const std::string name = root ? std::string(1, '\0') : ucs2_bytes(node->own_entry->joliet_name);
    at[0] = static_cast<uint8_t>(name.size());
    at[1] = 0;
    const uint16_t parent = joliet_parent(*node).joliet_number;
    if (big_endian) {
      put_be32(at + 2, node->joliet_extent);
      put_be16(at + 6, parent);
    } else {
      put_le32(at + 2, node->joliet_extent);
      put_le16(at + 6, parent);
    }
    std::memcpy(at + 8, name.data(), name.size());
    at += 8 + name.size() + (name.size() & 1);
  }
}

void build_joliet_directory_extent(const DirectoryNode& node, uint8_t* buffer) {
  const EntryTime& date = node.own_entry->date;
  const DirectoryNode& parent = joliet_parent(node);
  uint8_t* at = buffer;
  put_record_head(at, 34, node.joliet_extent, joliet_bytes(node), date, ENTRY_DIRECTORY, 1)[0] = 0;
  at += 34;
  put_record_head(at, 34, parent.joliet_extent, joliet_bytes(parent), date, ENTRY_DIRECTORY, 1)[0] =
      1;
  at += 34;
  std::size_t free_bytes = ISO_BLOCK_SIZE - 2 * 34;
  for (const DirectoryEntry* entry : node.joliet_entries) {
    const std::string identifier = joliet_identifier(*entry);
    const std::size_t length = joliet_record_length(identifier);
    if (length > free_bytes) {
      at += free_bytes;
      free_bytes = ISO_BLOCK_SIZE;
    }
    const DirectoryNode* directory = entry->node;
    const uint8_t flags = static_cast<uint8_t>((directory != nullptr ? 0x02 : 0) |
                                               ((entry->flags & ENTRY_HIDDEN) ? 0x01 : 0));
    std::memcpy(
        put_record_head(at, length, directory != nullptr ? directory->joliet_extent : entry->extent,
                        directory != nullptr ? joliet_bytes(*directory) : entry->size, entry->date,
                        flags, identifier.size()),
        identifier.data(), identifier.size());
    at += length;
    free_bytes -= length;
  }
}

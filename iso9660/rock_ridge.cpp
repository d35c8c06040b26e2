#include "iso9660/rock_ridge.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cstring>
#include <numeric>

#include "common/byteorder.h"
#include "iso9660/layout.h"
#include "iso9660/level1_names.h"
#include "iso9660/records.h"

namespace {

constexpr std::size_t kLongestRecord = 255;
constexpr std::size_t kContinuationEntryLength = 28;
// The most data bytes one NM or SL entry holds after its 5-byte head.
constexpr std::size_t kEntryDataBytes = kLongestRecord - 5;

const char kExtensionIdentifier[] = "RRIP_1991A";
const char kExtensionDescriptor[] =
    "THE ROCK RIDGE INTERCHANGE PROTOCOL PROVIDES SUPPORT FOR POSIX FILE SYSTEM SEMANTICS";
const char kExtensionSource[] =
    "PLEASE CONTACT THE DISC PUBLISHER FOR THE SOURCE OF THE PROTOCOL.  SEE PUBLISHER IDENTIFIER "
    "IN PRIMARY VOLUME DESCRIPTOR FOR CONTACT INFORMATION.";

// An entry of `length` bytes: signature, length, version 1, then zeros.
std::string entry_head(const char* signature, std::size_t length) {
  std::string entry(length, '\0');
  entry[0] = signature[0];
  entry[1] = signature[1];
  entry[2] = static_cast<char>(length);
  entry[3] = 1;
  return entry;
}

uint8_t* bytes_of(std::string& entry, std::size_t offset) {
  return reinterpret_cast<uint8_t*>(entry.data()) + offset;
}

std::string both32_entry(const char* signature, uint32_t value) {
  std::string entry = entry_head(signature, 12);
  put_both32(bytes_of(entry, 4), value);
  return entry;
}

uint32_t volume_mode(const PosixAttributes& posix, const VolumeFormat& format) {
  if (format.keep_owners) return posix.mode;
  const uint32_t type = posix.mode & S_IFMT;
  if (S_ISLNK(posix.mode)) return type | 0777;
  uint32_t permissions = 0444;
  if (S_ISDIR(posix.mode) || (posix.mode & 0111) != 0) permissions |= 0111;
  return type | permissions;
}

std::string px_entry(const PosixAttributes& posix, const VolumeFormat& format, uint32_t links) {
  std::string entry = entry_head("PX", 44);
  put_both32(bytes_of(entry, 4), volume_mode(posix, format));
  put_both32(bytes_of(entry, 12), links);
  put_both32(bytes_of(entry, 20), format.keep_owners ? posix.uid : 0);
  put_both32(bytes_of(entry, 28), format.keep_owners ? posix.gid : 0);
  put_both32(bytes_of(entry, 36), posix.serial);
  return entry;
}

// Modification, access and attribute change, each in the 7-byte form, UTC.
std::string tf_entry(const PosixAttributes& posix) {
  std::string entry = entry_head("TF", 5 + 3 * 7);
  entry[4] = 0x02 | 0x04 | 0x08;
  std::size_t at = 5;
  for (const std::time_t when : {posix.modified, posix.accessed, posix.changed}) {
    put_record_date(bytes_of(entry, at), utc_entry_time(when));
    at += 7;
  }
  return entry;
}

// A name or a link target cut into entries of at most 250 data bytes, each
// but the last flagged to continue in the next.
void append_nm_entries(const std::string& name, std::vector<std::string>* out) {
  std::size_t at = 0;
  do {
    const std::size_t piece = std::min(name.size() - at, kEntryDataBytes);
    std::string entry = entry_head("NM", 5 + piece);
    entry[4] = at + piece < name.size() ? 0x01 : 0x00;
    std::memcpy(entry.data() + 5, name.data() + at, piece);
    out->push_back(std::move(entry));
    at += piece;
  } while (at < name.size());
}

// The components of a link target: flags (root 08h, parent 04h, current
// 02h, continued 01h) and content; a long name is cut into continued pieces.
std::vector<std::string> link_components(const std::string& target) {
  std::vector<std::string> components;
  if (!target.empty() && target[0] == '/') components.push_back(std::string{'\x08', '\0'});
  for (const std::string& part : path_components(target)) {
    if (part == ".") {
      components.push_back(std::string{'\x02', '\0'});
    } else if (part == "..") {
      components.push_back(std::string{'\x04', '\0'});
    } else {
      constexpr std::size_t kPiece = kEntryDataBytes - 2;
      for (std::size_t p = 0; p < part.size(); p += kPiece) {
        const std::size_t length = std::min(kPiece, part.size() - p);
        std::string component{p + length < part.size() ? '\x01' : '\0', static_cast<char>(length)};
        components.push_back(component + part.substr(p, length));
      }
    }
  }
  return components;
}

void append_sl_entries(const std::string& target, std::vector<std::string>* out) {
  std::vector<std::string> pending;
  std::string body;
  const auto close_entry = [&](bool continued) {
    std::string entry = entry_head("SL", 5 + body.size());
    entry[4] = continued ? 0x01 : 0x00;
    std::memcpy(entry.data() + 5, body.data(), body.size());
    out->push_back(std::move(entry));
    body.clear();
  };
  for (const std::string& component : link_components(target)) {
    if (body.size() + component.size() > kEntryDataBytes) close_entry(true);
    body += component;
  }
  close_entry(false);
}

uint32_t subdirectory_links(const DirectoryNode& node) {
  if (node.relocation_directory) return 2;
  return static_cast<uint32_t>(2 + node.children.size() + node.moved_away.size());
}

std::string sp_entry() {
  std::string entry = entry_head("SP", 7);
  entry[4] = static_cast<char>(0xBE);
  entry[5] = static_cast<char>(0xEF);
  return entry;
}

std::string er_entry() {
  const std::size_t id = std::strlen(kExtensionIdentifier);
  const std::size_t descriptor = std::strlen(kExtensionDescriptor);
  const std::size_t source = std::strlen(kExtensionSource);
  std::string entry = entry_head("ER", 8 + id + descriptor + source);
  entry[4] = static_cast<char>(id);
  entry[5] = static_cast<char>(descriptor);
  entry[6] = static_cast<char>(source);
  entry[7] = 1;
  entry.replace(8, id + descriptor + source,
                std::string(kExtensionIdentifier) + kExtensionDescriptor + kExtensionSource);
  return entry;
}

std::string ce_entry(uint32_t block, uint32_t offset, uint32_t length) {
  std::string entry = entry_head("CE", kContinuationEntryLength);
  put_both32(bytes_of(entry, 4), block);
  put_both32(bytes_of(entry, 12), offset);
  put_both32(bytes_of(entry, 20), length);
  return entry;
}

void collect_deep(DirectoryNode* node, std::vector<DirectoryNode*>* deep) {
  for (const auto& child : node->children) {
    if (child->level > MAX_DIRECTORY_LEVEL) {
      deep->push_back(child.get());
    } else {
      collect_deep(child.get(), deep);
    }
  }
}

void set_levels(DirectoryNode* node, uint16_t level) {
  node->level = level;
  for (const auto& child : node->children)
    set_levels(child.get(), static_cast<uint16_t>(level + 1));
}

DirectoryNode* make_relocation_directory(DirectoryNode* root) {
  Level1NameSet names;
  for (const auto& entry : root->entries) names.claim(entry->name);
  auto entry = std::make_unique<DirectoryEntry>();
  entry->name = names.unique_name("RR_MOVED", true);
  std::string lower = entry->name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return static_cast<char>(std::tolower(c)); });
  entry->host_name = "." + lower;
  entry->flags = ENTRY_DIRECTORY | ENTRY_HIDDEN;
  entry->date = root->own_entry->date;
  entry->posix = root->own_entry->posix;
  entry->posix.mode = S_IFDIR | 0555;
  entry->posix.serial = 0xFFFFFFFFu;
  root->children.push_back(
      new_directory_node(root, entry.get(), root->path + entry->host_name + "/", entry->name, 2));
  DirectoryNode* node = root->children.back().get();
  node->relocation_directory = true;
  entry->node = node;
  root->entries.push_back(std::move(entry));
  return node;
}

}  // namespace

PosixAttributes posix_attributes(const struct stat& info) {
  PosixAttributes posix;
  posix.mode = info.st_mode;
  posix.uid = info.st_uid;
  posix.gid = info.st_gid;
  posix.device = info.st_rdev;
  posix.modified = info.st_mtime;
  posix.accessed = info.st_atime;
  posix.changed = info.st_ctime;
  return posix;
}

void relocate_deep_directories(DirectoryNode* root) {
  DirectoryNode* moved_root = nullptr;
  Level1NameSet moved_names;
  for (;;) {
    std::vector<DirectoryNode*> deep;
    collect_deep(root, &deep);
    if (deep.empty()) return;
    if (moved_root == nullptr) moved_root = make_relocation_directory(root);
    for (DirectoryNode* node : deep) {
      DirectoryNode* parent = node->parent;
      const auto place = std::find_if(parent->children.begin(), parent->children.end(),
                                      [node](const auto& child) { return child.get() == node; });
      std::unique_ptr<DirectoryNode> owned = std::move(*place);
      parent->children.erase(place);
      DirectoryEntry* link = node->own_entry;
      link->flags |= ENTRY_RELOCATED;
      auto moved = std::make_unique<DirectoryEntry>(*link);
      moved->flags = static_cast<uint16_t>((link->flags & ~ENTRY_RELOCATED) | ENTRY_MOVED);
      moved->name = moved_names.unique_name(link->host_name, true);
      node->own_entry = moved.get();
      node->name = moved->name;
      node->natural_parent = parent;
      parent->moved_away.push_back(node);
      node->parent = moved_root;
      moved_root->entries.push_back(std::move(moved));
      moved_root->children.push_back(std::move(owned));
      set_levels(node, 3);
    }
  }
}

std::pair<uint32_t, uint32_t> ContinuationPool::reserve(std::size_t length) {
  if (blocks_ == 0 || used_in_last_ + length > ISO_BLOCK_SIZE) {
    ++blocks_;
    used_in_last_ = 0;
    if (keep_bytes_) bytes_.resize(std::size_t{blocks_} * ISO_BLOCK_SIZE, 0);
  }
  const auto offset = static_cast<uint32_t>(used_in_last_);
  used_in_last_ += length;
  return {first_block_ + blocks_ - 1, offset};
}

std::string ContinuationPool::place(const std::vector<std::string>& entries, std::size_t capacity) {
  // Groups of entries: the first in the record, each further one in a
  // continuation area of its own, every group but the last ending with a CE.
  std::vector<std::pair<std::size_t, std::size_t>> groups;  // first entry, count
  std::vector<std::size_t> sizes;
  std::size_t next = 0;
  std::size_t limit = capacity;
  do {
    std::size_t rest = 0;
    for (std::size_t i = next; i < entries.size(); ++i) rest += entries[i].size();
    std::size_t count = 0;
    std::size_t size = 0;
    if (rest <= limit) {
      count = entries.size() - next;
      size = rest;
    } else {
      while (size + entries[next + count].size() + kContinuationEntryLength <= limit)
        size += entries[next + count++].size();
      size += kContinuationEntryLength;
    }
    groups.emplace_back(next, count);
    sizes.push_back(size);
    next += count;
    limit = ISO_BLOCK_SIZE;
  } while (next < entries.size());
  std::vector<std::pair<uint32_t, uint32_t>> places(groups.size());
  for (std::size_t g = 1; g < groups.size(); ++g) places[g] = reserve(sizes[g]);
  const auto group_bytes = [&](std::size_t g) {
    std::string bytes;
    for (std::size_t i = 0; i < groups[g].second; ++i) bytes += entries[groups[g].first + i];
    if (g + 1 < groups.size())
      bytes +=
          ce_entry(places[g + 1].first, places[g + 1].second, static_cast<uint32_t>(sizes[g + 1]));
    return bytes;
  };
  if (keep_bytes_) {
    for (std::size_t g = 1; g < groups.size(); ++g) {
      const std::string bytes = group_bytes(g);
      const std::size_t at =
          std::size_t{places[g].first - first_block_} * ISO_BLOCK_SIZE + places[g].second;
      std::memcpy(bytes_.data() + at, bytes.data(), bytes.size());
    }
  }
  std::string area = group_bytes(0);
  if (area.size() % 2 != 0) area.push_back('\0');
  return area;
}

std::string rock_ridge_identifier(const DirectoryEntry& entry) {
  if (entry.flags & ENTRY_DIRECTORY && !(entry.flags & ENTRY_RELOCATED)) return entry.name;
  return entry.name + ";1";
}

std::vector<std::string> system_use_entries(const DirectoryNode& node, const DirectoryEntry* entry,
                                            RecordRole role) {
  const VolumeFormat& format = format_of(node);
  std::vector<std::string> out;
  const bool root = node.parent == &node;
  if (role == RecordRole::Self) {
    if (root) out.push_back(sp_entry());
    out.push_back(px_entry(node.own_entry->posix, format, subdirectory_links(node)));
    out.push_back(tf_entry(node.own_entry->posix));
    if (root) out.push_back(er_entry());
    return out;
  }
  if (role == RecordRole::Parent) {
    const DirectoryNode& parent =
        node.natural_parent != nullptr ? *node.natural_parent : *node.parent;
    out.push_back(px_entry(parent.own_entry->posix, format, subdirectory_links(parent)));
    out.push_back(tf_entry(parent.own_entry->posix));
    if (node.natural_parent != nullptr)
      out.push_back(both32_entry("PL", node.natural_parent->extent));
    return out;
  }
  const uint32_t links = entry->node != nullptr ? subdirectory_links(*entry->node) : 1;
  out.push_back(px_entry(entry->posix, format, links));
  out.push_back(tf_entry(entry->posix));
  if (S_ISCHR(entry->posix.mode) || S_ISBLK(entry->posix.mode)) {
    std::string pn = entry_head("PN", 20);
    put_both32(bytes_of(pn, 4), static_cast<uint32_t>(major(entry->posix.device)));
    put_both32(bytes_of(pn, 12), static_cast<uint32_t>(minor(entry->posix.device)));
    out.push_back(std::move(pn));
  }
  if (entry->flags & ENTRY_LINK) append_sl_entries(entry->link_target, &out);
  if (entry->flags & ENTRY_RELOCATED) out.push_back(both32_entry("CL", entry->node->extent));
  if (entry->flags & ENTRY_MOVED) out.push_back(entry_head("RE", 4));
  append_nm_entries(entry->host_name, &out);
  return out;
}

std::size_t rock_ridge_record_length(const DirectoryNode& node, const DirectoryEntry* entry,
                                     RecordRole role) {
  const std::size_t identifier =
      role == RecordRole::Entry ? rock_ridge_identifier(*entry).size() : 1;
  const std::size_t base = 33 + identifier + (identifier % 2 == 0 ? 1 : 0);
  ContinuationPool scratch(0, false);
  return base + scratch.place(system_use_entries(node, entry, role), kLongestRecord - base).size();
}

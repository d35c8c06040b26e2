#include "iso9660/tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "common/console.h"
#include "iso9660/el_torito.h"
#include "iso9660/joliet.h"
#include "iso9660/layout.h"
#include "iso9660/level1_names.h"
#include "iso9660/rock_ridge.h"

namespace {

constexpr uint64_t kLargestFileSize = 0xFFFFFFFFull;

// One name of a host directory with what stat says of it (links followed,
// except with /ROCKRIDGE, which records links as links).
struct HostItem {
  std::string name;
  struct stat info {};
  bool recorded_link = false;
};

bool is_directory(const HostItem& item) { return S_ISDIR(item.info.st_mode); }
bool is_regular(const HostItem& item) { return S_ISREG(item.info.st_mode); }
bool is_hidden(const HostItem& item) { return item.name[0] == '.'; }
bool is_system(const HostItem& item) {
  return !is_directory(item) && !is_regular(item) && !item.recorded_link;
}

FileIdentity identity_of(const struct stat& info) { return FileIdentity{info.st_dev, info.st_ino}; }

bool acceptable(const HostItem& item, const ScanOptions& options) {
  if (is_directory(item) && !options.recurse) return false;
  if (is_hidden(item) && !options.include_hidden) return false;
  if (is_system(item) && !options.include_system) return false;
  if (options.has_excluded_file && is_regular(item) &&
      identity_of(item.info) == options.excluded_file)
    return false;
  return true;
}

// Reads the names of one host directory that `options` accept; false when
// it cannot be read. A name that vanished since it was listed is passed
// over; a link that leads nowhere is described by the link itself (neither
// file nor directory: a system file). Reading stops with the "Too many
// files" failure as soon as more names are accepted than a directory can
// hold, however many the host directory has.
bool read_host_directory(const std::string& path, const ScanOptions& options,
                         std::vector<HostItem>* items) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return false;
  const int fd = dirfd(dir);
  const bool follow_links = !options.format.rock_ridge;
  bool complete = true;
  for (;;) {
    errno = 0;
    const dirent* found = readdir(dir);
    if (found == nullptr) {
      complete = errno == 0;
      break;
    }
    HostItem item;
    item.name = found->d_name;
    if (item.name == "." || item.name == "..") continue;
    if ((!follow_links || fstatat(fd, found->d_name, &item.info, 0) != 0) &&
        fstatat(fd, found->d_name, &item.info, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    item.recorded_link = !follow_links && S_ISLNK(item.info.st_mode);
    if (!acceptable(item, options)) continue;
    if (items->size() == max_directory_entries(options.format)) {
      closedir(dir);
      fail_too_many_files(path);
    }
    items->push_back(std::move(item));
  }
  closedir(dir);
  return complete;
}

// A link's target, or "" when it cannot be read.
std::string link_target(const std::string& path) {
  std::vector<char> target(4096);
  const ssize_t n = readlink(path.c_str(), target.data(), target.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return "";
  return std::string(target.data(), static_cast<std::size_t>(n));
}

std::unique_ptr<DirectoryEntry> entry_for(const HostItem& item, std::string name) {
  auto entry = std::make_unique<DirectoryEntry>();
  entry->name = std::move(name);
  entry->host_name = item.name;
  entry->date = local_entry_time(item.info.st_mtime);
  entry->date.milliseconds = static_cast<uint16_t>(item.info.st_mtim.tv_nsec / 1000000);
  if (is_directory(item)) entry->flags |= ENTRY_DIRECTORY;
  if (is_hidden(item)) entry->flags |= ENTRY_HIDDEN;
  if (is_system(item)) entry->flags |= ENTRY_SYSTEM;
  if ((item.info.st_mode & S_IWUSR) == 0) entry->flags |= ENTRY_READONLY;
  if (item.recorded_link) entry->flags |= ENTRY_LINK;
  entry->posix = posix_attributes(item.info);
  // Special files are never opened, so they hold no data in the volume.
  if (is_regular(item)) entry->size = static_cast<uint32_t>(item.info.st_size);
  return entry;
}

[[noreturn]] void fail_too_deep(const std::string& path) {
  fail_with(format_text("Error: Directory depth exceeds 8 levels!\n\"%s\"\n", path.c_str()));
}

// What the scan has taken so far, checked against the volume's limits each
// time it grows, so that a tree that multiplies itself through links fails
// as soon as it passes one, not once it has been read whole.
struct ScanTotals {
  uint64_t entries = 0;
  uint64_t path_table_bytes = 0;
  uint64_t joliet_path_table_bytes = 0;
  // The system area and descriptors, the directory extents, the file data.
  uint64_t blocks = PATH_TABLE_BLOCK;
  std::vector<FileIdentity> ancestry;

  uint64_t volume_blocks() const {
    return blocks + 2 * ((path_table_bytes + ISO_BLOCK_SIZE - 1) / ISO_BLOCK_SIZE);
  }
};

struct ScanState {
  const ScanOptions& options;
  ScanTotals totals;
  // The next Rock Ridge serial number.
  uint32_t serial = 1;
};

// Rock Ridge relocates directories deeper than level 8; without it they
// are refused.
bool too_deep(uint16_t level, const ScanOptions& options) {
  return level > MAX_DIRECTORY_LEVEL && !options.format.rock_ridge;
}

void scan_node(DirectoryNode* node, ScanState* state) {
  if (too_deep(node->level, state->options)) fail_too_deep(node->path);
  ScanTotals& totals = state->totals;
  std::vector<HostItem> items;
  if (!read_host_directory(node->path, state->options, &items)) {
    if (node->level == 1)
      fail_with(format_text("Error: Unable to read directory \"%s\"\n", node->path.c_str()));
    err_text(format_text("Warning: Unable to read directory \"%s\"; it is left empty\n",
                         node->path.c_str()));
  }
  totals.entries += items.size();
  if (totals.entries > MAX_VOLUME_ENTRIES)
    fail_with(format_text("Error: Too many files in volume (more than %u)!\n", MAX_VOLUME_ENTRIES));
  // Names are handed out in host name order so that the same tree always
  // gets the same names, whatever order the host lists it in.
  std::sort(items.begin(), items.end(),
            [](const HostItem& a, const HostItem& b) { return a.name < b.name; });
  std::vector<HostName> host_names;
  for (const HostItem& item : items) host_names.push_back(HostName{item.name, is_directory(item)});
  const std::vector<std::string> names = unique_level1_names(host_names);
  const VolumeFormat& format = state->options.format;
  std::vector<std::u16string> joliet_names;
  if (format.joliet) joliet_names = unique_joliet_names(host_names);
  std::vector<std::pair<const HostItem*, DirectoryEntry*>> directories;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const HostItem& item = items[i];
    if (is_regular(item) && static_cast<uint64_t>(item.info.st_size) > kLargestFileSize) {
      fail_with(format_text(
          "Error: File \"%s%s\" is 4 GiB or larger; an ISO9660 volume cannot hold it!\n",
          node->path.c_str(), item.name.c_str()));
    }
    node->entries.push_back(entry_for(item, names[i]));
    DirectoryEntry* entry = node->entries.back().get();
    entry->posix.serial = state->serial++;
    if (item.recorded_link) entry->link_target = link_target(node->path + item.name);
    if (format.joliet) entry->joliet_name = joliet_names[i];
    totals.blocks += blocks_of(entry->size);
    if (is_directory(item)) directories.emplace_back(&item, entry);
  }
  size_directory(node);
  totals.blocks += node->sector_count;
  check_volume_blocks(totals.volume_blocks());
  for (const auto& [item, own_entry] : directories) {
    const std::string path = node->path + item->name + "/";
    // A directory counts at its depth in the volume, however it is reached.
    const auto level = static_cast<uint16_t>(node->level + 1);
    if (too_deep(level, state->options)) fail_too_deep(path);
    totals.path_table_bytes += path_table_record_length(own_entry->name);
    check_path_table_bytes(totals.path_table_bytes);
    if (format.joliet) {
      totals.joliet_path_table_bytes += joliet_path_table_record_length(own_entry->joliet_name);
      check_path_table_bytes(totals.joliet_path_table_bytes);
    }
    node->children.push_back(new_directory_node(node, own_entry, path, own_entry->name, level));
    DirectoryNode* child = node->children.back().get();
    own_entry->node = child;
    const FileIdentity identity = identity_of(item->info);
    if (std::find(totals.ancestry.begin(), totals.ancestry.end(), identity) !=
        totals.ancestry.end()) {
      err_text(
          format_text("Warning: \"%s\" leads back into its own ancestry; it is not descended\n",
                      child->path.c_str()));
      size_directory(child);
      totals.blocks += child->sector_count;
      continue;
    }
    totals.ancestry.push_back(identity);
    scan_node(child, state);
    totals.ancestry.pop_back();
  }
}

}  // namespace

namespace {

EntryTime entry_time_of(const std::tm& local) {
  EntryTime out;
  out.year = static_cast<uint16_t>(local.tm_year + 1900);
  out.month = static_cast<uint16_t>(local.tm_mon + 1);
  out.day = static_cast<uint16_t>(local.tm_mday);
  out.day_of_week = static_cast<uint16_t>(local.tm_wday);
  out.hour = static_cast<uint16_t>(local.tm_hour);
  out.minute = static_cast<uint16_t>(local.tm_min);
  out.second = static_cast<uint16_t>(local.tm_sec);
  return out;
}

}  // namespace

EntryTime local_entry_time(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return entry_time_of(local);
}

EntryTime utc_entry_time(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  return entry_time_of(utc);
}

std::vector<std::string> path_components(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= path.size()) {
    std::size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

const VolumeFormat& format_of(const DirectoryNode& node) {
  static const VolumeFormat kLevel1;
  return node.format != nullptr ? *node.format : kLevel1;
}

std::time_t volume_creation_time() {
  const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
  if (fixed == nullptr) return std::time(nullptr);
  // Digits only, and few enough that the value cannot overflow.
  const std::string text = fixed;
  bool whole = !text.empty() && text.size() <= 12 &&
               text.find_first_not_of("0123456789") == std::string::npos;
  std::tm local{};
  std::time_t seconds = 0;
  if (whole) {
    seconds = static_cast<std::time_t>(std::stoll(text));
    whole = localtime_r(&seconds, &local) != nullptr && local.tm_year + 1900 <= 9999;
  }
  if (!whole) {
    fail_with(
        "Error: SOURCE_DATE_EPOCH must be a whole number of seconds since 1970 that falls before "
        "the "
        "year 10000!\n");
  }
  return seconds;
}

std::unique_ptr<DirectoryEntry> make_root_entry(std::time_t now) {
  auto entry = std::make_unique<DirectoryEntry>();
  entry->date = local_entry_time(now);
  entry->flags = ENTRY_DIRECTORY;
  entry->name = ".";
  return entry;
}

std::unique_ptr<DirectoryNode> new_directory_node(DirectoryNode* parent, DirectoryEntry* own_entry,
                                                  const std::string& path, const std::string& name,
                                                  uint16_t level) {
  auto node = std::make_unique<DirectoryNode>();
  node->parent = parent;
  node->own_entry = own_entry;
  node->path = path;
  node->name = name;
  node->level = level;
  if (parent != nullptr) node->format = parent->format;
  return node;
}

std::unique_ptr<DirectoryNode> new_root_node(std::unique_ptr<DirectoryEntry> root_entry,
                                             const std::string& path) {
  DirectoryEntry* own_entry = root_entry.get();
  std::unique_ptr<DirectoryNode> root = new_directory_node(nullptr, own_entry, path, ".", 1);
  root->parent = root.get();
  root->owned_entry = std::move(root_entry);
  return root;
}

void scan_directory(DirectoryNode* node, const ScanOptions& options) {
  ScanState state{options, {}};
  state.totals.path_table_bytes = path_table_record_length(node->name);
  state.totals.joliet_path_table_bytes = path_table_record_length(node->name);
  struct stat info {};
  if (stat(node->path.c_str(), &info) == 0) state.totals.ancestry.push_back(identity_of(info));
  scan_node(node, &state);
}

std::unique_ptr<DirectoryNode> scan_tree(const std::string& source_path,
                                         const ScanOptions& options) {
  std::unique_ptr<DirectoryNode> root = new_root_node(make_root_entry(options.now), source_path);
  root->owned_format = std::make_unique<VolumeFormat>(options.format);
  root->format = root->owned_format.get();
  struct stat info {};
  if (stat(source_path.c_str(), &info) == 0) root->own_entry->posix = posix_attributes(info);
  root->own_entry->posix.modified = root->own_entry->posix.accessed =
      root->own_entry->posix.changed = options.now;
  scan_directory(root.get(), options);
  if (options.format.rock_ridge) relocate_deep_directories(root.get());
  if (options.format.bootable()) add_boot_catalog(root.get());
  return root;
}

#include "iso9660/tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "common/console.h"
#include "iso9660/level1_names.h"

namespace {

constexpr uint64_t kLargestFileSize = 0xFFFFFFFFull;

// One name of a host directory with what stat says of it (links followed).
struct HostItem {
  std::string name;
  struct stat info {};
};

bool is_directory(const HostItem& item) { return S_ISDIR(item.info.st_mode); }
bool is_regular(const HostItem& item) { return S_ISREG(item.info.st_mode); }
bool is_hidden(const HostItem& item) { return item.name[0] == '.'; }
bool is_system(const HostItem& item) { return !is_directory(item) && !is_regular(item); }

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

// Reads the names of one host directory; false when it cannot be read. A name
// that vanished since it was listed is passed over; a link that leads nowhere
// is described by the link itself (neither file nor directory: a system file).
bool read_host_directory(const std::string& path, std::vector<HostItem>* items) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return false;
  const int fd = dirfd(dir);
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
    if (fstatat(fd, found->d_name, &item.info, 0) != 0 &&
        fstatat(fd, found->d_name, &item.info, AT_SYMLINK_NOFOLLOW) != 0)
      continue;
    items->push_back(std::move(item));
  }
  closedir(dir);
  return complete;
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
  // Special files are never opened, so they hold no data in the volume.
  if (is_regular(item)) entry->size = static_cast<uint32_t>(item.info.st_size);
  return entry;
}

void scan_node(DirectoryNode* node, const ScanOptions& options, std::vector<FileIdentity>* ancestry) {
  if (node->level > MAX_DIRECTORY_LEVEL) fail_with("Error: Directory depth exceeds 8 levels!\n");
  std::vector<HostItem> items;
  if (!read_host_directory(node->path, &items)) {
    if (node->level == 1) fail_with(format_text("Error: Unable to read directory \"%s\"\n", node->path.c_str()));
    err_text(format_text("Warning: Unable to read directory \"%s\"; it is left empty\n", node->path.c_str()));
  }
  // Names are handed out in host name order so that the same tree always
  // gets the same names, whatever order the host lists it in.
  std::sort(items.begin(), items.end(), [](const HostItem& a, const HostItem& b) { return a.name < b.name; });
  Level1NameSet names;
  for (const HostItem& item : items) {
    if (!acceptable(item, options)) continue;
    if (is_regular(item) && static_cast<uint64_t>(item.info.st_size) > kLargestFileSize) {
      fail_with(format_text("Error: File \"%s%s\" is 4 GiB or larger; an ISO9660 volume cannot hold it!\n",
                            node->path.c_str(), item.name.c_str()));
    }
    std::unique_ptr<DirectoryEntry> entry = entry_for(item, names.unique_name(item.name, is_directory(item)));
    DirectoryEntry* own_entry = entry.get();
    node->entries.push_back(std::move(entry));
    if (!is_directory(item)) continue;
    node->children.push_back(new_directory_node(node, own_entry, node->path + item.name + "/",
                                                own_entry->name, static_cast<uint16_t>(node->level + 1)));
    DirectoryNode* child = node->children.back().get();
    const FileIdentity identity = identity_of(item.info);
    if (std::find(ancestry->begin(), ancestry->end(), identity) != ancestry->end()) {
      err_text(format_text("Warning: \"%s\" leads back into its own ancestry; it is not descended\n",
                           child->path.c_str()));
      continue;
    }
    ancestry->push_back(identity);
    scan_node(child, options, ancestry);
    ancestry->pop_back();
  }
}

}  // namespace

EntryTime local_entry_time(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
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

std::time_t volume_creation_time() {
  const char* fixed = std::getenv("SOURCE_DATE_EPOCH");
  if (fixed != nullptr && *fixed != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long seconds = std::strtoll(fixed, &end, 10);
    if (*end == '\0' && errno == 0 && seconds >= 0) return static_cast<std::time_t>(seconds);
  }
  return std::time(nullptr);
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
  std::vector<FileIdentity> ancestry;
  struct stat info {};
  if (stat(node->path.c_str(), &info) == 0) ancestry.push_back(identity_of(info));
  scan_node(node, options, &ancestry);
}

std::unique_ptr<DirectoryNode> scan_tree(const std::string& source_path, const ScanOptions& options) {
  std::unique_ptr<DirectoryNode> root = new_root_node(make_root_entry(options.now), source_path);
  scan_directory(root.get(), options);
  return root;
}

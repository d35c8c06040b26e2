// The scanned directory tree shared by the two ISO9660 producers (the image
// tool and the on-the-fly recording source): one node per directory, one
// entry per file or subdirectory, with the level 1 names written into the
// volume beside the host names used to reach the files.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

// Flags of a DirectoryEntry.
constexpr uint8_t ENTRY_ARCHIVE = 0x01;
constexpr uint8_t ENTRY_DIRECTORY = 0x02;
constexpr uint8_t ENTRY_HIDDEN = 0x04;
constexpr uint8_t ENTRY_READONLY = 0x08;
constexpr uint8_t ENTRY_SYSTEM = 0x10;
// Flags of the volume's extensions (/ROCKRIDGE, /BOOT).
// A symbolic link recorded as a link: no data, its target in the entry.
constexpr uint16_t ENTRY_LINK = 0x20;
// A directory moved away to keep the primary tree eight levels deep: its
// record in the primary tree is a child link to where it went.
constexpr uint16_t ENTRY_RELOCATED = 0x40;
// The record of a moved directory in the relocation directory.
constexpr uint16_t ENTRY_MOVED = 0x80;
// The El Torito boot catalog, made up by the builder.
constexpr uint16_t ENTRY_BOOT_CATALOG = 0x100;
// The boot image whose boot information table is patched as it is copied.
constexpr uint16_t ENTRY_BOOT_INFO = 0x200;

// Deepest directory level of a volume; the root is level 1.
constexpr uint16_t MAX_DIRECTORY_LEVEL = 8;
// The most files and subdirectories a volume may hold in all, far more than
// a disc can: it bounds the time and memory a scan may take.
constexpr unsigned MAX_VOLUME_ENTRIES = 1000000;

// A local date and time, as the directory records carry them.
struct EntryTime {
  uint16_t year = 1980;
  uint16_t month = 1;
  uint16_t day = 1;
  uint16_t day_of_week = 0;
  uint16_t hour = 0;
  uint16_t minute = 0;
  uint16_t second = 0;
  uint16_t milliseconds = 0;
  bool operator==(const EntryTime&) const = default;
};

// `when` in local time (the TZ setting of the process).
EntryTime local_entry_time(std::time_t when);
// `when` in UTC.
EntryTime utc_entry_time(std::time_t when);

struct DirectoryNode;

// What the switches ask of the volume beyond level 1 names.
struct VolumeFormat {
  // A Joliet tree of UCS-2 names beside the primary one.
  bool joliet = false;
  // System use entries (names, modes, links, times, deep trees) in the
  // primary tree; symbolic links are recorded, not followed.
  bool rock_ridge = false;
  // Owners and modes as the tree has them (else owner 0, modes normalised).
  bool keep_owners = false;
  // The boot image's path below the source folder; empty: not bootable.
  std::string boot_path;
  // 512-byte sectors the firmware loads of the boot image; 0: not given,
  // the usual 4 (see load_sectors).
  uint16_t boot_load_sectors = 0;
  // Patch the boot information table into the boot image.
  bool boot_info = false;
  bool bootable() const { return !boot_path.empty(); }
  uint16_t load_sectors() const { return boot_load_sectors != 0 ? boot_load_sectors : 4; }
};

// What Rock Ridge records of a host file.
struct PosixAttributes {
  uint32_t mode = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
  uint64_t device = 0;  // st_rdev of a device file
  uint32_t serial = 0;  // unique within the volume
  std::time_t modified = 0;
  std::time_t accessed = 0;
  std::time_t changed = 0;
};

// One file or subdirectory as the scan found it.
struct DirectoryEntry {
  // First logical block; 0 for an empty file. Set by extent assignment.
  uint32_t extent = 0;
  // Modification time of the host file, local time.
  EntryTime date;
  // Level 1 name written into the volume: upper case, 8.3, at most 12 characters.
  std::string name;
  // Name of the file on the host file system, used to open it.
  std::string host_name;
  uint16_t flags = 0;
  // Length in bytes (below 4 GiB: larger files are refused by the scan). For a
  // subdirectory, its sector count × 2048 once the directories are sized.
  uint32_t size = 0;
  // With /ROCKRIDGE: the host attributes, a link's target.
  PosixAttributes posix;
  std::string link_target;
  // With /JOLIET: the UCS-2 name of the Joliet tree.
  std::u16string joliet_name;
  // A subdirectory's node.
  DirectoryNode* node = nullptr;
};

// One directory of the tree.
struct DirectoryNode {
  // Files and subdirectories alike, in name order once sized.
  std::vector<std::unique_ptr<DirectoryEntry>> entries;
  // Subdirectory nodes, in name order once sized.
  std::vector<std::unique_ptr<DirectoryNode>> children;
  // The root is its own parent.
  DirectoryNode* parent = nullptr;
  // This directory's entry in its parent's list (the root's is owned_entry).
  DirectoryEntry* own_entry = nullptr;
  std::unique_ptr<DirectoryEntry> owned_entry;
  // 1 for the root.
  uint16_t level = 1;
  // Sectors of the directory extent (1..31), set by sizing.
  uint16_t sector_count = 1;
  // Position in the path table, from 1; set by extent assignment.
  uint16_t directory_number = 0;
  // First block of the directory extent.
  uint32_t extent = 0;
  // "." for the root, else the entry's name.
  std::string name;
  // Host path of the directory, ending with '/'.
  std::string path;
  // What the volume is made of; the root's format, shared by every node.
  const VolumeFormat* format = nullptr;
  // With /ROCKRIDGE, a directory moved into the relocation directory: the
  // parent that holds its child link, which the Joliet tree keeps too.
  DirectoryNode* natural_parent = nullptr;
  // Directories moved away from below this one (the Joliet tree keeps them here).
  std::vector<DirectoryNode*> moved_away;
  // The relocation directory, made by the builder: not in the Joliet tree.
  bool relocation_directory = false;
  // With /JOLIET: the Joliet tree's directory extent, number and children.
  uint32_t joliet_extent = 0;
  uint16_t joliet_sector_count = 1;
  uint16_t joliet_number = 0;
  uint16_t joliet_level = 1;
  std::vector<DirectoryNode*> joliet_children;
  std::vector<DirectoryEntry*> joliet_entries;
  // The root's own: the format every node points at.
  std::unique_ptr<VolumeFormat> owned_format;
  // The root's, with /BOOT: the boot image and the boot catalog entries.
  DirectoryEntry* boot_image = nullptr;
  DirectoryEntry* boot_catalog = nullptr;
};

// The parts of a '/'-separated path, empty ones ("a//b", a leading or a
// trailing '/') left out.
std::vector<std::string> path_components(const std::string& path);

// The node's format; the level 1 volume for a node made without one.
const VolumeFormat& format_of(const DirectoryNode& node);

// The root entry: the given time (local), ENTRY_DIRECTORY, name ".".
// The time a new volume is made at: SOURCE_DATE_EPOCH (seconds since 1970)
// when the environment sets it, so that the same tree gives the same image
// byte for byte; otherwise the clock. A value that is not a whole number of
// seconds whose local date falls before the year 10000 (empty, signed, a
// fraction, an exponent) fails with "Error: SOURCE_DATE_EPOCH must be a whole
// number of seconds since 1970 that falls before the year 10000!\n"
// (ToolExit{1}).
std::time_t volume_creation_time();

std::unique_ptr<DirectoryEntry> make_root_entry(std::time_t now = volume_creation_time());

// An empty subdirectory node below `parent`.
std::unique_ptr<DirectoryNode> new_directory_node(DirectoryNode* parent, DirectoryEntry* own_entry,
                                                  const std::string& path, const std::string& name,
                                                  uint16_t level);
// An empty root node: level 1, name ".", its own parent, owning `root_entry`.
std::unique_ptr<DirectoryNode> new_root_node(std::unique_ptr<DirectoryEntry> root_entry,
                                             const std::string& path);

// Identity of a host file (device and inode).
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct ScanOptions {
  bool recurse = false;
  bool include_hidden = false;
  bool include_system = false;
  // A file never taken into the volume (the image being replaced, when it
  // lies inside the tree).
  bool has_excluded_file = false;
  FileIdentity excluded_file;
  // Time of the root entry.
  std::time_t now = volume_creation_time();
  VolumeFormat format;
};

// Fills the tree below `node` (whose path must end with '/') from the host
// directory, depth first, and sizes each directory as it is read. Names
// beginning with '.' are hidden; anything that is neither a regular file nor
// a directory is a system file, recorded with size 0 and never opened.
// Symbolic links are followed; a directory that leads back into its own
// ancestry is kept empty with a warning.
// Every limit of the volume is checked while the tree grows, so that a tree
// that multiplies itself through links fails at once. Fails (message on
// standard error, ToolExit{1}) when a directory would sit deeper than level 8
// in the volume, however it is reached ("Error: Directory depth exceeds 8
// levels!\n" and its path in quotes on the next line); when a directory
// holds too many entries (size_directory); when the path table or the volume
// grows too large (check_path_table_bytes, check_volume_blocks); when the
// volume passes MAX_VOLUME_ENTRIES entries ("Error: Too many files in volume
// (more than 1000000)!\n"); when an included file is 4 GiB or more; and
// when the top directory cannot be read. A subdirectory that cannot be read
// is left empty with a warning.
void scan_directory(DirectoryNode* node, const ScanOptions& options);

// The whole tree of `source_path` (ending with '/'): root entry, root node, scan.
std::unique_ptr<DirectoryNode> scan_tree(const std::string& source_path,
                                         const ScanOptions& options);

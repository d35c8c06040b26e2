#include "iso9660/el_torito.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "common/byteorder.h"
#include "common/console.h"
#include "iso9660/joliet.h"
#include "iso9660/layout.h"
#include "iso9660/level1_names.h"

namespace {

DirectoryEntry* find_host_entry(DirectoryNode* node, const std::string& host_name) {
  for (const auto& entry : node->entries)
    if (entry->host_name == host_name && !(entry->flags & ENTRY_MOVED)) return entry.get();
  return nullptr;
}

// The regular file at `path` below the root, or null.
DirectoryEntry* find_boot_image(DirectoryNode* root, const std::string& path) {
  DirectoryNode* node = root;
  DirectoryEntry* found = nullptr;
  for (const std::string& part : path_components(path)) {
    if (part == ".") continue;
    if (found != nullptr) {
      if (found->node == nullptr) return nullptr;
      node = found->node;
    }
    found = find_host_entry(node, part);
    if (found == nullptr) return nullptr;
  }
  if (found == nullptr || (found->flags & (ENTRY_DIRECTORY | ENTRY_SYSTEM | ENTRY_LINK)))
    return nullptr;
  return found;
}

}  // namespace

void add_boot_catalog(DirectoryNode* root) {
  const VolumeFormat& format = format_of(*root);
  const char* path = format.boot_path.c_str();
  DirectoryEntry* image = find_boot_image(root, format.boot_path);
  if (image == nullptr)
    fail_with(format_text("Error: Boot image \"%s\" is not a file of the volume!\n", path));
  if (image->size == 0) fail_with(format_text("Error: Boot image \"%s\" is empty!\n", path));
  if (format.boot_info) {
    if (image->size < BOOT_CHECKSUM_START) {
      fail_with(
          format_text("Error: Boot image \"%s\" is too small for a boot information table (64 "
                      "bytes at least)!\n",
                      path));
    }
    image->flags |= ENTRY_BOOT_INFO;
  }
  Level1NameSet names;
  for (const auto& entry : root->entries) names.claim(entry->name);
  auto catalog = std::make_unique<DirectoryEntry>();
  catalog->name = names.unique_name("BOOT.CAT", false);
  catalog->host_name = catalog->name;
  std::transform(
      catalog->host_name.begin(), catalog->host_name.end(), catalog->host_name.begin(),
      [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  catalog->joliet_name = joliet_name(catalog->host_name);
  catalog->flags = ENTRY_BOOT_CATALOG | ENTRY_READONLY;
  catalog->date = root->own_entry->date;
  catalog->posix = root->own_entry->posix;
  catalog->posix.mode = S_IFREG | 0444;
  catalog->posix.serial = 0xFFFFFFFEu;
  catalog->size = static_cast<uint32_t>(ISO_BLOCK_SIZE);
  root->boot_image = image;
  root->boot_catalog = catalog.get();
  root->entries.push_back(std::move(catalog));
}

void build_boot_record(uint8_t* block, uint32_t catalog_block) {
  std::memset(block, 0, ISO_BLOCK_SIZE);
  block[0] = 0;
  std::memcpy(block + 1, "CD001", 5);
  block[6] = 1;
  // The boot system identifier that firmware and readers look for, in
  // ASCII: the format's own name for itself.
  static constexpr uint8_t system[] = {0x45, 0x4C, 0x20, 0x54, 0x4F, 0x52, 0x49, 0x54,
                                       0x4F, 0x20, 0x53, 0x50, 0x45, 0x43, 0x49, 0x46,
                                       0x49, 0x43, 0x41, 0x54, 0x49, 0x4F, 0x4E};
  std::memcpy(block + 7, system, sizeof system);
  put_le32(block + 71, catalog_block);
}

void build_boot_catalog(uint8_t* block, const DirectoryEntry& image, uint16_t load_sectors) {
  std::memset(block, 0, ISO_BLOCK_SIZE);
  // Validation entry: header 1, platform 0 (x86), key bytes 55h AAh, and a
  // checksum word that makes the entry's words sum to 0.
  block[0] = 1;
  block[30] = 0x55;
  block[31] = 0xAA;
  uint16_t sum = 0;
  for (std::size_t i = 0; i < 32; i += 2)
    sum = static_cast<uint16_t>(sum + (block[i] | (block[i + 1] << 8)));
  put_le16(block + 28, static_cast<uint16_t>(0x10000 - sum));
  // Initial entry: bootable, no emulation, load segment 0 (07C0h).
  block[32] = 0x88;
  put_le16(block + 32 + 6, load_sectors);
  put_le32(block + 32 + 8, image.extent);
}

void build_boot_info_table(uint8_t* table, const DirectoryEntry& image, uint32_t origin,
                           uint32_t checksum) {
  std::memset(table, 0, BOOT_INFO_BYTES);
  put_le32(table, origin + PRIMARY_DESCRIPTOR_BLOCK);
  put_le32(table + 4, image.extent);
  put_le32(table + 8, image.size);
  put_le32(table + 12, checksum);
}

uint32_t add_checksum_words(uint32_t sum, const uint8_t* data, std::size_t length) {
  for (std::size_t i = 0; i + 4 <= length; i += 4)
    sum += data[i] | (uint32_t{data[i + 1]} << 8) | (uint32_t{data[i + 2]} << 16) |
           (uint32_t{data[i + 3]} << 24);
  return sum;
}

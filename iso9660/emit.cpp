#include "iso9660/emit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/console.h"
#include "common/regular_file.h"
#include "iso9660/el_torito.h"
#include "iso9660/joliet.h"
#include "iso9660/records.h"
#include "iso9660/rock_ridge.h"

namespace {

// Size of the one read buffer of the file copy.
constexpr std::size_t kReadBufferBytes = 65000;

// Reads up to `wanted` bytes; fewer only at end of file. -1 on a read error.
ssize_t read_fully(int fd, uint8_t* buffer, std::size_t wanted) {
  std::size_t got = 0;
  while (got < wanted) {
    const ssize_t n = read(fd, buffer + got, wanted - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// Opens a file of the tree for reading and fills `info`. A FIFO put in a
// file's place after the scan is refused without waiting, as anything else
// that is not a regular file is.
int open_tree_file(const std::string& path, struct stat* info) {
  FileOpening opening = FileOpening::Failed;
  const int fd = open_regular_file(path, &opening, info);
  if (fd < 0)
    fail_with(format_text(
        "\nError: Unable to open \"%s\"\n%s\n", path.c_str(),
        opening == FileOpening::NotRegular ? "Not a regular file" : std::strerror(errno)));
  return fd;
}

// Calls `action` with the host path and entry of every file whose data goes
// into the volume, in extent order.
template <typename Action>
void for_each_data_file(const DirectoryNode& node, const Action& action) {
  for (const auto& entry : node.entries) {
    if (entry->flags & (ENTRY_DIRECTORY | ENTRY_SYSTEM | ENTRY_LINK)) continue;
    action(node.path + entry->host_name, *entry);
  }
  for (const auto& child : node.children) for_each_data_file(*child, action);
}

// The checksum of a boot image from offset 64 to its scanned length, bytes
// past its end counting as zeros, as they are copied.
uint32_t boot_image_checksum(int fd, const DirectoryEntry& entry, uint8_t* buffer,
                             const std::string& path) {
  uint32_t sum = 0;
  uint64_t at = BOOT_CHECKSUM_START;
  while (at < entry.size) {
    const std::size_t piece =
        static_cast<std::size_t>(std::min<uint64_t>(entry.size - at, MAX_PIECE_BYTES));
    ssize_t got = 0;
    do {
      got = pread(fd, buffer, piece, static_cast<off_t>(at));
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      close(fd);
      fail_with(format_text("\nError: Unexpected EOF reading \"%s\"!\n", path.c_str()));
    }
    std::memset(buffer + got, 0, (piece + 3) / 4 * 4 - static_cast<std::size_t>(got));
    sum = add_checksum_words(sum, buffer, (piece + 3) / 4 * 4);
    at += piece;
  }
  return sum;
}

// Copies one file into exactly blocks_of(entry.size) blocks: its whole
// blocks straight from file to file where the sink can, the rest through
// `buffer`.
void copy_file(const std::string& path, const DirectoryEntry& entry, uint32_t origin,
               uint8_t* buffer, BlockSink* sink) {
  struct stat info {};
  const int fd = open_tree_file(path, &info);
  uint8_t boot_info[BOOT_INFO_BYTES];
  const bool patch_boot_info = (entry.flags & ENTRY_BOOT_INFO) != 0;
  if (patch_boot_info)
    build_boot_info_table(boot_info, entry, origin, boot_image_checksum(fd, entry, buffer, path));
  bool first_piece = true;
  if (static_cast<uint64_t>(info.st_size) > entry.size) {
    err_text(
        format_text("Warning: \"%s\" grew since the scan; only its first %u bytes are copied\n",
                    path.c_str(), entry.size));
  }
  uint64_t remaining = entry.size;
  if (!patch_boot_info) {
    const uint64_t whole = remaining / ISO_BLOCK_SIZE * ISO_BLOCK_SIZE;
    if (whole > 0) remaining -= sink->append_file(fd, whole).value_or(0);
  }
  bool shrank = false;
  while (remaining > 0) {
    const std::size_t piece =
        static_cast<std::size_t>(std::min<uint64_t>(remaining, MAX_PIECE_BYTES));
    std::size_t got = 0;
    if (!shrank) {
      const ssize_t n = read_fully(fd, buffer, piece);
      if (n < 0) {
        close(fd);
        fail_with(format_text("\nError: Unexpected EOF reading \"%s\"!\n", path.c_str()));
      }
      got = static_cast<std::size_t>(n);
      if (got < piece) {
        shrank = true;
        err_text(
            format_text("Warning: \"%s\" shrank since the scan; its blocks are padded with zeros\n",
                        path.c_str()));
      }
    }
    const std::size_t padded = (piece + ISO_BLOCK_SIZE - 1) / ISO_BLOCK_SIZE * ISO_BLOCK_SIZE;
    std::memset(buffer + got, 0, padded - got);
    if (patch_boot_info && first_piece)
      std::memcpy(buffer + BOOT_INFO_OFFSET, boot_info, BOOT_INFO_BYTES);
    first_piece = false;
    sink->append(buffer, padded);
    remaining -= piece;
  }
  close(fd);
}

// Whole blocks, handed over at most 31 at a time.
void append_in_pieces(const std::vector<uint8_t>& blocks, BlockSink* sink) {
  for (std::size_t at = 0; at < blocks.size(); at += MAX_PIECE_BYTES)
    sink->append(blocks.data() + at, std::min(MAX_PIECE_BYTES, blocks.size() - at));
}

}  // namespace

void emit_descriptors(const VolumeLayout& layout, const DirectoryNode& root,
                      const std::string& label, BlockSink* sink) {
  std::vector<uint8_t> blocks(SYSTEM_AREA_BLOCKS * ISO_BLOCK_SIZE, 0);
  sink->append(blocks.data(), blocks.size());
  const auto block = [&](uint32_t number) {
    return blocks.data() + (number - PRIMARY_DESCRIPTOR_BLOCK) * ISO_BLOCK_SIZE;
  };
  // A volume of a later session counts its space from the disc's first block.
  build_primary_descriptor(blocks.data(), label, layout.origin + layout.volume_blocks,
                           layout.path_table_bytes, layout.l_table_block, layout.m_table_block,
                           root.sector_count, layout.root_extent, root.own_entry->date);
  if (layout.boot_record_block != 0)
    build_boot_record(block(layout.boot_record_block), root.boot_catalog->extent);
  if (layout.joliet_descriptor_block != 0)
    build_joliet_descriptor(block(layout.joliet_descriptor_block), label, layout,
                            root.own_entry->date);
  build_terminator(block(layout.terminator_block));
  sink->append(blocks.data(),
               (layout.terminator_block + 1 - PRIMARY_DESCRIPTOR_BLOCK) * ISO_BLOCK_SIZE);
}

void emit_path_tables(const VolumeLayout& layout, BlockSink* sink) {
  const std::size_t bytes = layout.path_table_blocks * ISO_BLOCK_SIZE;
  for (const bool big_endian : {false, true}) {
    std::vector<uint8_t> table(bytes, 0);
    emit_path_table(layout.directory_order, table.data(), big_endian);
    sink->append(table.data(), bytes);
  }
  if (layout.joliet.root == nullptr) return;
  for (const bool big_endian : {false, true}) {
    std::vector<uint8_t> table(layout.joliet.path_table_blocks * ISO_BLOCK_SIZE, 0);
    emit_joliet_path_table(layout.joliet, table.data(), big_endian);
    sink->append(table.data(), table.size());
  }
}

void emit_directories(const VolumeLayout& layout, BlockSink* sink) {
  std::vector<uint8_t> extent;
  ContinuationPool pool(layout.continuation_block, true);
  for (const DirectoryNode* node : layout.directory_order) {
    extent.assign(node->sector_count * ISO_BLOCK_SIZE, 0);
    build_directory_extent(*node, extent.data(), &pool);
    append_in_pieces(extent, sink);
  }
  // Continuation areas, in pieces of at most 31 blocks.
  append_in_pieces(pool.bytes(), sink);
  for (const DirectoryNode* node : layout.joliet.directory_order) {
    extent.assign(node->joliet_sector_count * ISO_BLOCK_SIZE, 0);
    build_joliet_directory_extent(*node, extent.data());
    append_in_pieces(extent, sink);
  }
}

void check_files_readable(const DirectoryNode& root) {
  for_each_data_file(root, [](const std::string& path, const DirectoryEntry& entry) {
    if (entry.flags & ENTRY_BOOT_CATALOG) return;
    struct stat info {};
    close(open_tree_file(path, &info));
  });
}

void emit_files(const DirectoryNode& root, uint32_t origin, BlockSink* sink, bool log) {
  std::vector<uint8_t> buffer(kReadBufferBytes);
  for_each_data_file(root, [&](const std::string& path, const DirectoryEntry& entry) {
    if (entry.flags & ENTRY_BOOT_CATALOG) {
      build_boot_catalog(buffer.data(), *root.boot_image, format_of(root).load_sectors());
      sink->append(buffer.data(), ISO_BLOCK_SIZE);
      return;
    }
    copy_file(path, entry, origin, buffer.data(), sink);
    if (log) out_text(path + "\n");
  });
}

void emit_volume(const VolumeLayout& layout, const DirectoryNode& root, const std::string& label,
                 BlockSink* sink, bool log) {
  emit_descriptors(layout, root, label, sink);
  emit_path_tables(layout, sink);
  emit_directories(layout, sink);
  emit_files(root, layout.origin, sink, log);
}

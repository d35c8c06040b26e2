// Production of a laid-out volume, block by block in ascending order, into a
// block sink. Nothing is held beyond one extent or one piece of a file, and
// nothing seeks: the n-th block handed over is block n of the volume.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "iso9660/layout.h"
#include "iso9660/tree.h"

// The most bytes handed to a sink at once: 31 blocks.
constexpr std::size_t MAX_PIECE_BYTES = MAX_EXTENT_SECTORS * ISO_BLOCK_SIZE;

// Receives the volume's blocks in order (an image file, a recorder).
class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // Appends `length` bytes: a whole number of 2048-byte blocks, at most
  // MAX_PIECE_BYTES. Fails by throwing (MSGVEC or ToolExit).
  virtual void append(const uint8_t* data, std::size_t length) = 0;

  // Appends up to `length` bytes (whole blocks) of the open file `fd` from
  // its offset without passing them through memory, where the sink can;
  // answers the bytes taken, a whole number of blocks: fewer than `length`
  // when the file ended or failed before (the caller goes on reading from
  // the file's offset). Answers nothing when the sink takes data only
  // through append. Fails as append does.
  virtual std::optional<uint64_t> append_file(int fd, uint64_t length) {
    (void)fd;
    (void)length;
    return std::nullopt;
  }
};

// The 16 zero blocks of the system area, the primary volume descriptor and
// the terminator (blocks 0 to 17).
void emit_descriptors(const VolumeLayout& layout, const DirectoryNode& root,
                      const std::string& label, BlockSink* sink);

// The L path table, then the M path table.
void emit_path_tables(const VolumeLayout& layout, BlockSink* sink);

// Every directory extent in path table order.
void emit_directories(const VolumeLayout& layout, BlockSink* sink);

// Opens every file whose data goes into the volume and closes it again, so
// that a file that cannot be read fails the run before its output is begun.
// Fails as emit_files does when a file cannot be opened.
void check_files_readable(const DirectoryNode& root);

// The data of every file in extent order, each in exactly the blocks assigned
// to it: a file that has grown since the scan is cut, one that has shrunk is
// padded with zeros, each with a warning on standard error. Special files are
// never opened. With `log`, prints each file's host path and "\n" once it
// is copied. Fails (ToolExit{1}) with "\nError: Unable to open \"%s\"\n" and
// the system's reason on the next line (also when the file is no longer a
// regular file: "Not a regular file"; a FIFO never blocks), or, on a read
// error, "\nError: Unexpected EOF reading \"%s\"!\n".
// `origin` is the disc block of the volume's block 0, which the boot
// information table records.
void emit_files(const DirectoryNode& root, uint32_t origin, BlockSink* sink, bool log);

// The whole volume: descriptors, path tables, directories, files.
void emit_volume(const VolumeLayout& layout, const DirectoryNode& root, const std::string& label,
                 BlockSink* sink, bool log);

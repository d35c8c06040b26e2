// The block sink of the image tool: writes the volume's blocks to an image
// file as they come, either as they are (2048 bytes each) or as raw mode 1
// sectors (2352 bytes each, sector i carrying LBA i), through one output
// buffer of at most 65000 bytes. The whole blocks of a file go from file to
// file in the kernel where the image is a file of 2048-byte blocks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iso9660/emit.h"

class ImageFileSink : public BlockSink {
 public:
  // Creates (or replaces) the image file: an existing one is written over
  // and cut to the new volume's length by finish. Fails with "Error: Unable to create
  // ISO9660 image file \"%s\"\n" and the system's reason on the next line
  // (ToolExit{1}).
  ImageFileSink(const std::string& path, bool raw);
  ~ImageFileSink() override;
  ImageFileSink(const ImageFileSink&) = delete;
  ImageFileSink& operator=(const ImageFileSink&) = delete;

  void append(const uint8_t* data, std::size_t length) override;
  std::optional<uint64_t> append_file(int fd, uint64_t length) override;

  // Writes what is still buffered and closes the file. Every write failure,
  // here or in append, ends with "\nUnexpected error writing image file (disk
  // full?)!\n" (ToolExit{1}).
  void finish();

  // Blocks appended so far.
  uint32_t blocks_written() const { return running_block_; }

 private:
  void write_out(const uint8_t* data, std::size_t length);
  void flush();
  // Cuts a regular image file at the offset written to; false on failure.
  bool cut_to_written();

  int fd_ = -1;
  bool raw_ = false;
  bool regular_ = false;     // the image is a regular file
  bool copy_files_ = false;  // file data go file to file: a regular file of 2048-byte blocks
  uint32_t running_block_ = 0;
  std::vector<uint8_t> buffer_;
  std::size_t buffered_ = 0;
};

// The block sink of the image tool: writes the volume's blocks to an image
// file as they come, either as they are (2048 bytes each) or as raw mode 1
// sectors (2352 bytes each, sector i carrying LBA i), through one output
// buffer of at most 65000 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iso9660/emit.h"

class ImageFileSink : public BlockSink {
 public:
  // Creates (or replaces) the image file. Fails with "Error: Unable to create
  // ISO9660 image file \"%s\"\n" and the system's reason on the next line
  // (ToolExit{1}).
  ImageFileSink(const std::string& path, bool raw);
  ~ImageFileSink() override;
  ImageFileSink(const ImageFileSink&) = delete;
  ImageFileSink& operator=(const ImageFileSink&) = delete;

  void append(const uint8_t* data, std::size_t length) override;

  // Writes what is still buffered and closes the file. Every write failure,
  // here or in append, ends with "\nUnexpected error writing image file (disk
  // full?)!\n" (ToolExit{1}).
  void finish();

  // Blocks appended so far.
  uint32_t blocks_written() const { return running_block_; }

 private:
  void write_out(const uint8_t* data, std::size_t length);
  void flush();

  int fd_ = -1;
  bool raw_ = false;
  uint32_t running_block_ = 0;
  std::vector<uint8_t> buffer_;
  std::size_t buffered_ = 0;
};

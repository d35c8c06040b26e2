// The output file of the span extraction tool: a new file (emptied when it
// exists) or an existing one to append to, binary or WAV.
//
// Hostile paths are refused before anything is written: a path that exists
// and is not a regular file (a directory, a FIFO that would block, a device)
// gives the tool's creating or opening error. A WAV file whose 32-bit length
// fields would reach 4 GiB is refused before anything is read or written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "common/stream_buffer.h"

class RipOutput {
 public:
  // Creates (or, with `append`, opens) the file; a new WAV file gets the
  // header for `byte_count` bytes, an appended one must be a CD audio WAV
  // file with the canonical 44-byte header. Each refusal prints the tool's
  // text and throws ToolExit{1}.
  RipOutput(const std::string& path, bool append, bool wav, uint64_t byte_count);
  ~RipOutput();
  RipOutput(const RipOutput&) = delete;
  RipOutput& operator=(const RipOutput&) = delete;

  std::FILE* file() const { return file_; }

  // Makes the WAV header count the `written` bytes that follow it (the new
  // header, or the appended file's lengths plus `written`) and closes the
  // file. A failed write or close raises "Unexpected failure writing file
  // (disk full?)".
  void finish(uint64_t written);
  // The same on the way out of a failure: nothing is raised.
  void finish_after_failure(uint64_t written) noexcept;

 private:
  bool write_lengths(uint64_t written);
  void use_large_buffer();

  static constexpr std::size_t OUTPUT_BUFFER_BYTES = 512 * 1024;
  std::unique_ptr<StreamBuffer> buffer_;  // the file's stdio buffer: outlives it
  std::FILE* file_ = nullptr;
  bool wav_ = false;
  bool appending_ = false;
  uint32_t riff_size_ = 0;  // the appended file's lengths before the span
  uint32_t data_size_ = 0;
};

// The output file of a copied span or disc: a new file (emptied when it
// exists) or an existing one to append to, binary or WAV, or a new FLAC
// file with tags.
//
// Hostile paths are refused before anything is written: a path that exists
// and is not a regular file (a directory, a FIFO that would block, a device)
// gives the tool's creating or opening error, and so does a file that holds
// the disc of a drive on the bus, with a line that says so. An existing file
// is emptied only once it has passed these checks. A WAV file whose 32-bit length
// fields would reach 4 GiB is refused before anything is read or written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "audio/flac_writer.h"
#include "common/stream_buffer.h"
#include "engine/span_reading.h"

enum class RipFormat { Binary, Wav, Flac };

class RipOutput {
 public:
  // Creates (or, with `append`, opens) the file; a new WAV file gets the
  // header for `byte_count` bytes, an appended one must be a CD audio WAV
  // file with the canonical 44-byte header; a FLAC file gets `tags` (it
  // cannot be appended to: the caller refuses that). Each refusal prints
  // the tool's text and throws ToolExit{1}.
  RipOutput(const std::string& path, bool append, RipFormat format, uint64_t byte_count,
            const std::vector<AudioTag>& tags = {});
  ~RipOutput();
  RipOutput(const RipOutput&) = delete;
  RipOutput& operator=(const RipOutput&) = delete;

  // Takes each batch of a span: written as it is, or encoded to FLAC on a
  // second thread. A write that fails raises "Unexpected failure writing
  // file (disk full?)".
  SpanSink sink();

  // Makes the WAV header count the bytes the sink took (the new header, or
  // the appended file's lengths plus those), ends a FLAC stream, and closes
  // the file. A failed write or close raises "Unexpected failure writing
  // file (disk full?)", with the header mended as finish_after_failure does.
  void finish();
  // The same on the way out of a failure or an interruption: the header
  // counts exactly the bytes the span left in the file (what the buffer
  // still held is written when it can be, else dropped), a FLAC stream
  // ends after the samples it took; nothing is raised.
  void finish_after_failure() noexcept;

 private:
  bool write_lengths(uint64_t written);
  void use_large_buffer();

  static constexpr std::size_t OUTPUT_BUFFER_BYTES = 512 * 1024;
  std::unique_ptr<StreamBuffer> buffer_;  // the file's stdio buffer: outlives it
  std::FILE* file_ = nullptr;
  std::unique_ptr<FlacWriter> flac_;  // owns the file of a FLAC output
  uint64_t written_ = 0;              // bytes the sink took
  bool wav_ = false;
  bool appending_ = false;
  uint32_t riff_size_ = 0;  // the appended file's lengths before the span
  uint32_t data_size_ = 0;
  uint64_t span_start_ = 0;  // the file's length before the span's first block
};

// A FLAC file of CD audio (44100 Hz, 16-bit, stereo), written through
// libFLAC with a Vorbis comment block of tags. The samples are encoded on a
// second thread while the caller goes on (reading the next sectors of a
// disc): a writer costs about as long as the longer of the two, not their sum.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// One Vorbis comment: NAME (ASCII, no '=') and its UTF-8 value.
using AudioTag = std::pair<std::string, std::string>;

class FlacWriter {
 public:
  // Starts the stream in `file` (open for writing, seekable so that the
  // stream's header gets its final sample count; the writer owns and closes
  // it). `total_bytes` is what the caller means to add (0: unknown). Throws
  // std::runtime_error when libFLAC cannot start the stream (no memory, a
  // tag it refuses); the file is closed then too.
  FlacWriter(std::FILE* file, uint64_t total_bytes, const std::vector<AudioTag>& tags);
  ~FlacWriter();
  FlacWriter(const FlacWriter&) = delete;
  FlacWriter& operator=(const FlacWriter&) = delete;

  // Adds CD audio bytes (little-endian 16-bit stereo samples; a whole number
  // of 4-byte sample frames over all calls). False once the file could not
  // take what was encoded (a full disk): what follows is dropped.
  bool add(const uint8_t* bytes, std::size_t count);
  // Encodes what is left, rewrites the stream's header and closes the file.
  // False when any write or the close failed. Idempotent.
  bool finish();

 private:
  struct Stream;
  void hand_over();
  std::unique_ptr<Stream> stream_;
};

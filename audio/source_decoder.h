// The decoders behind the audio front end, each reading one open file as
// interleaved frames of its own rate and channels. They read the file only
// through its descriptor (pread), so a file is opened once, by the front end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio_file.h"

class SourceDecoder {
 public:
  virtual ~SourceDecoder() = default;
  uint32_t rate() const { return rate_; }
  uint16_t channels() const { return channels_; }
  uint16_t bits() const { return bits_; }  // 0: lossy, no bit depth of its own
  uint64_t frames() const { return frames_; }
  // Up to `count` frames as floats in [-1, 1); fewer only at the end or
  // after a decoding error.
  virtual std::size_t read_float(float* out, std::size_t count) = 0;
  // Up to `count` frames as 16-bit samples (exact for sources of at most
  // 16 bits).
  virtual std::size_t read_short(int16_t* out, std::size_t count) = 0;
  // Moves to frame `frame`; false when the decoder cannot.
  virtual bool seek(uint64_t frame) = 0;

 protected:
  uint32_t rate_ = 0;
  uint16_t channels_ = 0;
  uint16_t bits_ = 0;
  uint64_t frames_ = 0;
};

// libsndfile: WAV, AIFF, FLAC, Ogg Vorbis, Opus, MP3. `format` says what the
// content looks like (Unknown: let the library find out). Null when the
// library cannot read the file, with its reason in `failure`.
std::unique_ptr<SourceDecoder> open_sndfile_decoder(int fd, AudioFormat format,
                                                    std::string* failure);

// libwavpack. Null when the file is no WavPack file it can read.
std::unique_ptr<SourceDecoder> open_wavpack_decoder(int fd, std::string* failure);

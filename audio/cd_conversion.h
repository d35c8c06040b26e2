// From a decoder's frames to CD audio: 16-bit stereo frames at 44100 Hz,
// little-endian. Sources of 44100 Hz and two channels of at most 16 bits
// pass as they are; anything else is mixed to two channels, resampled with
// libsoxr (high quality) and dithered to 16 bits (triangular noise of one
// step, a function of the frame's place, so that a sample reads the same
// however it is reached).
#pragma once

#include <soxr.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/source_decoder.h"

class AudioFile::Decoder {
 public:
  // `reopen` opens the file's decoder afresh: decoding again from the start
  // begins with a new decoder, which a seek back to frame 0 of a lossy one
  // does not always equal.
  using Opener = std::function<std::unique_ptr<SourceDecoder>()>;
  Decoder(std::unique_ptr<SourceDecoder> source, Opener reopen);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  const SourceDecoder& source() const { return *source_; }
  // Sample frames of CD audio: the source's at 44100 Hz, else its count
  // scaled to 44100 Hz and rounded.
  uint64_t cd_frames() const { return cd_frames_; }
  bool converted() const { return !pass_; }

  // Up to `count` frames from the current one as 4 bytes each; fewer when
  // the end is reached or the source cannot be decoded further (failure()).
  std::size_t read(uint8_t* out, std::size_t count);
  // Moves to CD frame `frame` (at most cd_frames()).
  bool seek(uint64_t frame);
  const std::string& failure() const { return failure_; }

 private:
  // Decodes the next block of source frames into pending_; false at the end.
  bool refill();
  void set_mix_weights();
  void mix_to_stereo(const float* in, std::size_t frames, float* out) const;
  void quantize(const float* stereo, std::size_t frames);
  bool restart();
  // Forgets what was decoded: the source is at source frame `frame`, which
  // is CD frame `frame` too.
  void decode_from(uint64_t frame);

  std::unique_ptr<SourceDecoder> source_;
  Opener reopen_;
  uint64_t cd_frames_ = 0;
  bool pass_ = false;  // 16-bit stereo 44100 Hz read as it is
  bool dither_ = false;
  soxr_t resampler_ = nullptr;
  bool source_ended_ = false;
  bool drained_ = false;
  uint64_t source_read_ = 0;      // source frames decoded so far
  uint64_t position_ = 0;         // CD frames handed out
  uint64_t produced_ = 0;         // CD frames decoded into pending_ so far
  std::vector<int16_t> pending_;  // decoded CD frames not yet handed out
  std::size_t pending_at_ = 0;    // frames of pending_ already handed out
  std::vector<float> weights_;    // left and right weight of each source channel
  std::vector<float> in_;
  std::vector<float> stereo_;
  std::vector<float> resampled_;
  std::string failure_;
};

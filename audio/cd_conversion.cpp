#include "audio/cd_conversion.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

constexpr std::size_t BLOCK_FRAMES = 8192;
// A resampler may end a few frames short of the rounded count; those are
// completed with silence, a larger shortfall is a decoding failure.
constexpr uint64_t RESAMPLER_SLACK = 64;

// Uniform noise in [0, 1) from a frame's place: the same sample always gets
// the same dither.
uint64_t mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

int16_t to_16_bits(float value, float noise) {
  const float scaled = std::nearbyint(value * 32768.0f + noise);
  return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

void put_frames(uint8_t* out, const int16_t* samples, std::size_t frames) {
  if (frames == 0) return;  // an empty buffer may have no storage at all
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, samples, frames * CD_FRAME_BYTES);
    return;
  }
  for (std::size_t i = 0; i < frames * 2; ++i) {
    const auto value = static_cast<uint16_t>(samples[i]);
    out[2 * i] = static_cast<uint8_t>(value);
    out[2 * i + 1] = static_cast<uint8_t>(value >> 8);
  }
}

}  // namespace

AudioFile::Decoder::Decoder(std::unique_ptr<SourceDecoder> source, Opener reopen)
    : source_(std::move(source)), reopen_(std::move(reopen)) {
  const uint32_t rate = source_->rate();
  pass_ = rate == CD_SAMPLE_RATE && source_->channels() == 2 && source_->bits() <= 16;
  cd_frames_ = rate == CD_SAMPLE_RATE ? source_->frames()
                                      : (source_->frames() * CD_SAMPLE_RATE + rate / 2) / rate;
  // Whole 16-bit values stay exact when only copied into two channels.
  dither_ = !pass_ && (rate != CD_SAMPLE_RATE || source_->channels() > 2 || source_->bits() == 0 ||
                       source_->bits() > 16);
  if (source_->channels() > 2) set_mix_weights();
  if (rate != CD_SAMPLE_RATE) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    soxr_error_t error = nullptr;
    resampler_ = soxr_create(rate, CD_SAMPLE_RATE, 2, &error, &io, &quality, nullptr);
    if (error) resampler_ = nullptr;
  }
}

AudioFile::Decoder::~Decoder() {
  if (resampler_) soxr_delete(resampler_);
}

void AudioFile::Decoder::mix_to_stereo(const float* in, std::size_t frames, float* out) const {
  const unsigned channels = source_->channels();
  if (channels == 1) {
    for (std::size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i];
    return;
  }
  if (channels == 2) {
    std::memcpy(out, in, frames * 2 * sizeof(float));
    return;
  }
  for (std::size_t i = 0; i < frames; ++i) {
    const float* frame = in + i * channels;
    float left = 0.0f;
    float right = 0.0f;
    for (unsigned c = 0; c < channels; ++c) {
      left += weights_[2 * c] * frame[c];
      right += weights_[2 * c + 1] * frame[c];
    }
    out[2 * i] = left;
    out[2 * i + 1] = right;
  }
}

void AudioFile::Decoder::set_mix_weights() {
  // Front left and right as they are; a centre channel (the third of 3, 5
  // and more) into both at -3 dB; the low-frequency channel of 5.1 and wider
  // (the fourth) left out; every further channel at -3 dB into the left and
  // the right in turn. Scaled so that the sum cannot clip.
  constexpr float SIDE = 0.70710678f;
  const unsigned channels = source_->channels();
  const bool centre = channels == 3 || channels >= 5;
  const bool lfe = channels >= 6;
  weights_.assign(2 * channels, 0.0f);
  weights_[0] = weights_[3] = 1.0f;
  unsigned side = 0;
  for (unsigned c = 2; c < channels; ++c) {
    if (centre && c == 2) {
      weights_[2 * c] = weights_[2 * c + 1] = SIDE;
    } else if (!(lfe && c == 3)) {
      weights_[2 * c + (side++ % 2)] = SIDE;
    }
  }
  float left = 0.0f;
  float right = 0.0f;
  for (unsigned c = 0; c < channels; ++c) {
    left += weights_[2 * c];
    right += weights_[2 * c + 1];
  }
  const float scale = 1.0f / std::max(left, right);
  for (float& weight : weights_) weight *= scale;
}

void AudioFile::Decoder::quantize(const float* stereo, std::size_t frames) {
  const std::size_t at = pending_.size();
  pending_.resize(at + frames * 2);
  for (std::size_t i = 0; i < frames * 2; ++i) {
    float noise = 0.0f;
    if (dither_) {
      const uint64_t bits = mix64(produced_ * 2 + i);
      noise = static_cast<float>(bits >> 40) / 16777216.0f -
              static_cast<float>(bits & 0xFFFFFF) / 16777216.0f;
    }
    pending_[at + i] = to_16_bits(stereo[i], noise);
  }
  produced_ += frames;
}

bool AudioFile::Decoder::refill() {
  pending_.clear();
  pending_at_ = 0;
  if (pass_) {
    if (source_ended_) return false;
    pending_.resize(BLOCK_FRAMES * 2);
    const std::size_t got = source_->read_short(pending_.data(), BLOCK_FRAMES);
    pending_.resize(got * 2);
    source_read_ += got;
    produced_ += got;
    if (got < BLOCK_FRAMES) source_ended_ = true;
    return got > 0;
  }
  const unsigned channels = source_->channels();
  in_.resize(BLOCK_FRAMES * channels);
  stereo_.resize(BLOCK_FRAMES * 2);
  std::size_t got = 0;
  if (!source_ended_) {
    got = source_->read_float(in_.data(), BLOCK_FRAMES);
    source_read_ += got;
    if (got < BLOCK_FRAMES) source_ended_ = true;
    mix_to_stereo(in_.data(), got, stereo_.data());
  }
  if (!resampler_) {
    quantize(stereo_.data(), got);
    return got > 0;
  }
  if (drained_) return false;
  // Everything given is taken in; what comes out may lag a little.
  const std::size_t room = BLOCK_FRAMES * CD_SAMPLE_RATE / source_->rate() + 1024;
  resampled_.resize(room * 2);
  std::size_t taken = 0;
  do {
    std::size_t used = 0;
    std::size_t made = 0;
    const float* from = got > 0 ? stereo_.data() + taken * 2 : nullptr;
    soxr_process(resampler_, from, got - taken, &used, resampled_.data(), room, &made);
    taken += used;
    quantize(resampled_.data(), made);
    if (got == 0 && made == 0) drained_ = true;
    if (made == 0 && used == 0) break;
  } while (taken < got || (got == 0 && !drained_ && pending_.size() < room * 2));
  return !pending_.empty() || !drained_;
}

std::size_t AudioFile::Decoder::read(uint8_t* out, std::size_t count) {
  count = static_cast<std::size_t>(std::min<uint64_t>(count, cd_frames_ - position_));
  std::size_t done = 0;
  while (done < count) {
    if (pending_at_ * 2 >= pending_.size() && !refill() && pending_.empty()) {
      // The source has ended. A resampler's last few frames short of the
      // count are silence; a source that stops early cannot be decoded.
      if (resampler_ && cd_frames_ - position_ <= RESAMPLER_SLACK) {
        const std::size_t rest = count - done;
        std::memset(out + done * CD_FRAME_BYTES, 0, rest * CD_FRAME_BYTES);
        position_ += rest;
        return count;
      }
      failure_ = "the audio cannot be decoded past sample " + std::to_string(position_) + " of " +
                 std::to_string(cd_frames_);
      break;
    }
    const std::size_t available = pending_.size() / 2 - pending_at_;
    const std::size_t n = std::min(available, count - done);
    put_frames(out + done * CD_FRAME_BYTES, pending_.data() + pending_at_ * 2, n);
    pending_at_ += n;
    done += n;
    position_ += n;
  }
  return done;
}

bool AudioFile::Decoder::restart() {
  std::unique_ptr<SourceDecoder> fresh = reopen_ ? reopen_() : nullptr;
  if (!fresh || fresh->rate() != source_->rate() || fresh->channels() != source_->channels())
    return false;
  source_ = std::move(fresh);
  if (resampler_) soxr_clear(resampler_);
  drained_ = false;
  decode_from(0);
  return true;
}

void AudioFile::Decoder::decode_from(uint64_t frame) {
  source_ended_ = false;
  source_read_ = produced_ = position_ = frame;
  pending_.clear();
  pending_at_ = 0;
}

bool AudioFile::Decoder::seek(uint64_t frame) {
  if (frame > cd_frames_) return false;
  if (frame == position_) return true;
  if (!resampler_ && source_->seeks_exactly()) {
    if (source_->seek(frame)) {
      decode_from(frame);
      return true;
    }
    // Damage further on can defeat the decoder's own seek, which searches
    // the whole file: decode up to there from the start instead.
    if (!restart()) {
      failure_ = "the audio cannot be decoded from sample " + std::to_string(frame);
      return false;
    }
  }
  // A resampler's output depends on what went before, and a lossy decoder
  // lands only near a frame: decode up to there.
  if (frame < position_ && !restart()) {
    failure_ = "the audio cannot be decoded again from its start";
    return false;
  }
  std::vector<uint8_t> skipped(BLOCK_FRAMES * CD_FRAME_BYTES);
  while (position_ < frame) {
    const auto n = static_cast<std::size_t>(std::min<uint64_t>(frame - position_, BLOCK_FRAMES));
    if (read(skipped.data(), n) != n) return false;
  }
  return true;
}

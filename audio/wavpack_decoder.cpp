// WavPack through libwavpack, reading the front end's descriptor through the
// library's stream reader.
#include <sys/stat.h>
#include <unistd.h>
#include <wavpack/wavpack.h>

#include <cstring>
#include <vector>

#include "audio/source_decoder.h"

namespace {

struct FdStream {
  int fd;
  int64_t length;
  int64_t position = 0;
  int pushed = -1;  // a byte given back, read next
};

FdStream* as_stream(void* id) { return static_cast<FdStream*>(id); }

int32_t stream_read(void* id, void* data, int32_t count) {
  FdStream* stream = as_stream(id);
  auto* into = static_cast<uint8_t*>(data);
  int32_t done = 0;
  if (count > 0 && stream->pushed >= 0) {
    into[done++] = static_cast<uint8_t>(stream->pushed);
    stream->pushed = -1;
    ++stream->position;
  }
  while (done < count) {
    const ssize_t got =
        pread(stream->fd, into + done, static_cast<size_t>(count - done), stream->position);
    if (got <= 0) break;
    done += static_cast<int32_t>(got);
    stream->position += got;
  }
  return done;
}
int32_t stream_write(void*, void*, int32_t) { return 0; }
int64_t stream_get_pos(void* id) { return as_stream(id)->position; }
int stream_set_pos_abs(void* id, int64_t position) {
  as_stream(id)->position = position;
  as_stream(id)->pushed = -1;
  return 0;
}
int stream_set_pos_rel(void* id, int64_t delta, int mode) {
  FdStream* stream = as_stream(id);
  int64_t base = mode == SEEK_END ? stream->length : mode == SEEK_CUR ? stream->position : 0;
  if (base + delta < 0) return -1;
  stream->position = base + delta;
  stream->pushed = -1;
  return 0;
}
int stream_push_back(void* id, int c) {
  FdStream* stream = as_stream(id);
  if (stream->position == 0) return EOF;
  stream->pushed = c;
  --stream->position;
  return c;
}
int64_t stream_length(void* id) { return as_stream(id)->length; }
int stream_can_seek(void*) { return 1; }
int stream_truncate(void*) { return -1; }
int stream_close(void*) { return 0; }

WavpackStreamReader64 reader{
    stream_read,      stream_write,  stream_get_pos,  stream_set_pos_abs, stream_set_pos_rel,
    stream_push_back, stream_length, stream_can_seek, stream_truncate,    stream_close};

class WavpackDecoder : public SourceDecoder {
 public:
  ~WavpackDecoder() override {
    if (context_) WavpackCloseFile(context_);
  }

  bool open(int fd, std::string* failure) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return false;
    stream_ = FdStream{fd, info.st_size};
    char error[80] = {};
    context_ = WavpackOpenFileInputEx64(&reader, &stream_, nullptr, error, OPEN_NORMALIZE, 0);
    if (!context_) {
      if (failure) *failure = error;
      return false;
    }
    const int64_t samples = WavpackGetNumSamples64(context_);
    const int channels = WavpackGetNumChannels(context_);
    if (samples < 0 || channels <= 0 || channels > 64 || WavpackGetSampleRate(context_) == 0) {
      if (failure) *failure = "a WavPack file of unknown length";
      return false;
    }
    rate_ = WavpackGetSampleRate(context_);
    channels_ = static_cast<uint16_t>(channels);
    frames_ = static_cast<uint64_t>(samples);
    floating_ = (WavpackGetMode(context_) & MODE_FLOAT) != 0;
    bits_ = static_cast<uint16_t>(floating_ ? 32 : WavpackGetBitsPerSample(context_));
    scale_ = 1.0f / static_cast<float>(1u << (WavpackGetBytesPerSample(context_) * 8 - 1));
    return true;
  }

  std::size_t read_float(float* out, std::size_t count) override {
    const std::size_t got = unpack(count);
    const std::size_t values = got * channels_;
    for (std::size_t i = 0; i < values; ++i) {
      if (floating_) {
        std::memcpy(&out[i], &samples_[i], sizeof(float));
      } else {
        out[i] = static_cast<float>(samples_[i]) * scale_;
      }
    }
    return got;
  }

  std::size_t read_short(int16_t* out, std::size_t count) override {
    const std::size_t got = unpack(count);
    const std::size_t values = got * channels_;
    const int shift = WavpackGetBytesPerSample(context_) * 8 - 16;
    for (std::size_t i = 0; i < values; ++i)
      out[i] = static_cast<int16_t>(shift >= 0 ? samples_[i] >> shift : samples_[i] << -shift);
    return got;
  }

  bool seek(uint64_t frame) override {
    return WavpackSeekSample64(context_, static_cast<int64_t>(frame)) != 0;
  }

 private:
  std::size_t unpack(std::size_t count) {
    samples_.resize(count * channels_);
    std::size_t done = 0;
    while (done < count) {
      const uint32_t got = WavpackUnpackSamples(context_, samples_.data() + done * channels_,
                                                static_cast<uint32_t>(count - done));
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  FdStream stream_{};
  WavpackContext* context_ = nullptr;
  bool floating_ = false;
  float scale_ = 1.0f;
  std::vector<int32_t> samples_;
};

}  // namespace

std::unique_ptr<SourceDecoder> open_wavpack_decoder(int fd, std::string* failure) {
  auto decoder = std::make_unique<WavpackDecoder>();
  if (!decoder->open(fd, failure)) return nullptr;
  return decoder;
}

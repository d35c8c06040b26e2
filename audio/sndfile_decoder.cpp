// WAV, AIFF, FLAC, Ogg Vorbis, Opus and MP3 through libsndfile, reading the
// front end's descriptor through the library's virtual I/O.
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include "audio/source_decoder.h"

namespace {

struct FdStream {
  int fd;
  sf_count_t length;
  sf_count_t position = 0;
};

sf_count_t stream_length(void* user) { return static_cast<FdStream*>(user)->length; }

sf_count_t stream_seek(sf_count_t offset, int whence, void* user) {
  auto* stream = static_cast<FdStream*>(user);
  sf_count_t to = offset;
  if (whence == SEEK_CUR) to += stream->position;
  if (whence == SEEK_END) to += stream->length;
  if (to < 0) return -1;
  stream->position = to;
  return to;
}

sf_count_t stream_read(void* buffer, sf_count_t count, void* user) {
  auto* stream = static_cast<FdStream*>(user);
  sf_count_t done = 0;
  while (done < count) {
    const ssize_t got = pread(stream->fd, static_cast<char*>(buffer) + done,
                              static_cast<size_t>(count - done), stream->position + done);
    if (got <= 0) break;
    done += got;
  }
  stream->position += done;
  return done;
}

sf_count_t stream_write(const void*, sf_count_t, void*) { return 0; }
sf_count_t stream_tell(void* user) { return static_cast<FdStream*>(user)->position; }

class SndfileDecoder : public SourceDecoder {
 public:
  ~SndfileDecoder() override {
    if (file_) sf_close(file_);
  }

  bool open(int fd, AudioFormat format, std::string* failure) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return false;
    stream_ = FdStream{fd, info.st_size};
    SF_VIRTUAL_IO io{stream_length, stream_seek, stream_read, stream_write, stream_tell};
    SF_INFO sf{};
    file_ = sf_open_virtual(&io, SFM_READ, &sf, &stream_);
    if (!file_ && format == AudioFormat::Mp3) {
      // An MP3 stream without a tag is not always recognised by its content.
      stream_.position = 0;
      sf = SF_INFO{};
      sf.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
      file_ = sf_open_virtual(&io, SFM_READ, &sf, &stream_);
    }
    if (!file_) {
      if (failure) *failure = sf_strerror(nullptr);
      return false;
    }
    if (sf.samplerate <= 0 || sf.channels <= 0 || sf.channels > 64 || sf.frames < 0) {
      if (failure) *failure = "no sound in a format that can be read";
      return false;
    }
    rate_ = static_cast<uint32_t>(sf.samplerate);
    channels_ = static_cast<uint16_t>(sf.channels);
    frames_ = static_cast<uint64_t>(sf.frames);
    bits_ = bits_of(sf.format);
    return true;
  }

  std::size_t read_float(float* out, std::size_t count) override {
    return decoded(sf_readf_float(file_, out, static_cast<sf_count_t>(count)));
  }

  std::size_t read_short(int16_t* out, std::size_t count) override {
    return decoded(sf_readf_short(file_, out, static_cast<sf_count_t>(count)));
  }

  bool seeks_exactly() const override { return bits_ != 0; }

  bool seek(uint64_t frame) override {
    return sf_seek(file_, static_cast<sf_count_t>(frame), SEEK_SET) ==
           static_cast<sf_count_t>(frame);
  }

 private:
  // The frames a read gave, none when it came with a decoding error (a FLAC
  // frame out of sync or failing its check): the decoder skips to the next
  // frame it can find, so what it hands out then differs from what a seek
  // decodes, and the file is damaged from there; the read ends short.
  std::size_t decoded(sf_count_t got) const {
    return got > 0 && sf_error(file_) == SF_ERR_NO_ERROR ? static_cast<std::size_t>(got) : 0;
  }

  static uint16_t bits_of(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
      case SF_FORMAT_PCM_S8:
      case SF_FORMAT_PCM_U8: return 8;
      case SF_FORMAT_PCM_16: return 16;
      case SF_FORMAT_PCM_24: return 24;
      case SF_FORMAT_PCM_32:
      case SF_FORMAT_FLOAT: return 32;
      case SF_FORMAT_DOUBLE: return 64;
      case SF_FORMAT_ULAW:
      case SF_FORMAT_ALAW: return 8;
      default: return 0;  // lossy or adaptive: no bit depth of its own
    }
  }

  FdStream stream_{};
  SNDFILE* file_ = nullptr;
};

}  // namespace

std::unique_ptr<SourceDecoder> open_sndfile_decoder(int fd, AudioFormat format,
                                                    std::string* failure) {
  auto decoder = std::make_unique<SndfileDecoder>();
  if (!decoder->open(fd, format, failure)) return nullptr;
  return decoder;
}

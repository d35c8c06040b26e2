#include "audio/audio_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/cd_conversion.h"
#include "audio/format_sniffing.h"
#include "audio/wav_chunks.h"
#include "common/regular_file.h"
#include "common/text.h"
#include "common/wav.h"

namespace {

constexpr const char* NOT_READABLE = "not an audio file that can be read";
constexpr uint32_t MIN_SAMPLE_RATE = 1000;
constexpr uint32_t MAX_SAMPLE_RATE = 768000;
// A day at the highest rate: far more than a disc holds.
constexpr uint64_t MAX_SOURCE_FRAMES = uint64_t{MAX_SAMPLE_RATE} * 86400;

// The CD audio WAV rules of common/wav.h, which plain files have always met.
bool classic_cd_wav(int fd, uint64_t* data_offset, uint64_t* data_length) {
  const int copy = dup(fd);
  if (copy < 0) return false;
  std::FILE* stream = fdopen(copy, "rb");
  if (!stream) {
    close(copy);
    return false;
  }
  uint32_t size = 0;
  uint32_t offset = 0;
  const bool fits = read_wav_header(stream, &size, &offset) == 1;
  std::fclose(stream);
  if (fits) {
    *data_offset = offset;
    *data_length = size;
  }
  return fits;
}

std::string channel_words(unsigned channels) {
  if (channels == 1) return "mono";
  if (channels == 2) return "stereo";
  return std::to_string(channels) + " channels";
}

}  // namespace

AudioFormat audio_format_for_keyword(std::string_view keyword) {
  static constexpr std::pair<const char*, AudioFormat> kKeywords[] = {
      {"WAVE", AudioFormat::Wave},      {"AIFF", AudioFormat::Aiff},  {"FLAC", AudioFormat::Flac},
      {"MP3", AudioFormat::Mp3},        {"OGG", AudioFormat::Vorbis}, {"OPUS", AudioFormat::Opus},
      {"WAVPACK", AudioFormat::WavPack}};
  for (const auto& [word, format] : kKeywords) {
    if (keyword.size() != std::strlen(word)) continue;
    bool same = true;
    for (std::size_t i = 0; i < keyword.size() && same; ++i)
      same = ascii_upper(keyword[i]) == word[i];
    if (same) return format;
  }
  return AudioFormat::Unknown;
}

const char* audio_format_name(AudioFormat format) {
  switch (format) {
    case AudioFormat::Wave: return "WAV";
    case AudioFormat::Aiff: return "AIFF";
    case AudioFormat::Flac: return "FLAC";
    case AudioFormat::Mp3: return "MP3";
    case AudioFormat::Vorbis: return "Ogg Vorbis";
    case AudioFormat::Opus: return "Opus";
    case AudioFormat::WavPack: return "WavPack";
    case AudioFormat::Unknown: break;
  }
  return "unknown";
}

std::unique_ptr<AudioFile> AudioFile::open(const std::string& path, AudioFormat expected,
                                           std::string* failure, bool* opened) {
  if (opened) *opened = false;
  FileOpening result = FileOpening::Failed;
  const int fd = open_regular_file(path, &result);
  if (fd < 0) {
    if (failure)
      *failure = result == FileOpening::NotRegular ? "not a regular file" : std::strerror(errno);
    return nullptr;
  }
  if (opened) *opened = true;
  std::unique_ptr<AudioFile> file(new AudioFile);
  file->fd_ = fd;
  struct stat status {};
  if (fstat(fd, &status) != 0) {
    if (failure) *failure = std::strerror(errno);
    return nullptr;
  }
  const auto length = static_cast<uint64_t>(status.st_size);
  AudioFileInfo& info = file->info_;
  AudioFormat content = sniff_audio_format(fd, length);
  if (content == AudioFormat::Unknown) content = expected;

  if (content == AudioFormat::Wave) {
    info.format = AudioFormat::Wave;
    WavChunks chunks;
    WavKind kind = WavKind::NotWav;
    if (classic_cd_wav(fd, &chunks.data_offset, &chunks.data_length)) {
      kind = WavKind::CdAudio;
    } else {
      kind = scan_wav_chunks(fd, length, &chunks);
    }
    if (kind == WavKind::CdAudio) {
      info.plain_cd = true;
      info.data_offset = chunks.data_offset;
      info.cd_bytes = chunks.data_length;
      info.sample_rate = CD_SAMPLE_RATE;
      info.channels = 2;
      info.bits = 16;
      return file;
    }
    if (kind != WavKind::OtherAudio) {
      if (failure) *failure = "a WAV file whose chunks are damaged or cut short";
      return nullptr;
    }
  }

  std::string why;
  std::unique_ptr<SourceDecoder> source;
  if (content == AudioFormat::WavPack) {
    source = open_wavpack_decoder(fd, &why);
  } else if (content != AudioFormat::Unknown) {
    source = open_sndfile_decoder(fd, content, &why);
  }
  if (!source) {
    if (failure) *failure = why.empty() ? NOT_READABLE : why;
    return nullptr;
  }
  // Rates no recording uses, and lengths past any disc, are damaged headers.
  if (source->rate() < MIN_SAMPLE_RATE || source->rate() > MAX_SAMPLE_RATE ||
      source->frames() > MAX_SOURCE_FRAMES) {
    if (failure) *failure = "a header that gives no usable rate or length";
    return nullptr;
  }
  info.format = content;
  info.sample_rate = source->rate();
  info.channels = source->channels();
  info.bits = source->bits();
  auto reopen = [fd, content]() -> std::unique_ptr<SourceDecoder> {
    if (content == AudioFormat::WavPack) return open_wavpack_decoder(fd, nullptr);
    return open_sndfile_decoder(fd, content, nullptr);
  };
  file->decoder_ = std::make_unique<Decoder>(std::move(source), reopen);
  info.cd_bytes = file->decoder_->cd_frames() * CD_FRAME_BYTES;
  info.converted = file->decoder_->converted();
  return file;
}

AudioFile::~AudioFile() {
  decoder_.reset();
  if (fd_ >= 0) close(fd_);
}

bool AudioFile::length(uint64_t* bytes) {
  *bytes = info_.cd_bytes;
  return true;
}

std::size_t AudioFile::read(uint8_t* buffer, std::size_t size) {
  size = static_cast<std::size_t>(std::min<uint64_t>(size, info_.cd_bytes - position_));
  std::size_t done = 0;
  if (!decoder_) {
    while (done < size) {
      const ssize_t got =
          pread(fd_, buffer + done, size - done, static_cast<off_t>(info_.data_offset + position_));
      if (got <= 0) {
        failure_ = got < 0 ? std::strerror(errno) : "the file is shorter than it was";
        break;
      }
      done += static_cast<std::size_t>(got);
      position_ += static_cast<uint64_t>(got);
    }
    return done;
  }
  // Bytes within a frame come from the frame decoded last.
  while (done < size) {
    const auto within = static_cast<std::size_t>(position_ % CD_FRAME_BYTES);
    if (within == 0 && size - done >= CD_FRAME_BYTES) {
      const std::size_t frames = (size - done) / CD_FRAME_BYTES;
      const std::size_t got = decoder_->read(buffer + done, frames);
      done += got * CD_FRAME_BYTES;
      position_ += got * CD_FRAME_BYTES;
      if (got < frames) break;
      continue;
    }
    if (within == 0 && decoder_->read(partial_, 1) != 1) break;
    const std::size_t n = std::min(size - done, CD_FRAME_BYTES - within);
    std::memcpy(buffer + done, partial_ + within, n);
    done += n;
    position_ += n;
  }
  if (done < size) failure_ = decoder_->failure();
  return done;
}

bool AudioFile::seek(uint64_t offset) {
  if (offset > info_.cd_bytes) return false;
  if (!decoder_) {
    position_ = offset;
    return true;
  }
  if (offset == position_) return true;
  if (!decoder_->seek(offset / CD_FRAME_BYTES)) {
    failure_ = decoder_->failure();
    return false;
  }
  position_ = offset - offset % CD_FRAME_BYTES;
  if (offset % CD_FRAME_BYTES != 0) {
    if (decoder_->read(partial_, 1) != 1) {
      failure_ = decoder_->failure();
      return false;
    }
    position_ = offset;
  }
  return true;
}

std::string audio_conversion_warning(const std::string& name, const AudioFileInfo& info) {
  if (!info.converted) return {};
  std::string what = std::to_string(info.sample_rate) + " Hz ";
  if (info.bits != 0) what += std::to_string(info.bits) + "-bit ";
  what += channel_words(info.channels);
  return "Warning: \"" + name + "\" is " + what + ": converted to 44100 Hz 16-bit stereo";
}

// Feeds arbitrary bytes, as a real file, to the audio file front end through
// the one interface the engine and the emulated reader use, once for every
// format a cue sheet may name: whatever the decoders make of the file, a
// reader never hands out more than the length it gave, says why when it
// hands out less, and reads the same bytes again after a seek.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_file.h"

namespace {

// Enough to pass the decoders' first blocks and a resampler's delay, little
// enough that a header claiming hours is not decoded for hours.
constexpr std::size_t READ_LIMIT = 1 << 20;

const std::string& scratch_path() {
  static const std::string path = [] {
    char name[] = "/tmp/fuzz_audio_file.XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(name);
  }();
  return path;
}

void check(AudioFormat format) {
  std::string failure;
  const auto file = AudioFile::open(scratch_path(), format, &failure);
  if (!file) {
    if (failure.empty()) std::abort();
    return;
  }
  const AudioFileInfo& info = file->info();
  if (info.plain_cd && (info.format != AudioFormat::Wave || info.converted)) std::abort();
  uint64_t length = 0;
  if (!file->length(&length) || length != info.cd_bytes) std::abort();
  // Odd sizes, so that reads end within sample frames.
  std::vector<uint8_t> first(READ_LIMIT);
  std::size_t got = 0;
  for (std::size_t step = 4097; got < first.size(); step += 2) {
    const std::size_t n = file->read(first.data() + got, std::min(step, first.size() - got));
    got += n;
    if (n == 0) break;
  }
  if (got > length) std::abort();
  if (got < std::min<uint64_t>(length, first.size()) && file->failure().empty()) std::abort();
  if (got < 7) return;
  // Back to an odd byte: the same bytes again.
  const std::size_t from = got / 3 | 1;
  if (!file->seek(from)) return;
  std::vector<uint8_t> again(got - from);
  if (file->read(again.data(), again.size()) != again.size()) std::abort();
  if (std::memcmp(again.data(), first.data() + from, again.size()) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* out = std::fopen(scratch_path().c_str(), "wb");
  if (!out || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) std::abort();
  for (AudioFormat format :
       {AudioFormat::Unknown, AudioFormat::Wave, AudioFormat::Aiff, AudioFormat::Flac,
        AudioFormat::Mp3, AudioFormat::Vorbis, AudioFormat::Opus, AudioFormat::WavPack})
    check(format);
  return 0;
}

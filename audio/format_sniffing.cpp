#include "audio/format_sniffing.h"

#include <unistd.h>

#include <cstring>

namespace {

constexpr std::size_t HEAD_BYTES = 128;

std::size_t read_at(int fd, uint64_t offset, uint8_t* buffer, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool starts(const uint8_t* bytes, std::size_t size, std::size_t at, const char* magic) {
  const std::size_t n = std::strlen(magic);
  return at + n <= size && std::memcmp(bytes + at, magic, n) == 0;
}

// Bytes of the MPEG audio frame whose header is at `h`, 0 when it is none.
uint32_t mpeg_frame_bytes(const uint8_t* h) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return 0;
  const unsigned version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
  const unsigned layer = (h[1] >> 1) & 3;    // 1: III, 2: II, 3: I
  const unsigned bitrate_index = h[2] >> 4;
  const unsigned rate_index = (h[2] >> 2) & 3;
  if (version == 1 || layer == 0 || bitrate_index == 0 || bitrate_index == 15 || rate_index == 3)
    return 0;
  static constexpr uint16_t kBitratesV1L3[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                                 112, 128, 160, 192, 224, 256, 320};
  static constexpr uint16_t kBitratesV1L2[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                                 128, 160, 192, 224, 256, 320, 384};
  static constexpr uint16_t kBitratesV1L1[15] = {0,   32,  64,  96,  128, 160, 192, 224,
                                                 256, 288, 320, 352, 384, 416, 448};
  static constexpr uint16_t kBitratesV2L1[15] = {0,   32,  48,  56,  64,  80,  96, 112,
                                                 128, 144, 160, 176, 192, 224, 256};
  static constexpr uint16_t kBitratesV2L23[15] = {0,  8,  16, 24,  32,  40,  48, 56,
                                                  64, 80, 96, 112, 128, 144, 160};
  static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
  const bool v1 = version == 3;
  uint32_t rate = kRates[rate_index];
  if (version == 2) rate /= 2;
  if (version == 0) rate /= 4;
  const unsigned padding = (h[2] >> 1) & 1;
  uint32_t kbps = 0;
  if (v1)
    kbps = layer == 1   ? kBitratesV1L3[bitrate_index]
           : layer == 2 ? kBitratesV1L2[bitrate_index]
                        : kBitratesV1L1[bitrate_index];
  else
    kbps = layer == 3 ? kBitratesV2L1[bitrate_index] : kBitratesV2L23[bitrate_index];
  if (layer == 3) return (12 * kbps * 1000 / rate + padding) * 4;
  const uint32_t factor = (layer == 1 && !v1) ? 72 : 144;
  return factor * kbps * 1000 / rate + padding;
}

// Two MPEG audio frames one after the other from `offset` (one when it is
// the whole rest of the file).
bool mpeg_frames_at(int fd, uint64_t offset, uint64_t length) {
  uint8_t header[4];
  if (read_at(fd, offset, header, 4) != 4) return false;
  const uint32_t bytes = mpeg_frame_bytes(header);
  if (bytes == 0) return false;
  if (offset + bytes >= length) return offset + bytes == length;
  uint8_t next[4];
  return read_at(fd, offset + bytes, next, 4) == 4 && mpeg_frame_bytes(next) != 0 &&
         next[1] == header[1];
}

}  // namespace

AudioFormat sniff_audio_format(int fd, uint64_t length) {
  uint8_t head[HEAD_BYTES] = {};
  std::size_t size = read_at(fd, 0, head, sizeof head);
  if ((starts(head, size, 0, "RIFF") || starts(head, size, 0, "RF64")) &&
      starts(head, size, 8, "WAVE"))
    return AudioFormat::Wave;
  if (starts(head, size, 0, "FORM") &&
      (starts(head, size, 8, "AIFF") || starts(head, size, 8, "AIFC")))
    return AudioFormat::Aiff;
  if (starts(head, size, 0, "wvpk")) return AudioFormat::WavPack;
  if (starts(head, size, 0, "OggS") && size >= 27) {
    // The first page's first packet names the codec.
    const std::size_t packet = 27 + head[26];
    if (starts(head, size, packet, "OpusHead")) return AudioFormat::Opus;
    if (starts(head, size, packet, "\x01vorbis")) return AudioFormat::Vorbis;
    if (starts(head, size, packet,
               "\x7F"
               "FLAC"))
      return AudioFormat::Flac;
    return AudioFormat::Unknown;
  }
  uint64_t offset = 0;
  // An ID3v2 tag: ten bytes of header, a size in four 7-bit bytes, a footer.
  if (starts(head, size, 0, "ID3") && size >= 10) {
    offset = 10 + (uint64_t{head[6] & 0x7Fu} << 21 | uint64_t{head[7] & 0x7Fu} << 14 |
                   uint64_t{head[8] & 0x7Fu} << 7 | (head[9] & 0x7Fu));
    if (head[5] & 0x10) offset += 10;
    size = offset < length ? read_at(fd, offset, head, sizeof head) : 0;
  }
  if (starts(head, size, 0, "fLaC")) return AudioFormat::Flac;
  if (offset < length && mpeg_frames_at(fd, offset, length)) return AudioFormat::Mp3;
  return AudioFormat::Unknown;
}

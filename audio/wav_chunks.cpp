#include "audio/wav_chunks.h"

#include <unistd.h>

#include <cstring>

#include "common/byteorder.h"

namespace {

constexpr uint32_t TAG_RIFF = 0x46464952;  // "RIFF"
constexpr uint32_t TAG_RF64 = 0x34364652;  // "RF64"
constexpr uint32_t TAG_WAVE = 0x45564157;  // "WAVE"
constexpr uint32_t TAG_FMT = 0x20746D66;   // "fmt "
constexpr uint32_t TAG_DATA = 0x61746164;  // "data"
constexpr uint32_t TAG_DS64 = 0x34367364;  // "ds64"
constexpr uint32_t FORMAT_PCM = 1;
constexpr uint32_t FORMAT_EXTENSIBLE = 0xFFFE;
// The tail that every KSDATAFORMAT_SUBTYPE GUID shares after its format tag.
constexpr uint8_t SUBTYPE_TAIL[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool read_at(int fd, uint64_t offset, void* buffer, std::size_t size) {
  auto* into = static_cast<uint8_t*>(buffer);
  while (size > 0) {
    const ssize_t got = pread(fd, into, size, static_cast<off_t>(offset));
    if (got <= 0) return false;
    into += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// Whether a format chunk says CD audio; false for a chunk too short to say.
bool format_is_cd(const uint8_t* chunk, uint32_t size) {
  if (size < 16) return false;
  uint32_t tag = get_le16(chunk);
  uint32_t valid_bits = get_le16(chunk + 14);
  if (tag == FORMAT_EXTENSIBLE) {
    if (size < 40 || get_le16(chunk + 16) < 22) return false;
    if (std::memcmp(chunk + 26, SUBTYPE_TAIL, sizeof SUBTYPE_TAIL) != 0) return false;
    tag = get_le16(chunk + 24);
    const uint32_t declared = get_le16(chunk + 18);
    if (declared != 0) valid_bits = declared;
  }
  return tag == FORMAT_PCM && get_le16(chunk + 2) == 2 && get_le32(chunk + 4) == 44100 &&
         get_le16(chunk + 12) == 4 && get_le16(chunk + 14) == 16 && valid_bits == 16;
}

}  // namespace

WavKind scan_wav_chunks(int fd, uint64_t file_length, WavChunks* out) {
  uint8_t head[12];
  if (file_length < sizeof head || !read_at(fd, 0, head, sizeof head)) return WavKind::NotWav;
  const uint32_t riff = get_le32(head);
  if ((riff != TAG_RIFF && riff != TAG_RF64) || get_le32(head + 8) != TAG_WAVE)
    return WavKind::NotWav;

  bool format_seen = false;
  bool cd = false;
  uint64_t rf64_data_length = UINT64_MAX;
  uint64_t position = sizeof head;
  while (position + 8 <= file_length) {
    uint8_t header[8];
    if (!read_at(fd, position, header, sizeof header)) return WavKind::Broken;
    const uint32_t tag = get_le32(header);
    const uint32_t size = get_le32(header + 4);
    position += 8;
    const uint64_t left = file_length - position;
    if (tag == TAG_DATA) {
      if (!format_seen) return WavKind::Broken;
      uint64_t length = size;
      if (riff == TAG_RF64 && size == 0xFFFFFFFF && rf64_data_length != UINT64_MAX)
        length = rf64_data_length;
      // Written while streaming: the length was never filled in.
      if (size == 0 || (size == 0xFFFFFFFF && length == size)) length = left;
      if (length > left) return WavKind::Broken;
      out->data_offset = position;
      out->data_length = length;
      return cd ? WavKind::CdAudio : WavKind::OtherAudio;
    }
    if (size > left) return WavKind::Broken;
    if (tag == TAG_FMT) {
      uint8_t chunk[40] = {};
      const uint32_t wanted = size < sizeof chunk ? size : sizeof chunk;
      if (size < 16 || !read_at(fd, position, chunk, wanted)) return WavKind::Broken;
      format_seen = true;
      cd = format_is_cd(chunk, wanted);
    } else if (tag == TAG_DS64 && size >= 16) {
      uint8_t sizes[16];
      if (!read_at(fd, position, sizes, sizeof sizes)) return WavKind::Broken;
      rf64_data_length = get_le32(sizes + 8) | uint64_t{get_le32(sizes + 12)} << 32;
    }
    // Chunks are padded to an even length.
    position += size + (size & 1);
  }
  return WavKind::Broken;
}

#include "common/wav.h"

#include <sys/types.h>

#include "common/byteorder.h"

namespace {

bool read_exact(std::FILE* file, void* buffer, std::size_t size) {
  return std::fread(buffer, 1, size, file) == size;
}

// Tag and size of the next chunk; false at the end of the file.
bool read_chunk_header(std::FILE* file, uint32_t* tag, uint32_t* size) {
  uint8_t bytes[8];
  if (!read_exact(file, bytes, sizeof bytes)) return false;
  *tag = get_le32(bytes);
  *size = get_le32(bytes + 4);
  return true;
}

// A "fmt " chunk of `size` bytes describes 44100 Hz 16-bit stereo PCM.
bool format_chunk_fits(std::FILE* file, uint32_t size) {
  if (size < 16 || size > 32) return false;
  uint8_t chunk[32];
  if (!read_exact(file, chunk, size)) return false;
  return get_le16(chunk) == 1 && get_le16(chunk + 2) == 2 && get_le32(chunk + 4) == 44100 &&
         get_le16(chunk + 12) == 4 && get_le16(chunk + 14) == 16;
}

}  // namespace

void init_wav_header(WavHeader* header, uint32_t data_size) {
  header->riff_tag = WAV_TAG_RIFF;
  header->riff_size = data_size + 36;
  header->wave_tag = WAV_TAG_WAVE;
  header->fmt_tag = WAV_TAG_FMT;
  header->fmt_size = 16;
  header->format_tag = 1;
  header->channels = 2;
  header->samples_per_second = 44100;
  header->bytes_per_second = 176400;
  header->block_align = 4;
  header->bits_per_sample = 16;
  header->data_tag = WAV_TAG_DATA;
  header->data_size = data_size;
}

std::array<uint8_t, WAV_HEADER_SIZE> wav_header_bytes(const WavHeader& header) {
  std::array<uint8_t, WAV_HEADER_SIZE> bytes{};
  uint8_t* p = bytes.data();
  put_le32(p + 0, header.riff_tag);
  put_le32(p + 4, header.riff_size);
  put_le32(p + 8, header.wave_tag);
  put_le32(p + 12, header.fmt_tag);
  put_le32(p + 16, header.fmt_size);
  put_le16(p + 20, header.format_tag);
  put_le16(p + 22, header.channels);
  put_le32(p + 24, header.samples_per_second);
  put_le32(p + 28, header.bytes_per_second);
  put_le16(p + 32, header.block_align);
  put_le16(p + 34, header.bits_per_sample);
  put_le32(p + 36, header.data_tag);
  put_le32(p + 40, header.data_size);
  return bytes;
}

int read_wav_header(std::FILE* file, uint32_t* data_size, uint32_t* data_offset) {
  if (fseeko(file, 0, SEEK_END) != 0) return 0;
  const off_t length = ftello(file);
  if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) return 0;
  const auto file_length = static_cast<uint64_t>(length);
  // Too short for "RIFF", a size and "WAVE": refuse before reading, so that
  // a file that reports no length (a kernel interface) is never waited on.
  if (file_length < 12) return 0;

  uint32_t tag = 0;
  uint32_t size = 0;
  if (!read_chunk_header(file, &tag, &size) || tag != WAV_TAG_RIFF) return 0;
  if (size > file_length - 8) return 0;
  uint8_t wave[4];
  if (!read_exact(file, wave, sizeof wave) || get_le32(wave) != WAV_TAG_WAVE) return 0;

  bool format_seen = false;
  while (read_chunk_header(file, &tag, &size)) {
    // Every chunk lies within the file: one that claims more is refused
    // before anything is read or skipped on its word.
    const off_t position = ftello(file);
    if (position < 0 || static_cast<uint64_t>(position) > file_length) return 0;
    if (size > file_length - static_cast<uint64_t>(position)) return 0;
    if (tag == WAV_TAG_FMT) {
      if (!format_chunk_fits(file, size)) return 0;
      format_seen = true;
    } else if (tag == WAV_TAG_DATA) {
      if (!format_seen) return 0;
      // A data offset past 4 GiB cannot be described to the caller.
      if (static_cast<uint64_t>(position) > UINT32_MAX) return 0;
      if (data_size) *data_size = size;
      if (data_offset) *data_offset = static_cast<uint32_t>(position);
      return 1;
    } else if (fseeko(file, static_cast<off_t>(size), SEEK_CUR) != 0) {
      return 0;
    }
  }
  return 0;
}

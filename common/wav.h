// WAV (RIFF) audio files: the one format a CD carries, 44100 Hz, 16-bit,
// stereo linear PCM. The reader validates a file and finds its samples; the
// writer fills the canonical 44-byte header.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

// Chunk tags as 32-bit little-endian words of their ASCII bytes.
constexpr uint32_t WAV_TAG_RIFF = 0x46464952;  // "RIFF"
constexpr uint32_t WAV_TAG_WAVE = 0x45564157;  // "WAVE"
constexpr uint32_t WAV_TAG_FMT = 0x20746D66;   // "fmt "
constexpr uint32_t WAV_TAG_DATA = 0x61746164;  // "data"

// Bytes of the canonical header that the writer produces.
constexpr uint32_t WAV_HEADER_SIZE = 44;

// The canonical header, field by field in file order (all little-endian on
// disk; wav_header_bytes gives the exact 44 bytes on any host).
struct WavHeader {
  uint32_t riff_tag = 0;
  uint32_t riff_size = 0;  // data size + 36
  uint32_t wave_tag = 0;
  uint32_t fmt_tag = 0;
  uint32_t fmt_size = 0;    // 16
  uint16_t format_tag = 0;  // 1: PCM
  uint16_t channels = 0;
  uint32_t samples_per_second = 0;
  uint32_t bytes_per_second = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint32_t data_tag = 0;
  uint32_t data_size = 0;
};

// Fills `header` for `data_size` bytes of 44100 Hz 16-bit stereo PCM. Writes
// nothing to a file; the caller writes the 44 bytes ahead of the samples.
void init_wav_header(WavHeader* header, uint32_t data_size);

// The 44 bytes of `header` as they stand in a file.
std::array<uint8_t, WAV_HEADER_SIZE> wav_header_bytes(const WavHeader& header);

// Checks that the open file (binary, positioned at its start) is a WAV file a
// CD can carry: RIFF size within the file, a "fmt " chunk of 16 to 32 bytes
// saying PCM, 2 channels, 44100 Hz, block alignment 4, 16 bits, before a
// "data" chunk that lies within the file; other chunks are skipped. Returns 1
// with the file positioned at the first sample byte and the data chunk's size
// and the offset of its first byte in the outputs (either may be null);
// returns 0 otherwise, with the outputs untouched and the position undefined.
// Reports nothing itself.
int read_wav_header(std::FILE* file, uint32_t* data_size, uint32_t* data_offset);

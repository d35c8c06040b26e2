// Image files for cue sheet tests and fuzzing: WAV files of chosen formats
// and binary images of chosen sizes, written into a scratch folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/scratch.h"

// Bytes of a WAV file: a RIFF header, a "fmt " chunk of `fmt_size` bytes
// (16 or more) with the given format, optional extra chunk before "data",
// then `data_size` bytes of samples. `data_size_field` lets a header lie
// about the data chunk's size (-1: tell the truth).
struct WavSpec {
  uint16_t format_tag = 1;
  uint16_t channels = 2;
  uint32_t rate = 44100;
  uint16_t block_align = 4;
  uint16_t bits = 16;
  uint32_t fmt_size = 16;
  uint32_t data_size = 0;
  int64_t data_size_field = -1;
  int64_t riff_size_field = -1;  // -1: file length less 8
  bool list_chunk = false;       // a "LIST" chunk between "fmt " and "data"
  bool data_first = false;       // "data" before "fmt "
};
std::vector<uint8_t> wav_file_bytes(const WavSpec& spec);

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes);
// A file of `size` bytes counting up from 0 (mod 251).
void write_sized_file(const std::string& path, uint64_t size);

// Writes every image file that the cue sheet fixtures name into `folder`:
//   audio100.bin    100 frames of 2352 bytes
//   audio50.bin     50 frames of 2352 bytes
//   partial.bin     100 frames of 2352 bytes and 1000 bytes more
//   mode1.bin       10 frames of 2048 bytes
//   mode1plus.bin   10 frames of 2048 bytes and 1 byte
//   mode2.bin       20 frames of 2336 bytes
//   cdg.bin         10 frames of 2448 bytes
//   long.bin        40 minutes of 2352-byte frames (a sparse file)
//   "Track 01.wav"  CD audio WAV with 75 frames of samples
//   short.wav       CD audio WAV with 100 frames, with a LIST chunk
//   mono.wav        a mono WAV
//   codec.wav       a WAV in a codec no decoder reads (format tag 0x1234)
//   lying.wav       a WAV whose data chunk claims more bytes than the file has
//   garbage.wav     bytes that are no WAV file
//   folder.bin/     a directory
void write_cue_fixture_images(const std::string& folder);

// The RIFF walk of the audio front end: finds the samples of a WAV file as
// real files have them (chunks before "data" such as LIST, fact, bext and
// JUNK, odd chunks with their pad byte, WAVE_FORMAT_EXTENSIBLE, RF64, and a
// streamed "data" length of 0 or 0xFFFFFFFF, whose data runs to the end).
#pragma once

#include <cstdint>

enum class WavKind {
  NotWav,      // no RIFF/RF64 header with "WAVE"
  Broken,      // a WAV whose chunks cannot be walked, or whose data overruns the file
  CdAudio,     // PCM, 2 channels, 44100 Hz, 16 bits: the bytes are CD audio
  OtherAudio,  // a sound WAV in another format: decoded and converted
};

struct WavChunks {
  uint64_t data_offset = 0;
  uint64_t data_length = 0;
};

// Walks the file on descriptor `fd` of `file_length` bytes (read with pread;
// the file position is not used).
WavKind scan_wav_chunks(int fd, uint64_t file_length, WavChunks* out);

// Feeds arbitrary bytes, as a real file, to the WAV header reader. An
// accepted file must have its samples within the file and be positioned at
// their first byte.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "common/wav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* file = std::tmpfile();
  if (!file || ftruncate(fileno(file), 0) != 0) std::abort();
  std::rewind(file);
  if (std::fwrite(data, 1, size, file) != size || std::fflush(file) != 0) std::abort();
  std::rewind(file);
  uint32_t data_size = 0;
  uint32_t data_offset = 0;
  if (read_wav_header(file, &data_size, &data_offset) == 1) {
    if (uint64_t{data_offset} + data_size > size) std::abort();
    if (std::ftell(file) != static_cast<long>(data_offset)) std::abort();
    if (data_offset < 44) std::abort();  // RIFF, WAVE, a whole format chunk, a data header
  }
  return 0;
}

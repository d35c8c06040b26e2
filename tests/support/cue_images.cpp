#include "support/cue_images.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

void put32(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put16(std::vector<uint8_t>* out, uint16_t value) {
  out->push_back(static_cast<uint8_t>(value));
  out->push_back(static_cast<uint8_t>(value >> 8));
}

void put_tag(std::vector<uint8_t>* out, const char* tag) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(tag[i]));
}

}  // namespace

std::vector<uint8_t> wav_file_bytes(const WavSpec& spec) {
  std::vector<uint8_t> fmt;
  put_tag(&fmt, "fmt ");
  put32(&fmt, spec.fmt_size);
  put16(&fmt, spec.format_tag);
  put16(&fmt, spec.channels);
  put32(&fmt, spec.rate);
  put32(&fmt, spec.rate * spec.block_align);
  put16(&fmt, spec.block_align);
  put16(&fmt, spec.bits);
  fmt.resize(fmt.size() + (spec.fmt_size > 16 ? spec.fmt_size - 16 : 0), 0);

  std::vector<uint8_t> data;
  put_tag(&data, "data");
  put32(&data,
        spec.data_size_field < 0 ? spec.data_size : static_cast<uint32_t>(spec.data_size_field));
  for (uint32_t i = 0; i < spec.data_size; ++i) data.push_back(static_cast<uint8_t>(i % 251));

  std::vector<uint8_t> body;
  put_tag(&body, "WAVE");
  if (spec.data_first) body.insert(body.end(), data.begin(), data.end());
  body.insert(body.end(), fmt.begin(), fmt.end());
  if (spec.list_chunk) {
    put_tag(&body, "LIST");
    put32(&body, 5);  // an odd size, skipped without padding
    for (int i = 0; i < 5; ++i) body.push_back('x');
  }
  if (!spec.data_first) body.insert(body.end(), data.begin(), data.end());

  std::vector<uint8_t> file;
  put_tag(&file, "RIFF");
  put32(&file, spec.riff_size_field < 0 ? static_cast<uint32_t>(body.size())
                                        : static_cast<uint32_t>(spec.riff_size_field));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot create " + path);
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

void write_sized_file(const std::string& path, uint64_t size) {
  std::vector<uint8_t> bytes(size);
  for (uint64_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
  write_bytes(path, bytes);
}

void write_cue_fixture_images(const std::string& folder) {
  const std::string base = folder + "/";
  write_sized_file(base + "audio100.bin", 100 * 2352);
  write_sized_file(base + "audio50.bin", 50 * 2352);
  write_sized_file(base + "partial.bin", 100 * 2352 + 1000);
  write_sized_file(base + "mode1.bin", 10 * 2048);
  write_sized_file(base + "mode1plus.bin", 10 * 2048 + 1);
  write_sized_file(base + "mode2.bin", 20 * 2336);
  write_sized_file(base + "cdg.bin", 10 * 2448);
  // 40 minutes of audio without writing 423 MB: a sparse file.
  const int fd = open((base + "long.bin").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0 || ftruncate(fd, 40LL * 4500 * 2352) != 0) throw std::runtime_error("long.bin");
  close(fd);

  WavSpec wav;
  wav.data_size = 75 * 2352;
  write_bytes(base + "Track 01.wav", wav_file_bytes(wav));
  wav.data_size = 100 * 2352;
  wav.list_chunk = true;
  write_bytes(base + "short.wav", wav_file_bytes(wav));
  WavSpec mono;
  mono.channels = 1;
  mono.block_align = 2;
  mono.data_size = 1000;
  write_bytes(base + "mono.wav", wav_file_bytes(mono));
  WavSpec codec;
  codec.format_tag = 0x1234;
  codec.data_size = 2352;
  write_bytes(base + "codec.wav", wav_file_bytes(codec));
  WavSpec lying;
  lying.data_size = 2352;
  lying.data_size_field = 100 * 2352;
  lying.riff_size_field = 36;
  write_bytes(base + "lying.wav", wav_file_bytes(lying));
  write_bytes(base + "garbage.wav", {0x52, 0x49, 0x46, 0x46, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x01});
  std::filesystem::create_directory(base + "folder.bin");
}

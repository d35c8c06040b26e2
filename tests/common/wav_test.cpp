#include "common/wav.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "common/byteorder.h"
#include "support/cue_images.h"

namespace {

// read_wav_header on a real temporary file holding `bytes`.
int check(const std::vector<uint8_t>& bytes, uint32_t* size, uint32_t* offset,
          long* position = nullptr) {
  std::FILE* file = std::tmpfile();
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  const int result = read_wav_header(file, size, offset);
  if (position) *position = std::ftell(file);
  std::fclose(file);
  return result;
}

WavSpec cd_audio(uint32_t data_size) {
  WavSpec spec;
  spec.data_size = data_size;
  return spec;
}

TEST(WavHeader, WriterFillsTheCanonicalHeader) {
  WavHeader header;
  init_wav_header(&header, 0);
  EXPECT_EQ(header.riff_size, 36u);
  EXPECT_EQ(header.data_size, 0u);
  init_wav_header(&header, 4 * 588);
  const std::array<uint8_t, 44> expected = {'R',  'I',  'F',  'F', 0x54, 0x09, 0,   0,  // 2352 + 36
                                            'W',  'A',  'V',  'E', 'f',  'm',  't', ' ', 16,
                                            0,    0,    0,    1,   0,    2,    0,  // PCM, stereo
                                            0x44, 0xAC, 0,    0,                   // 44100
                                            0x10, 0xB1, 0x02, 0,                   // 176400
                                            4,    0,    16,   0,  // block alignment, bits
                                            'd',  'a',  't',  'a', 0x30, 0x09, 0,   0};
  EXPECT_EQ(wav_header_bytes(header), expected);
}

TEST(WavHeader, WrittenHeaderReadsBack) {
  WavHeader header;
  init_wav_header(&header, 8);
  const std::array<uint8_t, 44> head = wav_header_bytes(header);
  std::vector<uint8_t> bytes(head.begin(), head.end());
  bytes.resize(52, 7);
  uint32_t size = 0, offset = 0;
  long position = 0;
  ASSERT_EQ(check(bytes, &size, &offset, &position), 1);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(offset, 44u);
  EXPECT_EQ(position, 44);
  EXPECT_EQ(check(bytes, nullptr, nullptr), 1);
}

TEST(WavHeader, FormatChunkSizesAndOtherChunks) {
  uint32_t size = 0, offset = 0;
  WavSpec spec = cd_audio(100);
  spec.fmt_size = 18;
  ASSERT_EQ(check(wav_file_bytes(spec), &size, &offset), 1);
  EXPECT_EQ(offset, 46u);
  spec.fmt_size = 32;
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 1);
  spec.fmt_size = 40;
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 0);

  spec = cd_audio(100);
  spec.list_chunk = true;  // 5 bytes, no padding to an even size
  ASSERT_EQ(check(wav_file_bytes(spec), &size, &offset), 1);
  EXPECT_EQ(offset, 44u + 13u);
  EXPECT_EQ(size, 100u);

  spec = cd_audio(100);
  spec.data_first = true;
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 0);
}

TEST(WavHeader, RefusesEveryOtherSampleFormat) {
  const auto refused = [](void (*change)(WavSpec*)) {
    WavSpec spec = cd_audio(64);
    change(&spec);
    uint32_t size = 99, offset = 99;
    if (check(wav_file_bytes(spec), &size, &offset) != 0) return false;
    EXPECT_EQ(size, 99u);  // outputs untouched on failure
    EXPECT_EQ(offset, 99u);
    return true;
  };
  EXPECT_TRUE(refused([](WavSpec* s) {
    s->channels = 1;
    s->block_align = 2;
  }));
  EXPECT_TRUE(refused([](WavSpec* s) {
    s->bits = 8;
    s->block_align = 2;
  }));
  EXPECT_TRUE(refused([](WavSpec* s) { s->rate = 48000; }));
  EXPECT_TRUE(refused([](WavSpec* s) { s->format_tag = 3; }));
  EXPECT_TRUE(refused([](WavSpec* s) { s->block_align = 2; }));
  EXPECT_FALSE(refused([](WavSpec*) {}));
}

TEST(WavHeader, SizesThatLieAboutTheFile) {
  uint32_t size = 0, offset = 0;
  WavSpec spec = cd_audio(100);
  const std::size_t length = wav_file_bytes(spec).size();
  spec.riff_size_field = static_cast<int64_t>(length - 8);
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 1);
  spec.riff_size_field = static_cast<int64_t>(length - 7);
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 0);
  spec.riff_size_field = 4;  // smaller than the contents: accepted
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 1);

  spec = cd_audio(100);
  spec.data_size_field = 100;
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 1);
  spec.data_size_field = 101;
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 0);
  spec.data_size_field = 0xFFFFFFFF;
  EXPECT_EQ(check(wav_file_bytes(spec), &size, &offset), 0);

  // A format or unknown chunk claiming more bytes than the file holds (one
  // more, or sizes whose sum with the position overflows 32 bits).
  spec = cd_audio(100);
  spec.list_chunk = true;
  const std::vector<uint8_t> whole = wav_file_bytes(spec);
  const std::size_t list = 36;  // after "RIFF", "WAVE" and a 16-byte format chunk
  ASSERT_EQ(std::string(whole.begin() + list, whole.begin() + list + 4), "LIST");
  const auto remaining = static_cast<uint32_t>(whole.size() - list - 8);
  struct Lie {
    std::size_t at;
    uint32_t claimed;
  };
  for (const Lie lie : {Lie{list + 4, remaining + 1}, Lie{list + 4, 0xFFFFFFFF},
                        Lie{list + 4, 0xFFFFFFFF - list - 7}, Lie{16, 0xFFFFFFFF},
                        Lie{16, 0xFFFFFFF0}, Lie{4, 0xFFFFFFFF}}) {
    std::vector<uint8_t> bytes = whole;
    put_le32(bytes.data() + lie.at, lie.claimed);
    EXPECT_EQ(check(bytes, &size, &offset), 0) << lie.at << " " << lie.claimed;
  }
}

TEST(WavHeader, TruncatedAndForeignFiles) {
  uint32_t size = 0, offset = 0;
  const std::vector<uint8_t> whole = wav_file_bytes(cd_audio(16));
  // Every proper prefix that stops before the data chunk's header ends is refused.
  for (std::size_t cut = 0; cut < 44; ++cut) {
    std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(cut));
    EXPECT_EQ(check(part, &size, &offset), 0) << cut;
  }
  std::vector<uint8_t> rifx = whole;
  rifx[3] = 'X';
  EXPECT_EQ(check(rifx, &size, &offset), 0);
  std::vector<uint8_t> avi = whole;
  avi[8] = 'A';
  EXPECT_EQ(check(avi, &size, &offset), 0);
  // A chunk whose size runs past the end before any data chunk.
  std::vector<uint8_t> skip = whole;
  skip[36] = 'J';  // "data" becomes "Jata": an unknown chunk of 16 bytes, then EOF
  EXPECT_EQ(check(skip, &size, &offset), 0);
}

}  // namespace

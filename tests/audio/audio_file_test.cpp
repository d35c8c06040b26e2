// The audio front end as the parser, the engine and the emulated reader use
// it: the content decides the format whatever keyword a sheet gives, and a
// reader lands on the same bytes however it gets there (the emulated reader
// reads where the drive is asked to, not only in order).
#include "audio/audio_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scratch.h"

namespace {

struct Made {
  const char* file;
  const char* make;  // from source.wav, 1.5 s of 44100 Hz stereo
  AudioFormat format;
  bool converted;
};

const Made FILES[] = {
    {"plain.wav", "cp source.wav plain.wav", AudioFormat::Wave, false},
    {"song.aiff", "sox source.wav song.aiff", AudioFormat::Aiff, false},
    {"song.flac", "flac -s -f source.wav -o song.flac", AudioFormat::Flac, false},
    {"song.mp3", "lame --quiet source.wav song.mp3", AudioFormat::Mp3, false},
    {"song.ogg", "oggenc -Q source.wav -o song.ogg", AudioFormat::Vorbis, false},
    {"song.opus", "opusenc --quiet source.wav song.opus", AudioFormat::Opus, true},
    {"song.wv", "wavpack -q -y source.wav -o song.wv", AudioFormat::WavPack, false},
    {"float.wav", "sox source.wav -e floating-point -b 32 float.wav", AudioFormat::Wave, true},
    {"six.wav", "sox source.wav six.wav remix 1 2 1 2 1 2", AudioFormat::Wave, true},
};

std::vector<uint8_t> read_from(AudioFile& file, uint64_t offset, std::size_t size) {
  std::vector<uint8_t> bytes(size);
  EXPECT_TRUE(file.seek(offset)) << file.failure();
  bytes.resize(file.read(bytes.data(), size));
  return bytes;
}

TEST(AudioFile, ContentDecidesAndEveryPathReadsTheSameBytes) {
  ScratchDirectory scratch;
  auto shell = [&](const std::string& command) {
    const ProgramRun run = run_command("sh", {"-c", command}, scratch.path());
    ASSERT_EQ(run.status, 0) << command << "\n" << run.err;
  };
  shell("sox -n -r 44100 -b 16 -c 2 source.wav synth 1.5 whitenoise sine 700 vol 0.4");
  const AudioFormat keywords[] = {audio_format_for_keyword("WAVE"), audio_format_for_keyword("mp3"),
                                  audio_format_for_keyword("Flac"), AudioFormat::Unknown};
  EXPECT_EQ(keywords[0], AudioFormat::Wave);
  EXPECT_EQ(keywords[1], AudioFormat::Mp3);
  EXPECT_EQ(keywords[2], AudioFormat::Flac);
  EXPECT_EQ(audio_format_for_keyword("BINARY"), AudioFormat::Unknown);
  for (const Made& made : FILES) {
    SCOPED_TRACE(made.file);
    shell(made.make);
    const std::string path = scratch.path() + "/" + made.file;
    std::vector<uint8_t> whole;
    for (AudioFormat keyword : keywords) {
      std::string failure;
      const auto file = AudioFile::open(path, keyword, &failure);
      ASSERT_NE(file, nullptr) << failure;
      EXPECT_EQ(file->info().format, made.format) << audio_format_name(keyword);
      EXPECT_EQ(file->info().converted, made.converted);
      EXPECT_EQ(file->info().plain_cd, std::string(made.file) == "plain.wav");
      // 1.5 s at 44100 Hz, give or take what a lossy encoder's frames leave.
      EXPECT_NEAR(static_cast<double>(file->info().cd_bytes), 66150 * 4.0, 4.0);
      const auto length = static_cast<std::size_t>(file->info().cd_bytes);
      const std::vector<uint8_t> all = read_from(*file, 0, length + 100);
      ASSERT_EQ(all.size(), length) << file->failure();
      if (whole.empty()) whole = all;
      EXPECT_TRUE(all == whole) << "another keyword reads other audio";
      // Backwards, forwards and within sample frames, as a reader's sectors go.
      for (uint64_t offset : {uint64_t{200000}, uint64_t{2352}, uint64_t{150001}, uint64_t{7}}) {
        const std::vector<uint8_t> part = read_from(*file, offset, 5003);
        ASSERT_EQ(part.size(), 5003u) << offset;
        EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin() + static_cast<long>(offset)))
            << "from byte " << offset;
      }
    }
  }
  // The warning names what was converted.
  const auto six = AudioFile::open(scratch.path() + "/six.wav", AudioFormat::Wave);
  ASSERT_NE(six, nullptr);
  EXPECT_EQ(
      audio_conversion_warning("six.wav", six->info()),
      "Warning: \"six.wav\" is 44100 Hz 16-bit 6 channels: converted to 44100 Hz 16-bit stereo");
}

// Damaged FLAC files: what is handed out is the audio that was encoded, up
// to the damage, where the read ends with its reason, and a seek before the
// damage lands on the same bytes (the decoder's own seek searches the whole
// file, and fails on damage anywhere).
TEST(AudioFile, DamagedFlacEndsAtTheDamage) {
  ScratchDirectory scratch;
  const ProgramRun made = run_command(
      "sh",
      {"-c",
       "sox -n -r 44100 -b 16 -c 2 source.wav synth 1.5 whitenoise vol 0.4 &&"
       " flac -s -f source.wav -o song.flac && size=$(stat -c %s song.flac) &&"
       " printf 'damaged frames here' | dd of=song.flac bs=1 seek=$((size / 2)) conv=notrunc"
       " status=none"},
      scratch.path());
  ASSERT_EQ(made.status, 0) << made.err;
  const auto source = AudioFile::open(scratch.path() + "/source.wav", AudioFormat::Wave);
  ASSERT_NE(source, nullptr);
  const std::vector<uint8_t> original = read_from(*source, 0, 66150 * 4);
  ASSERT_EQ(original.size(), 66150u * 4);

  std::string failure;
  const auto file = AudioFile::open(scratch.path() + "/song.flac", AudioFormat::Flac, &failure);
  ASSERT_NE(file, nullptr) << failure;
  const std::vector<uint8_t> read = read_from(*file, 0, original.size());
  EXPECT_LT(read.size(), original.size() * 3 / 4);
  EXPECT_NE(file->failure().find("cannot be decoded"), std::string::npos) << file->failure();
  EXPECT_TRUE(std::equal(read.begin(), read.end(), original.begin()));
  // After a seek, the same bytes again.
  const std::size_t from = read.size() / 3 | 1;
  const std::vector<uint8_t> again = read_from(*file, from, read.size() - from);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), original.begin() + static_cast<long>(from)));

  // A file whose first frames lose sync (found by the fuzz target): the
  // frames decoded with the error are not handed out, as a seek would decode
  // others in their place.
  const auto lost = AudioFile::open(CDM_FIXTURE_DIR "/audio/lost_sync.flac", AudioFormat::Flac);
  ASSERT_NE(lost, nullptr);
  const std::vector<uint8_t> start = read_from(*lost, 0, 8820 * 4);
  EXPECT_LT(start.size(), 8820u * 4);
  EXPECT_NE(lost->failure().find("cannot be decoded"), std::string::npos) << lost->failure();
  if (start.size() > 7) {
    const std::size_t at = start.size() / 3 | 1;
    const std::vector<uint8_t> same = read_from(*lost, at, start.size() - at);
    EXPECT_TRUE(std::equal(same.begin(), same.end(), start.begin() + static_cast<long>(at)));
  }
}

}  // namespace

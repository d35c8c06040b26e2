// Audio files as people have them, recorded by cueburn and read back: each
// file is made with the Debian encoders, named on a WAVE line, recorded to
// an emulated recorder, and the recorded disc compared sector by sector with
// what the Debian decoders make of the same file. The emulated reader then
// takes the same sheet as its medium: discinfo and ripspan must find the
// same disc and read the same audio.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/burn_discs.h"
#include "support/run_program.h"
#include "support/scsi_fakes.h"

namespace {

using namespace cueburn_test;
using cdm_test::ScopedEnv;

// 2.5 seconds, 187.5 frames: the last frame is padded. White noise on the
// left and a tone on the right, so that a sample out of place, a channel
// swapped or a block lost shows.
constexpr uint32_t SOURCE_SAMPLES = 110250;
constexpr const char* MAKE_SOURCE =
    "sox -n -r 44100 -b 16 -c 2 source.wav synth 2.5 whitenoise sine 1000 vol 0.4 lowpass 16000";

struct AudioCase {
  const char* name;
  const char* file;
  // Makes `file` from source.wav (and whatever else it needs).
  const char* make;
  // Decodes `file` into reference.raw: 44100 Hz 16-bit stereo little-endian.
  const char* decode;
  // Worst error allowed in any second of audio, in dB below its signal
  // (exact: the bytes must be equal).
  double worst_db;
  bool exact;
  const char* warning;  // the warning line cueburn prints, or empty
};

const AudioCase CASES[] = {
    {"FLAC on a WAVE line", "song.flac", "flac -s -f source.wav -o song.flac",
     "flac -s -d -c --force-raw-format --endian=little --sign=signed song.flac > reference.raw", 0,
     true, ""},
    {"WavPack", "song.wv", "wavpack -q -y source.wav -o song.wv",
     "wvunpack -q -y --raw song.wv -o reference.raw", 0, true, ""},
    {"AIFF", "song.aiff", "sox source.wav song.aiff",
     "sox song.aiff -t raw -e signed -b 16 -L reference.raw", 0, true, ""},
    {"MP3 with an ID3v2 tag", "song.mp3", "lame --quiet --add-id3v2 --tt Song source.wav song.mp3",
     "mpg123 -q -e s16 -s song.mp3 > reference.raw", -60, false, ""},
    {"Ogg Vorbis", "song.ogg", "oggenc -Q source.wav -o song.ogg",
     "oggdec -Q -R song.ogg -o reference.raw", -60, false, ""},
    {"Opus, 48000 Hz", "song.opus", "opusenc --quiet source.wav song.opus",
     "opusdec --quiet --rate 48000 song.opus decoded.wav && "
     "sox decoded.wav -D -t raw -e signed -b 16 -L reference.raw rate -v 44100",
     -40, false, "Warning: \"song.opus\" is 48000 Hz stereo: converted to 44100 Hz 16-bit stereo"},
    {"FLAC of 48000 Hz 24-bit", "hires.flac", "sox source.wav -b 24 hires.flac rate -v 48000",
     "sox hires.flac -D -t raw -e signed -b 16 -L reference.raw rate -v 44100", -40, false,
     "Warning: \"hires.flac\" is 48000 Hz 24-bit stereo: converted to 44100 Hz 16-bit stereo"},
    {"mono WAV of 22050 Hz", "mono.wav", "sox source.wav -c 1 mono.wav rate -v 22050 remix 1",
     "sox mono.wav -D -t raw -e signed -b 16 -L -c 2 reference.raw rate -v 44100", -40, false,
     "Warning: \"mono.wav\" is 22050 Hz 16-bit mono: converted to 44100 Hz 16-bit stereo"},
};

const char SHEET[] = "FILE %s WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";

std::string sheet_for(const std::string& file) {
  char text[128];
  std::snprintf(text, sizeof text, SHEET, file.c_str());
  return text;
}

int16_t sample_at(const std::string& bytes, std::size_t i) {
  return static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                              static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
}

// The recorded image against the decoder's audio, a second (75 sectors) at
// a time: the same length once padded to whole sectors, silence after the
// audio, and in every second an error at least `worst_db` below the signal
// (or no error at all for `exact`).
void expect_audio(const std::string& image, const std::string& reference, const AudioCase& c) {
  const std::size_t sectors = (reference.size() + RAW - 1) / RAW;
  ASSERT_EQ(image.size(), sectors * RAW) << c.name << ": reference of " << reference.size();
  EXPECT_EQ(image.find_first_not_of('\0', reference.size()), std::string::npos)
      << c.name << ": the last sector is not padded with silence";
  const std::size_t per_second = 75 * RAW / 2;
  for (std::size_t first = 0; first < reference.size() / 2; first += per_second) {
    const std::size_t end = std::min(reference.size() / 2, first + per_second);
    double signal = 0;
    double error = 0;
    for (std::size_t i = first; i < end; ++i) {
      const double want = sample_at(reference, i);
      const double got = sample_at(image, i);
      signal += want * want;
      error += (got - want) * (got - want);
    }
    if (c.exact) {
      ASSERT_TRUE(
          image.compare(first * 2, (end - first) * 2, reference, first * 2, (end - first) * 2) == 0)
          << c.name << ": differs in the sectors from LBA " << first * 2 / RAW;
    } else {
      ASSERT_LT(10 * std::log10((error + 1e-9) / signal), c.worst_db)
          << c.name << ": the sectors from LBA " << first * 2 / RAW << " differ";
    }
  }
}

class AudioFiles : public CueBurn {
 protected:
  void shell(const std::string& command) {
    const ProgramRun run = run_command("sh", {"-c", command}, folder);
    ASSERT_EQ(run.status, 0) << command << "\n" << run.err;
  }
};

TEST_F(AudioFiles, EveryFormatRecordsAsItsDecoderHearsIt) {
  shell(MAKE_SOURCE);
  for (const AudioCase& c : CASES) {
    SCOPED_TRACE(c.name);
    shell(c.make);
    shell(c.decode);
    const std::string reference = read_file(folder + "/reference.raw");
    // A decoder that loses or invents samples would pass the comparison
    // by chance no more than a recording would.
    if (std::string(c.file) != "mono.wav") {
      EXPECT_NEAR(static_cast<double>(reference.size()), SOURCE_SAMPLES * 4.0, 4.0);
    }
    write_file(folder + "/song.cue", sheet_for(c.file));
    const std::string disc = folder + "/burned";
    for (const char* ext : {".cue", ".bin", ".state"}) std::remove((disc + ext).c_str());
    const ProgramRun run = cueburn("0:4:0=CDD2000,medium=" + disc, {"song.cue", "/NOCONFIRM"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, *c.warning ? std::string(c.warning) + "\n" : "");
    const std::string image = read_file(disc + ".bin");
    expect_audio(image, reference, c);

    // The emulated reader loads the same sheet and reads the same audio.
    const std::string span = folder + "/span.bin";
    std::remove(span.c_str());
    {
      ScopedEnv bus("EMULATED_SCSI_BUS", "0:3:0=MYSTERY CDROM,medium=" + folder + "/song.cue");
      const ProgramRun rip = run_program(
          "ripspan", {span, "/BIN", "/BATCH", "/END=" + std::to_string(image.size() / RAW - 1)},
          folder);
      ASSERT_EQ(rip.status, 0) << rip.out << rip.err;
      // discinfo finds the disc as long as the file's audio; the drive says
      // nothing of how its disc was made.
      const ProgramRun info = run_program("discinfo", {"/NOPROMPT"}, folder);
      ASSERT_EQ(info.status, 0) << info.err;
      EXPECT_EQ(info.err, "");
      char leadout[32];
      std::snprintf(leadout, sizeof leadout, "(LBA %06zu)\n", image.size() / RAW);
      EXPECT_NE(info.out.find(leadout), std::string::npos) << info.out;
    }
    EXPECT_TRUE(read_file(span) == image) << "the emulated reader reads other audio";
  }
}

// WAV files as writers leave them: every layout is CD audio read as it
// stands, byte for byte.
struct WavLayout {
  const char* name;
  uint32_t riff_size;               // 0: the true size
  std::vector<std::string> before;  // chunks before "fmt " and between it and "data"
  bool extensible;
  uint32_t data_size;  // 1: the true size
};

std::string chunk(const char* tag, const std::string& body) {
  std::string out(tag, 4);
  const auto size = static_cast<uint32_t>(body.size());
  for (int i = 0; i < 4; ++i) out += static_cast<char>(size >> (8 * i));
  out += body;
  if (body.size() % 2) out += '\0';
  return out;
}

std::string le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}

std::string wav_bytes(const WavLayout& layout, const std::string& samples) {
  std::string format = le(layout.extensible ? 0xFFFE : 1, 2) + le(2, 2) + le(44100, 4) +
                       le(176400, 4) + le(4, 2) + le(16, 2);
  if (layout.extensible)
    format += le(22, 2) + le(16, 2) + le(3, 4) + le(1, 2) +
              std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
  std::string body = "WAVE";
  for (const std::string& c : layout.before) body += c;
  body += chunk("fmt ", format);
  std::string data = chunk("data", samples);
  if (layout.data_size != 1) data.replace(4, 4, le(layout.data_size, 4));
  body += data;
  return "RIFF" + le(layout.riff_size ? layout.riff_size : static_cast<uint32_t>(body.size()), 4) +
         body;
}

TEST_F(AudioFiles, WavLayoutsThatWritersLeaveAreReadAsTheyStand) {
  std::string samples;
  for (uint32_t i = 0; i < 100 * RAW + 1000; ++i) samples += static_cast<char>(i * 7 % 251);
  const WavLayout layouts[] = {
      {"odd LIST chunk with its pad byte, fact, bext and JUNK",
       0,
       {chunk("LIST", "INFOISFT\x03\0\0\0ab"), chunk("fact", le(1, 4)),
        chunk("bext", std::string(602, 'b')), chunk("JUNK", std::string(27, '\0'))},
       false,
       1},
      {"WAVE_FORMAT_EXTENSIBLE", 0, {}, true, 1},
      {"streamed: data length 0xFFFFFFFF", 0xFFFFFFFF, {}, false, 0xFFFFFFFF},
      {"streamed: data length 0", 0, {chunk("JUNK", "x")}, false, 0},
  };
  for (const WavLayout& layout : layouts) {
    SCOPED_TRACE(layout.name);
    write_file(folder + "/song.wav", wav_bytes(layout, samples));
    write_file(folder + "/song.cue", sheet_for("song.wav"));
    const std::string disc = folder + "/burned";
    for (const char* ext : {".cue", ".bin", ".state"}) std::remove((disc + ext).c_str());
    const ProgramRun run = cueburn("0:4:0=CDD2000,medium=" + disc, {"song.cue", "/NOCONFIRM"});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    std::string expected = samples;
    expected.resize(101 * RAW, '\0');
    EXPECT_TRUE(read_file(disc + ".bin") == expected);
  }
}

// A file that stops decoding part way ends the recording, saying where.
TEST_F(AudioFiles, FileThatCannotBeDecodedToItsEndStopsTheRecording) {
  shell(MAKE_SOURCE);
  shell(
      "flac -s -f source.wav -o whole.flac && head -c $(( $(stat -c %s whole.flac) / 2 )) "
      "whole.flac > song.flac");
  write_file(folder + "/song.cue", sheet_for("song.flac"));
  const ProgramRun run =
      cueburn("0:4:0=CDD2000,medium=" + folder + "/burned", {"song.cue", "/NOCONFIRM"});
  EXPECT_EQ(run.status, 1);
  const std::string lead =
      "\nError: Unexpected failure reading file (end-of-file?)\n\"SONG.FLAC\": the audio cannot "
      "be decoded past sample ";
  EXPECT_EQ(run.err.substr(0, lead.size()), lead) << run.err;
  EXPECT_NE(run.err.find(" of " + std::to_string(SOURCE_SAMPLES) + "\n"), std::string::npos)
      << run.err;
}

}  // namespace

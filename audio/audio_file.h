// The audio file front end: every audio file a cue sheet may name (WAV of
// every kind, AIFF, FLAC, MP3, Ogg Vorbis, Opus, WavPack), opened, measured
// and read as CD audio: 44100 Hz, 16-bit, stereo, little-endian samples, the
// bytes a WAVE track's image holds. The cue sheet parser measures a file
// with it, the recording engine streams it and the emulated reader reads it,
// all through AudioFile.
//
// A WAV file that already holds CD audio (any chunks around it, odd chunks
// with their pad byte, WAVE_FORMAT_EXTENSIBLE, a streamed data length of 0 or
// 0xFFFFFFFF) is read as it stands, its bytes unchanged. Anything else is
// decoded (libsndfile, libwavpack) and, when it is not CD audio, converted:
// resampled with libsoxr, mixed to two channels and dithered to 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/byte_stream.h"

// What a file holds, found from its first bytes.
enum class AudioFormat : uint8_t { Unknown = 0, Wave, Aiff, Flac, Mp3, Vorbis, Opus, WavPack };

// The format a cue sheet's file type keyword names, compared without regard
// to case: "WAVE", "AIFF", "FLAC", "MP3", "OGG" (Vorbis), "OPUS", "WAVPACK";
// Unknown for any other word ("BINARY" included).
AudioFormat audio_format_for_keyword(std::string_view keyword);

// "WAV", "AIFF", "FLAC", "MP3", "Ogg Vorbis", "Opus", "WavPack"; "unknown".
const char* audio_format_name(AudioFormat format);

// Bytes of one CD audio sample frame (two channels of 16 bits).
constexpr uint32_t CD_FRAME_BYTES = 4;
constexpr uint32_t CD_SAMPLE_RATE = 44100;

struct AudioFileInfo {
  AudioFormat format = AudioFormat::Unknown;  // what the content is
  // A WAV file of CD audio: its bytes from data_offset are the image.
  bool plain_cd = false;
  uint64_t data_offset = 0;  // plain_cd only: the first sample byte in the file
  // Bytes of CD audio the file gives: 4 per sample frame at 44100 Hz, the
  // exact count the decoder reports (an MP3's encoder delay and padding
  // left out), converted to 44100 Hz where the file has another rate.
  uint64_t cd_bytes = 0;
  // The audio as the file holds it: rate, channels, bits per sample (0 for
  // lossy formats, which have none).
  uint32_t sample_rate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;
  // True when the file's audio is changed on its way to CD audio (another
  // rate, more or fewer channels than 2, more bits than 16).
  bool converted = false;
};

// An audio file opened for reading as CD audio. Not copyable; one reader at
// a time per object.
class AudioFile : public ByteSource {
 public:
  // Opens the regular file at `path`. `expected` is the format the cue sheet
  // names (Unknown: none); the file's content decides where it does not fit,
  // so a `WAVE` line naming a FLAC file reads it as FLAC. Answers null when
  // the file cannot be opened or no decoder reads it, with the reason in
  // `failure` when given ("No such file or directory", "not an audio file
  // that can be read"). `opened`, when given, tells whether the file itself
  // could be opened (false: missing or not a regular file).
  static std::unique_ptr<AudioFile> open(const std::string& path, AudioFormat expected,
                                         std::string* failure = nullptr, bool* opened = nullptr);
  ~AudioFile() override;

  const AudioFileInfo& info() const { return info_; }

  // info().cd_bytes; always known.
  bool length(uint64_t* bytes) override;
  // Reads up to `size` bytes of CD audio from the current position; short
  // only at the end (cd_bytes) or when the file cannot be decoded further,
  // which failure() then says. Blocks need not be whole sample frames.
  std::size_t read(uint8_t* buffer, std::size_t size) override;
  // Moves to byte `offset` of the CD audio (at most cd_bytes). Exact for
  // every format; for a converted file a move backwards decodes again from
  // the start. False when the file cannot be decoded up to there.
  bool seek(uint64_t offset);
  uint64_t position() const { return position_; }
  // Why the last read came up short before the end, or the last seek failed.
  const std::string& failure() const { return failure_; }

  // The decoder behind a file that is not plain CD audio (internal).
  class Decoder;

 protected:
  AudioFile() = default;

 private:
  AudioFileInfo info_;
  int fd_ = -1;
  uint64_t position_ = 0;
  uint8_t partial_[CD_FRAME_BYTES] = {};  // the frame a position within a frame lies in
  std::string failure_;
  std::unique_ptr<Decoder> decoder_;
};

// The one warning line for a file whose audio is converted, without a line
// end, e.g. 'Warning: "song.flac" is 48000 Hz 24-bit stereo: converted to
// 44100 Hz 16-bit stereo'; empty when the file is not converted. `name` is
// the name as the cue sheet writes it.
std::string audio_conversion_warning(const std::string& name, const AudioFileInfo& info);

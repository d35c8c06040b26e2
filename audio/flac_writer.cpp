#include "audio/flac_writer.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <nettle/md5.h>

#include <algorithm>
#include <stdexcept>

#include "common/background_job.h"
#include "common/byteorder.h"

// libFLAC exports the switch that leaves the MD5 sum to its caller (its own
// command-line encoder uses it for --no-md5-sum) without declaring it in
// its public headers. The name is the library's own, hence reserved.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" FLAC__bool FLAC__stream_encoder_set_do_md5(FLAC__StreamEncoder* encoder,
                                                      FLAC__bool value);

namespace {

// The fastest of libFLAC's levels: a disc read at full speed keeps one core
// busy already, and the higher levels save a few percent of the file for
// several times the encoding.
constexpr unsigned COMPRESSION_LEVEL = 0;
// Bytes handed to the encoding thread at a time: large enough that handing
// over costs nothing beside the encoding, small enough to stay in cache.
constexpr std::size_t CHUNK_BYTES = 1 << 20;
constexpr unsigned CHANNELS = 2;
// Where the stream's header keeps the audio's MD5 sum: behind "fLaC", the
// STREAMINFO block's own header and its first 18 bytes.
constexpr long MD5_AT = 4 + 4 + 18;

FLAC__StreamEncoderWriteStatus write_bytes(const FLAC__StreamEncoder*, const FLAC__byte buffer[],
                                           size_t bytes, uint32_t, uint32_t, void* file) {
  return std::fwrite(buffer, 1, bytes, static_cast<std::FILE*>(file)) == bytes
             ? FLAC__STREAM_ENCODER_WRITE_STATUS_OK
             : FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
}

FLAC__StreamEncoderSeekStatus seek_to(const FLAC__StreamEncoder*, FLAC__uint64 offset, void* file) {
  return fseeko(static_cast<std::FILE*>(file), static_cast<off_t>(offset), SEEK_SET) == 0
             ? FLAC__STREAM_ENCODER_SEEK_STATUS_OK
             : FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
}

FLAC__StreamEncoderTellStatus tell(const FLAC__StreamEncoder*, FLAC__uint64* offset, void* file) {
  const off_t at = ftello(static_cast<std::FILE*>(file));
  if (at < 0) return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
  *offset = static_cast<FLAC__uint64>(at);
  return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
}

}  // namespace

struct FlacWriter::Stream {
  std::FILE* file = nullptr;
  FLAC__StreamEncoder* encoder = nullptr;
  FLAC__StreamMetadata* comments = nullptr;
  std::vector<uint8_t> filling;   // bytes the caller added since the last hand-over
  std::vector<uint8_t> encoding;  // bytes the thread encodes
  std::vector<FLAC__int32> samples;
  md5_ctx md5{};  // of every byte added, summed on the caller's thread
  bool failed = false;
  bool finished = false;
  BackgroundJob thread;  // last: stops before the buffers it uses go

  ~Stream() {
    thread.wait();
    if (encoder != nullptr) FLAC__stream_encoder_delete(encoder);
    if (comments != nullptr) FLAC__metadata_object_delete(comments);
    if (file != nullptr) std::fclose(file);
  }

  // The audio's MD5 sum into the finished stream's STREAMINFO block, which
  // libFLAC always writes first, right after "fLaC", with zeros for a sum
  // it was not asked to compute.
  bool write_md5() {
    uint8_t digest[MD5_DIGEST_SIZE] = {};
    md5_digest(&md5, sizeof digest, digest);
    return std::fseek(file, MD5_AT, SEEK_SET) == 0 &&
           std::fwrite(digest, 1, sizeof digest, file) == sizeof digest;
  }

  // Runs on the thread: the chunk's samples into the encoder.
  int encode() {
    const std::size_t frames = encoding.size() / (2 * CHANNELS);
    samples.resize(frames * CHANNELS);
    for (std::size_t i = 0; i < samples.size(); ++i)
      samples[i] = static_cast<int16_t>(get_le16(encoding.data() + 2 * i));
    const bool encoded = FLAC__stream_encoder_process_interleaved(encoder, samples.data(),
                                                                  static_cast<uint32_t>(frames));
    return encoded ? 0 : 1;
  }
};

FlacWriter::FlacWriter(std::FILE* file, uint64_t total_bytes, const std::vector<AudioTag>& tags)
    : stream_(std::make_unique<Stream>()) {
  Stream& s = *stream_;
  s.file = file;
  s.encoder = FLAC__stream_encoder_new();
  s.comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
  if (s.encoder == nullptr || s.comments == nullptr)
    throw std::runtime_error("libFLAC cannot start a stream");
  for (const auto& [name, value] : tags) {
    FLAC__StreamMetadata_VorbisComment_Entry entry;
    if (!FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                        value.c_str()) ||
        !FLAC__metadata_object_vorbiscomment_append_comment(s.comments, entry, false))
      throw std::runtime_error("libFLAC refuses the tag " + name);
  }
  FLAC__StreamMetadata* blocks[] = {s.comments};
  const bool set = FLAC__stream_encoder_set_channels(s.encoder, CHANNELS) &&
                   FLAC__stream_encoder_set_bits_per_sample(s.encoder, 16) &&
                   FLAC__stream_encoder_set_sample_rate(s.encoder, 44100) &&
                   FLAC__stream_encoder_set_compression_level(s.encoder, COMPRESSION_LEVEL) &&
                   FLAC__stream_encoder_set_do_md5(s.encoder, false) &&
                   FLAC__stream_encoder_set_total_samples_estimate(s.encoder, total_bytes / 4) &&
                   FLAC__stream_encoder_set_metadata(s.encoder, blocks, 1);
  if (!set || FLAC__stream_encoder_init_stream(s.encoder, write_bytes, seek_to, tell, nullptr,
                                               file) != FLAC__STREAM_ENCODER_INIT_STATUS_OK)
    throw std::runtime_error("libFLAC cannot start a stream");
  s.filling.reserve(CHUNK_BYTES);
  s.encoding.reserve(CHUNK_BYTES);
  md5_init(&s.md5);
}

FlacWriter::~FlacWriter() { finish(); }

void FlacWriter::hand_over() {
  Stream& s = *stream_;
  if (s.thread.wait() != 0) s.failed = true;
  if (s.failed) {
    s.filling.clear();
    return;
  }
  std::swap(s.filling, s.encoding);
  s.filling.clear();
  if (!s.encoding.empty()) s.thread.start([&s] { return s.encode(); });
}

bool FlacWriter::add(const uint8_t* bytes, std::size_t count) {
  Stream& s = *stream_;
  while (count > 0 && !s.failed) {
    const std::size_t take = std::min(count, CHUNK_BYTES - s.filling.size());
    // The sum of 16-bit little-endian stereo samples is the sum of their
    // bytes as they come: summed here, beside the encoding thread's work,
    // it costs the encoder nothing.
    md5_update(&s.md5, take, bytes);
    s.filling.insert(s.filling.end(), bytes, bytes + take);
    bytes += take;
    count -= take;
    if (s.filling.size() == CHUNK_BYTES) hand_over();
  }
  return !s.failed;
}

bool FlacWriter::finish() {
  Stream& s = *stream_;
  if (s.finished) return !s.failed;
  s.finished = true;
  if (s.file == nullptr) return false;
  hand_over();
  if (s.thread.wait() != 0) s.failed = true;
  // Ends the stream and writes the sample count and checksum into its header.
  if (s.encoder != nullptr && !FLAC__stream_encoder_finish(s.encoder)) s.failed = true;
  if (!s.failed && !s.write_md5()) s.failed = true;
  if (std::fclose(s.file) != 0) s.failed = true;
  s.file = nullptr;
  return !s.failed;
}

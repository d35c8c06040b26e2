#include "tools/shared/rip_output.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "common/wav.h"
#include "tools/shared/medium_files.h"

namespace {

constexpr uint32_t RIFF_SIZE_AT = 4;
constexpr uint32_t DATA_SIZE_AT = 40;
constexpr uint64_t MAX_WAV_LENGTH = 0xFFFFFFFFull;
constexpr uint32_t CANONICAL_EXTRA = 36;  // RIFF size - data size of the canonical header

// True when nothing is at the path or it is a regular file.
bool usable_path(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return true;
  return S_ISREG(status.st_mode);
}

bool tag_at(const uint8_t* header, uint32_t at, const char* tag) {
  return std::memcmp(header + at, tag, 4) == 0;
}

// The canonical header of a CD audio WAV file, with "data" right after the
// format chunk so that the data length is where the tool updates it.
bool cd_wav_header(const uint8_t* h) {
  return tag_at(h, 0, "RIFF") && tag_at(h, 8, "WAVE") && tag_at(h, 12, "fmt ") &&
         get_le32(h + 16) == 16 && get_le16(h + 20) == 1 && get_le16(h + 22) == 2 &&
         get_le32(h + 24) == 44100 && get_le32(h + 28) == 176400 && get_le16(h + 32) == 4 &&
         get_le16(h + 34) == 16 && tag_at(h, 36, "data");
}

// Opens the file without emptying it, so that a file refused after the
// open (one that holds a disc, or that is no longer a regular file) is left
// whole, and empties it only then when `create`. Prints `failure` (with the
// reason for a disc's file) and throws ToolExit{1} when it cannot be used.
std::FILE* open_output(const std::string& path, bool create, const std::string& failure) {
  if (path_holds_medium(path)) fail_with(failure + MEDIUM_FILE_REASON + "\n");
  if (!usable_path(path)) fail_with(failure);
  const int flags = (create ? O_WRONLY | O_CREAT : O_RDWR) | O_CLOEXEC | O_NONBLOCK;
  const int fd = open(path.c_str(), flags, 0666);
  if (fd < 0) fail_with(failure);
  struct stat info {};
  const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  const bool medium = descriptor_holds_medium(fd);
  if (!regular || medium || (create && info.st_size > 0 && ftruncate(fd, 0) != 0) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    close(fd);
    fail_with(medium ? failure + MEDIUM_FILE_REASON + "\n" : failure);
  }
  std::FILE* file = fdopen(fd, create ? "wb" : "r+b");
  if (file == nullptr) {
    close(fd);
    fail_with(failure);
  }
  return file;
}

[[noreturn]] void too_long() {
  fail_with("Error: WAV file cannot hold 4 GB or more of audio data!\n");
}

}  // namespace

RipOutput::RipOutput(const std::string& path, bool append, RipFormat format, uint64_t byte_count,
                     const std::vector<AudioTag>& tags)
    : wav_(format == RipFormat::Wav), appending_(append) {
  const bool wav = wav_;
  if (format == RipFormat::Flac) {
    file_ =
        open_output(path, true, format_text("Error creating output file \"%s\"\n", path.c_str()));
    use_large_buffer();
    std::FILE* file = file_;
    file_ = nullptr;  // the writer's from now on, closed by it
    try {
      flac_ = std::make_unique<FlacWriter>(file, byte_count, tags);
    } catch (const std::runtime_error& failure) {
      raise_message(MSG_TEXT, 1, 0, 0, failure.what());
    }
    return;
  }
  if (!append) {
    if (wav && byte_count + CANONICAL_EXTRA > MAX_WAV_LENGTH) too_long();
    file_ =
        open_output(path, true, format_text("Error creating output file \"%s\"\n", path.c_str()));
    use_large_buffer();
    if (wav) write_lengths(byte_count);
    span_start_ = wav ? WAV_HEADER_SIZE : 0;
    return;
  }
  file_ = open_output(path, false, format_text("Error opening output file \"%s\"\n", path.c_str()));
  use_large_buffer();
  if (wav) {
    uint8_t header[WAV_HEADER_SIZE] = {};
    if (std::fread(header, 1, sizeof header, file_) != sizeof header || !cd_wav_header(header))
      fail_with("WAV file is invalid/corrupt or not CD compatible!\n");
    riff_size_ = get_le32(header + RIFF_SIZE_AT);
    data_size_ = get_le32(header + DATA_SIZE_AT);
    if (riff_size_ + byte_count > MAX_WAV_LENGTH || data_size_ + byte_count > MAX_WAV_LENGTH)
      too_long();
  }
  std::fseek(file_, 0, SEEK_END);
  span_start_ = static_cast<uint64_t>(std::max<long>(std::ftell(file_), 0));
}

// The span's blocks come a READ at a time; the file takes them in pieces of
// half a megabyte, which cost the file system much less than one per READ.
// A failed write then shows at a later one or when the file is closed.
void RipOutput::use_large_buffer() {
  buffer_ = std::make_unique<StreamBuffer>(OUTPUT_BUFFER_BYTES);
  std::setvbuf(file_, reinterpret_cast<char*>(buffer_->data()), _IOFBF, buffer_->size());
}

RipOutput::~RipOutput() {
  flac_.reset();
  if (file_ != nullptr) std::fclose(file_);
}

SpanSink RipOutput::sink() {
  return [this](const uint8_t* blocks, uint16_t size, uint32_t count) {
    if (flac_) {
      if (!flac_->add(blocks, std::size_t{size} * count))
        raise_message(MSG_FILE_WRITE_FAILED, 0, 0, 0);
      written_ += uint64_t{size} * count;
      return;
    }
    const std::size_t records = std::fwrite(blocks, size, count, file_);
    written_ += uint64_t{records} * size;
    if (records < count) raise_message(MSG_FILE_WRITE_FAILED, 0, 0, 0);
  };
}

bool RipOutput::write_lengths(uint64_t written) {
  if (!wav_) return true;
  if (!appending_) {
    WavHeader header;
    init_wav_header(&header, static_cast<uint32_t>(written));
    const std::array<uint8_t, WAV_HEADER_SIZE> bytes = wav_header_bytes(header);
    return std::fseek(file_, 0, SEEK_SET) == 0 &&
           std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
  }
  // Only the two length fields of an appended file change.
  uint8_t riff[4], data[4];
  put_le32(riff, static_cast<uint32_t>(riff_size_ + written));
  put_le32(data, static_cast<uint32_t>(data_size_ + written));
  return std::fseek(file_, RIFF_SIZE_AT, SEEK_SET) == 0 && std::fwrite(riff, 1, 4, file_) == 4 &&
         std::fseek(file_, DATA_SIZE_AT, SEEK_SET) == 0 && std::fwrite(data, 1, 4, file_) == 4;
}

void RipOutput::finish() {
  if (flac_) {
    const bool ended = flac_->finish();
    flac_.reset();
    if (!ended) raise_message(MSG_FILE_WRITE_FAILED, 0, 0, 0);
    return;
  }
  // The blocks still in the buffer go first: a header must not count
  // blocks that never reached the file.
  if (std::fflush(file_) != 0) {
    finish_after_failure();
    raise_message(MSG_FILE_WRITE_FAILED, 0, 0, 0);
  }
  const bool lengths = write_lengths(written_);
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!lengths || !closed) raise_message(MSG_FILE_WRITE_FAILED, 0, 0, 0);
}

void RipOutput::finish_after_failure() noexcept {
  if (flac_) {
    flac_->finish();
    flac_.reset();
    return;
  }
  // What the buffer still holds is written if it can be, else dropped, so
  // that the file's length says what the span left in it.
  if (std::fflush(file_) != 0) __fpurge(file_);
  struct stat info {};
  if (wav_ && fstat(fileno(file_), &info) == 0) {
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    const uint64_t written = size > span_start_ ? size - span_start_ : 0;
    clearerr(file_);
    write_lengths(written);
    if (std::fflush(file_) != 0) __fpurge(file_);
  }
  std::fclose(file_);
  file_ = nullptr;
}

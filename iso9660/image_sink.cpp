#include "iso9660/image_sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/console.h"
#include "common/sector.h"

namespace {

// Whole raw sectors that fit in one 65000-byte buffer.
constexpr std::size_t kRawSectorsBuffered = 65000 / RAW_SECTOR_SIZE;

[[noreturn]] void fail_writing() {
  fail_with("\nUnexpected error writing image file (disk full?)!\n");
}

}  // namespace

ImageFileSink::ImageFileSink(const std::string& path, bool raw)
    : raw_(raw), buffer_(raw ? kRawSectorsBuffered * RAW_SECTOR_SIZE : MAX_PIECE_BYTES) {
  // O_NONBLOCK: a FIFO that no one reads is refused at once instead of
  // holding the run; writes block again once the file is open.
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd_ >= 0 && fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int error = errno;
    close(fd_);
    fd_ = -1;
    errno = error;
  }
  if (fd_ < 0) {
    fail_with(format_text("Error: Unable to create ISO9660 image file \"%s\"\n%s\n", path.c_str(),
                          std::strerror(errno)));
  }
}

ImageFileSink::~ImageFileSink() {
  if (fd_ >= 0) close(fd_);
}

void ImageFileSink::append(const uint8_t* data, std::size_t length) {
  if (raw_) {
    for (std::size_t done = 0; done < length; done += ISO_BLOCK_SIZE) {
      if (buffered_ + RAW_SECTOR_SIZE > buffer_.size()) flush();
      build_sector(buffer_.data() + buffered_, SECTOR_MODE1, static_cast<int32_t>(running_block_++),
                   nullptr, data + done, false, false, false);
      buffered_ += RAW_SECTOR_SIZE;
    }
    return;
  }
  if (buffered_ + length > buffer_.size()) flush();
  if (length == buffer_.size()) {
    write_out(data, length);
  } else {
    std::memcpy(buffer_.data() + buffered_, data, length);
    buffered_ += length;
  }
  running_block_ += static_cast<uint32_t>(length / ISO_BLOCK_SIZE);
}

void ImageFileSink::finish() {
  flush();
  const int fd = fd_;
  fd_ = -1;
  if (close(fd) != 0) fail_writing();
}

void ImageFileSink::flush() {
  write_out(buffer_.data(), buffered_);
  buffered_ = 0;
}

void ImageFileSink::write_out(const uint8_t* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd_, data, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail_writing();
    data += n;
    length -= static_cast<std::size_t>(n);
  }
}

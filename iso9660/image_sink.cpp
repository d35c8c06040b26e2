#include "iso9660/image_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/console.h"
#include "common/sector.h"

namespace {

// Whole raw sectors that fit in one 65000-byte buffer.
constexpr std::size_t kRawSectorsBuffered = 65000 / RAW_SECTOR_SIZE;

// The fewest bytes copied file to file: the blocks of smaller files are
// gathered in the buffer, one write for many files, which costs less than
// two calls for each.
constexpr uint64_t kSmallestFileCopy = 8 * ISO_BLOCK_SIZE;

[[noreturn]] void fail_writing() {
  fail_with("\nUnexpected error writing image file (disk full?)!\n");
}

// Failures of a copy from file to file that only say the kernel cannot copy
// between these two files (another file system, a file it cannot copy
// from): the data then go through memory.
bool copy_refused(int error) { return error == EXDEV || error == EINVAL; }

// Failures that say it can copy into the image from no file at all.
bool copy_unsupported(int error) {
  return error == ENOSYS || error == EOPNOTSUPP || error == EBADF || error == EPERM;
}

// Failures of a copy from file to file on the side of the image.
bool image_full(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

}  // namespace

ImageFileSink::ImageFileSink(const std::string& path, bool raw)
    : raw_(raw), buffer_(raw ? kRawSectorsBuffered * RAW_SECTOR_SIZE : MAX_PIECE_BYTES) {
  // O_NONBLOCK: a FIFO that no one reads is refused at once instead of
  // holding the run; writes block again once the file is open. An image
  // that exists is written over and cut to its new length at the end, not
  // emptied first: its blocks are reused instead of freed and allocated
  // again, and the file system does not force the new data out at close as
  // it does for a file that was emptied.
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
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
  struct stat info {};
  regular_ = fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
  copy_files_ = regular_ && !raw_;
}

ImageFileSink::~ImageFileSink() {
  if (fd_ < 0) return;
  cut_to_written();  // nothing of the image replaced stays behind what was written
  close(fd_);
}

bool ImageFileSink::cut_to_written() {
  if (!regular_) return true;
  const off_t written = lseek(fd_, 0, SEEK_CUR);
  return written >= 0 && ftruncate(fd_, written) == 0;
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

std::optional<uint64_t> ImageFileSink::append_file(int fd, uint64_t length) {
  if (!copy_files_ || length < kSmallestFileCopy) return std::nullopt;
  flush();
  uint64_t done = 0;
  while (done < length) {
    const ssize_t n = copy_file_range(fd, nullptr, fd_, nullptr, length - done, 0);
    if (n > 0) {
      done += static_cast<uint64_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && done == 0 && (copy_refused(errno) || copy_unsupported(errno))) {
      if (copy_unsupported(errno)) copy_files_ = false;
      return std::nullopt;
    }
    if (n < 0 && image_full(errno)) fail_writing();
    break;  // the file ended, or failed to be read: the caller's read finds which
  }
  // Whole blocks only: a part of a block is taken back from both files and
  // comes again through memory.
  const uint64_t part = done % ISO_BLOCK_SIZE;
  if (part != 0) {
    const off_t back = -static_cast<off_t>(part);
    if (lseek(fd_, back, SEEK_CUR) < 0 || lseek(fd, back, SEEK_CUR) < 0) fail_writing();
    done -= part;
  }
  running_block_ += static_cast<uint32_t>(done / ISO_BLOCK_SIZE);
  return done;
}

void ImageFileSink::finish() {
  flush();
  if (!cut_to_written()) fail_writing();
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

// Whole-file binary input and output through POSIX descriptors, behind two
// small interfaces so that code which streams blocks can be driven by tests
// with faults of their own (a read that comes up short, a write or a close
// that fails).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Where blocks come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The length in bytes, or false when it cannot be known.
  virtual bool length(uint64_t* bytes) = 0;
  // Reads up to `size` bytes, as many as there are; returns the count, which
  // is short only at the end of the data or after an error.
  virtual std::size_t read(uint8_t* buffer, std::size_t size) = 0;
};

// Where blocks go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all `size` bytes; false when any of them could not be written.
  virtual bool write(const uint8_t* data, std::size_t size) = 0;
  // Finishes the output; false when data written before could not be kept.
  virtual bool close() = 0;
};

// A file opened for reading: a regular file or a block device, anything else
// (a directory, a pipe, a character device such as /dev/zero) is refused
// without waiting for it (a pipe opened for reading would wait for a writer).
class FileSource : public ByteSource {
 public:
  FileSource() = default;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  ~FileSource() override;
  // False when the file cannot be opened or is not of a kind above;
  // failure() then says why.
  bool open(const std::string& path);
  bool length(uint64_t* bytes) override;
  std::size_t read(uint8_t* buffer, std::size_t size) override;
  int descriptor() const { return fd_; }
  // Why the last open failed, in the system's words where it gave them
  // ("No such file or directory").
  const std::string& failure() const { return failure_; }

 private:
  int fd_ = -1;
  std::string failure_;
};

// A file created for writing (an existing one is emptied). create fails for
// a name that cannot be created, for a named pipe that no one reads (rather
// than waiting for a reader), and when the name is the file `not_from` reads,
// however it is reached (a hard or symbolic link): that file is never emptied.
class FileSink : public ByteSink {
 public:
  FileSink() = default;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  ~FileSink() override;
  bool create(const std::string& path, const FileSource* not_from = nullptr);
  bool write(const uint8_t* data, std::size_t size) override;
  bool close() override;
  // Why the last create failed ("Permission denied", "It is the input file").
  const std::string& failure() const { return failure_; }

 private:
  int fd_ = -1;
  std::string failure_;
};

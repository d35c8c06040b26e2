// A page-aligned buffer that large files stream through, in huge pages where
// the machine offers them: the kernel's copies into and out of it then walk
// one page table entry for 2 MiB instead of one for every 4 KiB, which costs
// a good part of a copy on a virtual machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class StreamBuffer {
 public:
  // `size` bytes, not zeroed; prints "\nMemory allocation error!\n" and
  // throws ToolExit{1} when there is no memory.
  explicit StreamBuffer(std::size_t size);

  uint8_t* data() { return block_.get(); }
  const uint8_t* data() const { return block_.get(); }
  std::size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(uint8_t* block) const;
  };
  std::unique_ptr<uint8_t, Free> block_;
  std::size_t size_;
};

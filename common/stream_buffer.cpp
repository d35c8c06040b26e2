#include "common/stream_buffer.h"

#include <sys/mman.h>

#include <cstdlib>

#include "common/console.h"

namespace {

constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;

}  // namespace

StreamBuffer::StreamBuffer(std::size_t size) : size_(size) {
  // Whole huge pages, aligned to one; a buffer of a few pages stays in
  // small ones (the unused part of a huge page would only cost memory).
  const std::size_t whole = (size + HUGE_PAGE_BYTES - 1) / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
  if (size >= HUGE_PAGE_BYTES / 8) {
    if (void* block = std::aligned_alloc(HUGE_PAGE_BYTES, whole)) {
      ::madvise(block, whole, MADV_HUGEPAGE);  // a hint: without it, small pages
      block_.reset(static_cast<uint8_t*>(block));
      return;
    }
  }
  block_.reset(static_cast<uint8_t*>(allocate_or_exit(size, false)));
}

void StreamBuffer::Free::operator()(uint8_t* block) const { std::free(block); }

#include "common/stream_buffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>

#include "common/console.h"

namespace {

constexpr std::size_t PAGE_BYTES = 4096;
constexpr std::size_t HUGE_PAGE_BYTES = std::size_t{2} << 20;

}  // namespace

StreamBuffer::StreamBuffer(std::size_t size) : size_(size) {
  // Whole huge pages, aligned to one; a buffer of a few pages stays in small
  // ones (the unused part of a huge page would only cost memory), aligned to
  // a page all the same: the kernel copies file data to and from
  // page-aligned memory faster than to places at other offsets.
  const bool huge = size >= HUGE_PAGE_BYTES / 8;
  const std::size_t alignment = huge ? HUGE_PAGE_BYTES : PAGE_BYTES;
  const std::size_t whole =
      std::max<std::size_t>(1, (size + alignment - 1) / alignment) * alignment;
  void* block = std::aligned_alloc(alignment, whole);
  if (block == nullptr) block = allocate_or_exit(size, false);  // prints the failure and throws
  if (huge) ::madvise(block, whole, MADV_HUGEPAGE);             // a hint: without it, small pages
  block_.reset(static_cast<uint8_t*>(block));
}

void StreamBuffer::Free::operator()(uint8_t* block) const { std::free(block); }

#include "engine/span_reading.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/console.h"
#include "common/interrupt.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "drivers/recording_events.h"

namespace {

constexpr uint32_t SYNC_LESS_SIZE = 2340;  // a raw sector without its sync field
constexpr uint32_t HEADER_SIZE = 4;
// Reads of a span's last blocks that may land too early to hold them before
// the reader gives up the overlap and takes the blocks as the drive gives them.
constexpr unsigned TAIL_RETRIES = 8;

[[noreturn]] void bugcheck() { raise_message(MSG_BUGCHECK, 0, 0, 0); }

bool jitter_correction(const CdReader& reader, uint16_t block_size, JitterMode mode) {
  if (block_size != RAW_SECTOR_SIZE) return false;
  if (mode == JITTER_OFF) return false;
  if (mode == JITTER_ON) return true;
  return (reader.readerCaps & CAP_JITTER_CORRECT) != 0;
}

// Where the data of an overlapping read begins: just after the reference
// sector; 0 when the reference is not in the buffer.
std::size_t resynchronise(const uint8_t* reference, const uint8_t* buffer, uint32_t count) {
  const uint8_t* match = find_sector(reference, buffer, static_cast<uint16_t>(count));
  if (match == nullptr) return 0;
  return static_cast<std::size_t>(match - buffer) + RAW_SECTOR_SIZE;
}

// The block, counted from `data`, that becomes the next reference: the last
// non-silent one with at least one block before it, so that a read makes
// headway; -1 when there is none. A batch that passes a single block (the
// tail of a span, where reads that land early pass one block at a time)
// keeps it, or the next read would have to start afresh.
int64_t reference_block(const uint8_t* data, uint32_t count) {
  for (uint32_t i = count; i-- > 1;)
    if (!sector_is_zero(data + std::size_t{i} * RAW_SECTOR_SIZE)) return i;
  if (count == 1 && !sector_is_zero(data)) return 0;
  return -1;
}

}  // namespace

void read_audio_span(CdReader& reader, uint16_t block_size, uint32_t first, uint32_t last,
                     JitterMode jitter, const SpanSink& sink, bool progress, bool reanchor) {
  if (block_size != RAW_SECTOR_SIZE && block_size != CDG_BLOCK_SIZE) bugcheck();
  const bool correction = jitter_correction(reader, block_size, jitter);
  // CD+G blocks carry the 96 subcode bytes behind the audio.
  const uint8_t subcode = block_size == CDG_BLOCK_SIZE ? SUBCODE_ALL : SUBCODE_NONE;
  const uint32_t batch = SPAN_BUFFER_SIZE / block_size;
  std::vector<uint8_t> buffer(SPAN_BUFFER_SIZE);
  std::vector<uint8_t> reference(correction ? RAW_SECTOR_SIZE : 0);

  reader.RezeroUnit(false);
  reader.StartAudioReadNamed(first, block_size, true);
  if (progress) notify_event(EVENT_JITTER_READ_START, {first, last});

  // Without a reference the next read cannot be lined up on what was passed
  // on; after a REZERO UNIT a drive's first audio read lands where it was
  // asked to, as the span's first read does, so that read starts afresh.
  bool synchronised = false;
  bool anchored = true;
  int64_t previous_offset = 0;
  unsigned tail_retries = 0;
  for (uint64_t next = first; next <= last;) {
    if (interrupt_requested()) break;
    if (correction && !synchronised && !anchored) reader.RezeroUnit(false);
    anchored = false;
    const uint64_t start = synchronised ? next - 2 : next;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(last - start + 1, batch));
    reader.ReadAudioSectors(buffer.data(), n, static_cast<uint32_t>(start), subcode, true);

    std::size_t offset = 0;
    uint32_t count = n;
    int64_t jitter_offset = 0;
    if (synchronised) {
      offset = resynchronise(reference.data(), buffer.data(), n);
      if (offset == 0) {
        if (!reanchor) fail_with("\nError: Unable to synchronize sector!\n");
        // The reference or this read of it went wrong (a scratch reads
        // differently each time): the read is made again afresh.
        synchronised = false;
        continue;
      }
      count = static_cast<uint32_t>((std::size_t{n} * RAW_SECTOR_SIZE - offset) / RAW_SECTOR_SIZE);
      jitter_offset = static_cast<int64_t>(offset) - 2 * static_cast<int64_t>(RAW_SECTOR_SIZE);
      // A read that ends at the span's end and lands early lacks the tail
      // of its last block: the next one may land better, and after a few
      // tries the rest is read afresh.
      if (count == 0) {
        if (tail_retries++ >= TAIL_RETRIES) synchronised = false;
        continue;
      }
    }
    tail_retries = 0;
    const uint8_t* data = buffer.data() + offset;
    if (correction) {
      // Blocks that follow a matched reference are in place even when
      // silent; with no block left to match, the next read starts afresh.
      const int64_t kept = reference_block(data, count);
      synchronised = kept >= 0;
      if (synchronised) {
        const auto block = static_cast<std::size_t>(kept);
        std::memcpy(reference.data(), data + block * RAW_SECTOR_SIZE, RAW_SECTOR_SIZE);
        count = static_cast<uint32_t>(block + 1);
      }
    }
    sink(data, block_size, count);
    if (progress) {
      const auto samples = static_cast<int16_t>((jitter_offset - previous_offset) / 4);
      previous_offset = jitter_offset;
      if (notify_event(EVENT_JITTER_PROGRESS,
                       {static_cast<uint32_t>(next), static_cast<uint32_t>(next + count - 1),
                        static_cast<uint32_t>(static_cast<int32_t>(samples))}) == 0)
        break;
    }
    next += count;
  }

  if (progress) notify_event(EVENT_JITTER_READ_END);
  reader.RezeroUnit(false);
  reader.StopAudioReadNamed(true);
  check_interrupt();
}

void read_data_span(CdReader& reader, uint16_t block_size, uint32_t first, uint32_t last,
                    const SpanSink& sink, bool progress) {
  uint32_t read_size = 0;
  if (block_size == DATA_BLOCK_SIZE) {
    read_size = DATA_BLOCK_SIZE;
  } else if (block_size == 2336 || block_size == SYNC_LESS_SIZE || block_size == RAW_SECTOR_SIZE) {
    read_size = SYNC_LESS_SIZE;
  } else {
    bugcheck();
  }
  const uint32_t batch = SPAN_BUFFER_SIZE / std::max<uint32_t>(block_size, read_size);
  std::vector<uint8_t> buffer(SPAN_BUFFER_SIZE);
  std::vector<uint8_t> converted(read_size != block_size ? SPAN_BUFFER_SIZE : 0);

  reader.RezeroUnit(false);
  reader.StartDataReadNamed(first, SECTOR_KIND_DATA, read_size, true);
  if (progress) notify_event(EVENT_READ_START, {first, last});

  for (uint64_t next = first; next <= last && !interrupt_requested(); next += batch) {
    const auto n = static_cast<uint16_t>(std::min<uint64_t>(last - next + 1, batch));
    reader.ReadDataSectors(buffer.data(), read_size, n, static_cast<uint32_t>(next), true);
    const uint8_t* blocks = buffer.data();
    if (read_size != block_size) {
      for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* in = buffer.data() + std::size_t{i} * read_size;
        uint8_t* out = converted.data() + std::size_t{i} * block_size;
        if (block_size == RAW_SECTOR_SIZE) {
          std::memcpy(out, SECTOR_SYNC.data(), SECTOR_SYNC.size());
          std::memcpy(out + SECTOR_SYNC.size(), in, read_size);
        } else {
          std::memcpy(out, in + HEADER_SIZE, block_size);
        }
      }
      blocks = converted.data();
    }
    sink(blocks, block_size, n);
    if (progress && notify_event(EVENT_READ_PROGRESS, {static_cast<uint32_t>(next),
                                                       static_cast<uint32_t>(next + n - 1)}) == 0)
      break;
  }

  if (progress) notify_event(EVENT_READ_END);
  reader.RezeroUnit(false);
  reader.StopDataReadNamed(true);
  check_interrupt();
}

void read_span(CdReader& reader, uint8_t mode, uint16_t block_size, uint32_t first, uint32_t last,
               JitterMode jitter, const SpanSink& sink, bool progress) {
  if (mode == SPAN_AUDIO) {
    read_audio_span(reader, block_size, first, last, jitter, sink, progress);
  } else {
    read_data_span(reader, block_size, first, last, sink, progress);
  }
}

uint64_t read_span_to_file(CdReader& reader, std::FILE* file, uint8_t mode, uint16_t block_size,
                           uint32_t first, uint32_t last, JitterMode jitter, bool progress) {
  uint64_t total = 0;
  const SpanSink sink = [&](const uint8_t* blocks, uint16_t size, uint32_t count) {
    const std::size_t records = std::fwrite(blocks, size, count, file);
    total += uint64_t{records} * size;
    if (records < count) raise_message(MSG_FILE_WRITE_FAILED, 0, 0, 0);
  };
  read_span(reader, mode, block_size, first, last, jitter, sink, progress);
  return total;
}

#include "engine/secure_reading.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "common/interrupt.h"
#include "common/sector.h"
#include "drivers/recording_events.h"

namespace {

// One read of one sector: its bytes, or none when the drive failed it or
// flagged it with C2 error pointers (such a read is no witness).
struct Reading {
  bool good = false;
  std::string bytes;
};

// The reads of one sector that disagree so far.
struct Votes {
  std::map<std::string, unsigned> counts;

  void add(const Reading& reading) {
    if (reading.good) ++counts[reading.bytes];
  }
  // The value read at least twice more often than any other, or null.
  const std::string* decided() const {
    const std::string* best = nullptr;
    unsigned top = 0, second = 0;
    for (const auto& [bytes, count] : counts) {
      if (count > top) {
        second = top;
        top = count;
        best = &bytes;
      } else if (count > second) {
        second = count;
      }
    }
    return top >= second + 2 ? best : nullptr;
  }
  // The value read most often (the first of equals), or null.
  const std::string* likeliest() const {
    const std::string* best = nullptr;
    unsigned top = 0;
    for (const auto& [bytes, count] : counts)
      if (count > top) {
        top = count;
        best = &bytes;
      }
    return best;
  }
};

bool jitter_correction(const CdReader& reader, JitterMode mode) {
  if (mode == JITTER_OFF) return false;
  if (mode == JITTER_ON) return true;
  return (reader.readerCaps & CAP_JITTER_CORRECT) != 0;
}

class SecureReader {
 public:
  SecureReader(CdReader& reader, const SecureReadOptions& options)
      : reader_(reader),
        options_(options),
        correction_(jitter_correction(reader, options.jitter)),
        c2_((reader.readerCaps & CAP_READ_C2) != 0),
        flush_(secure_flush_sectors(reader)),
        sector_bytes_(c2_ ? RAW_SECTOR_SIZE + C2_POINTER_BYTES : RAW_SECTOR_SIZE),
        batch_(SPAN_BUFFER_SIZE / sector_bytes_),
        buffer_(SPAN_BUFFER_SIZE) {}

  SecureReadReport read(uint32_t first, uint32_t last, const SpanSink& sink);

 private:
  // One pass over LBAs first..first + count - 1 into readings.
  void read_pass(uint32_t first, uint32_t count, std::vector<Reading>* readings);
  // Plain reads of count sectors from lba, with C2 where the drive has it;
  // a failed batch is read again sector by sector.
  void read_plain(uint32_t lba, uint32_t count, Reading* out);
  // Reads `count` sectors outside first..last, so that the drive's cache
  // holds none of them any more.
  void flush(uint32_t first, uint32_t last, uint32_t count);
  // Reads count sectors from lba for their effect on the cache alone.
  void read_scrap(uint32_t lba, uint32_t count);

  CdReader& reader_;
  const SecureReadOptions& options_;
  const bool correction_;
  const bool c2_;
  const uint32_t flush_;
  const uint32_t sector_bytes_;
  const uint32_t batch_;
  std::vector<uint8_t> buffer_;
  SecureReadReport report_;
};

void SecureReader::read_plain(uint32_t lba, uint32_t count, Reading* out) {
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(count - done, batch_);
    const uint32_t at = lba + done;
    // A drive that jitters lands where it is asked after a REZERO UNIT.
    if (correction_) reader_.RezeroUnit(false);
    const ResultCode result =
        c2_ ? reader_.ReadAudioC2(buffer_.data(), n, at)
            : reader_.ReadAudioSectors(buffer_.data(), n, at, SUBCODE_NONE, false);
    if (result != 1 && n > 1) {
      // One sector spoils the batch: each of the others is read alone.
      for (uint32_t i = 0; i < n; ++i) read_plain(at + i, 1, out + done + i);
      done += n;
      continue;
    }
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* sector = buffer_.data() + std::size_t{i} * sector_bytes_;
      Reading& reading = out[done + i];
      reading.good = result == 1;
      if (reading.good && c2_) {
        const uint8_t* pointers = sector + RAW_SECTOR_SIZE;
        reading.good =
            std::all_of(pointers, pointers + C2_POINTER_BYTES, [](uint8_t b) { return b == 0; });
      }
      reading.bytes.assign(reinterpret_cast<const char*>(sector), RAW_SECTOR_SIZE);
    }
    done += n;
  }
}

void SecureReader::read_pass(uint32_t first, uint32_t count, std::vector<Reading>* readings) {
  readings->assign(count, Reading{});
  if (!correction_) {
    read_plain(first, count, readings->data());
    return;
  }
  uint32_t at = 0;
  const SpanSink sink = [&](const uint8_t* blocks, uint16_t, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i, ++at) {
      (*readings)[at].good = true;
      (*readings)[at].bytes.assign(
          reinterpret_cast<const char*>(blocks + std::size_t{i} * RAW_SECTOR_SIZE),
          RAW_SECTOR_SIZE);
    }
  };
  // A scratched sector may become the pass's reference: the pass then
  // starts afresh, and the comparison with the other pass decides.
  read_audio_span(reader_, RAW_SECTOR_SIZE, first, first + count - 1, JITTER_ON, sink, false, true);
}

void SecureReader::flush(uint32_t first, uint32_t last, uint32_t count) {
  // Before the chunk where there is room, else after it, else both.
  const uint32_t before = first > options_.area_first ? first - options_.area_first : 0;
  const uint32_t after = options_.area_last > last ? options_.area_last - last : 0;
  uint32_t from_before = 0, from_after = 0;
  if (before >= count) {
    from_before = count;
  } else if (after >= count) {
    from_after = count;
  } else {
    from_before = before;
    from_after = std::min(after, count - before);
  }
  // An area too small around the chunk (a short disc) is made up with the
  // chunk's own sectors: they flush the cache as well as any, and a
  // sector re-read among them is read from the disc afresh.
  const uint32_t inside = std::min(count - from_before - from_after, last - first + 1);
  read_scrap(first - from_before, from_before);
  read_scrap(last + 1, from_after);
  read_scrap(first, inside);
}

void SecureReader::read_scrap(uint32_t lba, uint32_t count) {
  std::vector<Reading> scrap(batch_);
  for (uint32_t done = 0; done < count;) {
    const uint32_t n = std::min(count - done, batch_);
    read_plain(lba + done, n, scrap.data());
    done += n;
  }
}

SecureReadReport SecureReader::read(uint32_t first, uint32_t last, const SpanSink& sink) {
  // A chunk twice the flush distance: a sector's second read comes after
  // reads of a whole chunk of other sectors.
  const uint32_t chunk = (2 * flush_ + batch_ - 1) / batch_ * batch_;
  if (!correction_) {
    reader_.RezeroUnit(false);
    reader_.StartAudioReadNamed(first, RAW_SECTOR_SIZE, true);
  }
  if (options_.progress) notify_event(EVENT_JITTER_READ_START, {first, last});
  std::vector<Reading> pass1, pass2;
  std::vector<uint8_t> out;
  for (uint64_t next = first; next <= last && !interrupt_requested();) {
    const auto lba = static_cast<uint32_t>(next);
    const auto count = static_cast<uint32_t>(std::min<uint64_t>(last - next + 1, chunk));
    const uint32_t chunk_last = lba + count - 1;
    read_pass(lba, count, &pass1);
    // A chunk shorter than the flush distance (the end of a short span)
    // needs reads elsewhere before its second pass.
    if (count < flush_) flush(lba, chunk_last, flush_ - count);
    read_pass(lba, count, &pass2);

    out.assign(std::size_t{count} * RAW_SECTOR_SIZE, 0);
    std::map<uint32_t, Votes> pending;
    for (uint32_t i = 0; i < count; ++i) {
      if (pass1[i].good && pass2[i].good && pass1[i].bytes == pass2[i].bytes) {
        std::memcpy(out.data() + std::size_t{i} * RAW_SECTOR_SIZE, pass1[i].bytes.data(),
                    RAW_SECTOR_SIZE);
        continue;
      }
      // Jitter-corrected passes carry no C2 pointers: where the re-reads
      // have them, only flawless re-reads vote, as without jitter
      // correction.
      Votes& votes = pending[i];
      if (!correction_ || !c2_) {
        votes.add(pass1[i]);
        votes.add(pass2[i]);
      }
    }
    Reading again;
    for (unsigned round = 0; round < options_.retries && !pending.empty(); ++round) {
      flush(lba, chunk_last, flush_);
      for (auto it = pending.begin(); it != pending.end();) {
        read_plain(lba + it->first, 1, &again);
        ++report_.sectors_reread;
        it->second.add(again);
        if (const std::string* value = it->second.decided()) {
          std::memcpy(out.data() + std::size_t{it->first} * RAW_SECTOR_SIZE, value->data(),
                      RAW_SECTOR_SIZE);
          it = pending.erase(it);
        } else {
          ++it;
        }
      }
    }
    for (const auto& [i, votes] : pending) {
      report_.suspicious.push_back(lba + i);
      if (const std::string* value = votes.likeliest())
        std::memcpy(out.data() + std::size_t{i} * RAW_SECTOR_SIZE, value->data(), RAW_SECTOR_SIZE);
    }
    sink(out.data(), RAW_SECTOR_SIZE, count);
    next += count;
    if (options_.progress && notify_event(EVENT_JITTER_PROGRESS, {lba, chunk_last, 0}) == 0) break;
  }
  if (options_.progress) notify_event(EVENT_JITTER_READ_END);
  if (!correction_) {
    reader_.RezeroUnit(false);
    reader_.StopAudioReadNamed(true);
  }
  check_interrupt();
  return report_;
}

}  // namespace

uint32_t secure_flush_sectors(const CdReader& reader) {
  const uint32_t bytes = std::max(reader.bufferBytes, SECURE_MIN_FLUSH_BYTES);
  return static_cast<uint32_t>((uint64_t{bytes} + RAW_SECTOR_SIZE - 1) / RAW_SECTOR_SIZE);
}

SecureReadReport read_audio_secure(CdReader& reader, uint32_t first, uint32_t last,
                                   const SecureReadOptions& options, const SpanSink& sink) {
  SecureReader secure(reader, options);
  return secure.read(first, last, sink);
}

// Secure reading of audio: every sector is read in two passes far enough
// apart to flush the drive's cache, and compared; a sector whose reads
// differ, that the drive flags with C2 error pointers, or that fails to
// read is re-read (again after a flush each time) until one value has been
// read at least twice more often than any other, or the re-reads run out
// and the position is reported as suspicious.
//
// Passes are read in chunks of at least twice the flush distance (the
// drive's reported buffer size, at least 1 MiB of sectors), so that between
// a sector's two reads the drive has read a whole chunk elsewhere. On a
// drive that needs jitter correction each pass is a jitter-corrected span
// read (read_audio_span, started afresh where a scratch spoils its
// reference); otherwise the passes read plain sectors. Plain reads (the
// passes without jitter correction, every re-read) take the C2 pointers
// where the drive reports them (CAP_READ_C2).
//
// Failures: what read_audio_span raises; a sector that does not read at
// all is re-read like one that reads differently and, undecided, passed on
// as zeros. A signal that asks the program to stop ends the read between
// chunks with the "Interrupted by ..." error.
#pragma once

#include <cstdint>
#include <vector>

#include "drivers/cd_reader.h"
#include "engine/span_reading.h"

// Re-reads of a sector whose reads disagree, by default.
constexpr unsigned SECURE_DEFAULT_RETRIES = 20;

// Reads of other sectors that flush a drive's cache at least: 1 MiB.
constexpr uint32_t SECURE_MIN_FLUSH_BYTES = 1024 * 1024;

struct SecureReadOptions {
  unsigned retries = SECURE_DEFAULT_RETRIES;
  JitterMode jitter = JITTER_DRIVE_DEFAULT;
  // Audio sectors the reader may read to flush the drive's cache (outside
  // the chunk being compared), usually the audio tracks around the span.
  uint32_t area_first = 0;
  uint32_t area_last = 0;
  bool progress = false;  // events 3 to 5 (a progress line per chunk)
};

struct SecureReadReport {
  std::vector<uint32_t> suspicious;  // LBAs that stayed undecided, ascending
  uint64_t sectors_reread = 0;       // re-reads of sectors whose passes disagreed
};

// Reads LBAs first..last into `sink` (whole 2352-byte blocks, in order,
// each exactly once). An undecided sector is passed on as the value read
// most often (zeros when it never read).
SecureReadReport read_audio_secure(CdReader& reader, uint32_t first, uint32_t last,
                                   const SecureReadOptions& options, const SpanSink& sink);

// The flush distance for a drive in sectors: its buffer size (bufferBytes),
// at least SECURE_MIN_FLUSH_BYTES, rounded up.
uint32_t secure_flush_sectors(const CdReader& reader);

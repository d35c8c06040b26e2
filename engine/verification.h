// Verification after recording: every block of the recorded tracks is read
// back (through the recorder, or another reader that holds the disc) and
// compared with what was sent. Audio and raw sectors must be the same
// bytes; data sent as user data is compared as user data (Mode 1: the 2048
// bytes, and the sector's EDC and ECC must check; Mode 2: the 2336 bytes
// after the header); the gaps the engine generated must read as empty
// blocks of their kind.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "drivers/cd_reader.h"
#include "drivers/recorder_driver.h"
#include "layout/disc_layout.h"

// What a track's verification found.
struct TrackVerdict {
  unsigned track = 0;
  uint32_t differing = 0;  // blocks that differ
  int64_t first = -1;      // LBA of the first of them
};

// Compares one recorded track, block by block in disc order, with what was
// sent, reading the disc a batch behind. With `progress`, "Verifying TRACK
// nn... p%" is shown and rewritten in place, and ended with a line end by
// finish().
class TrackVerifier {
 public:
  // How a block went to the recorder: a raw sector (or audio), user data
  // the drive built its sector around, or a gap the engine generated.
  enum class SentAs : uint8_t { Raw, UserData, Generated };

  // `first_lba`: where the track's first block (its pregap) lies on the
  // disc; `blocks`: how many blocks it takes, for the percentage.
  TrackVerifier(CdReader& reader, unsigned track, TrackType type, int64_t first_lba,
                uint32_t blocks, bool progress);
  ~TrackVerifier();
  TrackVerifier(const TrackVerifier&) = delete;
  TrackVerifier& operator=(const TrackVerifier&) = delete;

  // The next `count` blocks of `block_size` bytes as they were sent;
  // `generated`: gap blocks the engine made, which are empty blocks.
  // Blocks before LBA 0 (the first pregap) cannot be read and are passed.
  void expect(const uint8_t* blocks, uint16_t block_size, uint32_t count, bool generated);
  // Reads and compares what is still pending; the verdict.
  TrackVerdict finish();

 private:
  void compare_pending();
  // Reads `count` blocks from next_lba_ on and compares them with
  // `expected` (2352 bytes each, all sent the same way: a SentAs value).
  void compare(const uint8_t* expected, uint32_t count, SentAs sent);
  void show_progress();

  CdReader& reader_;
  TrackType type_;
  TrackVerdict verdict_;
  int64_t next_lba_;
  uint32_t blocks_;
  uint32_t done_ = 0;
  unsigned shown_percent_ = 0;
  bool progress_;
  int64_t pending_lba_ = 0;
  std::vector<uint8_t> pending_;    // expected blocks, 2352 bytes each
  std::vector<uint8_t> generated_;  // how each pending block was sent
};

// Verifies the tracks of a disc-at-once job on the disc in `reader`: they
// are the disc's last tracks (as many as the layout has) but for the
// `tracks_after` tracks of sessions recorded after them, and their starts
// are counted from where the first of them lies. Image files are read
// again as the engine read them.
std::vector<TrackVerdict> verify_disc_at_once(CdReader& reader, const DiscAtOnceJob& job,
                                              bool progress, unsigned tracks_after = 0);

// "Verification completed: no differences\n" when no track differs; else,
// on standard error, "TRACK nn: N blocks differ, the first at LBA n
// (MM:SS:FF)\n" for each track that does, and raises "Verification found
// differences between the disc and what was sent".
void report_verification(const std::vector<TrackVerdict>& verdicts);

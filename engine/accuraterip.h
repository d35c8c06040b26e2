// Checksums that prove a copy of CD audio: the copy CRC of each track (the
// CRC-32 of its audio bytes, as zlib and `crc32` compute it), its AccurateRip
// checksums (v1 and v2), the disc's AccurateRip identifiers with the name of
// its database entry, the CDDB disc id, and the check of a track's checksums
// against a database entry file the user has fetched.
//
// The checksums are computed as the audio streams past (TrackChecksum), so
// a reader never keeps a track in memory. Nothing here reads a drive or
// opens a network connection.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "layout/disc_layout.h"

// The three checksums of one track.
struct TrackChecksums {
  uint32_t crc = 0;  // copy CRC: CRC-32 (zlib) of the audio bytes
  uint32_t v1 = 0;   // AccurateRip v1
  uint32_t v2 = 0;   // AccurateRip v2
};

// The checksums of one track, fed its audio in pieces of whole stereo
// samples (4 bytes: left, right, 16-bit little-endian), in order. The
// AccurateRip sums leave out the first five sectors' samples of the disc's
// first track and the last five sectors' samples of its last track.
class TrackChecksum {
 public:
  // `samples`: the track's length in stereo samples, as the disc has it.
  TrackChecksum(uint64_t samples, bool first_track, bool last_track);

  // Adds `bytes` of audio (a multiple of 4; a remainder is ignored).
  void add(const uint8_t* audio, std::size_t bytes);
  TrackChecksums result() const;

 private:
  uint64_t samples_;
  uint64_t skip_before_;   // positions below this are left out of the sums
  uint64_t skip_after_;    // positions above this are left out
  uint64_t position_ = 0;  // of the last sample added, from 1
  uint32_t crc_ = 0;       // the CRC-32 register, inverted
  uint32_t v1_ = 0;
  uint32_t v2_ = 0;
};

// One track of a span of audio: its layout entry, its LBAs within the span,
// and the checksums of that part (whole: the span holds the entire track,
// from its index 1 to the next entry of the table of contents).
struct SpanTrack {
  unsigned entry = 0;
  uint8_t number = 0;
  uint32_t first = 0;
  uint32_t last = 0;
  uint32_t track_start = 0;  // the track's own first LBA
  bool whole = false;
  TrackChecksums sums;
};

// The checksums of every audio track that a span of a disc touches, fed the
// span's audio in order in whole sectors; the first and last audio tracks
// of the disc are the AccurateRip sums' first and last.
class SpanChecksums {
 public:
  SpanChecksums(const DiscLayout& layout, uint32_t first, uint32_t last);
  void add(const uint8_t* audio, std::size_t sectors);
  std::vector<SpanTrack> tracks() const;

 private:
  std::vector<SpanTrack> tracks_;
  std::vector<TrackChecksum> sums_;
  uint32_t next_ = 0;  // LBA of the next sector added
};

// The AccurateRip identifiers of a disc, from its audio tracks.
struct AccurateRipDisc {
  unsigned tracks = 0;  // audio tracks
  uint32_t id1 = 0;     // sum of the track starts and the lead-out
  uint32_t id2 = 0;     // sum of max(start, 1) * track + lead-out * (tracks + 1)
  uint32_t cddb = 0;    // the CDDB disc id
};

// The identifiers of a disc whose table of contents ReadDiscToc filled.
// The audio tracks count, numbered 1 to n in disc order, with the disc's
// lead-out; data tracks count in the CDDB id only.
AccurateRipDisc accuraterip_disc(const DiscLayout& layout);

// The CDDB disc id of a table of contents (every track, data tracks too).
uint32_t cddb_disc_id(const DiscLayout& layout);

// "dBAR-003-0001abcd-0003fedc-1a02b903.bin"
std::string accuraterip_file_name(const AccurateRipDisc& disc);
// The entry's path in the database: "d/c/b/dBAR-...bin" (the last three hex
// digits of id1, the last first).
std::string accuraterip_entry_path(const AccurateRipDisc& disc);
// "003-0001abcd-0003fedc-1a02b903"
std::string accuraterip_disc_id_text(const AccurateRipDisc& disc);

// One record of a database entry: the disc's identifiers, then for each
// track its confidence and checksum.
struct AccurateRipRecord {
  AccurateRipDisc disc;
  std::vector<uint8_t> confidence;
  std::vector<uint32_t> checksum;
};

// Reads the records of an entry file's bytes. Returns false (with `why`)
// when the bytes are not whole records: an empty file, a track count of 0,
// a record cut short.
bool parse_accuraterip_entry(const std::string& bytes, std::vector<AccurateRipRecord>* records,
                             std::string* why);

// What the database says of one track's checksums.
struct AccurateRipMatch {
  enum class Verdict { Accurate, NotInDatabase, Differs } verdict = Verdict::NotInDatabase;
  unsigned confidence = 0;  // of the best matching record
  unsigned version = 0;     // 2 when the v2 checksum matched, else 1
};

// The verdict for track `index` (0 for the disc's first audio track) of the
// records that carry the disc's identifiers: accurate when a record's
// checksum equals v2 or v1 (v2 preferred, then the highest confidence),
// not in the database when no record has a checksum for it (none with the
// identifiers, or only zero checksums of confidence 0), else differs.
AccurateRipMatch match_accuraterip(const std::vector<AccurateRipRecord>& records,
                                   const AccurateRipDisc& disc, unsigned index,
                                   const TrackChecksums& sums);

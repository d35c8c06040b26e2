// What every emulated recorder shares, whatever its command set: the disc it
// records on (RecordedDisc), the reading commands of the CD-ROM drive for
// that disc, and the course of a recording that a family's commands drive.
//
// A recording is either a session at once (the family decoded a table: the
// tracks, their indexes and the lead-out are known before the first block) or
// track at once (each track opened alone, at the next writable address, ended
// by the host and the session closed by a fixation). Blocks come in order,
// whatever address the host gives: the lead-in blocks the host writes, then
// the program area from the first LBA the host writes, then the lead-out. The
// family turns each block back into what a reader gets (BlockDecoder); the
// sectors of tracks stored as 2048 or 2336 bytes a block are built here.
//
// The recording refuses, as the drives do: no disc (NOT READY 3Ah), a closed
// disc (ILLEGAL REQUEST 30h/05h), a block with no session or track open and a
// command out of order (2Ch/00h), a transfer that is not a whole number of
// blocks of the block length in force (24h/00h), a block length the track
// cannot take (64h/00h), more blocks than the table announced (63h/00h),
// blocks past the disc's capacity or a table that does not fit it (21h/00h).
// A file that cannot be written is MEDIUM ERROR 0Ch/00h.
//
// Bus value items of every recorder: medium=PATH (the disc, see
// RecordedDisc; no medium: an empty drive), capacity=MINUTES (1 to 99, the
// size of a blank disc, default 74), corrupt=LBA[-LBA] (those blocks are
// stored with altered bytes, as a faulty burn leaves them). A family may
// let its drive record past the capacity (overburn_blocks); a disc recorded
// past it is full.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "emulator/cdrom_drive.h"
#include "emulator/device.h"
#include "emulator/recorded_disc.h"

// Turns one block as the host sent it (`size` bytes at `from`) back into
// what the disc holds, written to `to` (which does not overlap it); `data`
// tells whether it belongs to a data track.
using BlockDecoder =
    std::function<void(uint8_t* to, const uint8_t* from, uint32_t size, bool data)>;

// The decoder of a family that sends blocks as the disc holds them.
void copy_block(uint8_t* to, const uint8_t* from, uint32_t size, bool data);
// The decoder of a family whose drivers send the raw sectors of data tracks
// scrambled and everything else as the disc holds it.
void descramble_data(uint8_t* to, const uint8_t* from, uint32_t size, bool data);

// What a table says about a session besides its tracks.
struct SessionPlan {
  // Tracks with LBAs relative to the session: the first track's index 1 of a
  // first session is LBA 0. Number, control, ISRC, indexes and end_lba are
  // used; data tracks take their mode from their first sector.
  std::vector<DiscTrack> tracks;
  bool has_catalog = false;
  std::array<char, 13> catalog{};
  uint32_t leadin_blocks = 0;    // lead-in blocks the host writes
  int32_t program_start = -150;  // first program LBA the host writes (relative)
  uint32_t leadout_blocks = 0;   // lead-out blocks the host writes
  bool leave_open = false;       // close the session only
  // The first track's number on a blank disc, where the host chose one
  // (0: track 1); a further session always carries on the disc's numbers.
  uint8_t first_number = 0;
};

class RecorderDrive {
 public:
  RecorderDrive(std::shared_ptr<CdromDriveState> reading, std::unique_ptr<RecordedDisc> disc);
  // Ends the run (end_run).
  ~RecorderDrive();
  // Ends the drive's part in the program's run, at its end or when the
  // program exits without destroying the drive: an unfixated track-at-once
  // recording is kept (its session left open, as a drive leaves it), a
  // session at once not finished is forgotten, and the disc is let go (its
  // new files removed, its lock released). The drive then holds no disc.
  void end_run();
  RecorderDrive(const RecorderDrive&) = delete;
  RecorderDrive& operator=(const RecorderDrive&) = delete;

  CdromDriveState& reading() { return *reading_; }
  // Null when the drive was given no medium.
  RecordedDisc* disc() { return disc_.get(); }
  const RecordedDisc* disc() const { return disc_.get(); }
  // Puts another disc in its place (a disc transporter's exchange).
  void replace_disc(std::unique_ptr<RecordedDisc> disc) { disc_ = std::move(disc); }

  // NOT READY without a disc, ILLEGAL REQUEST 30h/05h for a closed one.
  std::optional<EmulatedAnswer> refuse_recording(const EmulatedDevice& device) const;
  // Whether the session being recorded is the disc's first.
  bool first_session() const;
  // The LBA the next program block goes to.
  int32_t next_block() const { return cursor_; }

  // A session at once also takes the user data of its data tracks (2048
  // bytes of Mode 1, 2336 of Mode 2) and builds their sectors, as drives
  // that take a cue sheet do; else only raw sectors and CD+G blocks.
  bool user_data_at_once = false;
  // Blocks the drive records past the disc's capacity (none unless the
  // family sets them).
  int32_t overburn_blocks = 0;
  // Blocks stored with altered bytes (corrupt=); none when first > last.
  int32_t corrupt_first = 0;
  int32_t corrupt_last = -1;

  // Starts a session at once from a decoded table.
  EmulatedAnswer begin_session(const EmulatedDevice& device, SessionPlan plan, bool test);
  // Opens a track at once: control, type and block_size (2352 or 2448) of
  // `track` are used; the drive writes its pregap.
  EmulatedAnswer open_track(const EmulatedDevice& device, const DiscTrack& track, bool test);
  // WRITE of `count` blocks of the block length in force, or of
  // `block_size` bytes when given (a family whose tables set it per track).
  // A session at once takes raw sectors and CD+G blocks, and user data of
  // 2048 or 2336 bytes in a data track's program area.
  EmulatedAnswer write(EmulatedDevice& device, const EmulatedCommand& command, uint32_t count,
                       const BlockDecoder& decode, uint32_t block_size = 0);
  // Whether every block a session at once announced has come (a family
  // whose drives end the session by themselves then calls synchronize).
  bool session_complete() const { return at_once_ && phase_ == Phase::Done; }
  // The track the next program block goes to; null before the program area
  // or when nothing is being recorded.
  const DiscTrack* next_track();
  // SYNCHRONIZE CACHE: ends the open track, or a session at once whose last
  // block came.
  EmulatedAnswer synchronize(EmulatedDevice& device);
  // Closes the track-at-once session; leave_open keeps the disc open.
  EmulatedAnswer fixate(EmulatedDevice& device, bool leave_open, bool test);

 private:
  enum class Phase { Idle, LeadIn, Program, LeadOut, Done };
  EmulatedAnswer finish(EmulatedDevice& device);
  bool store_pregap(const DiscTrack& track);
  DiscTrack* track_at(int32_t lba);
  void close_open_track();
  void show_sessions();
  // Whether the blocks up to `end` (exclusive) fit the capacity with the
  // overburn; take_room then records them: a disc recorded past its
  // capacity is full from then on.
  bool has_room(int32_t end) const;
  void take_room(int32_t end);
  // Alters a stored block that corrupt= names.
  void corrupt_block(uint8_t* block, bool data) const;

  std::shared_ptr<CdromDriveState> reading_;
  std::unique_ptr<RecordedDisc> disc_;
  Phase phase_ = Phase::Idle;
  bool at_once_ = false;     // a session at once, else track at once
  bool track_open_ = false;  // track at once: a track takes blocks
  bool leave_open_ = false;
  uint32_t leadin_left_ = 0;
  uint32_t leadout_left_ = 0;
  int32_t cursor_ = 0;       // LBA of the next program block
  int32_t program_end_ = 0;  // session at once: where its lead-out begins
  // Blocks of one WRITE on their way to the file when the disc's own
  // collection has no room for them.
  std::vector<uint8_t> frames_;
};

// A catalog number as the families' tables carry it: 13 digits as BCD pairs,
// first in the high nibble, the last low nibble 0. False for anything else.
bool decode_catalog_digits(const uint8_t* bcd, std::array<char, 13>* out);

// Installs what every recorder has: the CD-ROM drive's commands for reading
// its own disc (a blank disc answers BLANK CHECK to them), the block length
// 2448 for CD+G, the disc named by medium= and the capacity= item. Throws
// EmulatedBusError for a bad item or a disc that cannot be loaded.
std::shared_ptr<RecorderDrive> install_recorder_drive(EmulatedDevice& device);

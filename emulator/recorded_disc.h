// The disc in an emulated recorder, kept between runs as three files beside
// each other:
//
//   PATH.bin    every sector from LBA 0 to the end of the last track, as a
//               reader gets it: 2352 bytes, or 2448 for a CD+G track (the 96
//               subcode bytes after each sector). The area between two
//               sessions (lead-out, lead-in, pregap) holds zero frames.
//   PATH.cue    the cue sheet of the disc: CATALOG, the disc's texts, then
//               FILE "PATH.bin" (the file's own name, found beside the sheet),
//               and for each track its TRACK line (AUDIO, CDG, MODE1/2352 or
//               MODE2/2352), its texts, FLAGS (DCP, 4CH, PRE), ISRC and every
//               INDEX at or after LBA 0 as recorded (the file's frame count,
//               which is the LBA). A
//               later session's first track begins with "REM SESSION nn" and
//               has its index 0 where the previous session's lead-out began.
//               The texts (TITLE, PERFORMER, REM GENRE, ...) are those the
//               stored sheet holds; a recording keeps them.
//   PATH.cdt    the CD-TEXT packs recorded in a lead-in (18 bytes each, their
//               CRCs checked on loading), when a recording gave any, every
//               block of them. The sheet then begins with CDTEXTFILE
//               "PATH.cdt" (readers of the sheet take the packs) and holds
//               the first block's texts, written in ISO-8859-1 like the
//               packs when they all are (readers of cue sheets take 8-bit
//               text as Latin-1), else in UTF-8; a sheet that is no UTF-8
//               is loaded as such, its texts read as ISO-8859-1.
//   PATH.state  "capacity N" (the LBA after the last writable block), "disc
//               open" or "disc closed", "next N" (the LBA where the next
//               track's index 1 goes), and one "session N FIRST LAST LEADOUT
//               open|closed" line per session (track numbers, the LBA where
//               its lead-out begins or, open, where its last track ends).
//
// None of the three means a blank disc. A recording works on a copy (the
// sectors go to PATH.bin.new-PID-N, a name no other recording uses) that
// replaces the stored disc only when it is committed: new files are written
// first and renamed over the old ones, so a recording that stops half way
// leaves the stored disc as it was. The new files are registered as
// temporary files while they exist (common/interrupt.h).
//
// The disc is locked (MediumLock) while the object lives. Its files are
// loaded as regular files no larger than a disc can be, and checked against
// each other: PATH.cue names PATH.bin alone, found beside the sheet only;
// PATH.bin holds whole sectors of the sheet's tracks; PATH.state has its
// lines, its sessions number the sheet's tracks in order, each ending where
// its last track ends, only the last one open, and everything lies inside
// the capacity. A disc that fails is refused (EmulatedMediumError) with the
// file and the reason.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/stream_buffer.h"
#include "emulator/cd_disc.h"
#include "emulator/medium_lock.h"

struct RecordedSession {
  uint8_t first_track = 0;
  uint8_t last_track = 0;
  int32_t leadout = 0;  // where its lead-out begins (open: where its last track ends)
  bool closed = false;
};

// Everything about a recorded disc but its sectors.
struct RecordedDiscInfo {
  int32_t capacity = 0;  // LBA after the last block a track may hold
  bool closed = false;   // takes no further session
  bool has_catalog = false;
  std::array<char, 13> catalog{};
  std::vector<SheetText> disc_texts;  // kept from the stored sheet; tracks keep their own
  std::vector<uint8_t> cd_text;       // the packs of PATH.cdt; empty without one
  std::vector<DiscTrack> tracks;      // number, control, type, block_size, indexes, LBAs, ISRC
  std::vector<RecordedSession> sessions;
  int32_t bin_end = 0;  // LBA after the last sector PATH.bin holds
};

// Lead-in and lead-out lengths the recorders report and write, in blocks.
constexpr uint32_t LEADIN_BLOCKS = 4500;
constexpr uint32_t FIRST_LEADOUT_BLOCKS = 6750;
constexpr uint32_t LATER_LEADOUT_BLOCKS = 2250;
constexpr int32_t PREGAP_BLOCKS = 150;

class RecordedDisc {
 public:
  // Locks and loads the disc kept at `path`; a blank disc whose last
  // writable block lies before LBA `blank_capacity` when none of its files
  // exist. Throws MediumInUse when another program holds the disc, and
  // EmulatedMediumError when only some of its files exist or they fail the
  // checks above.
  RecordedDisc(std::string path, int32_t blank_capacity);
  RecordedDisc(const RecordedDisc&) = delete;
  RecordedDisc& operator=(const RecordedDisc&) = delete;
  ~RecordedDisc();  // forgets a recording not committed

  const std::string& path() const { return path_; }
  // The files that keep the disc: PATH.cue, PATH.bin, PATH.state, PATH.cdt
  // and the lock file PATH.lock, whether they exist or not.
  std::vector<std::string> files() const;
  // The disc as its files hold it.
  const RecordedDiscInfo& stored() const { return stored_; }
  // The disc being recorded (the stored one when no recording runs).
  RecordedDiscInfo& recording() { return work_; }
  const RecordedDiscInfo& recording() const { return work_; }
  bool writing() const { return writing_; }
  bool test() const { return test_; }

  // Where the next track of the recording goes: the first LBA of its area
  // (its pregap) and its index 1. After a closed session both lie past that
  // session's lead-out, the next lead-in and a pregap.
  int32_t next_area() const;
  int32_t next_index1() const;
  // The lead-out of the session being recorded: 6750 blocks when it is the
  // disc's first, 2250 after that.
  uint32_t leadout_blocks() const;

  // Starts a recording; a test recording keeps no sectors. False when
  // the new image cannot be made.
  bool begin(bool test);
  // Appends `count` frames of `frame_size` bytes for the LBAs from `lba` on:
  // frames before the end of the stored sectors are dropped (the pregap
  // before LBA 0), a gap before `lba` is filled with zero frames. False when
  // the file cannot be written.
  // Frames are collected and written to PATH.bin.new in large pieces, so a
  // file failure may show at a later store or at the commit.
  // Frames built in place in frame_space() are taken without a copy.
  bool store(int32_t lba, const uint8_t* frames, uint32_t count, uint32_t frame_size);
  // Room for `bytes` of frames at the end of the collected ones, for a caller
  // that builds frames there and then stores them; valid until the next call.
  // Null when nothing is being recorded, `bytes` is more than the collection
  // holds, or the collected frames cannot be written to make room.
  uint8_t* frame_space(std::size_t bytes);
  // Makes the recording the stored disc (a test recording is forgotten).
  // False on a file failure; the stored disc then stays as it was.
  bool commit();
  // Forgets the recording.
  void discard();
  // Blanks the disc (a rewritable one): its files are removed, its
  // capacity kept; with `sectors`, the recorded sectors are zeroed first,
  // so that nothing that still holds the image (another link to PATH.bin,
  // a program that has it open) reads them. False when a file cannot be
  // removed or zeroed.
  bool erase(bool sectors);

  // The cue sheet of the recording.
  std::string cue_sheet() const;
  // A reader's view of the stored disc; null when it is blank.
  std::unique_ptr<EmulatedDisc> reading_disc() const;

 private:
  void load();
  // Loads PATH.cdt when it exists; refuses one with a bad pack.
  void load_cd_text();
  std::string state_text() const;
  // Throws the EmulatedMediumError of a stored file that fails a check.
  [[noreturn]] void refuse_file(const char* suffix, const std::string& why) const;
  // Checks the stored disc's sessions against its tracks and capacity.
  void check_sessions(int64_t next) const;
  // Makes a new file for the stored file `suffix` under a name of its own;
  // -1 when it cannot be made.
  int make_new_file(const char* suffix, std::string* name);
  // Writes `text` to a new file for `suffix`; false when that fails.
  bool write_new_file(const char* suffix, const std::string& text, std::string* name);
  // Removes a new file and forgets its name.
  static void remove_new_file(std::string* name);
  // The sheet as the reader loads it: its image named by its path.
  std::unique_ptr<EmulatedDisc> load_sheet(const std::string& text) const;

  // Writes the collected frames to fd_; false when that fails.
  bool flush_pending();
  // Writes frames at the end of PATH.bin.new.
  bool write_frames(const uint8_t* frames, std::size_t bytes);

  // Few large writes cost the file system much less than one per WRITE.
  static constexpr std::size_t WRITE_BEHIND_BYTES = 512 * 1024;
  static constexpr uint64_t RESERVE_STEP_BYTES = 64 << 20;

  std::string path_;
  std::shared_ptr<MediumLock> lock_;
  std::string stored_sheet_;                             // PATH.cue as stored
  std::string bin_new_, cue_new_, state_new_, cdt_new_;  // the new files of a recording
  RecordedDiscInfo stored_;
  RecordedDiscInfo work_;
  bool writing_ = false;
  bool test_ = false;
  int fd_ = -1;                            // bin_new_ while recording
  std::unique_ptr<StreamBuffer> pending_;  // frames stored but not yet written to fd_
  std::size_t pending_used_ = 0;
  uint64_t file_end_ = 0;      // bytes of PATH.bin.new, holes included
  uint64_t reserved_end_ = 0;  // file space reserved up to here
  bool reserve_space_ = true;  // where the file system lays the file out
  bool write_failed_ = false;  // every later store fails too
};

// A pressed disc for the emulated drives, loaded from a cue sheet with its
// image files: the tracks and their indexes where the cue sheet puts them,
// every sector as the disc holds it (raw 2352 bytes, built with sync, header,
// EDC and parity for tracks stored as 2048 or 2336 bytes), and the subcode a
// drive reads beside it: the Q subchannel with track, index, relative and
// absolute time, now and then the catalog number and ISRC frames, and the P
// channel that marks pauses.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_file.h"
#include "common/byte_stream.h"
#include "emulator/device.h"
#include "layout/disc_layout.h"

// One track of the disc. Its area runs from first_lba (the start of its
// pregap) up to end_lba (exclusive): `pregap` generated frames, `length`
// frames from its image file, then `postgap` generated frames.
struct DiscTrack {
  uint8_t number = 0;
  // Q control nibble: 4 data, 2 copy permitted, 1 pre-emphasis, 8 four channels.
  uint8_t control = 0;
  TrackType type = TrackType::Audio;
  uint16_t block_size = 2352;  // bytes per frame in the image file
  int32_t first_lba = 0;
  int32_t index1_lba = 0;
  int32_t end_lba = 0;
  uint32_t pregap = 0;  // generated frames at the start (the postgap fills the rest)
  uint32_t length = 0;
  int file = -1;             // index into the disc's image files
  uint64_t file_offset = 0;  // byte offset of the track's first image frame
  // Where a track whose frames two files hold goes on: from its frame
  // `first_frame` on, in `file` from byte `file_offset`.
  struct Piece {
    uint32_t first_frame = 0;
    int file = -1;
    uint64_t file_offset = 0;
  };
  std::vector<Piece> more_pieces;
  bool has_isrc = false;
  std::array<char, 12> isrc{};
  std::vector<std::pair<uint8_t, int32_t>> indexes;  // index number, LBA where it begins
  std::vector<SheetText> texts;  // the sheet's texts of the track (TITLE, REM fields, ...)

  bool is_data() const { return (control & 0x04) != 0; }
  // The index number at an LBA of the track.
  uint8_t index_at(int32_t lba) const;
};

class EmulatedDisc : public EmulatedMedium {
 public:
  // Loads the disc a cue sheet describes. Throws EmulatedBusError with the
  // parser's message when the sheet or an image file is bad.
  static std::unique_ptr<EmulatedDisc> load(const std::string& cue_path);
  // Loads the disc of a sheet already read from `cue_path`, whose image
  // files are opened only as the sheet names them (no second look in the
  // current folder or beside the sheet). Throws as load does.
  static std::unique_ptr<EmulatedDisc> load_text(const std::string& cue_path,
                                                 std::string_view text);

  const std::vector<DiscTrack>& tracks() const { return tracks_; }
  int32_t leadout() const { return leadout_; }
  bool has_catalog() const { return has_catalog_; }
  // The cue sheet and the image files it names, as they were opened.
  std::vector<std::string> files() const;
  // The sheet's texts of the disc, given before its first track.
  const std::vector<SheetText>& disc_texts() const { return disc_texts_; }
  const std::array<char, 13>& catalog() const { return catalog_; }
  // The CD-TEXT packs of its lead-in: those of the sheet's CDTEXTFILE or
  // those its texts make (none when they make none or cannot be made).
  const std::vector<uint8_t>& cd_text() const { return cd_text_; }
  void set_cd_text(std::vector<uint8_t> packs) { cd_text_ = std::move(packs); }

  // The sessions: the number of the first track of each, in disc order (one
  // session for a sheet without REM SESSION).
  const std::vector<uint8_t>& session_first_tracks() const { return session_first_; }
  // The session (1 up) that holds a track.
  uint8_t session_of(const DiscTrack& track) const;
  // Where the lead-out of session `session` (1 up) begins.
  int32_t session_leadout(uint8_t session) const;

  // The track whose area holds the LBA, or null (before -150, in the lead-out).
  const DiscTrack* track_at(int32_t lba) const;
  // The track with that number, or null.
  const DiscTrack* track_number(uint8_t number) const;

  // Makes the sectors of these [first, end) LBA ranges unreadable: between
  // two sessions, the lead-out of one and the lead-in of the next.
  void set_unreadable(std::vector<std::pair<int32_t, int32_t>> ranges) {
    unreadable_ = std::move(ranges);
  }
  // Whether a sector of a track's area can be read: outside those ranges,
  // and, for a frame of an image file, with its bytes still in the file (a
  // file cut short under the drive reads as a medium error, not as zeros).
  bool readable(int32_t lba) const;

  // The 2352 bytes of a sector. For a CD+G track, `rw` (when given) gets the
  // 96 subcode bytes of the image frame (zeros elsewhere). Bytes the image
  // file cannot supply (a short last frame) read as zeros.
  void read_sector(int32_t lba, uint8_t* raw, uint8_t* rw = nullptr) const;
  // The 12 bytes of the Q subchannel at an LBA, CRC included.
  void q_subchannel(int32_t lba, std::array<uint8_t, 12>* q) const;
  // The 96 bytes of interleaved subcode P-W at an LBA: P in bit 7, Q in bit
  // 6, R-W of CD+G tracks in bits 5-0.
  void subcode(int32_t lba, uint8_t* out96) const;

 private:
  explicit EmulatedDisc(std::string cue_path) : EmulatedMedium(std::move(cue_path)) {}
  // The disc of a parsed sheet; `parse` throws the parser's record.
  static std::unique_ptr<EmulatedDisc> from_sheet(
      const std::string& cue_path, const std::function<std::unique_ptr<CueSheetLayout>()>& parse);
  // Lays out the sessions the sheet's REM SESSION lines give (disc_sessions.cpp):
  // a later session's first track has its index 1 past the previous
  // session's lead-out, the next lead-in and a pregap, as a recorder lays it
  // out. Where the sheet leaves less room before that index 1 (no INDEX 00
  // holding the gap), the track and every track after it move up, the
  // missing frames generated at the start of the track's area. The lead-out
  // and lead-in are unreadable.
  void lay_out_sessions(const DiscLayout& layout);
  // True at the first frame of a track's area and of each of its indexes.
  bool index_begins(int32_t lba) const;
  // True where the Q subchannel carries a catalog or ISRC frame (ADR 2 or
  // 3) instead of the position: at `place` in each hundred absolute frames,
  // or the frame after it when an index begins at `place`, so that the
  // first frame of every index tells where the index begins.
  bool code_frame(int32_t lba, int32_t place) const;
  void read_image(const DiscTrack& track, uint32_t frame, uint8_t* out, uint32_t size) const;
  // The image file and the offset in it of a track's frame (a track may go
  // on from one file into the next).
  static void locate(const DiscTrack& track, uint32_t frame, int* file, uint64_t* offset);

  std::vector<DiscTrack> tracks_;
  std::vector<std::unique_ptr<FileSource>> files_;
  std::vector<std::string> file_paths_;
  std::vector<std::pair<int32_t, int32_t>> unreadable_;
  std::vector<uint8_t> session_first_;
  std::vector<std::unique_ptr<AudioFile>> audio_;  // the audio files' readers (null: binary)
  std::vector<uint64_t> file_ends_;                // offset just past the image data of each file
  int32_t leadout_ = 0;
  // The bytes of the last read of an image file, kept for the sectors that follow.
  static constexpr std::size_t READ_AHEAD_BYTES = 128 * 1024;
  mutable int cache_file_ = -1;
  mutable uint64_t cache_offset_ = 0;
  mutable std::vector<uint8_t> cache_;
  bool has_catalog_ = false;
  std::vector<SheetText> disc_texts_;
  std::array<char, 13> catalog_{};
  std::vector<uint8_t> cd_text_;
};

// The answer of READ TOC format 2 (the full table of contents, MSF
// addresses) from session `first_session` on: a 4-byte header (length,
// first and last session), then per session the points A0h (first track,
// disc type), A1h (last track), A2h (the session's lead-out), one point a
// track, and before a later session B0h (where its program area begins).
// Empty when the disc has no such session.
std::vector<uint8_t> full_toc_answer(const EmulatedDisc& disc, uint8_t first_session);

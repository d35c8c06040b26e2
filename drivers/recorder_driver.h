// RecorderDriver: the recording side of a CD recorder's driver. It continues
// CdReader's slot table with eight recording operations (slots 13 to 20) that
// every recorder family implements, the reporting wrappers the engine calls,
// the capability word and speed limits the tools test, and the gap writer
// that the engine and the families share.
//
// The families: PhilipsRecorder (philips_recorder.h), SonyRecorder
// (sony_recorder.h), RicohRecorder (ricoh_recorder.h). The Sony family adds
// one slot of its own, 21 (PrepareDiscAtOnce), in its own class.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "drivers/cd_reader.h"
#include "layout/disc_layout.h"

// RecorderCaps bits.
constexpr uint16_t CAP_TRACK_AT_ONCE = 0x01;
constexpr uint16_t CAP_DISC_AT_ONCE = 0x02;
constexpr uint16_t CAP_BIT2 = 0x04;  // set for some models; nothing tests it
constexpr uint16_t CAP_CODES_IN_CUE =
    0x08;                                   // catalog number and ISRC go into the drive's cue sheet
constexpr uint16_t CAP_SESSION_BIT = 0x10;  // the table of contents carries the session bit
// BeginDiscAtOnce records the job's CD-TEXT packs in the lead-in.
constexpr uint16_t CAP_CD_TEXT = 0x0100;

// Speed codes: 1x, 2x, 4x, 6x (1x = 75 blocks a second).
enum SpeedCode : uint8_t { SPEED_1X = 0, SPEED_2X = 1, SPEED_4X = 2, SPEED_6X = 3 };

// DiscAtOnceJob::flags.
constexpr uint8_t JOB_BEEP = 0x01;
constexpr uint8_t JOB_EJECT = 0x02;
constexpr uint8_t JOB_PROGRESS = 0x04;
constexpr uint8_t JOB_SESSION = 0x08;   // leave the disc open for a further session
constexpr uint8_t JOB_TEST = 0x10;      // test recording: nothing is burnt
constexpr uint8_t JOB_OVERBURN = 0x40;  // record past the capacity the drive reports

// A whole disc to record in one pass. The layout is not const: a family may
// change it before the image files are streamed (the whole-disc table of
// the Philips class 2 drops the first pregap).
struct DiscAtOnceJob {
  DiscLayout* layout = nullptr;
  const ImageFile* files = nullptr;
  uint16_t file_count = 0;
  uint8_t speed = SPEED_1X;
  uint8_t flags = 0;
  // CD-TEXT packs (18 bytes each) for the lead-in; only a recorder with
  // CAP_CD_TEXT is given any.
  std::vector<uint8_t> cd_text;
};

// Close modes of FinalizeDisc (the engine always passes 1).
constexpr uint8_t CLOSE_MODE_DEFAULT = 1;

// Largest transfer a recording sends in one command.
constexpr uint32_t MAX_TRANSFER_BYTES = 65000;

class RecorderDriver : public CdReader {
 public:
  // Slots 13 to 20. Each returns 1 or a negative message code and never
  // prints; a parameter outside the family's table gives MSG_BUGCHECK
  // without a command. An operation a family's drives do not need returns 1.
  virtual ResultCode CloseTrack() = 0;
  // session nonzero: close the session, leaving the disc open; zero: close the disc.
  virtual ResultCode FinalizeDisc(uint8_t close_mode, uint8_t session) = 0;
  virtual ResultCode OpenTrack(const TrackEntry& track) = 0;
  virtual ResultCode SetWritingBlockLength(uint8_t track_type, uint16_t block_size) = 0;
  // test nonzero: test recording.
  virtual ResultCode SetWritingSpeed(uint8_t speed, uint8_t test) = 0;
  // Sends `count` blocks of `block_size` bytes; `address` is the start
  // address the engine passes (always 0). May rewrite the buffer in place.
  virtual ResultCode Write(uint8_t* buffer, uint16_t block_size, uint16_t count,
                           int32_t address) = 0;
  // Prepares the disc for a disc-at-once recording (table of contents or
  // drive cue sheet, lead-in where the family writes it) and sets
  // nextWriteAddress; raises its own failures.
  virtual ResultCode BeginDiscAtOnce(const DiscAtOnceJob& job) = 0;
  // Writes or waits for the lead-out and closes the disc or session;
  // progress nonzero announces the lead-out through the events.
  virtual ResultCode EndDiscAtOnce(uint8_t progress) = 0;

  // Whether a disc-at-once recording with JOB_SESSION leaves the disc open
  // for a further session; a family whose drives always close the disc
  // says no, so that the tools refuse the job before anything is written.
  virtual bool LeavesDiscOpen() const { return true; }
  // Whether the sessions of a sheet of several can be recorded one after
  // the other, each at the addresses that follow the one before.
  virtual bool RecordsLaterSessions() const { return LeavesDiscOpen(); }

  // Whether a disc-at-once recording on a blank disc keeps a first track
  // number above 1 as the disc's numbering; a family whose drives number a
  // blank disc's tracks from 1 says no, and the tools renumber the layout.
  virtual bool KeepsFirstTrackNumber() const { return false; }
  // Whether the family records a first pregap longer than 2 seconds (audio
  // before track 1's index 1); one whose drives make the first pregap
  // themselves says no, and the tools refuse such a layout.
  virtual bool RecordsLongFirstPregap() const { return true; }

  // The number of the disc's last track into `last`, 0 for a blank disc:
  // TEST UNIT READY (with its retries), then READ TOC, where a blank disc
  // answers BLANK CHECK or lists no track. Any other failure is returned:
  // the disc could not be shown to be blank.
  virtual ResultCode ReadLastTrack(uint8_t* last);
  // Where the family's drives report them, the blocks the disc still takes
  // from its next writable address on (`blank`: the disc holds nothing yet)
  // and true; false when they cannot say (the recording then runs as it
  // would without the check).
  virtual bool FreeBlocks(uint32_t* blocks, bool* blank);
  // Where the family's drives report it, the LBA where the first block of
  // the next track goes on a disc that takes one (after the tracks and
  // sessions it holds) and true; false when they cannot say or the disc
  // takes no further track.
  virtual bool NextTrackAddress(int32_t* lba);

  // Whether the family's drives blank a rewritable disc (BlankDisc).
  virtual bool CanBlank() const { return false; }
  // Blanks the rewritable disc in the drive: every block (`full`) or its
  // table of contents alone; `progress` gets the share done (0 to 100) while
  // the drive works. Raises its own failures, a disc that is not rewritable
  // included; returns 1.
  virtual ResultCode BlankDisc(bool full, const std::function<void(unsigned)>& progress);

 protected:
  // ReadLastTrack's READ TOC alone.
  ResultCode LastTrackFromToc(uint8_t* last);

 public:
  // Reporting wrappers: the slot's result; when it is not 1 and `raise` is
  // set, raises "'NAME' command failed on device ha:id:lun" with the result
  // as the cause.
  ResultCode CloseTrackNamed(bool raise);
  // With `progress`, "Finalizing ..." goes out before the slot and its
  // closing line after it, whether the slot succeeded or not; then the
  // failure is reported.
  ResultCode FinalizeDiscNamed(uint8_t close_mode, uint8_t session, bool progress, bool raise);
  ResultCode OpenTrackNamed(const TrackEntry& track, bool raise);
  ResultCode SetWritingBlockLengthNamed(uint8_t track_type, uint16_t block_size, bool raise);
  ResultCode SetWritingSpeedNamed(uint8_t speed, uint8_t test, bool raise);
  // The WRITE wrapper: a buffer of 2352-byte blocks whose first block begins
  // with the sync pattern is scrambled in place, every block of it (audio
  // goes as it is); the slot is called again after 50 ms while it answers
  // "Device aborted command", five calls at most; on success
  // nextWriteAddress grows by `count`, once.
  ResultCode WriteNamed(uint8_t* buffer, uint16_t block_size, uint16_t count, int32_t address,
                        bool raise);

  uint16_t RecorderCaps = 0;
  uint8_t maxWriteSpeed = SPEED_1X;
  // The write speeds the drive reports (its write speed descriptors), as
  // factors, slowest first. Empty: speeds are the SpeedCode values; else
  // SetWritingSpeed takes a factor and maxWriteSpeed is the fastest one.
  std::vector<uint8_t> writeSpeedFactors;
  // The drive reports buffer underrun protection and records with it on.
  bool underrunProtection = false;
  // The LBA of the next block Write puts on the disc.
  int32_t nextWriteAddress = 0;
};

// The WRITE wrapper under the engine's name (RecorderDriver::WriteNamed).
inline ResultCode write_blocks(RecorderDriver& recorder, uint8_t* buffer, uint16_t block_size,
                               uint16_t count, int32_t address, bool raise) {
  return recorder.WriteNamed(buffer, block_size, count, address, raise);
}

// Writes `count` generated blocks through the WRITE wrapper (raising), in
// chunks of whole blocks of at most 65000 bytes. Blocks of a data track
// recorded at 2352 bytes are raw sectors built at the addresses that follow
// nextWriteAddress (Mode 1 for Mode1, Mode 2 form 2 with its EDC for Mode2
// and Cdi; with `leadin_marking` 0xA0 is added to the BCD minute); every
// other block is zeros. `scratch`, when given, is a buffer of at least 65000
// bytes to use instead of a new one.
void write_gap_blocks(RecorderDriver& recorder, TrackType type, uint32_t count, uint16_t block_size,
                      bool leadin_marking, uint8_t* scratch = nullptr);

// The control nibble of a track from its flags: pre-emphasis 1, copy
// permitted 2, data 4, four channels 8.
uint8_t track_control_nibble(uint8_t track_flags);

// Writes `count` characters as packed nibbles (the low four bits of each),
// first in the high nibble, ORed into `out`; an odd count leaves the last
// low nibble as it was (0 in a zeroed table).
void pack_nibbles(const char* text, std::size_t count, uint8_t* out);

// The fields a leaf constructor sets for one recorder model class.
struct RecorderProfile {
  uint8_t model_code;
  uint16_t recorder_caps;
  uint8_t max_write_speed;
  uint8_t max_recorder_read_speed;
  uint8_t max_read_speed;  // 0: the family does not use it (left as it is)
  uint16_t reader_caps;
  uint16_t default_block_length;
};

// The profile of a recorder model class; null for a code that is not one.
const RecorderProfile* recorder_profile(uint8_t model_code);

// Sets the profile's fields on a driver; a code without a profile changes nothing.
void apply_recorder_profile(RecorderDriver& recorder, uint8_t model_code);

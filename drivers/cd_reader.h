// CdReader: the drive driver of every CD drive the tools read from. Twelve
// virtual drive operations in a fixed slot order (the reader families and the
// recorder interface override single slots), the named operations that raise
// a failure under the operation's name, the sector reads with the error
// recovery rule and the running CRC-32, and the disc-level reads all tools
// share (table of contents, catalog number, ISRC codes, last readable sector).
//
// CdReader itself is the generic reader: standard SCSI commands and READ
// CD-DA. It serves CD-ROM drives that the model table does not know and the
// recorders without a recorder driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "layout/disc_layout.h"
#include "scsi/device.h"

// readerCaps bits.
constexpr uint16_t CAP_READ_CDDA = 0x01;       // reads digital audio
constexpr uint16_t CAP_READ_SUBQ = 0x02;       // returns the Q subchannel with audio sectors
constexpr uint16_t CAP_READ_CDG = 0x04;        // returns the full subcode (2448-byte sectors)
constexpr uint16_t CAP_JITTER_CORRECT = 0x10;  // audio reads use jitter correction by default
constexpr uint16_t CAP_COMPUTE_CRC = 0x20;     // data reads fold their bytes into runningCrc
constexpr uint16_t CAP_RECOVERY_OFF = 0x40;    // state: error recovery is switched off
constexpr uint16_t CAP_READ_C2 = 0x80;         // audio reads can return C2 error pointers

// Bytes of C2 error pointers behind a sector's audio: one bit a byte of the
// 2352, the first byte's bit the most significant of the first pointer byte.
constexpr uint32_t C2_POINTER_BYTES = 294;

// sector_kind of SetBlockLength and StartDataRead.
constexpr uint8_t SECTOR_KIND_AUDIO = 0;
constexpr uint8_t SECTOR_KIND_DATA = 1;

// subcode_format of ReadAudio: bytes per sector 2352, 2368 (audio + 16 bytes
// of Q), 2448 (audio + 96 bytes of subcode), 96 (subcode only).
constexpr uint8_t SUBCODE_NONE = 0;
constexpr uint8_t SUBCODE_Q = 1;
constexpr uint8_t SUBCODE_ALL = 2;
constexpr uint8_t SUBCODE_ONLY = 3;

// The last sector of `count` from `lba`, for messages: lba itself for a count
// of 0, and no further than the last 32-bit address.
uint32_t last_sector(uint32_t lba, uint32_t count);

// Bytes per sector that READ CD-DA delivers for a subcode format; 0 for a
// format the command does not have.
uint32_t audio_sector_size(uint8_t subcode_format);

// READ SUB-CHANNEL data formats.
constexpr uint8_t SUBCHANNEL_POSITION = 1;
constexpr uint8_t SUBCHANNEL_CATALOG = 2;
constexpr uint8_t SUBCHANNEL_ISRC = 3;
constexpr uint16_t SUBCHANNEL_LENGTH = 48;

// READ TOC: the buffer of a whole table (4-byte header, 100 descriptors).
constexpr uint16_t TOC_BUFFER_LENGTH = 804;

class CdReader : public ScsiDevice {
 public:
  CdReader();
  ~CdReader() override = default;

  // Slots 1 to 12. Every one returns a ResultCode and raises nothing.
  virtual ResultCode DisableErrorRecovery();  // generic: 1
  virtual ResultCode EnableErrorRecovery();   // generic: 1
  virtual ResultCode EjectDisc();             // START/STOP UNIT eject
  virtual ResultCode LoadDisc();              // START/STOP UNIT load
  // READ CD-DA of `count` sectors; a subcode format above 3, or a count whose
  // bytes make 4 GiB or more, returns MSG_BUGCHECK without a command.
  virtual ResultCode ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                               uint8_t subcode_format);
  // Audio sectors of 2352 bytes each followed by its C2_POINTER_BYTES of
  // error pointers; the generic reader has none (MSG_BUGCHECK without a
  // command), drives with CAP_READ_C2 override it. Not one of the twelve slots.
  virtual ResultCode ReadAudioC2(uint8_t* buffer, uint32_t count, uint32_t lba);
  // READ(10) of `count` blocks of block_size bytes at the drive's block length.
  virtual ResultCode ReadData(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba);
  // Kind 0 (audio): 1 without a command; otherwise a block descriptor with
  // density 0 and block_length.
  virtual ResultCode SetBlockLength(uint8_t sector_kind, uint32_t block_length);
  virtual ResultCode SetReadingSpeed(uint8_t speed);                     // generic: 1
  virtual ResultCode StartAudioRead(uint32_t lba, uint32_t block_size);  // generic: 1
  virtual ResultCode StartDataRead(uint32_t lba, uint8_t sector_kind, uint32_t block_length);
  virtual ResultCode StopAudioRead();  // generic: 1
  virtual ResultCode StopDataRead();   // SetBlockLength(1, 2048)

  // Named operations (the slot's name + Named, so that a family overriding a
  // slot never hides them): the slot's result; when it is not 1 and `raise`
  // is set, raises "'NAME' command failed on device ha:id:lun" with the
  // result as the cause.
  ResultCode EjectDiscNamed(bool raise);
  ResultCode LoadDiscNamed(bool raise);
  ResultCode DisableErrorRecoveryNamed(bool raise);  // sets CAP_RECOVERY_OFF on success
  ResultCode EnableErrorRecoveryNamed(bool raise);   // clears CAP_RECOVERY_OFF whatever happens
  ResultCode SetBlockLengthNamed(uint8_t sector_kind, uint32_t block_length, bool raise);
  ResultCode SetReadingSpeedNamed(uint8_t speed, bool raise);
  ResultCode StartDataReadNamed(uint32_t lba, uint8_t sector_kind, uint32_t block_length,
                                bool raise);
  ResultCode StopDataReadNamed(bool raise);
  ResultCode StartAudioReadNamed(uint32_t lba, uint32_t block_size, bool raise);
  ResultCode StopAudioReadNamed(bool raise);
  // READ TOC; a drive may send less than `length` (the rest is zeroed), and
  // the count goes to `transferred` when given.
  ResultCode ReadToc(uint8_t* buffer, uint16_t length, uint8_t format, bool raise,
                     uint32_t* transferred = nullptr);
  ResultCode ReadSubchannel(uint8_t* buffer, uint8_t format, uint8_t track, bool subq, bool msf,
                            bool raise);

  // Plain commands (no raise): READ TOC with LBA addresses (format in bits
  // 6-7 of byte 9), and READ SUB-CHANNEL of 48 bytes. Both take a shorter
  // answer, with the rest of the buffer zeroed.
  ResultCode ReadTocRaw(uint8_t* buffer, uint16_t length, uint8_t format,
                        uint32_t* transferred = nullptr);
  ResultCode ReadSubchannelRaw(uint8_t* buffer, uint8_t format, uint8_t track, bool subq, bool msf);

  // Sector reads through slots 5 and 6. With CAP_RECOVERY_OFF a "Bad medium
  // detected" answer counts as success (the buffer holds what the drive
  // gave, zeros past it). A data read that succeeds with CAP_COMPUTE_CRC
  // folds all block_size * count bytes into runningCrc. A failure with
  // `raise` raises "Unable to read AUDIO/DATA sectors first to last on device
  // ha:id:lun" (last_sector gives the last).
  ResultCode ReadAudioSectors(uint8_t* buffer, uint32_t count, uint32_t lba, uint8_t subcode_format,
                              bool raise);
  ResultCode ReadDataSectors(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba,
                             bool raise);

  // Fills the header and the track table of `layout` from the disc: TEST UNIT
  // READY and READ TOC raise, and so does a table of contents that cannot be
  // listed ("Invalid table of contents on device ha:id:lun" and why: fewer
  // bytes than announced, no track, tracks out of order, no lead-out or one
  // not past the last track, an address past 99:59:74). With detect_modes
  // the block length is set to 2340 (raising) and each data track's first
  // sector tells its mode (a read that fails leaves mode 0); want_mcn and
  // want_isrc read the catalog number and the ISRC codes (failures leave
  // them absent). The drive is left at 2340-byte blocks after detect_modes.
  // A disc whose first track number is above 1 gets that number as the
  // layout's first track.
  void ReadDiscToc(DiscLayout* layout, bool detect_modes, bool want_mcn, bool want_isrc);
  // 1 and 13 digits in out13 when the disc has a valid catalog number, else 0.
  int ReadCatalogNumber(char* out13, bool raise);
  // 1 and 12 characters in out12 when the track has a valid ISRC, else 0.
  int ReadTrackIsrc(uint8_t track, char* out12, bool raise);
  // The last LBA that reads among the last 75 before READ CAPACITY's last
  // block (READ CAPACITY and SET BLOCK LENGTH raise); raises "Unable to find
  // last readable sector" when the first of them already fails.
  uint32_t FindLastReadableSector(bool audio);
  uint32_t FindLastReadableDataSector(uint32_t block_size);

  uint32_t runningCrc = 0;
  uint16_t defaultBlockLength = 2352;
  uint8_t maxRecorderReadSpeed = 1;
  uint8_t maxReadSpeed = 1;
  uint16_t readerCaps = CAP_READ_CDDA | CAP_READ_SUBQ | CAP_READ_CDG;
  // The drive's buffer as it reports it (MMC capabilities page); 0: not told.
  uint32_t bufferBytes = 0;

 private:
  uint32_t FindLastReadable(bool audio, uint32_t block_size);
};

// A stretch between two sessions that no read reaches, [first, last]: the
// earlier session's lead-out and the later one's lead-in. The later
// session's pregap, from last + 1 to its first track, reads again;
// `next_track` is the layout entry of that track.
struct SessionGap {
  uint32_t first = 0;
  uint32_t last = 0;
  unsigned next_track = 0;
};

// The gaps between the sessions of a layout that ReadDiscToc filled, in disc
// order. A gap lies 11400 blocks (6750 lead-out, 4500 lead-in, 150 pregap)
// before the first track of the second session and 6900 (2250, 4500, 150)
// before that of a later one. The sessions come from READ TOC format 1 (the
// first track of the last session, so only the last boundary is known); a
// drive without it shows a session by a data track that follows an audio
// track. A track shorter than its gap opens no session. Raises nothing.
std::vector<SessionGap> session_gaps(CdReader& reader, const DiscLayout& layout);

// The last sector of the track at entry `index` of a layout that ReadDiscToc
// filled: the block before the next entry, or, when a session gap
// (session_gaps) follows the track, the block before the gap. Raises nothing.
uint32_t track_last_sector(CdReader& reader, const DiscLayout& layout, unsigned index);

// Resets the device (ScsiDevice::Reset) and gives it 10 seconds to settle;
// with `announce`, "Resetting CDROM device... Please wait..." before and
// "\n\n" after on standard output.
void reset_reader(CdReader& reader, bool announce);

// The capability report: five lines "Read CDDA      = %u\n" ... "Compute CRC
// = %u\n", each 0 or 1.
std::string reader_caps_report(uint16_t caps);

// True when 13 characters are a media catalog number (digits only).
bool valid_catalog_number(const char* text);
// True when 12 characters are an ISRC: digits, and in the first five places
// also upper-case letters.
bool valid_isrc(const char* text);

// One session of a disc: its first and last track numbers and where its
// lead-out begins.
struct DiscSession {
  uint8_t number = 0;
  uint8_t first_track = 0;
  uint8_t last_track = 0;
  uint32_t leadout = 0;
};

// The sessions of a disc whose table of contents ReadDiscToc put in
// `layout`, and each track entry's session number: from READ TOC format 2
// (the full table of contents), or, from a drive that refuses it, format 1
// (the first track of the last session; an earlier session then ends 11400
// blocks, or 6900 after a later one, before the next session's first track,
// and the sessions between the first and the last cannot be told apart).
// Empty, the entries left as they were, when the drive tells neither or the
// answer does not fit the layout. Raises nothing.
std::vector<DiscSession> read_disc_sessions(CdReader& reader, DiscLayout* layout);

// Gives the first track of each session after the first an index 0 that
// begins at the previous session's lead-out (moving one the track has, or
// adding one), so that a sheet written from the layout ends each session's
// last track at its lead-out, as the sheet of a recorded disc does.
// Sessions whose lead-out is unknown, and a layout with no room for another
// cuepoint, are left as they are.
void open_sessions_at_leadouts(DiscLayout* layout, const std::vector<DiscSession>& sessions);

// The drives of the multimedia command set: every CD drive made since the
// late 1990s, none of them in the model tables. The bus scan asks a CD drive
// it does not know for GET CONFIGURATION (probe_mmc_drive); one that answers
// with a CD profile or a CD feature becomes an MmcReader, or an MmcRecorder
// when it reports CD Track at Once or CD Mastering with session at once.
//
// Reading: READ CD for audio (with formatted Q or raw P-W subcode) and for
// data of 2336, 2340 and 2352 bytes (the header and sync selection bits pick
// the bytes, so the block length never changes), READ(10) for 2048-byte
// data, SET CD SPEED, the error recovery page through MODE SENSE(10) and
// MODE SELECT(10). Recording (mmc_recorder.cpp): session at once from a
// cue sheet, track at once at the next writable address.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "drivers/recorder_driver.h"

// Feature codes of GET CONFIGURATION.
constexpr uint16_t MMC_FEATURE_PROFILE_LIST = 0x0000;
constexpr uint16_t MMC_FEATURE_CD_READ = 0x001E;
constexpr uint16_t MMC_FEATURE_CD_TRACK_AT_ONCE = 0x002D;
constexpr uint16_t MMC_FEATURE_CD_MASTERING = 0x002E;

// What GET CONFIGURATION and the capabilities page (2Ah) tell of a drive.
struct MmcFeatures {
  bool cd = false;               // a CD profile (08h to 0Ah) or the CD Read feature
  bool track_at_once = false;    // CD Track at Once
  bool session_at_once = false;  // CD Mastering with its SAO bit
  bool leadin_subcode = false;   // ... and its R-W bit: it records CD-TEXT
  uint16_t current_profile = 0;
  uint16_t reader_caps = CAP_READ_CDDA | CAP_READ_SUBQ;
  uint8_t max_write_speed = SPEED_1X;
  uint32_t buffer_bytes = 0;         // the drive's buffer (capabilities page bytes 12-13, KiB)
  bool underrun_protection = false;  // BUF of CD Track at Once, CD Mastering or page 2Ah
};

// Reads the features of a GET CONFIGURATION answer of `length` bytes into
// `features` (a truncated descriptor ends the walk).
void parse_mmc_configuration(const uint8_t* data, uint32_t length, MmcFeatures* features);
// Reads the capabilities page (from its page code byte on): audio by READ
// CD, accurate audio stream, R-W subcode, C2 pointers, the buffer size, the
// highest write speed.
void parse_mmc_capabilities(const uint8_t* page, uint32_t length, MmcFeatures* features);

// Speeds in kilobytes a second for SET CD SPEED: reading codes 0 to 6 (1x
// to 12x; above: the drive's fastest, 0xFFFF), writing codes 0 to 3.
uint16_t mmc_reading_speed(uint8_t code);
uint16_t mmc_writing_speed(uint8_t code);

// The reading side of both MMC drivers, over CdReader or RecorderDriver.
template <typename Base>
class MmcDrive : public Base {
 public:
  MmcDrive();

  // Error recovery: the drive's error recovery page (MODE SENSE(10), then
  // MODE SELECT(10) of the same page) with "transfer block" set and one
  // retry; enabling puts the drive's default values back.
  ResultCode DisableErrorRecovery() override;
  ResultCode EnableErrorRecovery() override;
  // READ CD of CD-DA sectors: 2352 bytes, plus formatted Q (format 1) or raw
  // P-W (format 2); format 3 reads P-W alone. Format 4 and up: MSG_BUGCHECK.
  ResultCode ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba,
                       uint8_t subcode_format) override;
  // READ CD of CD-DA sectors with the C2 error pointers (2646 bytes each).
  ResultCode ReadAudioC2(uint8_t* buffer, uint32_t count, uint32_t lba) override;
  // READ(10) for 2048 bytes; READ CD with header and sync selection for
  // 2336 (after the header), 2340 (after the sync) and 2352 (all); any other
  // size is MSG_BUGCHECK without a command.
  ResultCode ReadData(uint8_t* buffer, uint32_t block_size, uint16_t count, uint32_t lba) override;
  // 1 without a command: each read names its sector layout.
  ResultCode SetBlockLength(uint8_t sector_kind, uint32_t block_length) override;
  // SET CD SPEED with mmc_reading_speed(speed), the fastest writing; a
  // drive that refuses the command (ILLEGAL REQUEST) reads at its own
  // pace, and that is success.
  ResultCode SetReadingSpeed(uint8_t speed) override;

  // Plain commands (no raise). A shorter answer leaves the rest zeroed and
  // its count in `transferred`.
  ResultCode GetConfigurationRaw(uint8_t* buffer, uint16_t length, uint32_t* transferred);
  ResultCode ReadCdRaw(uint8_t* buffer, uint32_t sector_size, uint32_t count, uint32_t lba,
                       uint8_t sector_type, uint8_t selection, uint8_t subchannel);
  ResultCode SetCdSpeedRaw(uint16_t read_speed, uint16_t write_speed);
  ResultCode ModeSense10Raw(uint8_t* buffer, uint16_t length, uint8_t page_code,
                            uint8_t page_control, uint32_t* transferred);
  // MODE SELECT(10) with the page format bit of `length` bytes (8-byte
  // header included).
  ResultCode ModeSelect10Raw(uint8_t* buffer, uint16_t length);

  // GET CONFIGURATION and the capabilities page into `features`; false when
  // the drive does not answer GET CONFIGURATION as a CD drive.
  bool ProbeFeatures(MmcFeatures* features);

  // The drive's own page by MODE SENSE(10) into `page` (header and block
  // descriptors stripped, page code byte first, saveable bit cleared); a
  // page that is not in the answer is MSG_ILLEGAL_REQUEST.
  ResultCode SensePage(uint8_t page_code, uint8_t page_control, std::vector<uint8_t>* page);
  // MODE SELECT(10) of one page behind an empty header.
  ResultCode SelectPage(const std::vector<uint8_t>& page);

 private:
  ResultCode SetRecoveryPage(bool off);
};

extern template class MmcDrive<CdReader>;
extern template class MmcDrive<RecorderDriver>;

// A CD drive of the multimedia command set that does not record.
class MmcReader : public MmcDrive<CdReader> {};

// Write types and values of the write parameters page (05h).
constexpr uint8_t MMC_WRITE_TRACK_AT_ONCE = 1;
constexpr uint8_t MMC_WRITE_SESSION_AT_ONCE = 2;

// A CD recorder of the multimedia command set.
class MmcRecorder : public MmcDrive<RecorderDriver> {
 public:
  // Track at once: SYNCHRONIZE CACHE, then CLOSE TRACK of the track.
  ResultCode CloseTrack() override;
  // The write parameters page with the multi-session field (next session
  // allowed when `session` is nonzero), then CLOSE SESSION.
  ResultCode FinalizeDisc(uint8_t close_mode, uint8_t session) override;
  // Refuses a disc that is neither blank nor appendable (MSG_BLANK_CHECK
  // without writing); the write parameters page for track at once with the
  // track's mode and block type; nextWriteAddress from READ TRACK
  // INFORMATION of the invisible track.
  ResultCode OpenTrack(const TrackEntry& track) override;
  // Keeps the block size: MMC drives take it from the cue sheet or the page.
  ResultCode SetWritingBlockLength(uint8_t track_type, uint16_t block_size) override;
  // SET CD SPEED (reading at the fastest) and keeps the test flag for the
  // write parameters page.
  ResultCode SetWritingSpeed(uint8_t speed, uint8_t test) override;
  // WRITE(10) at nextWriteAddress. Raw data sectors that the WRITE wrapper
  // scrambled go out as the host built them (the drive scrambles), and are
  // scrambled again when the drive refuses them, so that a retry sends the
  // same bytes.
  ResultCode Write(uint8_t* buffer, uint16_t block_size, uint16_t count, int32_t address) override;
  // Refuses a disc that is neither blank nor appendable ("The disc in the
  // CD-Recorder is not blank ..."), sends the write parameters page for
  // session at once and the cue sheet at the next writable address, and
  // sets nextWriteAddress to its first pregap; raises its own failures.
  // With the job's CD-TEXT packs the cue sheet's lead-in entry asks for the
  // host's R-W subcode, and the lead-in is written (mmc_cd_text.cpp); a
  // later session, whose tracks the packs do not number, gets none.
  ResultCode BeginDiscAtOnce(const DiscAtOnceJob& job) override;
  // SYNCHRONIZE CACHE: the drive writes the lead-out itself (raises).
  ResultCode EndDiscAtOnce(uint8_t progress) override;

  // A blank disc by READ DISC INFORMATION's disc status, else READ TOC.
  ResultCode ReadLastTrack(uint8_t* last) override;
  // The cue sheet of a blank disc may start at any track number.
  bool KeepsFirstTrackNumber() const override { return true; }
  // READ DISC INFORMATION's disc status and READ TRACK INFORMATION's free
  // blocks of the invisible track; false when either fails or the disc has
  // no next writable address (BeginDiscAtOnce and OpenTrack say why).
  bool FreeBlocks(uint32_t* blocks, bool* blank) override;
  // READ TRACK INFORMATION's next writable address of the invisible track,
  // on a disc that READ DISC INFORMATION shows blank or appendable.
  bool NextTrackAddress(int32_t* lba) override;
  // BLANK with the immediate bit (full: the whole disc; else minimal), then
  // TEST UNIT READY every 100 ms while the drive reports the operation in
  // progress, its progress indication passed on (mmc_blanking.cpp). A disc
  // that READ DISC INFORMATION does not call erasable is refused first.
  bool CanBlank() const override { return true; }
  ResultCode BlankDisc(bool full, const std::function<void(unsigned)>& progress) override;
  ResultCode BlankRaw(uint8_t type, bool immediate);

  ResultCode ReadDiscInformationRaw(uint8_t* buffer, uint16_t length, uint32_t* transferred);
  ResultCode ReadTrackInformationRaw(uint8_t* buffer, uint16_t length, uint8_t track,
                                     uint32_t* transferred);
  ResultCode SendCueSheetRaw(uint8_t* sheet, uint32_t length);
  // GET PERFORMANCE of the write speed descriptors (type 03h).
  ResultCode GetPerformanceRaw(uint8_t* buffer, uint16_t descriptors, uint32_t* transferred);
  // Asks the drive for its write speeds (mmc_speeds.cpp): writeSpeedFactors
  // and maxWriteSpeed from the descriptors; left as they are when the drive
  // gives none.
  void ReadWriteSpeeds();
  // CLOSE TRACK/SESSION: function 1 closes `track`, 2 the session.
  ResultCode CloseTrackSessionRaw(uint8_t function, uint8_t track);

 private:
  // 1 when the disc takes a new session; else MSG_BLANK_CHECK with `why`
  // naming the disc's state.
  ResultCode CheckWritableDisc(const char** why);
  // The next writable address of the invisible track.
  ResultCode NextWritableAddress(int32_t* lba);
  // Where the lead-in of the next session begins, by READ DISC INFORMATION
  // (raises); asked before the cue sheet is sent.
  int32_t ReadLeadInStart();
  // Writes the lead-in blocks from `start` up to `end`: 96 bytes of raw R-W
  // subcode a block, the packs one after another and over again, four a
  // block (raises).
  void WriteLeadInText(const std::vector<uint8_t>& packs, int32_t start, int32_t end);

  // The write parameters page with the BUFE bit where the drive reports it.
  void MarkUnderrunProtection(std::vector<uint8_t>& page) const;

  bool testWrite = false;
  uint8_t openTrackNumber = 0;
  std::vector<uint16_t> writeSpeedsKbs;  // beside writeSpeedFactors
  std::vector<uint8_t> writeParameters;  // the page as last sent
};

// The write parameters page (05h, 52 bytes from the page code on) for a
// write type, test write, multi-session (next session allowed), the track
// mode (a control nibble), data block type and session format.
std::vector<uint8_t> mmc_write_parameters_page(uint8_t write_type, bool test, bool multi_session,
                                               uint8_t track_mode, uint8_t block_type,
                                               uint8_t session_format);

// The write parameters of a layout recorded at once: the session format
// (CD-DA or CD-ROM 00h, CD-i 10h, CD-ROM XA 20h) and the first track's mode
// and block type.
std::vector<uint8_t> mmc_session_parameters(const DiscLayout& layout, bool test,
                                            bool multi_session);

// The cue sheet of SEND CUE SHEET for a layout whose first track goes on
// the disc as track `first_track` with its index 1 at LBA `start` (1 and 0
// on a blank disc): catalog number, lead-in, every track's ISRC and indexes
// with the data form of its type and block size, lead-out; 8 bytes an
// entry, binary track, index and absolute time. Empty when a track's type
// and block size have no data form. With `leadin_subcode` the lead-in's
// data form adds 40h: the host sends its R-W subcode.
std::vector<uint8_t> mmc_cue_sheet(const DiscLayout& layout, int32_t start, uint8_t first_track,
                                   bool leadin_subcode = false);

// 96 bytes of raw R-W subcode holding four packs: each pack's 144 bits as
// 24 six-bit symbols, first bits first, in the six low bits of a byte.
void cd_text_subcode(const uint8_t* four_packs, uint8_t* subcode96);

// The write speeds in kB/s of a GET PERFORMANCE answer of write speed
// descriptors, slowest first, each once; a truncated answer gives the whole
// descriptors it holds.
std::vector<uint16_t> parse_write_speeds(const uint8_t* data, uint32_t length);
// The factor of a speed in kB/s, to the nearest (1x = 176.4 kB/s).
uint8_t mmc_speed_factor(uint16_t kbs);

// The bus scan's probe for CD drives the model tables do not know: an
// MmcRecorder (kind recorder) or MmcReader (kind reader) with model code
// MODEL_MMC and the device's identity and address, or null when the drive
// does not answer GET CONFIGURATION as a CD drive.
std::unique_ptr<ScsiDevice> probe_mmc_drive(const ScsiDevice& device);

// The emulated CD-ROM drive of the standard command set: what every CD drive
// of the model tables without a more specific emulated model answers, and the
// reading half that emulated recorders can reuse.
//
// Commands: TEST UNIT READY, READ TOC (formats 0 and 1, LBA or MSF
// addresses; format 5, CD-TEXT, where the model reads it; format 2, the full table of contents of
// every session), READ SUB-CHANNEL (formats 1 to 3), READ CAPACITY, MODE SENSE of 6 and 10 bytes
// (all pages the drive has, current, changeable and default values) and MODE SELECT (block length
// of the block descriptor, pages), READ(10) at the current block length (2048 user data, 2336 after
// the header, 2340 without the sync, 2352 raw), READ CD-DA with subcode formats 0 to 3, START/STOP
// UNIT (an ejected tray holds no disc until loaded) and PREVENT/ALLOW MEDIUM
// REMOVAL. Reading audio with READ(10) or data with READ CD-DA fails with
// ILLEGAL MODE FOR THIS TRACK, reading past the lead-out with LOGICAL BLOCK
// ADDRESS OUT OF RANGE, a bad sector with UNRECOVERED READ ERROR; without a
// disc the disc commands answer MEDIUM NOT PRESENT.
//
// Bus value items: medium=<cue sheet> loads the disc (see EmulatedDisc);
// bad=FIRST[-LAST] makes those sectors unreadable (audio and data alike);
// qfault=FIRST[-LAST] makes the Q frames of those sectors read wrong once,
// with a failing CRC; jitter=N and seed=S make audio reads land off (see AudioJitter);
// scratch=, offset= and cache= are the audio reads' defects
// (see ReadDefects);
// toc_first=N leaves the tracks before track N out of READ TOC, as a disc
// whose first track is hidden (they stay on the disc and read as before);
// read_count=PATH counts the sectors read (CdromDriveState::sectors_read).
// REZERO UNIT answers GOOD and makes the next audio read exact.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "emulator/audio_jitter.h"
#include "emulator/cd_disc.h"
#include "emulator/device.h"
#include "emulator/read_defects.h"

// Operation codes of the CD-ROM drive's commands.
constexpr uint8_t EMU_OP_REZERO_UNIT = 0x01;
constexpr uint8_t EMU_OP_MODE_SELECT = 0x15;
constexpr uint8_t EMU_OP_MODE_SENSE = 0x1A;
constexpr uint8_t EMU_OP_START_STOP_UNIT = 0x1B;
constexpr uint8_t EMU_OP_PREVENT_ALLOW = 0x1E;
constexpr uint8_t EMU_OP_READ_CAPACITY = 0x25;
constexpr uint8_t EMU_OP_READ_10 = 0x28;
constexpr uint8_t EMU_OP_READ_SUBCHANNEL = 0x42;
constexpr uint8_t EMU_OP_READ_TOC = 0x43;
constexpr uint8_t EMU_OP_MODE_SENSE_10 = 0x5A;
constexpr uint8_t EMU_OP_READ_CDDA = 0xD8;

// What the drive keeps between commands.
struct CdromDriveState {
  uint32_t block_length = 2048;
  uint8_t density = 0;
  // Mode pages by page code, header bytes (code, length) included.
  std::map<uint8_t, std::vector<uint8_t>> pages;
  // The disc while the tray is out.
  std::unique_ptr<EmulatedMedium> ejected;
  bool tray_open = false;
  // Sectors that fail to read: first and last LBA, or first > last for none.
  int32_t bad_first = 1;
  int32_t bad_last = 0;
  // Sectors whose Q frame (READ CD-DA with Q) reads wrong the first time,
  // with a CRC that says so, and right afterwards; first > last for none.
  int32_t qfault_first = 1;
  int32_t qfault_last = 0;
  std::set<int32_t> q_damaged;
  int32_t position = 0;  // LBA of the last sector read, for READ SUB-CHANNEL format 1
  AudioJitter jitter;
  ReadDefects defects;  // scratch=, offset=, cache=

  // What a drive model changes (the recorders): the block lengths MODE SELECT
  // accepts (READ(10) refuses those longer than a raw sector with ILLEGAL
  // MODE FOR THIS TRACK), a check of every page MODE SELECT would set (null:
  // any value of a changeable byte), and how reads differ from a CD-ROM
  // drive's.
  std::vector<uint32_t> block_lengths = {2048, 2336, 2340, 2352};
  std::function<std::optional<SenseCondition>(const std::vector<uint8_t>& page)> check_page;
  bool audio_by_read10 = false;     // READ(10) of 2352-byte blocks reads audio, bytes swapped
  bool scrambled_raw_data = false;  // READ(10) of 2352-byte blocks gives data sectors scrambled
  bool swapped_cdda = false;        // READ CD-DA gives audio with the bytes of each sample swapped
  // What READ TOC format 1 reports: the last session and its first track
  // (0: the disc's first track).
  uint8_t last_session = 1;
  uint8_t last_session_track = 0;
  // The first track READ TOC lists (0: the disc's first).
  uint8_t toc_first_track = 0;
  // READ TOC format 5 (in byte 2) answers the disc's CD-TEXT packs, as
  // drives that read the R-W subchannel do; else it is refused.
  bool reads_cd_text = false;
  // Sectors the read commands delivered, audio and data alike; with
  // read_count=PATH written to PATH as "N\n" when the drive goes (at the end
  // of the program), so that a test or benchmark sees how much a program read.
  uint64_t sectors_read = 0;
  std::string read_count_path;

  CdromDriveState() = default;
  CdromDriveState(const CdromDriveState&) = delete;
  CdromDriveState& operator=(const CdromDriveState&) = delete;
  ~CdromDriveState();
};

// Installs the commands above on a device with a fresh state, loading the
// disc from medium= and taking the bad= item. Throws EmulatedBusError when
// either cannot be used. Returns the state for models that add to it.
std::shared_ptr<CdromDriveState> install_cdrom_drive(EmulatedDevice& device);

// The same commands without loading a medium, for drive models that load
// their own (the recorders).
std::shared_ptr<CdromDriveState> install_cdrom_commands(EmulatedDevice& device);

// True when medium= names a pressed disc (a cue sheet), which a recorder
// reads as the CD-ROM drive does.
bool medium_is_cue_sheet(const EmulatedDevice& device);

// Moves the disc between the drive and its open tray.
void move_tray(CdromDriveState& state, EmulatedDevice& device, bool load);

// The class of the device's product when the emulator's product table
// (emulator/products.h) lists it as a recorder, else 0.
uint8_t recorder_model_code(const EmulatedDevice& device);
// ... as a reader, for a device that holds media (0 for disks and changers).
uint8_t reader_model_code(const EmulatedDevice& device);

// What an audio read puts in a sector after (or, below 2352 bytes, instead
// of) the audio; `sector` is where the sector at `lba` begins.
using AudioTail = std::function<void(int32_t lba, uint8_t* sector)>;

// Reads `count` sectors of `size` bytes from `lba` straight into the host's
// buffer as an audio read does: the 2352 audio bytes of each (landing off by
// the drive's jitter and read offset, with its defects; none when `size` is
// below 2352), then `tail` when given (state->defects.c2() holds the
// sector's C2 pointers then). Stops with CHECK CONDITION at a data track (ILLEGAL MODE FOR THIS
// TRACK), past the lead-out, at a bad sector; stops quietly at the end of the
// host's buffer. Drive models that read audio with commands of their own
// (READ(10) at an audio density, vendor operation codes) use it.
EmulatedAnswer read_audio_sectors(const std::shared_ptr<CdromDriveState>& state,
                                  const EmulatedDisc& disc, const EmulatedCommand& c, uint32_t lba,
                                  uint32_t count, uint32_t size, const AudioTail& tail = {});

// True for devices the generic drive serves: CD drives (device types 4, 5
// and 0xFF) that are not recorders of the model table, and recorders given a
// pressed disc as a cue sheet (medium=NAME.cue).
bool cdrom_drive_serves(const EmulatedDevice& device);

// Takes the item `key`=FIRST[-LAST] (LBAs, FIRST at most LAST) into `first`
// and `last`; leaves them as they are without it. Throws EmulatedBusError
// for a bad one.
void take_lba_range(EmulatedDevice& device, const std::string& key, int32_t* first, int32_t* last);

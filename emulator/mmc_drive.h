// The emulated drives of the multimedia command set (MMC), as every CD drive
// since the late 1990s answers: "MMC CD-RW DRIVE" records and reads, "MMC
// CD-ROM DRIVE" reads. Neither product is in the model tables.
//
// Both answer GET CONFIGURATION (46h: the profile list with CD-ROM, and CD-R
// and CD-RW for the recorder; Core; CD Read; for the recorder CD Track at
// Once and CD Mastering with session at once), the capabilities page 2Ah in
// MODE SENSE (CD-DA by READ CD, R-W subcode, an accurate audio stream unless
// jitter= is given, the recorder's fastest write speed), MODE SENSE(10) and
// MODE SELECT(10) (55h), READ CD (BEh: CD-DA sectors with formatted Q or raw
// P-W subcode, data sectors with any of sync, headers, user data and
// EDC/ECC), SET CD SPEED (BBh), READ DISC INFORMATION (51h) and, besides,
// what the CD-ROM drive answers except READ CD-DA, which is a vendor command.
//
// The recorder (mmc_recording.cpp) records as MMC drives do: the write
// parameters page 05h (write type, test write, multi-session), SEND CUE SHEET
// (5Dh) and WRITE(10) from the first pregap on at the addresses the sheet
// gives, in the data form of each index (user data of data tracks too), then
// SYNCHRONIZE CACHE, after which the drive writes the lead-out; track at once
// at the next writable address of READ TRACK INFORMATION (52h), the track
// begun by its first WRITE(10) and ended by SYNCHRONIZE CACHE or CLOSE TRACK
// (5Bh), the session by CLOSE SESSION. Blocks come as the disc holds them
// (raw data sectors unscrambled). Its disc is kept as every emulated
// recorder's (medium=PATH; a cue sheet is a pressed disc it only reads);
// erasable=1 makes it a CD-RW.
//
// With CD-TEXT (the R-W bit of CD Mastering; cd_text=0 takes it away): a
// cue sheet whose lead-in entry has the data form 41h is followed by the
// lead-in's R-W subcode (write_leadin_subcode), whose packs are stored with
// the disc (PATH.cdt, and their texts in PATH.cue) and answered by READ TOC
// format 5, which both drives answer for a pressed disc too.
//
// Refusals: a WRITE(10) at another address than the next block, ILLEGAL
// REQUEST 21h/02h; a block length the cue sheet or page does not give,
// 64h/00h; a cue sheet that does not add up, 26h/00h; a cue sheet or track
// with the page's write type not matching, 2Ch/00h.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "emulator/cdrom_drive.h"
#include "emulator/device.h"
#include "emulator/recorder_drive.h"

// True for the two MMC products.
bool mmc_drive_serves(const EmulatedDevice& device);

// Installs the drive of the device's product. Throws EmulatedBusError.
void install_mmc_drive(EmulatedDevice& device);

// What the MMC commands share.
struct MmcDriveState {
  std::shared_ptr<CdromDriveState> reading;
  std::shared_ptr<RecorderDrive> drive;  // null for the reader and a pressed disc
  bool recorder = false;
  bool erasable = false;
  // The CD-ROM drive's READ CD-DA and READ(10), which READ CD reads through.
  EmulatedHandler read_cdda;
  EmulatedHandler read_10;
  // Session at once: the block size from each cue sheet index's LBA on.
  std::vector<std::pair<int32_t, uint32_t>> block_sizes;
  bool track_open = false;  // track at once: a WRITE(10) began a track
  // CD-TEXT (mmc_cd_text.cpp): whether the recorder takes the lead-in's R-W
  // subcode (cd_text=0: it does not), and, while a session at once waits
  // for it, the lead-in blocks [leadin_next, leadin_end) still to come and
  // the packs they carried so far.
  bool records_cd_text = true;
  bool leadin_open = false;
  int32_t leadin_next = 0;
  int32_t leadin_end = 0;
  std::vector<uint8_t> leadin_packs;
  // The recorder's write speeds in kB/s, slowest first (speeds=), and its
  // buffer underrun protection (bufe=).
  std::vector<uint16_t> write_speeds_kbs;
  uint16_t read_speed_kbs = 0;
  bool underrun_protection = true;
  // An immediate BLANK still running: when it began and how long it takes,
  // in milliseconds of the emulated clock (0: none runs).
  uint64_t blank_start_ms = 0;
  uint64_t blank_ms = 0;
};

// Installs BLANK and its progress (mmc_blanking.cpp).
void install_mmc_blanking(EmulatedDevice& device, const std::shared_ptr<MmcDriveState>& state);

// Takes the recorder's speeds= and bufe= items (mmc_speeds.cpp). Throws
// EmulatedBusError for a bad one.
void take_mmc_speed_items(EmulatedDevice& device, MmcDriveState* state);
// The recorder's overburn= item, in blocks past the capacity.
int32_t take_mmc_overburn(EmulatedDevice& device);
// Installs GET PERFORMANCE and the BUFE check of the write parameters page.
void install_mmc_speeds(EmulatedDevice& device, const std::shared_ptr<MmcDriveState>& state);
// kB/s of a speed factor (1x = 176.4 kB/s).
uint16_t mmc_factor_kbs(uint16_t factor);

// Installs the recording commands on the recorder (mmc_recording.cpp).
void install_mmc_recording(EmulatedDevice& device, const std::shared_ptr<MmcDriveState>& state);

// The cue sheet's lead-in data forms: the drive generates the main data
// (01h audio, 14h Mode 1, 34h Mode 2); 40h added, the host sends the
// lead-in's R-W subcode, 96 bytes a block in raw form (each byte's six low
// bits one symbol of R to W), which the drive takes when it records CD-TEXT.
constexpr uint8_t LEADIN_FORM_SUBCODE = 0x40;
// Whether a lead-in entry's data form is one the drive takes.
bool valid_leadin_form(const MmcDriveState& state, uint8_t form);
// After SEND CUE SHEET with a lead-in form of LEADIN_FORM_SUBCODE: the
// lead-in blocks from `leadin_start` up to `program_area` must come first.
void expect_leadin_subcode(MmcDriveState& state, int32_t leadin_start, int32_t program_area);
// WRITE(10) of lead-in blocks: each block's four packs are checked (a bad
// CRC is refused, ILLEGAL REQUEST 26h/02h, as data the drive cannot take);
// with the last block the packs of one cycle of the repeated packs go to the
// recording with their texts (the disc's and each new track's). Blocks at
// another LBA than the next, or of another size, are refused (21h/02h,
// 64h/00h).
EmulatedAnswer write_leadin_subcode(MmcDriveState& state, const EmulatedCommand& command,
                                    int32_t lba, uint32_t count);

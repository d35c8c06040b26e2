// The disc-at-once recording tool: parses a cue sheet, shows what it found
// and the disc layout, finds the recorder (and, when asked, the disc
// transporter) and records the disc once per copy through the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/switches.h"
#include "drivers/cd_reader.h"
#include "drivers/recorder_driver.h"
#include "engine/verification.h"
#include "layout/disc_layout.h"
#include "layout/session_split.h"
#include "tools/shared/recording_options.h"

struct CueBurnSettings {
  std::string cue_sheet;       // the positional parameter, as typed (empty: /BLANK alone)
  bool address_given = false;  // from /ID= or CDWRITER_ID
  DeviceAddress address;
  uint16_t copies = 1;                // /COPIES=n, never 0
  uint16_t speed = 0;                 // factor of /SPEED= (0: the drive's maximum)
  bool beep = false;                  // /BEEP
  bool confirm = true;                // cleared by /NOCONFIRM
  bool eject = false;                 // /EJECT
  bool session = false;               // /SESSION: session-at-once
  bool transport = false;             // /TRANSPORT: a disc transporter feeds the discs
  bool warnings = true;               // cleared by /NOWARN
  bool test = false;                  // /TEST: test recording
  bool cd_text = true;                // cleared by /NOCDTEXT
  bool overburn = false;              // /OVERBURN: record past the capacity the drive reports
  VerifyChoice verify;                // /VERIFY[=ha:id:lun]: read the disc back after each copy
  BlankMode blank = BlankMode::None;  // /BLANK=FAST|FULL; without a cue sheet: blank and stop
};

// Parses the command line on top of the environment's settings
// (load_scsi_settings must have run: CDWRITER_ID gives the default address,
// /ID= replaces it). Switch errors print their text and throw ToolExit{1};
// "/?" and an empty command line print the usage text and throw ToolExit{1}.
CueBurnSettings parse_cueburn_command_line(int argc, const char* const* argv);

// Whole MiB of image data, rounded up.
unsigned long image_megabytes(uint64_t total_bytes);

// Approximate minutes to record `total_frames` at a speed factor: the frames
// plus one minute for lead-in and lead-out, rounded up generously, in 16 bits.
uint16_t recording_minutes(uint32_t total_frames, unsigned factor);

// The CD-TEXT packs to record: the sheet's (cue_sheet_cd_text, whose
// refusals raise), their warnings on standard error unless /NOWARN; none
// with /NOCDTEXT, for a sheet without texts, or for a recorder without
// CAP_CD_TEXT, which gets "WARNING! CD-TEXT is not recorded: the
// CD-Recorder cannot record it" (the sheet's CD-TEXT is not made then).
std::vector<uint8_t> cueburn_cd_text(const CueBurnSettings& settings, const DiscLayout& layout,
                                     uint16_t recorder_caps);

// Runs the tool: finds the devices, parses the cue sheet, shows the counts,
// the layout and the estimates, and records `copies` discs. Tool errors
// print their text and throw ToolExit{1}; cue sheet and drive errors raise
// MSGVEC. Returns the exit status 0.
int run_cueburn(const CueBurnSettings& settings);

// The sessions of a parsed sheet (one without REM SESSION lines). A sheet of
// several is refused, before anything is written, on a recorder that cannot
// record one session after another (check_single_session) and where the recorder
// reports its free blocks and the sessions with the gaps between them do
// not fit (raises).
std::vector<SheetSession> sessions_to_record(RecorderDriver& recorder, const CueSheetLayout& sheet);

// Records the sessions one after the other, each at once with the job's
// speed and flags: every session but the last leaves the disc open, the
// last closes it unless the job keeps it open; only the last beeps and
// ejects.
void record_sessions(RecorderDriver& recorder, std::vector<SheetSession>& sessions,
                     const DiscAtOnceJob& disc_job);

// Reads back every session's tracks at the addresses the disc gives them
// and compares them with what the sessions sent (verify_disc_at_once): the
// verdicts of all the tracks, in disc order.
std::vector<TrackVerdict> verify_sessions(CdReader& reader,
                                          const std::vector<SheetSession>& sessions,
                                          const DiscAtOnceJob& disc_job);

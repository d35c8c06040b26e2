// The tool's sequence: devices, cue sheet, counts, layout, estimates, then
// one recording per copy with the transporter's exchanges around them.
#include <memory>

#include "common/console.h"
#include "drivers/disc_transporter.h"
#include "drivers/recorder_driver.h"
#include "drivers/recording_events.h"
#include "engine/blanking.h"
#include "engine/recording.h"
#include "engine/verification.h"
#include "layout/cd_text.h"
#include "layout/cue_sheet.h"
#include "layout/listing.h"
#include "layout/session_split.h"
#include "scsi/scan.h"
#include "tools/cueburn/cueburn.h"
#include "tools/shared/drive_setup.h"
#include "tools/shared/recorder_choice.h"
#include "tools/shared/recording_options.h"

namespace {

DiscTransporter& find_transporter() {
  auto* transporter = dynamic_cast<DiscTransporter*>(
      find_device(KIND_MASK_TRANSPORTER, ANY_ADDRESS, ANY_ADDRESS, ANY_ADDRESS));
  if (transporter == nullptr)
    fail_with("\nError: Unable to find a known Disc-Transporter device on the SCSI bus!\n" +
              device_list_full_note());
  return *transporter;
}

// A prompt that waits for RETURN (or the end of standard input).
void prompt(const std::string& text) {
  out_text(text);
  wait_for_return();
}

std::string sheet_folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

uint8_t job_flags(const CueBurnSettings& settings) {
  uint8_t flags = JOB_PROGRESS;
  if (settings.beep) flags |= JOB_BEEP;
  if (settings.eject) flags |= JOB_EJECT;
  if (settings.session) flags |= JOB_SESSION;
  if (settings.test) flags |= JOB_TEST;
  if (settings.overburn) flags |= JOB_OVERBURN;
  return flags;
}

}  // namespace

std::vector<uint8_t> cueburn_cd_text(const CueBurnSettings& settings, const DiscLayout& layout,
                                     uint16_t recorder_caps) {
  if (!settings.cd_text || !has_cd_text(layout)) return {};
  if (!(recorder_caps & CAP_CD_TEXT)) {
    if (settings.warnings)
      err_text("WARNING! CD-TEXT is not recorded: the CD-Recorder cannot record it\n");
    return {};
  }
  CdTextPacks text = cue_sheet_cd_text(layout, sheet_folder(settings.cue_sheet));
  if (settings.warnings)
    for (const std::string& warning : text.warnings) err_text(warning + "\n");
  return std::move(text.packs);
}

int run_cueburn(const CueBurnSettings& settings) {
  set_event_callback(&console_event_callback);
  aspi_open(true);
  const DeviceListRelease release;
  scan_scsi_bus();
  RecorderDriver& recorder = choose_recorder(settings.address_given, settings.address);
  const RecordingSpeed speed = resolve_recording_speed(recorder, settings.speed);
  out_text("CD-Recorder device found...\n");
  out_text(recorder_found_text(recorder, speed));
  out_text(speed.note);
  if (!(recorder.RecorderCaps & CAP_DISC_AT_ONCE))
    fail_with("Error: CD-Recorder does not support 'disc-at-once' recording!\n");
  if (settings.session && !recorder.LeavesDiscOpen())
    fail_with("Error: CD-Recorder does not support 'session-at-once' recording!\n");
  check_blanking(recorder, settings.blank, settings.test);
  const bool full_blank = settings.blank == BlankMode::Full;
  if (settings.cue_sheet.empty()) {
    if (settings.confirm) {
      prompt("\nHit <RETURN> to begin blanking (or CTRL/C to exit)...");
      out_text("\n");
    }
    blank_disc(recorder, full_blank, true);
    return 0;
  }
  DiscTransporter* transporter = nullptr;
  if (settings.transport) {
    transporter = &find_transporter();
    out_text("Disc-Transporter device found...\n");
    out_text(device_found_line(*transporter));
  }

  std::unique_ptr<CueSheetLayout> sheet = parse_cue_sheet(settings.cue_sheet);
  for (const std::string& warning : sheet->warnings) err_text(warning + "\n");
  fit_first_track(recorder, sheet->layout.get(), settings.warnings);
  std::vector<SheetSession> sessions = sessions_to_record(recorder, *sheet);
  check_layout_capacity(recorder, *sheet->layout, settings.confirm, settings.overburn);
  std::vector<uint8_t> cd_text = cueburn_cd_text(settings, *sheet->layout, recorder.RecorderCaps);
  if (settings.warnings) warn_unrecorded_flags(*sheet->layout);
  out_text("The CUE SHEET file has been successfully parsed...\n");
  out_text(format_text("  Number of files     : %03u\n", sheet->file_count));
  out_text(format_text("  Number of tracks    : %03u\n", sheet->track_count));
  // The lead-out and the first track's index 0 at 00:00:00 are not counted.
  out_text(format_text("  Number of cuepoints : %03u\n", sheet->cuepoint_count - 2u));
  if (settings.confirm) {
    prompt("\nHit <RETURN> to view disc layout...");
    list_layout(*sheet->layout, true, settings.warnings);
  }

  const unsigned factor = speed.factor;
  out_text(format_text("\nImage file(s) contain %luMb of data\n",
                       image_megabytes(sheet->total_image_bytes)));
  out_text(format_text("Approximate recording time at %ux speed is %u minutes\n", factor,
                       recording_minutes(sheet->total_frames, factor)));

  DiscAtOnceJob job;
  job.layout = sheet->layout.get();
  job.files = sheet->files.data();
  job.file_count = sheet->file_count;
  job.speed = speed.speed;
  job.flags = job_flags(settings);
  job.cd_text = std::move(cd_text);
  // A test recording burns nothing to read back.
  const bool verify = settings.verify.verify && !settings.test;
  CdReader* reader = verify ? &verifying_reader(settings.verify, recorder) : nullptr;
  // The beep and the eject wait for the verification.
  const uint8_t after = job.flags & (JOB_BEEP | JOB_EJECT);
  if (verify) job.flags &= static_cast<uint8_t>(~after);

  for (unsigned disc = 1; disc <= settings.copies; ++disc) {
    const bool ask = transporter == nullptr ? settings.confirm || settings.copies > 1
                                            : disc == 1 && settings.confirm;
    if (ask) {
      out_text("\n");
      if (settings.test) out_text("TEST recording mode is enabled!\n");
      prompt("Hit <RETURN> to begin recording (or CTRL/C to exit)...");
    }
    if (transporter != nullptr) {
      out_text(format_text("\nLOADING DISC #%u...", disc));
      exchange_disc(recorder, *transporter,
                    disc == 1 ? TRANSPORTER_LOAD_FIRST : TRANSPORTER_EXCHANGE);
      out_text("\n");
    }
    out_text("\n");
    if (settings.blank != BlankMode::None) blank_disc(recorder, full_blank, true);
    if (sessions.size() > 1) {
      record_sessions(recorder, sessions, job);
    } else {
      record_disc_at_once(recorder, job);
    }
    if (verify) {
      report_verification(sessions.size() > 1 ? verify_sessions(*reader, sessions, job)
                                              : verify_disc_at_once(*reader, job, true));
      if (after & JOB_BEEP) signal_recording_end();
      if (after & JOB_EJECT) recorder.EjectDiscNamed(true);
    }
  }
  if (transporter != nullptr) exchange_disc(recorder, *transporter, TRANSPORTER_UNLOAD_LAST);

  free_cue_sheet(sheet);
  return 0;
}

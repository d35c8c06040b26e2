// A cue sheet of several sessions: each session recorded at once after the
// one before, the disc left open between them.
#include "common/console.h"
#include "drivers/recorder_driver.h"
#include "engine/recording.h"
#include "engine/verification.h"
#include "layout/cue_sheet.h"
#include "layout/session_split.h"
#include "tools/cueburn/cueburn.h"
#include "tools/shared/drive_setup.h"

std::vector<SheetSession> sessions_to_record(RecorderDriver& recorder,
                                             const CueSheetLayout& sheet) {
  if (!recorder.RecordsLaterSessions()) check_single_session(*sheet.layout);
  std::vector<SheetSession> sessions = split_sessions(sheet);
  if (sessions.size() < 2) return sessions;
  // The whole disc must fit before its first session is written.
  check_free_blocks(recorder, sessions_disc_blocks(sessions), "The disc image");
  return sessions;
}

namespace {

// The disc's job narrowed to one session's layout and files.
DiscAtOnceJob session_job(const DiscAtOnceJob& disc_job, const SheetSession& session) {
  DiscAtOnceJob job = disc_job;
  job.layout = session.layout.get();
  job.files = session.files.data();
  job.file_count = static_cast<uint16_t>(session.files.size());
  return job;
}

}  // namespace

void record_sessions(RecorderDriver& recorder, std::vector<SheetSession>& sessions,
                     const DiscAtOnceJob& disc_job) {
  for (std::size_t s = 0; s < sessions.size(); ++s) {
    const bool last = s + 1 == sessions.size();
    DiscAtOnceJob job = session_job(disc_job, sessions[s]);
    // The disc stays open for the next session; the end of the disc beeps
    // and ejects.
    if (!last) {
      job.flags = static_cast<uint8_t>((job.flags | JOB_SESSION) & ~(JOB_BEEP | JOB_EJECT));
    }
    out_text(format_text("Recording session %02u of %02u...\n", sessions[s].number,
                         static_cast<unsigned>(sessions.size())));
    record_disc_at_once(recorder, job);
    if (!last) out_text("\n");
  }
}

std::vector<TrackVerdict> verify_sessions(CdReader& reader,
                                          const std::vector<SheetSession>& sessions,
                                          const DiscAtOnceJob& disc_job) {
  unsigned tracks_after = 0;
  for (const SheetSession& session : sessions) tracks_after += session.layout->track_count;
  std::vector<TrackVerdict> verdicts;
  for (const SheetSession& session : sessions) {
    tracks_after -= session.layout->track_count;
    std::vector<TrackVerdict> found =
        verify_disc_at_once(reader, session_job(disc_job, session), true, tracks_after);
    verdicts.insert(verdicts.end(), found.begin(), found.end());
  }
  return verdicts;
}

// The tool's sequence: recorder, tree, checks, confirmation, then the track
// produced block by block into the recorder.
#include <cstring>
#include <memory>

#include "common/console.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "drivers/recording_events.h"
#include "engine/blanking.h"
#include "engine/recording.h"
#include "engine/verification.h"
#include "iso9660/layout.h"
#include "iso9660/tool_switches.h"
#include "iso9660/track_source.h"
#include "iso9660/tree.h"
#include "scsi/scan.h"
#include "tools/dircast/dircast.h"
#include "tools/shared/recorder_choice.h"
#include "tools/shared/recording_options.h"

namespace {

// The volume's blocks into the recorder, through the engine's staging buffer
// of 2048-byte blocks, counted on the way.
class RecorderSink : public BlockSink {
 public:
  explicit RecorderSink(RecorderDriver& recorder) : writer_(ISO_BLOCK_SIZE, recorder) {}
  void append(const uint8_t* data, std::size_t length) override {
    writer_.append(data, length);
    blocks_ += length / ISO_BLOCK_SIZE;
  }
  void flush() { writer_.flush(); }
  uint64_t blocks() const { return blocks_; }

 private:
  BlockWriter writer_;
  uint64_t blocks_ = 0;
};

// The disc block where the volume begins: 0 on a blank disc; on a disc
// that holds tracks, the next writable address the recorder reports, so
// that the volume's extents point at the blocks where its track goes (an
// ISO9660 reader mounts the disc's last session). A disc that holds tracks
// on a recorder that reports no such address is refused, and so is one
// that cannot be shown to be blank (a READ TOC that fails other than with
// BLANK CHECK, after the retries of unit attention and becoming ready).
uint32_t volume_origin(RecorderDriver& recorder) {
  if (last_track_on_disc(recorder) == 0) return 0;
  int32_t next = 0;
  if (recorder.NextTrackAddress(&next) && next > 0) return static_cast<uint32_t>(next);
  fail_with(
      "Error: The disc in the CD-Recorder is not blank!\nThe volume is laid out from the disc's "
      "first block: record it onto a blank disc.\n");
}

// The volume made again, block by block, against the track read back:
// track `number` from the disc block where the volume begins.
class VerifyingSink : public BlockSink {
 public:
  explicit VerifyingSink(TrackVerifier& verifier) : verifier_(verifier) {}
  void append(const uint8_t* data, std::size_t length) override {
    verifier_.expect(data, ISO_BLOCK_SIZE, static_cast<uint32_t>(length / ISO_BLOCK_SIZE), false);
  }

 private:
  TrackVerifier& verifier_;
};

void verify_track(CdReader& reader, const VolumeLayout& layout, const DirectoryNode& root,
                  const DircastSettings& settings, uint32_t length, uint8_t number) {
  TrackVerifier verifier(reader, number, TrackType::Mode1, layout.origin, length, settings.logging);
  VerifyingSink sink(verifier);
  emit_track(layout, root, settings.label, &sink, false);
  report_verification({verifier.finish()});
}

uint8_t job_flags(const DircastSettings& settings) {
  uint8_t flags = 0;
  if (settings.finalize) flags |= TAO_FINALIZE;
  if (settings.logging) flags |= TAO_PROGRESS;
  if (settings.session) flags |= TAO_SESSION;
  if (settings.test) flags |= TAO_TEST;
  if (settings.overburn) flags |= TAO_OVERBURN;
  return flags;
}

}  // namespace

int run_dircast(const DircastSettings& settings) {
  set_event_callback(&console_event_callback);
  aspi_open(true);
  const DeviceListRelease release;
  scan_scsi_bus();
  RecorderDriver& recorder = choose_recorder(settings.address_given, settings.address);
  const RecordingSpeed speed = resolve_recording_speed(recorder, settings.speed);
  if (settings.logging)
    out_text("CD-Recorder device found...\n" + recorder_found_text(recorder, speed) + speed.note);
  if (!(recorder.RecorderCaps & CAP_TRACK_AT_ONCE))
    fail_with("Error: CD-Recorder does not support 'track-at-once' recording!\n");
  check_blanking(recorder, settings.blank, settings.test);

  check_source_path(settings.source_path);
  ScanOptions options;
  options.recurse = settings.recurse;
  options.include_hidden = settings.include_hidden;
  options.include_system = settings.include_system;
  options.format = settings.format;
  const std::unique_ptr<DirectoryNode> root = scan_tree(settings.source_path, options);
  VolumeLayout layout = lay_out_volume(root.get());
  const uint64_t length = track_blocks(layout);
  if (length > MAX_RAW_IMAGE_SECTORS) {
    fail_with(format_text(
        "Error: Track of %llu blocks is too long for a CD: addresses end at 99:59:74 (%u "
        "blocks)!\n",
        static_cast<unsigned long long>(length), static_cast<unsigned>(MAX_RAW_IMAGE_SECTORS)));
  }
  check_files_readable(*root);
  // A later session's volume counts its blocks from the next writable address.
  // A disc about to be blanked is blank once it is recorded.
  const uint32_t origin = settings.blank == BlankMode::None ? volume_origin(recorder) : 0;
  if (origin != 0) {
    layout = lay_out_volume(root.get(), origin);
    if (settings.logging)
      out_text(
          format_text("The volume begins at LBA %06u, after the sessions on the disc\n", origin));
  }

  if (settings.confirm) {
    if (settings.test) out_text("TEST recording mode is enabled!\n");
    out_text("Hit <RETURN> to begin recording (or CTRL/C to exit)...");
    wait_for_return();
    out_text("\n");
  }

  TrackAtOnceJob job;
  job.track.track_number = 0;
  job.track.track_type = TrackType::Mode1;
  job.track.block_size = ISO_BLOCK_SIZE;
  job.track.track_flags = TRACK_DATA;
  job.track.length = static_cast<uint32_t>(length);
  job.speed = speed.speed;
  job.flags = job_flags(settings);

  if (settings.blank != BlankMode::None)
    blank_disc(recorder, settings.blank == BlankMode::Full, settings.logging);
  RecorderSink sink(recorder);
  try {
    begin_track_at_once(recorder, job);
    emit_track(layout, *root, settings.label, &sink, settings.logging);
    sink.flush();
  } catch (MSGVEC& record) {
    explain_recording_refusal(recorder, &record);
    throw;
  }
  // The track holds exactly the blocks its length announced.
  if (sink.blocks() != length) raise_message(MSG_BUGCHECK, 0, 0, 0);
  end_track_at_once(recorder, job);
  // A test recording burns nothing to read back.
  if (settings.verify.verify && !settings.test)
    verify_track(verifying_reader(settings.verify, recorder), layout, *root, settings,
                 static_cast<uint32_t>(length), origin == 0 ? 1 : last_track_on_disc(recorder));
  return 0;
}

// Track-at-once recording: readying and closing one track, and the staging
// buffer that collects its blocks.
#include <algorithm>
#include <cstring>

#include "common/console.h"
#include "common/interrupt.h"
#include "common/msgvec.h"
#include "engine/recording.h"

ResultCode begin_track_at_once(RecorderDriver& recorder, TrackAtOnceJob& job) {
  recorder.TestUnitReady(true);
  // A test recording burns nothing: there is no track to read back.
  job.tracks_before = (job.flags & TAO_TEST) ? 0 : last_track_on_disc(recorder);
  check_free_blocks(recorder, job.track.length, "The track", (job.flags & TAO_OVERBURN) != 0);
  recorder.SetWritingSpeedNamed(job.speed, (job.flags & TAO_TEST) ? 1 : 0, true);
  recorder.SetBlockLengthNamed(static_cast<uint8_t>(job.track.track_type), job.track.block_size,
                               true);
  return recorder.OpenTrackNamed(job.track, true);
}

void end_track_at_once(RecorderDriver& recorder, const TrackAtOnceJob& job) {
  const bool progress = job.flags & TAO_PROGRESS;
  recorder.CloseTrackNamed(true);
  if (job.flags & TAO_FINALIZE)
    recorder.FinalizeDiscNamed(CLOSE_MODE_DEFAULT, (job.flags & TAO_SESSION) ? 1 : 0, progress,
                               true);
  // The table of contents is written when the session is finalized: a
  // track left in an open session is not listed yet, and a test recording
  // burns nothing.
  if ((job.flags & TAO_FINALIZE) && !(job.flags & TAO_TEST))
    check_recorded_tracks(recorder, job.tracks_before,
                          {SentTrack{0, (job.track.track_flags & TRACK_DATA) != 0}});
  if (progress) notify_event(EVENT_RECORDING_DONE);
  if (job.flags & JOB_BEEP) signal_recording_end();
  if (job.flags & JOB_EJECT) recorder.EjectDiscNamed(true);
}

BlockWriter::BlockWriter(uint16_t block_size, RecorderDriver& recorder)
    : recorder_(recorder),
      block_size_(block_size),
      blocks_per_flush_(
          static_cast<uint16_t>(block_size == 0 ? 0 : MAX_TRANSFER_BYTES / block_size)),
      capacity_(static_cast<uint16_t>(blocks_per_flush_ * block_size)),
      buffer_(MAX_TRANSFER_BYTES) {
  if (blocks_per_flush_ == 0) raise_message(MSG_BUGCHECK, 0, 0, 0);
}

void BlockWriter::append(const uint8_t* bytes, std::size_t length) {
  while (length > 0) {
    const std::size_t fit = std::min<std::size_t>(length, capacity_ - fill_level_);
    std::memcpy(buffer_.data() + fill_level_, bytes, fit);
    fill_level_ = static_cast<uint16_t>(fill_level_ + fit);
    bytes += fit;
    length -= fit;
    if (fill_level_ == capacity_ && length > 0) {
      check_interrupt();
      write_blocks(recorder_, buffer_.data(), block_size_, blocks_per_flush_, 0, true);
      fill_level_ = 0;
    }
  }
}

void BlockWriter::flush() {
  if (fill_level_ == 0) return;
  const uint32_t padded = (fill_level_ + block_size_ - 1u) / block_size_ * block_size_;
  std::memset(buffer_.data() + fill_level_, 0, padded - fill_level_);
  write_blocks(recorder_, buffer_.data(), block_size_, static_cast<uint16_t>(padded / block_size_),
               0, true);
  fill_level_ = 0;
}

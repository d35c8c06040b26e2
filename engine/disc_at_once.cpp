// Disc-at-once recording: the job's steps around the recorder family's
// BeginDiscAtOnce and EndDiscAtOnce, and the streaming of image files.
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/byte_stream.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "common/stream_buffer.h"
#include "engine/recording.h"

namespace {

constexpr unsigned BEEP_PAUSE_MS = 300;

// Streams one track's blocks from the file, `remaining` counting the file's
// image bytes not yet read. The file is read a few WRITEs' worth at a time
// (large reads cost much less than one per WRITE); each WRITE still carries
// at most MAX_TRANSFER_BYTES, and the first WRITE that finds no data left,
// or data the read did not deliver, raises instead.
void record_track_data(RecorderDriver& recorder, FileSource& source, const TrackEntry& track,
                       uint32_t* remaining, bool progress, uint8_t* buffer) {
  const uint32_t per_write = MAX_TRANSFER_BYTES / track.block_size;
  const uint32_t per_read = per_write * WRITES_PER_READ;
  unsigned last_percent = 0;
  for (uint32_t done = 0; done < track.length;) {
    const uint32_t blocks = std::min(track.length - done, per_read);
    const uint32_t bytes = blocks * track.block_size;
    const uint32_t asked = std::min(*remaining, bytes);
    const std::size_t got = asked == 0 ? 0 : source.read(buffer, asked);
    std::memset(buffer + asked, 0, bytes - asked);
    *remaining -= asked;
    for (uint32_t sent = 0; sent < blocks;) {
      const auto n = static_cast<uint16_t>(std::min(blocks - sent, per_write));
      const uint32_t start = sent * track.block_size;
      const uint32_t data_end = std::min(asked, start + uint32_t{n} * track.block_size);
      if (start >= asked || data_end > got) raise_message(MSG_FILE_READ_FAILED, 0, 0, 0);
      write_blocks(recorder, buffer + start, track.block_size, n, 0, true);
      sent += n;
      done += n;
      if (progress) {
        const auto percent = static_cast<uint16_t>(uint64_t{done} * 100 / track.length);
        if (percent > last_percent) {
          notify_event(EVENT_TRACK_PROGRESS, {percent});
          last_percent = percent;
        }
      }
    }
  }
}

}  // namespace

void record_image_file(RecorderDriver& recorder, const DiscLayout& layout, const ImageFile& file,
                       bool progress, uint8_t* buffer) {
  FileSource source;
  if (!source.open(file.path) ||
      (file.data_offset != 0 &&
       lseek(source.descriptor(), static_cast<off_t>(file.data_offset), SEEK_SET) < 0))
    raise_message(MSG_OPEN_FAILED, 1, 0, 0, file.name);
  std::unique_ptr<StreamBuffer> owned;
  if (buffer == nullptr) {
    owned = std::make_unique<StreamBuffer>(IMAGE_READ_BYTES);
    buffer = owned->data();
  }
  uint32_t remaining = file.data_length;
  for (unsigned t = 0; t < file.track_count && file.first_track + t < MAX_TRACK_ENTRIES; ++t) {
    const TrackEntry& track = layout.tracks[file.first_track + t];
    if (track.block_size == 0) raise_message(MSG_BUGCHECK, 0, 0, 0);
    recorder.SetWritingBlockLength(static_cast<uint8_t>(track.track_type), track.block_size);
    if (track.pregap != 0)
      write_gap_blocks(recorder, track.track_type, track.pregap, track.block_size, false, buffer);
    if (progress) notify_event(EVENT_TRACK_START, {track.track_number, track.length});
    record_track_data(recorder, source, track, &remaining, progress, buffer);
    if (progress) notify_event(EVENT_TRACK_END);
    if (track.postgap != 0)
      write_gap_blocks(recorder, track.track_type, track.postgap, track.block_size, false, buffer);
  }
}

void signal_recording_end() {
  beep();
  platform_sleep(BEEP_PAUSE_MS);
  beep();
  platform_sleep(BEEP_PAUSE_MS);
}

int record_disc_at_once(RecorderDriver& recorder, const DiscAtOnceJob& job) {
  const bool progress = job.flags & JOB_PROGRESS;
  recorder.TestUnitReady(true);
  recorder.RezeroUnit(false);
  if (progress) notify_event(EVENT_DISC_AT_ONCE_START);
  recorder.SetWritingSpeedNamed(job.speed, (job.flags & JOB_TEST) ? 1 : 0, true);
  recorder.BeginDiscAtOnce(job);
  // One buffer for every chunk and gap of the job.
  StreamBuffer buffer(IMAGE_READ_BYTES);
  for (uint16_t i = 0; i < job.file_count; ++i)
    record_image_file(recorder, *job.layout, job.files[i], progress, buffer.data());
  recorder.EndDiscAtOnce(progress ? 1 : 0);
  if (progress) notify_event(EVENT_RECORDING_DONE);
  if (job.flags & JOB_BEEP) signal_recording_end();
  if (job.flags & JOB_EJECT) recorder.EjectDiscNamed(true);
  return 1;
}

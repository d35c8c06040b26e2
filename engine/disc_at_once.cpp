// Disc-at-once recording: the job's steps around the recorder family's
// BeginDiscAtOnce and EndDiscAtOnce, and the streaming of image files.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/audio_file.h"
#include "common/background_job.h"
#include "common/byte_stream.h"
#include "common/console.h"
#include "common/interrupt.h"
#include "common/msgvec.h"
#include "common/stream_buffer.h"
#include "engine/recording.h"

namespace {

constexpr unsigned BEEP_PAUSE_MS = 300;

// One read of an image file: `asked` bytes of data (fewer than `bytes` where
// the file's data ends) for a chunk of `bytes` bytes.
struct ChunkRead {
  uint32_t asked;
  uint32_t bytes;
};

// A chunk as it came from the file: its `bytes` bytes (zeros after the
// asked data), what was asked and what the read delivered.
struct Chunk {
  uint8_t* data;  // the recorder's driver may rewrite a WRITE's blocks in place
  uint32_t bytes;
  uint32_t asked;
  std::size_t got;
};

// Reads the planned chunks of an image file on a second thread, one ahead of
// the recorder, into two buffers in turn: while the recorder takes one
// chunk, the next one comes from the file.
class ChunkReader {
 public:
  // `buffers` holds two chunks of IMAGE_READ_BYTES.
  ChunkReader(ByteSource& source, std::vector<ChunkRead> plan, uint8_t* buffers)
      : source_(source), plan_(std::move(plan)), buffers_{buffers, buffers + IMAGE_READ_BYTES} {
    if (!plan_.empty()) start(0);
  }

  // The next chunk of the plan (the previous one is overwritten next).
  Chunk next() {
    if (next_ >= plan_.size()) raise_message(MSG_BUGCHECK, 0, 0, 0);
    const std::size_t got = static_cast<std::size_t>(job_.wait());
    const std::size_t k = next_++;
    if (next_ < plan_.size()) start(next_);
    uint8_t* data = buffers_[k % 2];
    std::memset(data + plan_[k].asked, 0, plan_[k].bytes - plan_[k].asked);
    return {data, plan_[k].bytes, plan_[k].asked, got};
  }

 private:
  void start(std::size_t k) {
    const uint32_t asked = plan_[k].asked;
    uint8_t* into = buffers_[k % 2];
    job_.start([this, asked, into] {
      return asked == 0 ? 0 : static_cast<int>(source_.read(into, asked));
    });
  }

  ByteSource& source_;
  std::vector<ChunkRead> plan_;
  uint8_t* buffers_[2];
  std::size_t next_ = 0;
  BackgroundJob job_;  // the last member: the read in flight ends first
};

// Frames of the file's t-th track that the file holds: all of the track's
// but where the track takes frames from two files.
uint32_t frames_in_file(const ImageFile& file, const TrackEntry& track, unsigned t) {
  return t < file.track_frames.size() ? file.track_frames[t] : track.length;
}

// The reads of a file's tracks, in order, up to a track without a block
// size: a few WRITEs' worth each (large reads cost much less than one per
// WRITE), a track's last one shorter.
std::vector<ChunkRead> plan_reads(const DiscLayout& layout, const ImageFile& file) {
  std::vector<ChunkRead> plan;
  uint32_t remaining = file.data_length;
  for (unsigned t = 0; t < file.track_count && file.first_track + t < MAX_TRACK_ENTRIES; ++t) {
    const TrackEntry& track = layout.tracks[file.first_track + t];
    if (track.block_size == 0) break;
    const uint32_t per_read = MAX_TRANSFER_BYTES / track.block_size * WRITES_PER_READ;
    const uint32_t frames = frames_in_file(file, track, t);
    for (uint32_t done = 0; done < frames;) {
      const uint32_t blocks = std::min(frames - done, per_read);
      const uint32_t bytes = blocks * track.block_size;
      const uint32_t asked = std::min(remaining, bytes);
      plan.push_back({asked, bytes});
      remaining -= asked;
      done += blocks;
    }
  }
  return plan;
}

// Streams one track's blocks from the file's chunks. Each WRITE carries at
// most MAX_TRANSFER_BYTES; the first WRITE that finds no data left, or data
// the read did not deliver, raises instead.
void record_track_data(RecorderDriver& recorder, ChunkReader& reader, const TrackEntry& track,
                       uint32_t frames, uint32_t done, bool progress, const AudioFile* audio,
                       const std::string& name) {
  const uint32_t per_write = MAX_TRANSFER_BYTES / track.block_size;
  unsigned last_percent =
      track.length == 0 ? 0 : static_cast<unsigned>(uint64_t{done} * 100 / track.length);
  for (const uint32_t end = done + frames; done < end;) {
    const Chunk chunk = reader.next();
    const uint32_t blocks = chunk.bytes / track.block_size;
    for (uint32_t sent = 0; sent < blocks;) {
      const auto n = static_cast<uint16_t>(std::min(blocks - sent, per_write));
      const uint32_t start = sent * track.block_size;
      const uint32_t data_end = std::min(chunk.asked, start + uint32_t{n} * track.block_size);
      if (start >= chunk.asked || data_end > chunk.got) {
        // A decoder says where and why it stopped.
        if (audio && !audio->failure().empty())
          raise_message(MSG_FILE_READ_FAILED, 0, MSG_TEXT, 1,
                        "\"" + name + "\": " + audio->failure());
        raise_message(MSG_FILE_READ_FAILED, 0, 0, 0);
      }
      check_interrupt();
      write_blocks(recorder, chunk.data + start, track.block_size, n, 0, true);
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

void open_image_source(const ImageFile& file, ImageSource* image) {
  // The file may have been replaced since the sheet was read: only a
  // regular file is an image. Audio files are decoded as they are read;
  // binary images and plain CD audio WAV files are read as they stand.
  ImageSource& opened = *image;
  std::string why;
  if (file.file_type == FileType::Wave) {
    opened.audio = AudioFile::open(file.path, file.audio_format, &why);
    if (opened.audio) opened.source = opened.audio.get();
    if (!opened.audio && why.empty()) why = "Not an audio file that can be read";
  } else {
    struct stat info {};
    FileSource& file_source = opened.file;
    opened.source = &file_source;
    if (!file_source.open(file.path))
      why = file_source.failure();
    else if (fstat(file_source.descriptor(), &info) != 0 || !S_ISREG(info.st_mode))
      why = "Not a regular file";
    else if (file.data_offset != 0 &&
             lseek(file_source.descriptor(), static_cast<off_t>(file.data_offset), SEEK_SET) < 0)
      why = std::strerror(errno);
  }
  struct stat named {};
  if (!why.empty() && stat(file.path.c_str(), &named) == 0 && !S_ISREG(named.st_mode) &&
      !S_ISDIR(named.st_mode))
    why = "Not a regular file";
  if (!why.empty())
    raise_message(MSG_OPEN_FAILED, 1, MSG_TEXT, 1, file.written.empty() ? file.name : file.written,
                  why);
}

void record_image_file(RecorderDriver& recorder, const DiscLayout& layout, const ImageFile& file,
                       bool progress, uint8_t* buffer) {
  ImageSource image;
  open_image_source(file, &image);
  ByteSource* source = image.source;
  std::unique_ptr<AudioFile>& audio = image.audio;
  std::unique_ptr<StreamBuffer> owned;
  if (buffer == nullptr) {
    owned = std::make_unique<StreamBuffer>(IMAGE_BUFFER_BYTES);
    buffer = owned->data();
  }
  // The gaps' blocks first, then the two chunks the reader fills.
  uint8_t* gaps = buffer;
  ChunkReader reader(*source, plan_reads(layout, file), buffer + MAX_TRANSFER_BYTES);
  for (unsigned t = 0; t < file.track_count && file.first_track + t < MAX_TRACK_ENTRIES; ++t) {
    const TrackEntry& track = layout.tracks[file.first_track + t];
    if (track.block_size == 0) raise_message(MSG_BUGCHECK, 0, 0, 0);
    recorder.SetWritingBlockLength(static_cast<uint8_t>(track.track_type), track.block_size);
    // A track that takes its frames from two files starts in the first
    // and ends in the second.
    const bool starts_here = t != 0 || !file.first_track_continued;
    const bool ends_here = t + 1 != file.track_count || !file.last_track_goes_on;
    const uint32_t frames = frames_in_file(file, track, t);
    if (starts_here && track.pregap != 0)
      write_gap_blocks(recorder, track.track_type, track.pregap, track.block_size, false, gaps);
    if (progress && starts_here)
      notify_event(EVENT_TRACK_START, {track.track_number, track.length});
    record_track_data(recorder, reader, track, frames, starts_here ? 0 : track.length - frames,
                      progress, audio.get(), file.name);
    if (progress && ends_here) notify_event(EVENT_TRACK_END);
    if (ends_here && track.postgap != 0)
      write_gap_blocks(recorder, track.track_type, track.postgap, track.block_size, false, gaps);
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
  // A test recording burns nothing: there is no track to read back.
  const bool test = job.flags & JOB_TEST;
  recorder.TestUnitReady(true);
  recorder.RezeroUnit(false);
  const uint8_t tracks_before = test ? 0 : last_track_on_disc(recorder);
  // The packs name the tracks of the disc's first session, in its lead-in.
  if (!job.cd_text.empty() && tracks_before != 0)
    err_text(
        "WARNING! CD-TEXT is recorded in a disc's first session only: this session has none\n");
  // Past the capacity the drive itself says how far it goes.
  if (!(job.flags & JOB_OVERBURN))
    check_free_blocks(recorder, job.layout->leadout_position, "The disc image");
  if (progress) notify_event(EVENT_DISC_AT_ONCE_START);
  try {
    recorder.SetWritingSpeedNamed(job.speed, test ? 1 : 0, true);
    recorder.BeginDiscAtOnce(job);
    // One buffer for every chunk and gap of the job.
    StreamBuffer buffer(IMAGE_BUFFER_BYTES);
    for (uint16_t i = 0; i < job.file_count; ++i)
      record_image_file(recorder, *job.layout, job.files[i], progress, buffer.data());
    recorder.EndDiscAtOnce(progress ? 1 : 0);
  } catch (MSGVEC& record) {
    explain_recording_refusal(recorder, &record);
    throw;
  }
  if (!test) check_recorded_tracks(recorder, tracks_before, sent_tracks(*job.layout));
  if (progress) notify_event(EVENT_RECORDING_DONE);
  if (job.flags & JOB_BEEP) signal_recording_end();
  if (job.flags & JOB_EJECT) recorder.EjectDiscNamed(true);
  return 1;
}

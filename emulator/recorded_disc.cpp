#include "emulator/recorded_disc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/timecode.h"
#include "common/stream_buffer.h"
#include "emulator/device.h"
#include "layout/cue_metadata.h"

namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

bool write_all(int fd, const uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, data, size);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

// Copies the whole of `from` to the descriptor, in the kernel where it can.
bool copy_file(const std::string& from, int to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  bool ok = true;
  for (;;) {
    const ssize_t done = ::copy_file_range(in, nullptr, to, nullptr, 1 << 30, 0);
    if (done == 0) break;
    if (done > 0) continue;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
      ok = false;
      break;
    }
    // No copy in the kernel here: through a buffer, from where it stopped.
    std::vector<uint8_t> buffer(1 << 20);
    for (;;) {
      const ssize_t got = ::read(in, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ok = got == 0;
        break;
      }
      if (!write_all(to, buffer.data(), static_cast<std::size_t>(got))) {
        ok = false;
        break;
      }
    }
    break;
  }
  ::close(in);
  return ok;
}

bool write_text(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool ok = write_all(fd, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return ::close(fd) == 0 && ok;
}

std::string msf_text(int32_t frames) {
  const MsfTime time = frames_to_msf(frames);
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", time.minute, time.second, time.frame);
  return text;
}

std::string two_digits(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", value);
  return text;
}

const char* type_keyword(const DiscTrack& track) {
  if (!track.is_data()) return track.block_size == 2448 ? "CDG" : "AUDIO";
  return track.type == TrackType::Mode1 ? "MODE1/2352" : "MODE2/2352";
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

RecordedDisc::RecordedDisc(std::string path, int32_t blank_capacity) : path_(std::move(path)) {
  stored_.capacity = blank_capacity;
  load();
  work_ = stored_;
}

RecordedDisc::~RecordedDisc() { discard(); }

void RecordedDisc::load() {
  const bool cue = exists(path_ + ".cue"), bin = exists(path_ + ".bin"),
             state = exists(path_ + ".state");
  if (!cue && !bin && !state) return;
  if (!cue || !bin || !state)
    throw EmulatedBusError("recorded disc \"" + path_ + "\" lacks " +
                           (!cue   ? ".cue"
                            : !bin ? ".bin"
                                   : ".state"));
  const std::unique_ptr<EmulatedDisc> disc = EmulatedDisc::load(path_ + ".cue");
  stored_.tracks = disc->tracks();
  stored_.has_catalog = disc->has_catalog();
  stored_.catalog = disc->catalog();
  stored_.disc_texts = disc->disc_texts();
  stored_.bin_end = disc->leadout();
  std::ifstream in(path_ + ".state");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, status;
    words >> key;
    if (key == "capacity") {
      words >> stored_.capacity;
    } else if (key == "disc") {
      words >> status;
      stored_.closed = status == "closed";
    } else if (key == "session") {
      RecordedSession session;
      unsigned number = 0, first = 0, last = 0;
      words >> number >> first >> last >> session.leadout >> status;
      session.first_track = static_cast<uint8_t>(first);
      session.last_track = static_cast<uint8_t>(last);
      session.closed = status == "closed";
      if (!words || number != stored_.sessions.size() + 1)
        throw EmulatedBusError("recorded disc \"" + path_ + "\": bad line \"" + line + "\"");
      stored_.sessions.push_back(session);
    }
  }
  if (stored_.sessions.empty() || stored_.capacity <= 0)
    throw EmulatedBusError("recorded disc \"" + path_ + "\": no sessions in its .state");
}

int32_t RecordedDisc::next_area() const {
  if (work_.tracks.empty()) return -PREGAP_BLOCKS;
  const RecordedSession& last = work_.sessions.back();
  return last.closed ? last.leadout : work_.tracks.back().end_lba;
}

int32_t RecordedDisc::next_index1() const {
  if (work_.tracks.empty()) return 0;
  const RecordedSession& last = work_.sessions.back();
  if (!last.closed) return work_.tracks.back().end_lba + PREGAP_BLOCKS;
  const uint32_t leadout = work_.sessions.size() == 1 ? FIRST_LEADOUT_BLOCKS : LATER_LEADOUT_BLOCKS;
  return last.leadout + static_cast<int32_t>(leadout + LEADIN_BLOCKS) + PREGAP_BLOCKS;
}

uint32_t RecordedDisc::leadout_blocks() const {
  const bool first = stored_.sessions.empty() ||
                     (stored_.sessions.size() == 1 && !stored_.sessions.front().closed);
  return first ? FIRST_LEADOUT_BLOCKS : LATER_LEADOUT_BLOCKS;
}

bool RecordedDisc::begin(bool test) {
  discard();
  test_ = test;
  if (!test) {
    const std::string name = path_ + ".bin.new";
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) return false;
    if (!stored_.tracks.empty() && !copy_file(path_ + ".bin", fd_)) {
      discard();
      return false;
    }
    const off_t copied = ::lseek(fd_, 0, SEEK_CUR);
    file_end_ = copied > 0 ? static_cast<uint64_t>(copied) : 0;
    reserved_end_ = 0;
  }
  if (!pending_) pending_ = std::make_unique<StreamBuffer>(WRITE_BEHIND_BYTES);
  writing_ = true;
  return true;
}

bool RecordedDisc::store(int32_t lba, const uint8_t* frames, uint32_t count, uint32_t frame_size) {
  if (lba + static_cast<int32_t>(count) <= work_.bin_end) return true;
  if (lba < work_.bin_end) {
    const auto skipped = static_cast<uint32_t>(work_.bin_end - lba);
    frames += uint64_t{skipped} * frame_size;
    count -= skipped;
    lba = work_.bin_end;
  }
  if (!test_) {
    if (write_failed_) return false;
    const std::size_t bytes = std::size_t{count} * frame_size;
    // A gap reads as zeros: a hole in the file.
    if (lba > work_.bin_end) {
      const uint64_t gap = uint64_t{frame_size} * static_cast<uint32_t>(lba - work_.bin_end);
      if (!flush_pending() || ::lseek(fd_, static_cast<off_t>(gap), SEEK_CUR) < 0) return false;
      file_end_ += gap;
    }
    if (frames == pending_->data() + pending_used_ && pending_used_ + bytes <= WRITE_BEHIND_BYTES) {
      pending_used_ += bytes;
    } else {
      if (pending_used_ + bytes > WRITE_BEHIND_BYTES && !flush_pending()) return false;
      if (bytes >= WRITE_BEHIND_BYTES) {
        if (!write_frames(frames, bytes)) return false;
      } else {
        // The frames may lie in the buffer already (built in place after a gap).
        std::memmove(pending_->data() + pending_used_, frames, bytes);
        pending_used_ += bytes;
      }
    }
  }
  work_.bin_end = lba + static_cast<int32_t>(count);
  return true;
}

uint8_t* RecordedDisc::frame_space(std::size_t bytes) {
  if (!writing_ || bytes > WRITE_BEHIND_BYTES) return nullptr;
  if (test_) return pending_->data();
  if (pending_used_ + bytes > WRITE_BEHIND_BYTES && !flush_pending()) return nullptr;
  return pending_->data() + pending_used_;
}

bool RecordedDisc::flush_pending() {
  const bool ok = write_frames(pending_->data(), pending_used_);
  pending_used_ = 0;
  return ok;
}

// Space is reserved ahead of the frames, in large steps: a file system
// lays out the file with much less work than when it finds room for each
// write, and the commit gives back what was not used. A file system that
// cannot reserve (or is full) simply takes the writes, or fails them.
bool RecordedDisc::write_frames(const uint8_t* frames, std::size_t bytes) {
  if (bytes == 0) return !write_failed_;
  if (file_end_ + bytes > reserved_end_) {
    // Failing or not, the next try comes a step further on.
    const uint64_t step = std::max<uint64_t>(bytes, RESERVE_STEP_BYTES);
    ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(file_end_), static_cast<off_t>(step));
    reserved_end_ = file_end_ + step;
  }
  write_failed_ = write_failed_ || !write_all(fd_, frames, bytes);
  file_end_ += bytes;
  return !write_failed_;
}

bool RecordedDisc::commit() {
  if (!writing_) return true;
  if (test_) {
    discard();
    return true;
  }
  const int fd = fd_;
  bool ok = flush_pending();
  // Gives back the space reserved past the last frame.
  if (ok && reserved_end_ > file_end_) ok = ::ftruncate(fd, static_cast<off_t>(file_end_)) == 0;
  fd_ = -1;
  ok = ::close(fd) == 0 && ok;
  ok = ok && write_text(path_ + ".cue.new", cue_sheet());
  ok = ok && write_text(path_ + ".state.new", state_text());
  // The sectors first: until the state is renamed nothing reads them.
  for (const char* suffix : {".bin", ".cue", ".state"}) {
    if (!ok) break;
    ok = ::rename((path_ + suffix + ".new").c_str(), (path_ + suffix).c_str()) == 0;
  }
  if (!ok) {
    discard();
    return false;
  }
  stored_ = work_;
  writing_ = false;
  return true;
}

void RecordedDisc::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink((path_ + ".bin.new").c_str());
    fd_ = -1;
  }
  pending_used_ = 0;
  write_failed_ = false;
  for (const char* suffix : {".cue.new", ".state.new"}) ::unlink((path_ + suffix).c_str());
  work_ = stored_;
  writing_ = false;
  test_ = false;
}

std::string RecordedDisc::cue_sheet() const {
  std::string text;
  if (work_.has_catalog) text += "CATALOG " + std::string(work_.catalog.data(), 13) + "\n";
  for (const SheetText& line : work_.disc_texts) text += text_line(line) + "\n";
  text += "FILE \"" + base_name(path_) + ".bin\" BINARY\n";
  std::size_t session = 0;
  for (const DiscTrack& track : work_.tracks) {
    while (session + 1 < work_.sessions.size() &&
           track.number >= work_.sessions[session + 1].first_track)
      ++session;
    if (session > 0 && track.number == work_.sessions[session].first_track)
      text += "  REM SESSION " + two_digits(static_cast<unsigned>(session + 1)) + "\n";
    text += "  TRACK " + two_digits(track.number) + " " + type_keyword(track) + "\n";
    for (const SheetText& line : track.texts) text += "    " + text_line(line) + "\n";
    std::string flags;
    if (track.control & 0x02) flags += " DCP";
    if (track.control & 0x08) flags += " 4CH";
    if (track.control & 0x01) flags += " PRE";
    if (!flags.empty()) text += "    FLAGS" + flags + "\n";
    if (track.has_isrc) text += "    ISRC " + std::string(track.isrc.data(), 12) + "\n";
    for (std::size_t i = 0; i < track.indexes.size(); ++i) {
      const auto& [index, lba] = track.indexes[i];
      // An index that begins before LBA 0 and reaches past it starts the file.
      const int32_t next =
          i + 1 < track.indexes.size() ? track.indexes[i + 1].second : track.end_lba;
      if (lba >= 0 || next > 0)
        text += "    INDEX " + two_digits(index) + " " + msf_text(std::max(lba, 0)) + "\n";
    }
  }
  return text;
}

std::string RecordedDisc::state_text() const {
  std::string text = "capacity " + std::to_string(work_.capacity) + "\n";
  text += std::string("disc ") + (work_.closed ? "closed" : "open") + "\n";
  text += "next " + std::to_string(next_index1()) + "\n";
  for (std::size_t i = 0; i < work_.sessions.size(); ++i) {
    const RecordedSession& session = work_.sessions[i];
    text += "session " + std::to_string(i + 1) + " " + std::to_string(session.first_track) + " " +
            std::to_string(session.last_track) + " " + std::to_string(session.leadout) + " " +
            (session.closed ? "closed" : "open") + "\n";
  }
  return text;
}

std::unique_ptr<EmulatedDisc> RecordedDisc::reading_disc() const {
  if (stored_.tracks.empty()) return nullptr;
  return EmulatedDisc::load(path_ + ".cue");
}

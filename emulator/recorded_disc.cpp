#include "emulator/recorded_disc.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <tuple>
#include <utility>

#include "common/interrupt.h"
#include "common/numbers.h"
#include "common/regular_file.h"
#include "common/stream_buffer.h"
#include "common/timecode.h"
#include "emulator/device.h"
#include "layout/cd_text.h"
#include "layout/cue_encoding.h"
#include "layout/cue_metadata.h"
#include "layout/cue_sheet.h"

namespace {

// A state file holds a few lines per session.
constexpr std::size_t STATE_SIZE_LIMIT = 64 * 1024;
// The LBA after the last block of the longest disc a recorder takes.
constexpr int32_t MAX_CAPACITY = 99 * FRAMES_PER_MINUTE - LBA_OFFSET_FRAMES;
// Every sector of such a disc, as CD+G blocks.
constexpr uint64_t MAX_IMAGE_BYTES = uint64_t{MAX_CAPACITY} * 2448;

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

// Overwrites every byte of the file with zeros, keeping its length: holes
// punched where the file system can, zeros written where it cannot. A file
// that does not exist holds nothing to erase.
bool zero_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  const auto size = static_cast<uint64_t>(info.st_size);
  if (ok && size > 0 &&
      ::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, info.st_size) != 0) {
    const std::vector<uint8_t> zeros(1 << 20, 0);
    for (uint64_t at = 0; ok && at < size;) {
      const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(zeros.size(), size - at));
      ok = write_all(fd, zeros.data(), n);
      at += n;
    }
  }
  return ::close(fd) == 0 && ok;
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

// Runs of zeros of this length, from the start of what is written at once,
// are left as holes: silence and empty sectors.
constexpr std::size_t HOLE_BYTES = 64 * 1024;

bool all_zero(const uint8_t* data, std::size_t size) {
  return size == 0 || (data[0] == 0 && std::memcmp(data, data + 1, size - 1) == 0);
}

// False for a file system in memory: it has no layout to gain from a
// reservation, and would fill the reserved space with pages at once only to
// free what the recording did not use.
bool lays_out_files(int fd) {
  struct statfs system {};
  if (::fstatfs(fd, &system) != 0) return true;
  return system.f_type != TMPFS_MAGIC && system.f_type != RAMFS_MAGIC;
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
  lock_ = MediumLock::take(path_);
  load();
  work_ = stored_;
}

RecordedDisc::~RecordedDisc() { discard(); }

void RecordedDisc::refuse_file(const char* suffix, const std::string& why) const {
  throw EmulatedMediumError("The disc " + path_ + " cannot be loaded: " + path_ + suffix + " " +
                            why);
}

void RecordedDisc::load() {
  const bool cue = exists(path_ + ".cue"), bin = exists(path_ + ".bin"),
             state = exists(path_ + ".state");
  if (!cue && !bin && !state) return;
  for (const auto& [present, suffix] : {std::pair{cue, ".cue"}, {bin, ".bin"}, {state, ".state"}})
    if (!present) refuse_file(suffix, "is missing");
  std::string state_text;
  for (const auto& [suffix, limit, text] :
       {std::tuple{".cue", CUE_SHEET_SIZE_LIMIT, &stored_sheet_},
        {".state", STATE_SIZE_LIMIT, &state_text}}) {
    switch (read_regular_file(path_ + suffix, limit, text)) {
      case FileReading::Read: break;
      case FileReading::NotRegular: refuse_file(suffix, "is not a regular file");
      case FileReading::TooLarge:
        refuse_file(suffix, "is larger than " + std::to_string(limit / 1024) + " KiB");
      case FileReading::Failed:
        refuse_file(suffix, std::string("cannot be read: ") + std::strerror(errno));
    }
  }
  // The image is opened by the sheet; a FIFO or a device is refused before.
  struct stat image {};
  if (::stat((path_ + ".bin").c_str(), &image) != 0 || !S_ISREG(image.st_mode))
    refuse_file(".bin", "is not a regular file");
  if (static_cast<uint64_t>(image.st_size) > MAX_IMAGE_BYTES)
    refuse_file(".bin", "holds " + std::to_string(image.st_size) + " bytes, more than a disc");

  int64_t next = -1;
  bool capacity_seen = false, disc_seen = false;
  std::istringstream lines(state_text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    if (words.empty()) continue;
    uint64_t value[4] = {};
    const auto numbers = [&](std::size_t first, std::size_t count, uint64_t max) {
      for (std::size_t i = 0; i < count; ++i)
        if (!parse_decimal(words[first + i], max, &value[i])) return false;
      return true;
    };
    const auto bad = [&](const std::string& why) {
      refuse_file(".state", "line \"" + line + "\": " + why);
    };
    if (words[0] == "capacity" && words.size() == 2) {
      if (capacity_seen) bad("the capacity is given twice");
      if (!numbers(1, 1, MAX_CAPACITY) || value[0] == 0)
        bad("the capacity is not an LBA from 1 to " + std::to_string(MAX_CAPACITY));
      stored_.capacity = static_cast<int32_t>(value[0]);
      capacity_seen = true;
    } else if (words[0] == "disc" && words.size() == 2 &&
               (words[1] == "open" || words[1] == "closed")) {
      if (disc_seen) bad("the disc is given twice");
      stored_.closed = words[1] == "closed";
      disc_seen = true;
    } else if (words[0] == "next" && words.size() == 2) {
      if (!numbers(1, 1, INT32_MAX)) bad("not an LBA");
      next = static_cast<int64_t>(value[0]);
    } else if (words[0] == "session" && words.size() == 6 &&
               (words[5] == "open" || words[5] == "closed")) {
      if (!numbers(1, 3, MAX_TRACKS) || !parse_decimal(words[4], INT32_MAX, &value[3]))
        bad("not a session number, two track numbers and an LBA");
      if (value[0] != stored_.sessions.size() + 1)
        bad("session " + std::to_string(stored_.sessions.size() + 1) + " was due");
      RecordedSession session;
      session.first_track = static_cast<uint8_t>(value[1]);
      session.last_track = static_cast<uint8_t>(value[2]);
      session.leadout = static_cast<int32_t>(value[3]);
      session.closed = words[5] == "closed";
      stored_.sessions.push_back(session);
    } else {
      bad("not a capacity, disc, next or session line");
    }
  }
  if (!capacity_seen || !disc_seen || stored_.sessions.empty())
    refuse_file(".state", "lacks its capacity, disc or session lines");

  // The sheet names the image by its own name, found beside the sheet only.
  const std::string named = "FILE \"" + base_name(path_) + ".bin\" BINARY\n";
  const std::size_t at = stored_sheet_.find(named);
  if (at == std::string::npos ||
      stored_sheet_.find("FILE ", at + named.size()) != std::string::npos)
    refuse_file(".cue", "does not name " + base_name(path_) + ".bin as its one image file");
  const std::unique_ptr<EmulatedDisc> disc = load_sheet(stored_sheet_);
  stored_.tracks = disc->tracks();
  stored_.has_catalog = disc->has_catalog();
  stored_.catalog = disc->catalog();
  stored_.disc_texts = disc->disc_texts();
  stored_.bin_end = disc->leadout();
  const DiscTrack& last = stored_.tracks.back();
  if (last.file_offset + uint64_t{last.length} * last.block_size !=
      static_cast<uint64_t>(image.st_size))
    refuse_file(".bin", "holds " + std::to_string(image.st_size) +
                            " bytes, not whole sectors of the tracks of " + base_name(path_) +
                            ".cue");
  load_cd_text();
  work_ = stored_;  // where the next track goes
  check_sessions(next);
}

void RecordedDisc::load_cd_text() {
  const std::string path = path_ + ".cdt";
  if (!exists(path)) return;
  std::string packs;
  constexpr std::size_t limit = CD_TEXT_MAX_BLOCKS * CD_TEXT_BLOCK_PACKS * CD_TEXT_PACK_SIZE;
  if (read_regular_file(path, limit, &packs) != FileReading::Read)
    refuse_file(".cdt", "cannot be read as a regular file of packs");
  const long bad = bad_cd_text_pack(reinterpret_cast<const uint8_t*>(packs.data()), packs.size());
  if (packs.empty() || bad >= 0)
    refuse_file(".cdt", "holds a bad pack at byte " +
                            std::to_string(bad < 0 ? 0 : bad * long{CD_TEXT_PACK_SIZE}));
  stored_.cd_text.assign(packs.begin(), packs.end());
}

void RecordedDisc::check_sessions(int64_t next) const {
  const auto bad = [&](const std::string& why) { refuse_file(".state", why); };
  const std::vector<RecordedSession>& sessions = stored_.sessions;
  const std::vector<DiscTrack>& tracks = stored_.tracks;
  unsigned expected = tracks.front().number;
  for (std::size_t i = 0; i < sessions.size(); ++i) {
    const RecordedSession& session = sessions[i];
    const std::string name = "session " + std::to_string(i + 1);
    if (session.first_track != expected || session.last_track < session.first_track ||
        session.last_track > tracks.back().number)
      bad(name + " holds tracks " + std::to_string(session.first_track) + " to " +
          std::to_string(session.last_track) + ", not the next tracks of " + base_name(path_) +
          ".cue from " + std::to_string(expected));
    const DiscTrack& last = tracks[session.last_track - tracks.front().number];
    if (session.leadout != last.end_lba)
      bad(name + " ends at LBA " + std::to_string(session.leadout) + ", its last track at " +
          std::to_string(last.end_lba));
    if (session.leadout > stored_.capacity)
      bad(name + " ends at LBA " + std::to_string(session.leadout) + ", past the capacity " +
          std::to_string(stored_.capacity));
    if (!session.closed && (i + 1 < sessions.size() || stored_.closed))
      bad(name + " is open, but " + (stored_.closed ? "the disc is closed" : "a session follows"));
    expected = session.last_track + 1u;
  }
  if (expected != tracks.back().number + 1u)
    bad("its sessions end at track " + std::to_string(expected - 1) + ", " + base_name(path_) +
        ".cue at track " + std::to_string(tracks.back().number));
  if (next >= 0 && next != next_index1())
    bad("next is LBA " + std::to_string(next) + ", its sessions say " +
        std::to_string(next_index1()));
}

namespace {

// A stored sheet whose texts are in ISO-8859-1 in UTF-8: every line but
// those that name the disc's files, which keep the file system's bytes.
std::string texts_from_latin1(const std::string& sheet) {
  std::string out;
  std::istringstream lines(sheet);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t word = line.find_first_not_of(' ');
    const bool names_file =
        word != std::string::npos &&
        (line.compare(word, 5, "FILE ") == 0 || line.compare(word, 11, "CDTEXTFILE ") == 0);
    out += (names_file ? line : latin1_to_utf8(line)) + "\n";
  }
  return out;
}

}  // namespace

std::unique_ptr<EmulatedDisc> RecordedDisc::load_sheet(const std::string& text) const {
  // The names as the sheet gives them hold no folder: from the current
  // folder they would find another disc's files. The paths find its own.
  std::string sheet = is_utf8(text) ? text : texts_from_latin1(text);
  for (const char* suffix : {".bin", ".cdt"}) {
    const std::string name = "\"" + base_name(path_) + suffix + "\"";
    const std::size_t at = sheet.find(name);
    if (at != std::string::npos) sheet.replace(at, name.size(), "\"" + path_ + suffix + "\"");
  }
  try {
    return EmulatedDisc::load_text(path_ + ".cue", sheet);
  } catch (const EmulatedBusError& error) {
    std::string why = error.what();
    const std::string named = "cue sheet \"" + path_ + ".cue\": ";
    if (why.compare(0, named.size(), named) == 0) why.erase(0, named.size());
    refuse_file(".cue", "is not a disc's sheet: " + why);
  }
}

std::vector<std::string> RecordedDisc::files() const {
  return {path_ + ".cue", path_ + ".bin", path_ + ".state", path_ + ".cdt", path_ + ".lock"};
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
    fd_ = make_new_file(".bin", &bin_new_);
    if (fd_ < 0) return false;
    if (!stored_.tracks.empty() && !copy_file(path_ + ".bin", fd_)) {
      discard();
      return false;
    }
    const off_t copied = ::lseek(fd_, 0, SEEK_CUR);
    file_end_ = copied > 0 ? static_cast<uint64_t>(copied) : 0;
    reserved_end_ = 0;
    reserve_space_ = lays_out_files(fd_);
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
// Frames are appended, so a run of zeros is skipped rather than written:
// past the file's end it reads as zeros, and costs the file system no page.
bool RecordedDisc::write_frames(const uint8_t* frames, std::size_t bytes) {
  if (bytes == 0) return !write_failed_;
  if (reserve_space_ && file_end_ + bytes > reserved_end_) {
    // Failing or not, the next try comes a step further on.
    const uint64_t step = std::max<uint64_t>(bytes, RESERVE_STEP_BYTES);
    ::fallocate(fd_, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(file_end_), static_cast<off_t>(step));
    reserved_end_ = file_end_ + step;
  }
  std::size_t written = 0;  // bytes written or skipped
  for (std::size_t at = 0; at + HOLE_BYTES <= bytes && !write_failed_;) {
    if (!all_zero(frames + at, HOLE_BYTES)) {
      at += HOLE_BYTES;
      continue;
    }
    std::size_t end = at + HOLE_BYTES;
    while (end + HOLE_BYTES <= bytes && all_zero(frames + end, HOLE_BYTES)) end += HOLE_BYTES;
    write_failed_ = !write_all(fd_, frames + written, at - written) ||
                    ::lseek(fd_, static_cast<off_t>(end - at), SEEK_CUR) < 0;
    written = end;
    at = end;
  }
  write_failed_ = write_failed_ || !write_all(fd_, frames + written, bytes - written);
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
  // The file's length: it gives back the space reserved past the last
  // frame, and takes in the zeros skipped at the end.
  if (ok) ok = ::ftruncate(fd, static_cast<off_t>(file_end_)) == 0;
  fd_ = -1;
  ok = ::close(fd) == 0 && ok;
  const std::string sheet = cue_sheet();
  ok = ok && write_new_file(".cue", sheet, &cue_new_);
  ok = ok && write_new_file(".state", state_text(), &state_new_);
  if (!work_.cd_text.empty())
    ok = ok &&
         write_new_file(".cdt", std::string(work_.cd_text.begin(), work_.cd_text.end()), &cdt_new_);
  // The sectors first: until the state is renamed nothing reads them.
  for (const auto& [suffix, name] : {std::pair{".bin", &bin_new_},
                                     {".cdt", &cdt_new_},
                                     {".cue", &cue_new_},
                                     {".state", &state_new_}}) {
    if (name->empty()) continue;
    if (!ok) break;
    ok = ::rename(name->c_str(), (path_ + suffix).c_str()) == 0;
    if (ok) {
      forget_temporary_file(*name);
      name->clear();
    }
  }
  if (!ok) {
    discard();
    return false;
  }
  // A disc recorded without CD-TEXT keeps no packs of an earlier one.
  if (work_.cd_text.empty()) ::unlink((path_ + ".cdt").c_str());
  stored_sheet_ = sheet;
  stored_ = work_;
  writing_ = false;
  return true;
}

bool RecordedDisc::erase(bool sectors) {
  discard();
  if (sectors && !zero_file(path_ + ".bin")) return false;
  // The state first: the other files are no disc without it.
  for (const char* suffix : {".state", ".cue", ".bin"})
    if (::unlink((path_ + suffix).c_str()) != 0 && errno != ENOENT) return false;
  const int32_t capacity = stored_.capacity;
  stored_ = RecordedDiscInfo{};
  stored_.capacity = capacity;
  work_ = stored_;
  stored_sheet_.clear();
  return true;
}

void RecordedDisc::discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  pending_used_ = 0;
  write_failed_ = false;
  for (std::string* name : {&bin_new_, &cdt_new_, &cue_new_, &state_new_}) remove_new_file(name);
  work_ = stored_;
  writing_ = false;
  test_ = false;
}

std::string RecordedDisc::cue_sheet() const {
  std::string text;
  if (work_.has_catalog) text += "CATALOG " + std::string(work_.catalog.data(), 13) + "\n";
  // Texts from packs of ISO-8859-1 are written in it, as the packs hold them.
  bool latin1 = !work_.cd_text.empty();
  std::string converted;
  for (const DiscTrack& track : work_.tracks)
    for (const SheetText& line : track.texts)
      latin1 = latin1 && utf8_to_latin1(line.value, &converted);
  for (const SheetText& line : work_.disc_texts)
    latin1 = latin1 && utf8_to_latin1(line.value, &converted);
  const auto line_of = [&](const SheetText& line) {
    const std::string written = text_line(line);
    return latin1 && utf8_to_latin1(written, &converted) ? converted : written;
  };
  if (!work_.cd_text.empty()) text += "CDTEXTFILE \"" + base_name(path_) + ".cdt\"\n";
  for (const SheetText& line : work_.disc_texts) text += line_of(line) + "\n";
  text += "FILE \"" + base_name(path_) + ".bin\" BINARY\n";
  std::size_t session = 0;
  for (const DiscTrack& track : work_.tracks) {
    while (session + 1 < work_.sessions.size() &&
           track.number >= work_.sessions[session + 1].first_track)
      ++session;
    if (session > 0 && track.number == work_.sessions[session].first_track)
      text += "  REM SESSION " + two_digits(static_cast<unsigned>(session + 1)) + "\n";
    text += "  TRACK " + two_digits(track.number) + " " + type_keyword(track) + "\n";
    for (const SheetText& line : track.texts) text += "    " + line_of(line) + "\n";
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
  std::unique_ptr<EmulatedDisc> disc = load_sheet(stored_sheet_);
  // A closed session's lead-out and the next session's lead-in hold no
  // sectors a drive can read; the next session's pregap does.
  std::vector<std::pair<int32_t, int32_t>> gaps;
  for (std::size_t i = 0; i + 1 < stored_.sessions.size(); ++i) {
    const int32_t leadout = stored_.sessions[i].leadout;
    const uint32_t blocks = i == 0 ? FIRST_LEADOUT_BLOCKS : LATER_LEADOUT_BLOCKS;
    gaps.emplace_back(leadout, leadout + static_cast<int32_t>(blocks + LEADIN_BLOCKS));
  }
  disc->set_unreadable(std::move(gaps));
  if (!stored_.cd_text.empty()) disc->set_cd_text(stored_.cd_text);
  return disc;
}

int RecordedDisc::make_new_file(const char* suffix, std::string* name) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = path_ + suffix + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const int fd = ::open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      register_temporary_file(*name);
      return fd;
    }
    if (errno != EEXIST) break;
  }
  name->clear();
  return -1;
}

void RecordedDisc::remove_new_file(std::string* name) {
  if (name->empty()) return;
  ::unlink(name->c_str());
  forget_temporary_file(*name);
  name->clear();
}

bool RecordedDisc::write_new_file(const char* suffix, const std::string& text, std::string* name) {
  const int fd = make_new_file(suffix, name);
  if (fd < 0) return false;
  const bool ok = write_all(fd, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return ::close(fd) == 0 && ok;
}

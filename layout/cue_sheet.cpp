#include "layout/cue_sheet.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "audio/audio_file.h"
#include "common/msgvec.h"
#include "common/regular_file.h"
#include "common/timecode.h"
#include "layout/cue_scanner.h"
#include "common/text.h"

namespace {

struct TrackKind {
  const char* keyword;
  TrackType type;
  uint16_t block_size;
};

constexpr TrackKind kTrackKinds[] = {
    {"AUDIO", TrackType::Audio, 2352},      {"CDG", TrackType::Audio, 2448},
    {"MODE1/2048", TrackType::Mode1, 2048}, {"MODE1/2352", TrackType::Mode1, 2352},
    {"MODE2/2336", TrackType::Mode2, 2336}, {"MODE2/2352", TrackType::Mode2, 2352},
    {"CDI/2336", TrackType::Cdi, 2336},     {"CDI/2352", TrackType::Cdi, 2352},
};

bool same_word(const std::string& word, const char* keyword) {
  return strcasecmp(word.c_str(), keyword) == 0;
}

bool time_in_range(uint32_t minute, uint32_t second, uint32_t frame) {
  return minute <= 74 && second <= 59 && frame <= 74;
}

uint32_t time_frames(uint32_t minute, uint32_t second, uint32_t frame) {
  return minute * 4500u + second * 75u + frame;
}

// The one pass over a cue sheet with its working state.
class CueParser {
 public:
  explicit CueParser(std::string sheet_folder) : sheet_folder_(std::move(sheet_folder)) {
    sheet_ = std::make_unique<CueSheetLayout>();
    sheet_->layout = create_disc_layout();
    layout_ = sheet_->layout.get();
  }

  std::unique_ptr<CueSheetLayout> parse(std::string_view text);

 private:
  [[noreturn]] void fail(const char* text) const {
    raise_message(MSG_CUE_SHEET_LINE, 1, MSG_TEXT, 1, line_counter_, text);
  }

  void handle_line(std::string_view line);
  void do_catalog(LineScanner& scan);
  void do_file(LineScanner& scan);
  void do_track(LineScanner& scan);
  void do_flags(LineScanner& scan);
  void do_isrc(LineScanner& scan);
  void do_pregap(LineScanner& scan);
  void do_postgap(LineScanner& scan);
  void do_index(LineScanner& scan);
  void open_image(const std::string& written, FileType type, ImageFile* file);
  void finish_file();
  void append_cuepoint(uint8_t track_bcd, uint8_t index_bcd);
  void finish_sheet();

  TrackEntry& track() { return layout_->tracks[track_entry_]; }

  std::string sheet_folder_;
  std::unique_ptr<CueSheetLayout> sheet_;
  DiscLayout* layout_ = nullptr;

  uint32_t line_counter_ = 0;
  unsigned previous_track_number_ = 0;
  unsigned last_index_number_ = 0;
  uint16_t current_block_size_ = 0;
  uint16_t previous_block_size_ = 0;
  uint64_t remaining_bytes_ = 0;
  int64_t position_ = -LBA_OFFSET_FRAMES;
  uint32_t last_index_time_ = 0;
  uint32_t pending_pregap_ = LBA_OFFSET_FRAMES;
  uint32_t pending_postgap_ = 0;
  uint64_t total_image_bytes_ = 0;

  bool catalog_seen_ = false;
  bool file_seen_ = false;
  bool track_in_file_ = false;
  bool index_in_file_ = false;
  bool index_in_track_ = false;
  bool flags_seen_ = false;
  bool isrc_seen_ = false;
  bool pregap_seen_ = false;
  bool postgap_seen_ = false;

  unsigned track_entry_ = 0;  // cursor on layout_->tracks
};

std::unique_ptr<CueSheetLayout> CueParser::parse(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // Whole lines of any length, each ended by a LF, a CR LF or the end of the
  // text. A CR elsewhere is white space within its line.
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    if (!line.empty() && line.back() == '\r' && end != std::string_view::npos)
      line.remove_suffix(1);
    ++line_counter_;
    // A NUL byte ends the line's text, as in any C string.
    const std::size_t nul = line.find('\0');
    if (nul != std::string_view::npos) line = line.substr(0, nul);
    handle_line(line);
  }
  finish_sheet();
  return std::move(sheet_);
}

void CueParser::handle_line(std::string_view line) {
  LineScanner scan(line);
  std::string command;
  if (!scan.word(&command)) return;
  if (same_word(command, "CATALOG")) return do_catalog(scan);
  if (same_word(command, "FILE")) return do_file(scan);
  if (same_word(command, "FLAGS")) return do_flags(scan);
  if (same_word(command, "INDEX")) return do_index(scan);
  if (same_word(command, "ISRC")) return do_isrc(scan);
  if (same_word(command, "PREGAP")) return do_pregap(scan);
  if (same_word(command, "POSTGAP")) return do_postgap(scan);
  if (same_word(command, "REM")) return;
  if (same_word(command, "TRACK")) return do_track(scan);
  fail("Illegal syntax encountered");
}

void CueParser::do_catalog(LineScanner& scan) {
  if (catalog_seen_) fail("Multiple CATALOG numbers are not allowed!");
  std::string number;
  if (!scan.word(&number)) fail("Illegal CATALOG command syntax!");
  if (number.size() != 13) fail("CATALOG number must be 13 characters in length!");
  for (char c : number)
    if (c < '0' || c > '9') fail("CATALOG number contains illegal character(s)!");
  for (std::size_t i = 0; i < 13; ++i) layout_->catalog_number[i] = number[i];
  catalog_seen_ = true;
}

void CueParser::do_file(LineScanner& scan) {
  if (file_seen_ && (!track_in_file_ || !index_in_file_))
    fail("No TRACKS and/or INDEXES were defined for previous file!");
  // A track of the previous file left with only an index 0 would reach the
  // layout without a start; refuse it as a following TRACK would.
  if (file_seen_ && last_index_number_ == 0) fail("No 'INDEX 1' was defined for previous track!");
  std::string name;
  std::string type_word;
  if (!scan.file_name(&name) || !scan.word(&type_word)) fail("Illegal FILE command syntax!");
  FileType type;
  if (same_word(type_word, "BINARY")) {
    type = FileType::Binary;
  } else if (same_word(type_word, "WAVE")) {
    type = FileType::Wave;
  } else {
    fail("Illegal filetype specified!");
  }
  ImageFile file;
  file.name = upper_case(name);
  file.written = name;
  file.file_type = type;
  file.first_track = 0;
  open_image(name, type, &file);
  total_image_bytes_ += file.data_length;
  if (file_seen_) finish_file();
  sheet_->files.push_back(std::move(file));
  sheet_->file_count = static_cast<uint16_t>(sheet_->files.size());

  remaining_bytes_ = sheet_->files.back().data_length;
  last_index_time_ = 0;
  current_block_size_ = 0;
  previous_block_size_ = 0;
  file_seen_ = true;
  track_in_file_ = false;
  index_in_file_ = false;
  index_in_track_ = false;
  flags_seen_ = isrc_seen_ = pregap_seen_ = postgap_seen_ = false;
}

void CueParser::open_image(const std::string& written, FileType type, ImageFile* file) {
  // As written (relative to the current folder), else beside the cue sheet.
  // Only regular files count: a directory or a device is no image, and
  // opening a FIFO would wait for a writer.
  std::string candidates[2] = {written, ""};
  if (!written.empty() && written[0] != '/' && !sheet_folder_.empty())
    candidates[1] = sheet_folder_ + "/" + written;
  std::FILE* stream = nullptr;
  for (const std::string& candidate : candidates) {
    const int fd = candidate.empty() ? -1 : open_regular_file(candidate);
    if (fd < 0) continue;
    stream = fdopen(fd, "rb");
    if (!stream) {
      close(fd);
      continue;
    }
    file->path = candidate;
    break;
  }
  if (!stream) raise_message(MSG_CUE_SHEET_LINE, 1, MSG_OPEN_FAILED, 1, line_counter_, written);

  bool fits = true;
  if (type == FileType::Binary) {
    struct stat info {};
    const bool known = fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode);
    if (known && static_cast<uint64_t>(info.st_size) <= UINT32_MAX) {
      file->data_length = static_cast<uint32_t>(info.st_size);
      file->data_offset = 0;
    } else {
      fits = false;
    }
  } else {
    std::fclose(stream);
    stream = nullptr;
    // Any audio file the front end reads; its content decides the format.
    const auto audio = AudioFile::open(file->path, AudioFormat::Wave);
    if (!audio) fail("WAV file is invalid or not CDROM compatible!");
    const AudioFileInfo& info = audio->info();
    if (info.cd_bytes <= UINT32_MAX && info.data_offset <= UINT32_MAX) {
      file->data_length = static_cast<uint32_t>(info.cd_bytes);
      file->data_offset = info.plain_cd ? static_cast<uint32_t>(info.data_offset) : 0;
      file->audio_format = info.format;
    } else {
      fits = false;
    }
    const std::string warning = audio_conversion_warning(written, info);
    if (fits && !warning.empty()) sheet_->warnings.push_back(warning);
  }
  if (stream) std::fclose(stream);
  if (!fits) fail("Image file is larger than 4 GB!");
}

void CueParser::do_track(LineScanner& scan) {
  if (!file_seen_) fail("No FILE has been specified!");
  if (track_in_file_ && last_index_number_ == 0) fail("No 'INDEX 1' was defined for previous track!");
  uint32_t number = 0;
  std::string type_word;
  if (!scan.number(&number) || !scan.word(&type_word)) fail("Illegal TRACK command syntax!");
  if (number < 1 || number > MAX_TRACKS) fail("Illegal track number specified!");
  if (previous_track_number_ != 0 && number != previous_track_number_ + 1)
    fail("Track numbers are not in sequential order!");
  const TrackKind* kind = nullptr;
  for (const TrackKind& candidate : kTrackKinds)
    if (same_word(type_word, candidate.keyword)) kind = &candidate;
  if (!kind) fail("Illegal track type specified!");
  ImageFile& file = sheet_->files.back();
  if (file.file_type == FileType::Wave && (kind->type != TrackType::Audio || kind->block_size != 2352))
    fail("Illegal track type defined in WAVE file!");

  previous_block_size_ = track_in_file_ ? current_block_size_ : kind->block_size;
  if (previous_track_number_ != 0) ++track_entry_;
  TrackEntry& entry = track();
  entry.track_number = static_cast<uint8_t>(number);
  entry.track_type = kind->type;
  entry.block_size = kind->block_size;
  entry.pregap = pending_pregap_;
  if (kind->type != TrackType::Audio) entry.track_flags |= TRACK_DATA;
  if (file.track_count == 0) file.first_track = static_cast<uint8_t>(track_entry_);
  ++file.track_count;
  ++layout_->track_count;
  ++sheet_->track_count;

  previous_track_number_ = number;
  last_index_number_ = 0;
  current_block_size_ = kind->block_size;
  track_in_file_ = true;
  index_in_track_ = false;
  flags_seen_ = isrc_seen_ = pregap_seen_ = postgap_seen_ = false;
}

void CueParser::do_flags(LineScanner& scan) {
  if (flags_seen_) fail("Multiple FLAGS commands are not allowed!");
  if (!track_in_file_ || index_in_track_) fail("Illegal FLAGS command placement!");
  std::string keywords[4];
  int items = 1;
  while (items < 5 && scan.word(&keywords[items - 1])) ++items;
  if (items < 2 || items > 4) fail("Illegal FLAGS command syntax!");
  uint8_t flags = 0;
  for (int i = 0; i < items - 1; ++i) {
    if (same_word(keywords[i], "DCP")) {
      flags |= TRACK_DCP;
    } else if (same_word(keywords[i], "4CH")) {
      flags |= TRACK_4CH;
    } else if (same_word(keywords[i], "PRE")) {
      flags |= TRACK_PRE;
    } else {
      fail("Illegal FLAGS keyword specified!");
    }
  }
  track().track_flags |= flags;
  flags_seen_ = true;
}

void CueParser::do_isrc(LineScanner& scan) {
  if (isrc_seen_) fail("Multiple ISRC commands are not allowed!");
  if (!track_in_file_ || index_in_track_) fail("Illegal ISRC command placement!");
  std::string code;
  if (!scan.word(&code)) fail("Illegal ISRC command syntax!");
  if (code.size() != 12) fail("ISRC must be 12 characters in length!");
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char c = code[i];
    const bool digit = c >= '0' && c <= '9';
    const bool letter = i < 5 && c >= 'A' && c <= 'Z';
    if (!digit && !letter) fail("ISRC contains illegal character(s)!");
  }
  for (std::size_t i = 0; i < 12; ++i) track().isrc[i] = code[i];
  track().track_flags |= TRACK_ISRC;
  isrc_seen_ = true;
}

void CueParser::do_pregap(LineScanner& scan) {
  if (pregap_seen_) fail("Multiple PREGAP commands are not allowed!");
  if (!track_in_file_ || index_in_track_) fail("Illegal PREGAP command placement!");
  uint32_t m = 0, s = 0, f = 0;
  if (scan.time(&m, &s, &f) != 3) fail("Illegal PREGAP command syntax!");
  if (!time_in_range(m, s, f)) fail("Illegal MM:SS:FF value specified!");
  pending_pregap_ += time_frames(m, s, f);
  track().pregap = pending_pregap_;
  pregap_seen_ = true;
}

void CueParser::do_postgap(LineScanner& scan) {
  if (postgap_seen_) fail("Multiple POSTGAP commands are not allowed!");
  if (!index_in_track_) fail("Illegal POSTGAP command placement!");
  uint32_t m = 0, s = 0, f = 0;
  if (scan.time(&m, &s, &f) != 3) fail("Illegal POSTGAP command syntax!");
  if (!time_in_range(m, s, f)) fail("Illegal MM:SS:FF value specified!");
  pending_postgap_ = time_frames(m, s, f);
  track().postgap = pending_postgap_;
  postgap_seen_ = true;
}

void CueParser::do_index(LineScanner& scan) {
  if (!track_in_file_) fail("No TRACK has been specified!");
  if (postgap_seen_) fail("Illegal INDEX command placement!");
  uint32_t number = 0;
  uint32_t m = 0, s = 0, f = 0;
  if (!scan.number(&number) || scan.time(&m, &s, &f) != 3) fail("Illegal INDEX command syntax!");
  if (number > MAX_INDEX_NUMBER) fail("Illegal INDEX number specified!");
  if (!time_in_range(m, s, f)) fail("Illegal MM:SS:FF value specified!");
  const uint32_t time = time_frames(m, s, f);

  if (!index_in_track_) {
    if (number > 1) fail("First INDEX must be 0 or 1");
    if (!index_in_file_ && time != 0) fail("First INDEX of file does not start at 00:00:00");
  } else if (number != last_index_number_ + 1) {
    fail("INDEX numbers are not in sequential order!");
  }
  if (index_in_file_ && time <= last_index_time_) fail("INDEX times are not in ascending order!");
  const uint64_t block_size = index_in_track_ ? current_block_size_ : previous_block_size_;
  const uint64_t frames = time - last_index_time_;
  if (frames * block_size > remaining_bytes_) fail("INDEX time is beyond the end-of-file!");
  remaining_bytes_ -= frames * block_size;

  position_ += static_cast<int64_t>(frames) + pending_postgap_;
  pending_postgap_ = 0;
  const uint8_t track_bcd = bin_to_bcd(previous_track_number_);
  if (pending_pregap_ != 0 || number == 0) {
    append_cuepoint(track_bcd, 0x00);
    position_ += pending_pregap_;
    pending_pregap_ = 0;
  }
  if (number != 0) append_cuepoint(track_bcd, bin_to_bcd(number));

  last_index_time_ = time;
  last_index_number_ = number;
  index_in_file_ = true;
  index_in_track_ = true;
}

void CueParser::append_cuepoint(uint8_t track_bcd, uint8_t index_bcd) {
  if (layout_->cuepoint_count >= MAX_CUEPOINTS)
    fail("Disc layout needs more than 500 cuepoints!");
  if (position_ + LBA_OFFSET_FRAMES > static_cast<int64_t>(MAX_ABSOLUTE_FRAMES))
    fail("Disc layout is longer than 99:59:74!");
  const MsfTime msf = lba_to_msf(static_cast<int32_t>(position_));
  CuePoint& point = layout_->cuepoints[layout_->cuepoint_count++];
  fill_cuepoint(&point, track_bcd, index_bcd, msf.minute, msf.second, msf.frame);
}

void CueParser::finish_file() {
  const TrackEntry& current = track();
  const bool partial_frame_allowed =
      current.track_type == TrackType::Audio && current.block_size == 2352;
  if (!partial_frame_allowed && remaining_bytes_ % current.block_size != 0)
    fail("Previous file is not a multiple of the specified block size!");
  position_ += pending_postgap_ +
               static_cast<int64_t>((remaining_bytes_ + current.block_size - 1) / current.block_size);
  pending_postgap_ = 0;
}

void CueParser::finish_sheet() {
  if (sheet_->track_count == 0) raise_message(MSG_TEXT, 1, 0, 0, "No TRACK(s) were defined in CUE SHEET file");
  if (!track_in_file_) raise_message(MSG_TEXT, 1, 0, 0, "No tracks were defined for the last file");
  if (last_index_number_ == 0) raise_message(MSG_TEXT, 1, 0, 0, "No indexes were defined for the last track");
  finish_file();
  append_cuepoint(LEADOUT_TRACK, 0x01);
  compute_track_lengths(layout_);
  layout_->leadout_position = static_cast<uint32_t>(position_);
  if (catalog_seen_) layout_->layout_flags |= LAYOUT_MCN;
  sheet_->cuepoint_count = layout_->cuepoint_count;
  sheet_->total_image_bytes = static_cast<uint32_t>(total_image_bytes_);
  sheet_->total_frames = layout_->leadout_position;
}

}  // namespace

std::unique_ptr<CueSheetLayout> parse_cue_sheet_text(std::string_view text,
                                                     const std::string& sheet_folder) {
  CueParser parser(sheet_folder);
  return parser.parse(text);
}

std::unique_ptr<CueSheetLayout> parse_cue_sheet(const std::string& path) {
  std::string text;
  switch (read_regular_file(path, CUE_SHEET_SIZE_LIMIT, &text)) {
    case FileReading::Read: break;
    case FileReading::NotRegular:
      raise_message(MSG_OPEN_FAILED, 1, MSG_TEXT, 1, path, "Cue sheet is not a regular file!");
    case FileReading::TooLarge:
      raise_message(MSG_OPEN_FAILED, 1, MSG_TEXT, 1, path, "Cue sheet is larger than 1 MB!");
    case FileReading::Failed: raise_message(MSG_OPEN_FAILED, 1, 0, 0, path);
  }
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
  return parse_cue_sheet_text(text, folder);
}

void free_cue_sheet(std::unique_ptr<CueSheetLayout>& sheet) { sheet.reset(); }

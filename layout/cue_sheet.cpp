#include "layout/cue_sheet.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "audio/audio_file.h"
#include "audio/format_sniffing.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "common/regular_file.h"
#include "common/text.h"
#include "common/timecode.h"
#include "layout/cue_encoding.h"
#include "layout/cue_metadata.h"
#include "layout/cue_scanner.h"
#include "layout/image_lookup.h"

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

// Times up to 99:59:74: whether a layout fits the blank is the recording's
// question.
bool time_in_range(uint32_t minute, uint32_t second, uint32_t frame) {
  return minute <= 99 && second <= 59 && frame <= 74;
}

bool is_data_type(TrackType type) { return type != TrackType::Audio; }

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
  void add_index(unsigned number, uint32_t time);
  void do_text(const std::string& command, std::string_view rest);
  void do_rem(std::string_view rest);
  void add_frames(uint64_t frames);
  void open_image(const std::string& written, FileType type, AudioFormat format, ImageFile* file);
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
  // The slot in the current file's track_frames of the track that the
  // file's frames since its last index belong to; -1 before any.
  int frames_owner_ = -1;
  unsigned session_ = 0;  // from REM SESSION; 0 before any
};

std::unique_ptr<CueSheetLayout> CueParser::parse(std::string_view raw) {
  const std::string converted = cue_text_as_utf8(raw);
  const std::string_view text = converted;
  // Whole lines of any length, each ended by a LF, a CR LF or the end of the
  // text; in a sheet without any LF, by a CR. A CR elsewhere is white space
  // within its line.
  const char line_end = text.find('\n') == std::string_view::npos ? '\r' : '\n';
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find(line_end);
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
  // The text after the command word, for the commands whose value runs to
  // the end of the line.
  const std::string_view rest = line.substr(line.find_first_not_of(" \t\n\v\f\r") + command.size());
  if (same_word(command, "REM")) return do_rem(rest);
  if (same_word(command, "TRACK")) return do_track(scan);
  if (is_text_command(command)) return do_text(command, rest);
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
  // A file may hold no TRACK of its own when it carries on the previous
  // file's last track (that track's index 1 where its index 0 ended the
  // previous file), but it must hold an index.
  if (file_seen_ && !index_in_file_)
    fail("No TRACKS and/or INDEXES were defined for previous file!");
  std::string name;
  std::string type_word;
  if (!scan.file_name(&name) || !scan.word(&type_word)) fail("Illegal FILE command syntax!");
  // Audio files of every kind the front end reads are Wave files of the
  // layout: CD audio, 2352 bytes a frame.
  FileType type = FileType::Wave;
  const AudioFormat format = audio_format_for_keyword(type_word);
  if (same_word(type_word, "BINARY")) {
    type = FileType::Binary;
  } else if (format == AudioFormat::Unknown) {
    fail("Illegal filetype specified!");
  }
  ImageFile file;
  file.name = upper_case(name);
  file.written = name;
  file.file_type = type;
  file.first_track = 0;
  open_image(name, type, format, &file);
  total_image_bytes_ += file.data_length;
  if (file_seen_) finish_file();
  sheet_->files.push_back(std::move(file));
  sheet_->file_count = static_cast<uint16_t>(sheet_->files.size());

  remaining_bytes_ = sheet_->files.back().data_length;
  last_index_time_ = 0;
  previous_block_size_ = 0;
  frames_owner_ = -1;
  file_seen_ = true;
  track_in_file_ = false;
  index_in_file_ = false;
  index_in_track_ = false;
  flags_seen_ = isrc_seen_ = pregap_seen_ = postgap_seen_ = false;
}

void CueParser::open_image(const std::string& written, FileType type, AudioFormat format,
                           ImageFile* file) {
  // Looked up as image_lookup.h says. Only regular files count: a
  // directory or a device is no image, and opening a FIFO would wait for a
  // writer.
  std::string reason;
  const int fd = open_image_file(written, sheet_folder_, &file->path, &reason);
  std::FILE* stream = fd < 0 ? nullptr : fdopen(fd, "rb");
  if (fd >= 0 && !stream) {
    reason = std::strerror(errno);
    close(fd);
  }
  if (!stream)
    raise_message(MSG_CUE_SHEET_LINE, 1, MSG_TEXT, 1, line_counter_,
                  "Unable to open file \"" + written + "\": " + reason);

  bool fits = true;
  // Programs write BINARY for WAV files too: a file whose content is an
  // audio container is taken as audio, so that its header is not recorded
  // as samples. MP3 is left out: its frame sync can occur in raw samples.
  if (type == FileType::Binary) {
    struct stat info {};
    const AudioFormat found = fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode)
                                  ? sniff_audio_format(fileno(stream), info.st_size)
                                  : AudioFormat::Unknown;
    if (found != AudioFormat::Unknown && found != AudioFormat::Mp3) {
      type = file->file_type = FileType::Wave;
      format = found;
      sheet_->warnings.push_back(
          format_text("WARNING! FILE \"%s\" is marked BINARY but holds %s audio: its audio is "
                      "recorded, not the file's bytes",
                      written.c_str(), audio_format_name(found)));
    }
  }
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
    // Any audio file the front end reads: the keyword names the format,
    // the content decides where the two differ.
    std::string why;
    const auto audio = AudioFile::open(file->path, format, &why);
    if (!audio && format == AudioFormat::Wave) fail("WAV file is invalid or not CDROM compatible!");
    if (!audio)
      fail(format_text("%s file \"%s\" cannot be read: %s", audio_format_name(format),
                       written.c_str(), why.c_str())
               .c_str());
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
  if (previous_track_number_ != 0 && last_index_number_ == 0)
    fail("No 'INDEX 1' was defined for previous track!");
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
  // A data track among the audio tracks of an audio file is what a ripper
  // writes for a data track it did not copy.
  if (file.file_type == FileType::Wave && is_data_type(kind->type) && file.track_count > 0)
    fail(format_text("Track %02u (%s) is a placeholder for a data track that was not copied",
                     number, upper_case(type_word).c_str())
             .c_str());
  if (file.file_type == FileType::Wave &&
      (kind->type != TrackType::Audio || kind->block_size != 2352))
    fail("Illegal track type defined in WAVE file!");

  previous_block_size_ = track_in_file_ || index_in_file_ ? current_block_size_ : kind->block_size;
  if (previous_track_number_ != 0) ++track_entry_;
  TrackEntry& entry = track();
  entry.track_number = static_cast<uint8_t>(number);
  entry.track_type = kind->type;
  entry.block_size = kind->block_size;
  entry.pregap = pending_pregap_;
  entry.session = static_cast<uint8_t>(session_);
  if (kind->type != TrackType::Audio) entry.track_flags |= TRACK_DATA;
  if (file.track_count == 0) file.first_track = static_cast<uint8_t>(track_entry_);
  ++file.track_count;
  file.track_frames.push_back(0);
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
    } else if (same_word(keywords[i], "SCMS")) {
      flags |= TRACK_SCMS;
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
  // A file without a TRACK of its own carries on the previous file's last
  // track.
  const bool carried_on = !track_in_file_ && previous_track_number_ != 0;
  if (!track_in_file_ && !carried_on) fail("No TRACK has been specified!");
  if (postgap_seen_) fail("Illegal INDEX command placement!");
  uint32_t number = 0;
  uint32_t m = 0, s = 0, f = 0;
  if (!scan.number(&number) || scan.time(&m, &s, &f) != 3) fail("Illegal INDEX command syntax!");
  if (number > MAX_INDEX_NUMBER) fail("Illegal INDEX number specified!");
  if (!time_in_range(m, s, f)) fail("Illegal MM:SS:FF value specified!");
  const uint32_t time = time_frames(m, s, f);

  if (carried_on && !index_in_file_) {
    if (number <= last_index_number_)
      fail(format_text("INDEX %02u of track %02u runs backwards across a file change!", number,
                       previous_track_number_)
               .c_str());
    ImageFile& file = sheet_->files.back();
    if (file.file_type == FileType::Wave &&
        (track().track_type != TrackType::Audio || track().block_size != 2352))
      fail("Illegal track type defined in WAVE file!");
    // The track's frames in this file count from its start.
    file.first_track = static_cast<uint8_t>(track_entry_);
    file.track_count = 1;
    file.track_frames.assign(1, 0);
    file.first_track_continued = true;
    sheet_->files[sheet_->files.size() - 2].last_track_goes_on = true;
    frames_owner_ = 0;
  }
  // The audio before a file's first index 1 is its track's index 0 (before
  // track 1: audio hidden in its pregap), as an INDEX 00 at 00:00:00 says.
  if (!index_in_track_ && !index_in_file_ && number == 1 && time != 0) add_index(0, 0);
  add_index(number, time);
}

void CueParser::add_index(unsigned number, uint32_t time) {
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
  add_frames(frames);
  if (!sheet_->files.back().track_frames.empty())
    frames_owner_ = static_cast<int>(sheet_->files.back().track_frames.size()) - 1;

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

void CueParser::add_frames(uint64_t frames) {
  if (frames_owner_ < 0) return;
  sheet_->files.back().track_frames[static_cast<std::size_t>(frames_owner_)] +=
      static_cast<uint32_t>(frames);
}

void CueParser::do_text(const std::string& command, std::string_view rest) {
  SheetText text;
  text.keyword = upper_case(command);
  if (!text_value(rest, &text.value))
    fail(format_text("Illegal %s command syntax!", text.keyword.c_str()).c_str());
  if (previous_track_number_ == 0) {
    layout_->disc_texts.push_back(std::move(text));
  } else {
    layout_->track_texts[track_entry_].push_back(std::move(text));
  }
}

void CueParser::do_rem(std::string_view rest) {
  SheetText field;
  if (!rem_field(rest, &field)) return;  // a comment
  if (field.keyword == "SESSION") {
    LineScanner scan(field.value);
    uint32_t number = 0;
    if (!scan.number(&number) || number < 1 || number > MAX_TRACKS)
      fail("Illegal REM SESSION number specified!");
    // The tracks before a sheet's first REM SESSION are in session 1.
    const unsigned current = session_ == 0 ? 1 : session_;
    const bool next = number == current + 1 && (session_ != 0 || previous_track_number_ != 0);
    if (number != current && !next) fail("Sessions are not in sequential order!");
    session_ = number;
    return;
  }
  if (previous_track_number_ == 0) {
    layout_->disc_texts.push_back(std::move(field));
  } else {
    layout_->track_texts[track_entry_].push_back(std::move(field));
  }
}

void CueParser::append_cuepoint(uint8_t track_bcd, uint8_t index_bcd) {
  if (layout_->cuepoint_count >= MAX_CUEPOINTS) fail("Disc layout needs more than 500 cuepoints!");
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
  const uint64_t frames = (remaining_bytes_ + current.block_size - 1) / current.block_size;
  add_frames(frames);
  position_ += pending_postgap_ + static_cast<int64_t>(frames);
  pending_postgap_ = 0;
}

void CueParser::finish_sheet() {
  if (sheet_->track_count == 0)
    raise_message(MSG_TEXT, 1, 0, 0, "No TRACK(s) were defined in CUE SHEET file");
  if (!track_in_file_ && !index_in_file_)
    raise_message(MSG_TEXT, 1, 0, 0, "No tracks were defined for the last file");
  if (last_index_number_ == 0)
    raise_message(MSG_TEXT, 1, 0, 0, "No indexes were defined for the last track");
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
  const std::string folder =
      slash == std::string::npos ? "" : path.substr(0, slash == 0 ? 1 : slash);
  return parse_cue_sheet_text(text, folder);
}

void check_single_session(const DiscLayout& layout) {
  unsigned sessions = 1;
  const TrackEntry* second = nullptr;
  for (unsigned i = 0; i < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    if (track.session > sessions) {
      sessions = track.session;
      if (second == nullptr) second = &track;
    }
  }
  if (second == nullptr) return;
  raise_message(
      MSG_TEXT, 1, 0, 0,
      format_text("The CUE SHEET lays out %u sessions (session %02u begins at track %02u); "
                  "only a disc of one session can be recorded from it",
                  sessions, second->session, second->track_number));
}

void warn_unrecorded_flags(const DiscLayout& layout) {
  for (unsigned i = 0; i < layout.track_count; ++i)
    if (layout.tracks[i].track_flags & TRACK_SCMS)
      err_text(format_text("WARNING! FLAGS SCMS of track %02u is not recorded\n",
                           layout.tracks[i].track_number));
}

void free_cue_sheet(std::unique_ptr<CueSheetLayout>& sheet) { sheet.reset(); }

#include "layout/cue_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "common/msgvec.h"
#include "common/timecode.h"
#include "layout/cue_metadata.h"

namespace {

std::string time_text(const char* format, uint32_t frames) {
  const MsfTime time = frames_to_msf(static_cast<int32_t>(frames));
  char text[48];
  std::snprintf(text, sizeof text, format, time.minute, time.second, time.frame);
  return text;
}

const char* type_word(const TrackEntry& track) {
  switch (track.track_type) {
    case TrackType::Audio: return track.block_size == 2448 ? "CDG" : "AUDIO";
    case TrackType::Mode1: return track.block_size == 2048 ? "MODE1/2048" : "MODE1/2352";
    case TrackType::Mode2: return track.block_size == 2336 ? "MODE2/2336" : "MODE2/2352";
    case TrackType::Cdi: return track.block_size == 2336 ? "CDI/2336" : "CDI/2352";
  }
  return "AUDIO";
}

std::string track_head(const TrackEntry& track, const std::vector<SheetText>& texts,
                       unsigned number) {
  char line[32];
  std::snprintf(line, sizeof line, "  TRACK %02u %s\n", number, type_word(track));
  std::string text = line;
  for (const SheetText& field : texts) text += "    " + text_line(field) + "\n";
  if (track.track_flags & TRACK_ISRC)
    text += "    ISRC " + std::string(track.isrc.data(), track.isrc.size()) + "\n";
  if (track.track_flags & (TRACK_DCP | TRACK_4CH | TRACK_PRE)) {
    text += "FLAGS";
    if (track.track_flags & TRACK_DCP) text += " DCP";
    if (track.track_flags & TRACK_4CH) text += " 4CH";
    if (track.track_flags & TRACK_PRE) text += " PRE";
    text += "\n";
  }
  if (track.pregap != 0) text += time_text("    PREGAP %02u:%02u:%02u\n", track.pregap);
  return text;
}

std::string postgap_line(const TrackEntry& track) {
  return track.postgap != 0 ? time_text("    POSTGAP %02u:%02u:%02u\n", track.postgap) : "";
}

// "REM SESSION nn" before the first track of each session of a layout of
// several; nothing for a layout of one.
std::string session_line(const DiscLayout& layout, unsigned entry) {
  bool several = false;
  for (unsigned t = 0; t < layout.track_count; ++t)
    several = several || layout.tracks[t].session > 1;
  const uint8_t session = layout.tracks[entry].session;
  if (!several || session == 0 || (entry > 0 && layout.tracks[entry - 1].session == session))
    return "";
  char line[24];
  std::snprintf(line, sizeof line, "REM SESSION %02u\n", session);
  return line;
}

}  // namespace

std::string cue_sheet_text(const DiscLayout& layout, const std::string* image_name,
                           FileType file_type) {
  std::string text;
  if (layout.layout_flags & LAYOUT_MCN)
    text += "CATALOG " + std::string(layout.catalog_number.data(), 13) + "\n";
  for (const SheetText& field : layout.disc_texts) text += text_line(field) + "\n";
  const char* type_keyword = file_type == FileType::Wave ? " WAVE\n" : " BINARY\n";
  if (image_name == nullptr) {
    text += "REM Add 'FILE <filename> <filetype>' command here!\n";
  } else if (image_name->find(' ') != std::string::npos) {
    text += "FILE \"" + *image_name + "\"" + type_keyword;
  } else {
    text += "FILE " + *image_name + type_keyword;
  }
  unsigned entry = 0;
  bool track_written = false;
  for (unsigned i = 1; i < layout.cuepoint_count; ++i) {
    const CuePoint& point = layout.cuepoints[i];
    if (point.track == LEADOUT_TRACK) break;
    // Frames from LBA 0: the time within an image file that begins there.
    const uint32_t lba = cuepoint_frames(point) - LBA_OFFSET_FRAMES;
    if (!track_written || point.track != layout.cuepoints[i - 1].track) {
      if (track_written) {
        text += postgap_line(layout.tracks[entry]);
        if (entry + 1 < MAX_TRACK_ENTRIES) ++entry;
      }
      text += session_line(layout, entry);
      text += track_head(layout.tracks[entry], layout.track_texts[entry], bcd_to_bin(point.track));
      if (!track_written && lba != 0) text += "    INDEX 00 00:00:00\n";
      track_written = true;
    }
    char line[32];
    std::snprintf(line, sizeof line, "    INDEX %02u ", bcd_to_bin(point.index));
    text += line + time_text("%02u:%02u:%02u\n", lba);
  }
  if (track_written) text += postgap_line(layout.tracks[entry]);
  return text;
}

void write_cue_sheet(const std::string& path, const DiscLayout& layout,
                     const std::string* image_name, FileType file_type) {
  const std::string text = cue_sheet_text(layout, image_name, file_type);
  // Not blocking: a FIFO that no one reads fails here instead of waiting.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  std::FILE* file = nullptr;
  if (fd >= 0 && fcntl(fd, F_SETFL, 0) == 0) file = fdopen(fd, "w");
  if (file == nullptr) {
    if (fd >= 0) close(fd);
    raise_message(MSG_CREATE_FAILED, 1, 0, 0, path);
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool flushed = std::fflush(file) == 0;
  const bool closed = std::fclose(file) == 0;
  if (!written || !flushed || !closed) raise_message(MSG_FILE_WRITE_FAILED, 0, 0, 0);
}

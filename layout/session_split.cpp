#include "layout/session_split.h"

#include <algorithm>

#include "common/console.h"
#include "common/msgvec.h"
#include "common/timecode.h"

namespace {

int64_t cuepoint_lba(const CuePoint& point) {
  return int64_t{cuepoint_frames(point)} - LBA_OFFSET_FRAMES;
}

uint8_t session_number(const TrackEntry& track) { return std::max<uint8_t>(track.session, 1); }

// Frames of the file's slot-th track that the file holds.
uint32_t frames_in_file(const ImageFile& file, const DiscLayout& layout, unsigned slot) {
  return slot < file.track_frames.size() ? file.track_frames[slot]
                                         : layout.tracks[file.first_track + slot].length;
}

[[noreturn]] void refuse_audio_cut(const ImageFile& file) {
  raise_message(MSG_TEXT, 1, 0, 0,
                format_text("The audio file \"%s\" holds tracks of two sessions, or the gap before "
                            "a session: only a BINARY file can be cut there",
                            (file.written.empty() ? file.name : file.written).c_str()));
}

void append_cuepoint(DiscLayout* layout, const CuePoint& from, int64_t lba, uint8_t index_bcd) {
  if (layout->cuepoint_count >= MAX_CUEPOINTS)
    raise_message(MSG_TEXT, 1, 0, 0, "Disc layout needs more than 500 cuepoints!");
  const MsfTime time = lba_to_msf(static_cast<int32_t>(lba));
  fill_cuepoint(&layout->cuepoints[layout->cuepoint_count++], from.track, index_bcd, time.minute,
                time.second, time.frame);
}

// The session of the sheet's tracks [first, end), the `ordinal`-th (0 up).
SheetSession cut_session(const CueSheetLayout& sheet, unsigned first, unsigned end,
                         unsigned ordinal) {
  const DiscLayout& whole = *sheet.layout;
  SheetSession session;
  session.number = session_number(whole.tracks[first]);
  session.layout = create_disc_layout();
  DiscLayout& layout = *session.layout;
  layout.layout_flags = whole.layout_flags;
  layout.catalog_number = whole.catalog_number;
  layout.disc_texts = whole.disc_texts;
  layout.track_count = static_cast<uint8_t>(end - first);
  for (unsigned t = first; t < end; ++t) {
    layout.tracks[t - first] = whole.tracks[t];
    layout.track_texts[t - first] = whole.track_texts[t];
  }

  // The cuepoints of the session's tracks, and where the next one begins.
  const uint8_t first_number = whole.tracks[first].track_number;
  const uint8_t end_number = end < whole.track_count ? whole.tracks[end].track_number : 0;
  std::vector<const CuePoint*> points;
  const CuePoint* next = &whole.cuepoints[whole.cuepoint_count - 1];  // the lead-out
  for (unsigned c = 0; c < whole.cuepoint_count; ++c) {
    const CuePoint& point = whole.cuepoints[c];
    if (point.track == LEADOUT_TRACK) break;
    const uint8_t number = bcd_to_bin(point.track);
    if (end_number != 0 && number == end_number) {
      next = &point;
      break;
    }
    if (number >= first_number) points.push_back(&point);
  }
  const int64_t base = cuepoint_lba(*points.front());
  int64_t index1 = base;
  for (const CuePoint* point : points)
    if (bcd_to_bin(point->track) == first_number && point->index == 1)
      index1 = cuepoint_lba(*point);

  // A later session's pregap: 150 blocks where the sheet gives fewer or
  // holds the whole gap between the sessions; the blocks before them are
  // left out.
  int64_t delta = 0;
  uint32_t file_drop = 0;
  TrackEntry& opening = layout.tracks[0];
  if (ordinal > 0) {
    const int64_t room = index1 - base;
    const int64_t gap = ordinal == 1 ? FIRST_SESSION_GAP_FRAMES : LATER_SESSION_GAP_FRAMES;
    if (room < SESSION_PREGAP_FRAMES) {
      delta = SESSION_PREGAP_FRAMES - room;
      opening.pregap += static_cast<uint32_t>(delta);
    } else {
      const auto drop = static_cast<uint32_t>(room - SESSION_PREGAP_FRAMES);
      const uint32_t generated = std::min(drop, opening.pregap);
      opening.pregap -= generated;
      file_drop = drop - generated;
      // Blocks of the image are left out only where they stand for the gap.
      if (file_drop > 0 && room < gap)
        raise_message(MSG_TEXT, 1, 0, 0,
                      format_text("Track %02u opens session %02u with %s of INDEX 00: a session's "
                                  "first track has 00:02:00, or the gap between the sessions",
                                  opening.track_number, session.number,
                                  msf_text(static_cast<int32_t>(room)).c_str()));
      opening.length -= file_drop;
      delta = -static_cast<int64_t>(drop);
    }
  }
  const int64_t shift = -base - LBA_OFFSET_FRAMES;
  if (points.front()->index != 0) append_cuepoint(&layout, *points.front(), -LBA_OFFSET_FRAMES, 0);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const bool area_start = i == 0 && points[i]->index == 0;
    append_cuepoint(&layout, *points[i],
                    cuepoint_lba(*points[i]) + shift + (area_start ? 0 : delta), points[i]->index);
  }
  const int64_t leadout = cuepoint_lba(*next) + shift + delta;
  CuePoint leadout_point{};
  leadout_point.track = LEADOUT_TRACK;
  append_cuepoint(&layout, leadout_point, leadout, 0x01);
  layout.leadout_position = static_cast<uint32_t>(leadout);

  // Each file's part that the session's tracks hold.
  for (const ImageFile& file : sheet.files) {
    const unsigned from = std::max<unsigned>(file.first_track, first);
    const unsigned to = std::min<unsigned>(file.first_track + file.track_count, end);
    if (from >= to) continue;
    const bool whole_file = from == file.first_track && to == file.first_track + file.track_count;
    uint64_t before = 0;
    for (unsigned t = file.first_track; t < from; ++t)
      before +=
          uint64_t{frames_in_file(file, whole, t - file.first_track)} * whole.tracks[t].block_size;
    ImageFile part = file;
    part.first_track = static_cast<uint8_t>(from - first);
    part.track_count = static_cast<uint8_t>(to - from);
    part.track_frames.clear();
    for (unsigned t = from; t < to; ++t)
      part.track_frames.push_back(frames_in_file(file, whole, t - file.first_track));
    const bool starts_opening =
        from == first && !(file.first_track_continued && from == file.first_track);
    if (starts_opening && file_drop > 0) {
      if (part.track_frames.front() < file_drop) refuse_audio_cut(file);
      part.track_frames.front() -= file_drop;
      before += uint64_t{file_drop} * whole.tracks[first].block_size;
    }
    if (before != 0 || !whole_file) {
      if (file.file_type != FileType::Binary) refuse_audio_cut(file);
      part.data_offset = static_cast<uint32_t>(file.data_offset + before);
      uint64_t held = 0;
      for (unsigned t = from; t < to; ++t)
        held += uint64_t{part.track_frames[t - from]} * whole.tracks[t].block_size;
      part.data_length = to == file.first_track + file.track_count
                             ? static_cast<uint32_t>(file.data_length -
                                                     std::min<uint64_t>(before, file.data_length))
                             : static_cast<uint32_t>(held);
    }
    part.first_track_continued = file.first_track_continued && from == file.first_track;
    part.last_track_goes_on = file.last_track_goes_on && to == file.first_track + file.track_count;
    session.files.push_back(std::move(part));
  }
  return session;
}

}  // namespace

std::vector<SheetSession> split_sessions(const CueSheetLayout& sheet) {
  const DiscLayout& layout = *sheet.layout;
  std::vector<SheetSession> sessions;
  unsigned first = 0;
  for (unsigned t = 1; t <= layout.track_count; ++t) {
    if (t < layout.track_count &&
        session_number(layout.tracks[t]) == session_number(layout.tracks[first]))
      continue;
    sessions.push_back(cut_session(sheet, first, t, static_cast<unsigned>(sessions.size())));
    first = t;
  }
  return sessions;
}

uint32_t sessions_disc_blocks(const std::vector<SheetSession>& sessions) {
  uint64_t end = 0;
  for (std::size_t s = 0; s < sessions.size(); ++s) {
    // A later session's LBA 0 lies where the gap after the previous one ends.
    if (s > 0) end += s == 1 ? FIRST_SESSION_GAP_FRAMES : LATER_SESSION_GAP_FRAMES;
    end += sessions[s].layout->leadout_position;
  }
  return static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX));
}

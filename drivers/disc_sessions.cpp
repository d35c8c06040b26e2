// The sessions of a disc from READ TOC format 2, or format 1 where a drive
// has only that.
#include <algorithm>

#include "common/byteorder.h"
#include "common/timecode.h"
#include "drivers/cd_reader.h"

namespace {

constexpr uint8_t TOC_FORMAT_SESSIONS = 1;
constexpr uint8_t TOC_FORMAT_FULL = 2;
constexpr std::size_t FULL_DESCRIPTOR = 11;
constexpr uint8_t POINT_LEADOUT = 0xA2;
constexpr uint32_t FIRST_GAP = 6750 + 4500 + 150;
constexpr uint32_t LATER_GAP = 2250 + 4500 + 150;

TrackEntry* track_numbered(DiscLayout* layout, uint8_t number) {
  for (unsigned i = 0; i < layout->track_count; ++i)
    if (layout->tracks[i].track_number == number) return &layout->tracks[i];
  return nullptr;
}

// Sessions from the full table of contents: every listed track of the
// layout in one session, sessions numbered upwards.
std::vector<DiscSession> full_toc_sessions(const uint8_t* toc, uint32_t received,
                                           DiscLayout* layout) {
  std::vector<DiscSession> sessions;
  if (received < 4) return {};
  const uint32_t length = std::min<uint32_t>(get_be16(toc) + 2u, received);
  std::vector<uint8_t> numbers(layout->track_count, 0);
  for (uint32_t at = 4; at + FULL_DESCRIPTOR <= length; at += FULL_DESCRIPTOR) {
    const uint8_t* d = toc + at;
    const uint8_t session = d[0], point = d[3];
    if ((d[1] & 0x0F) != 1 || session == 0) continue;  // a position entry of a session only
    if (sessions.empty() || sessions.back().number != session) {
      if (!sessions.empty() && session < sessions.back().number) return {};
      sessions.push_back(DiscSession{session, 0, 0, 0});
    }
    DiscSession& current = sessions.back();
    if (point == POINT_LEADOUT) {
      current.leadout = static_cast<uint32_t>(std::max(msf_to_lba(d[8], d[9], d[10]), 0));
    } else if (point >= 1 && point <= 99) {
      if (current.first_track == 0) current.first_track = point;
      current.last_track = point;
      for (unsigned i = 0; i < layout->track_count; ++i)
        if (layout->tracks[i].track_number == point) numbers[i] = session;
    }
  }
  for (unsigned i = 0; i < layout->track_count; ++i)
    if (numbers[i] == 0 && !(layout->tracks[i].track_flags & TRACK_INSERTED)) return {};
  for (const DiscSession& session : sessions)
    if (session.first_track == 0) return {};
  for (unsigned i = 0; i < layout->track_count; ++i) layout->tracks[i].session = numbers[i];
  return sessions;
}

}  // namespace

std::vector<DiscSession> read_disc_sessions(CdReader& reader, DiscLayout* layout) {
  if (layout->track_count == 0) return {};
  uint8_t toc[TOC_BUFFER_LENGTH] = {};
  uint32_t received = 0;
  if (reader.ReadTocRaw(toc, TOC_BUFFER_LENGTH, TOC_FORMAT_FULL, &received) == 1) {
    std::vector<DiscSession> sessions = full_toc_sessions(toc, received, layout);
    if (!sessions.empty()) return sessions;
  }
  uint8_t answer[12] = {};
  received = 0;
  if (reader.ReadTocRaw(answer, sizeof answer, TOC_FORMAT_SESSIONS, &received) != 1 ||
      received < sizeof answer)
    return {};
  const uint8_t last = answer[3];
  const TrackEntry* opening = track_numbered(layout, answer[6]);
  if (last == 0 || opening == nullptr) return {};
  const auto first_of_last = static_cast<unsigned>(opening - layout->tracks.data());
  std::vector<DiscSession> sessions;
  if (last >= 2 && first_of_last > 0) {
    const uint32_t gap = last == 2 ? FIRST_GAP : LATER_GAP;
    if (opening->start < gap) return {};
    // The sessions before the last one are told apart only when there is one.
    sessions.push_back(
        DiscSession{static_cast<uint8_t>(last == 2 ? 1 : 0), layout->tracks[0].track_number,
                    layout->tracks[first_of_last - 1].track_number, opening->start - gap});
  }
  sessions.push_back(DiscSession{last, opening->track_number,
                                 layout->tracks[layout->track_count - 1].track_number,
                                 layout->leadout_position});
  for (unsigned i = 0; i < layout->track_count; ++i)
    layout->tracks[i].session = i >= first_of_last ? last : sessions.front().number;
  return sessions;
}

void open_sessions_at_leadouts(DiscLayout* layout, const std::vector<DiscSession>& sessions) {
  for (std::size_t s = 1; s < sessions.size(); ++s) {
    if (sessions[s - 1].number == 0) continue;
    const uint32_t leadout = sessions[s - 1].leadout;
    const uint8_t track_bcd = bin_to_bcd(sessions[s].first_track);
    unsigned c = 0;
    while (c < layout->cuepoint_count && layout->cuepoints[c].track != track_bcd) ++c;
    if (c == layout->cuepoint_count) continue;
    // The previous cuepoint must stay before the lead-out.
    const auto absolute = static_cast<int32_t>(leadout) + LBA_OFFSET_FRAMES;
    if (c > 0 && cuepoint_frames(layout->cuepoints[c - 1]) >= static_cast<uint32_t>(absolute))
      continue;
    if (layout->cuepoints[c].index != 0) {
      if (layout->cuepoint_count >= MAX_CUEPOINTS) continue;
      std::copy_backward(layout->cuepoints.begin() + c,
                         layout->cuepoints.begin() + layout->cuepoint_count,
                         layout->cuepoints.begin() + layout->cuepoint_count + 1);
      ++layout->cuepoint_count;
    }
    const MsfTime time = frames_to_msf(absolute);
    fill_cuepoint(&layout->cuepoints[c], track_bcd, 0, time.minute, time.second, time.frame);
  }
}

// The sessions of a pressed disc: where a multi-session sheet's later
// sessions lie, and the full table of contents that tells them.
#include <algorithm>

#include "common/byteorder.h"
#include "common/timecode.h"
#include "emulator/cd_disc.h"
#include "emulator/recorded_disc.h"

namespace {

constexpr std::size_t FULL_TOC_DESCRIPTOR = 11;
constexpr uint8_t POINT_FIRST_TRACK = 0xA0;
constexpr uint8_t POINT_LAST_TRACK = 0xA1;
constexpr uint8_t POINT_LEADOUT = 0xA2;
constexpr uint8_t POINT_NEXT_AREA = 0xB0;

// From a session's lead-out to the next session's first index 1: lead-out,
// lead-in and pregap.
int32_t session_gap(bool after_first) {
  return static_cast<int32_t>((after_first ? FIRST_LEADOUT_BLOCKS : LATER_LEADOUT_BLOCKS) +
                              LEADIN_BLOCKS) +
         PREGAP_BLOCKS;
}

void put_point(std::vector<uint8_t>& data, uint8_t session, uint8_t control, uint8_t point,
               const uint8_t pmsf[3], int32_t msf_lba = -1) {
  uint8_t d[FULL_TOC_DESCRIPTOR] = {session, static_cast<uint8_t>(control << 4 | 1), 0, point};
  if (msf_lba >= 0) {
    const MsfTime time = lba_to_msf(msf_lba);
    d[4] = time.minute;
    d[5] = time.second;
    d[6] = time.frame;
  }
  std::copy(pmsf, pmsf + 3, d + 8);
  data.insert(data.end(), d, d + FULL_TOC_DESCRIPTOR);
}

void put_point_at(std::vector<uint8_t>& data, uint8_t session, uint8_t control, uint8_t point,
                  int32_t lba) {
  const MsfTime time = lba_to_msf(lba);
  const uint8_t pmsf[3] = {time.minute, time.second, time.frame};
  put_point(data, session, control, point, pmsf);
}

}  // namespace

void EmulatedDisc::lay_out_sessions(const DiscLayout& layout) {
  session_first_.clear();
  int32_t shift = 0;
  uint8_t session = 0;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    DiscTrack& track = tracks_[t];
    track.first_lba += shift;
    track.index1_lba += shift;
    for (auto& index : track.indexes) index.second += shift;
    const uint8_t number = std::max<uint8_t>(layout.tracks[t].session, 1);
    if (session_first_.empty() || number != session) {
      const bool later = !session_first_.empty();
      session_first_.push_back(track.number);
      session = number;
      if (later) {
        const int32_t gap = session_gap(session_first_.size() == 2);
        const int32_t extra = std::max(0, gap - (track.index1_lba - track.first_lba));
        if (extra > 0) {
          track.pregap += static_cast<uint32_t>(extra);
          for (auto& index : track.indexes)
            if (index.first != 0 || index.second != track.first_lba) index.second += extra;
          if (track.indexes.front().first != 0)
            track.indexes.insert(track.indexes.begin(), {0, track.first_lba});
          track.index1_lba += extra;
          shift += extra;
        }
        unreadable_.emplace_back(track.index1_lba - gap, track.index1_lba - PREGAP_BLOCKS);
      }
    }
    track.end_lba += shift;
  }
  leadout_ += shift;
  // The gaps may push the disc past the last address a disc can have.
  if (leadout_ + LBA_OFFSET_FRAMES > static_cast<int32_t>(MAX_ABSOLUTE_FRAMES))
    throw EmulatedBusError("cue sheet \"" + name +
                           "\": its sessions with the gaps between them end "
                           "past 99:59:74");
}

uint8_t EmulatedDisc::session_of(const DiscTrack& track) const {
  uint8_t session = 1;
  for (std::size_t s = 0; s < session_first_.size(); ++s)
    if (track.number >= session_first_[s]) session = static_cast<uint8_t>(s + 1);
  return session;
}

int32_t EmulatedDisc::session_leadout(uint8_t session) const {
  if (session >= session_first_.size()) return leadout_;
  const DiscTrack* next = track_number(session_first_[session]);
  // The lead-out begins where the gap before the next session's index 1 does.
  return next == nullptr ? leadout_ : next->index1_lba - session_gap(session == 1);
}

std::vector<uint8_t> full_toc_answer(const EmulatedDisc& disc, uint8_t first_session) {
  const std::vector<uint8_t>& firsts = disc.session_first_tracks();
  const uint8_t sessions = static_cast<uint8_t>(firsts.size());
  if (first_session == 0) first_session = 1;
  if (first_session > sessions) return {};
  std::vector<uint8_t> data = {0, 0, first_session, sessions};
  const std::vector<DiscTrack>& tracks = disc.tracks();
  for (uint8_t s = first_session; s <= sessions; ++s) {
    std::vector<const DiscTrack*> own;
    for (const DiscTrack& track : tracks)
      if (disc.session_of(track) == s) own.push_back(&track);
    if (own.empty()) continue;
    const DiscTrack& first = *own.front();
    const DiscTrack& last = *own.back();
    // The disc type: 00h CD-DA or CD-ROM, 10h CD-i, 20h CD-ROM XA.
    uint8_t type = 0;
    for (const DiscTrack* track : own)
      if (track->type == TrackType::Mode2) type = 0x20;
    for (const DiscTrack* track : own)
      if (track->type == TrackType::Cdi) type = 0x10;
    const uint8_t first_point[3] = {first.number, type, 0};
    const uint8_t last_point[3] = {last.number, 0, 0};
    put_point(data, s, first.control, POINT_FIRST_TRACK, first_point);
    put_point(data, s, last.control, POINT_LAST_TRACK, last_point);
    const int32_t leadout = disc.session_leadout(s);
    put_point_at(data, s, last.control, POINT_LEADOUT, leadout);
    for (const DiscTrack* track : own)
      put_point_at(data, s, track->control, track->number, track->index1_lba);
    if (s < sessions) {
      // The next program area, and the last lead-out a disc of 80 minutes can have.
      const DiscTrack* next = disc.track_number(firsts[s]);
      const uint8_t outermost[3] = {79, 59, 74};
      put_point(data, s, 0, POINT_NEXT_AREA, outermost, next->index1_lba - PREGAP_BLOCKS);
    }
  }
  put_be16(data.data(), static_cast<uint32_t>(data.size() - 2));
  return data;
}

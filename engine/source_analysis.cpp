#include "engine/source_analysis.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <vector>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/interrupt.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/recording_events.h"

namespace {

constexpr uint32_t MODE_PROBE_BLOCK = 2340;  // a raw sector without its sync
constexpr uint32_t SYNC_SIZE = 12;
// How far before the first audio track the end of the data track is looked for.
constexpr uint32_t DATA_END_WINDOW = 500;
constexpr uint32_t AUTO_PREGAP = 150;
// The last second before the lead-out, which some drives cannot read with
// its subchannel: there a failed read ends the scan instead of the program.
constexpr uint32_t SCAN_END_MARGIN = 75;
constexpr uint8_t ADR_POSITION = 1;

[[noreturn]] void refuse_disc(const std::string& reason) {
  fail_with("\nError analyzing disc...\n" + reason);
}

bool valid_bcd(uint8_t byte) { return (byte & 0x0F) <= 9 && (byte >> 4) <= 9; }

// Adds a cuepoint at an LBA, keeping the last place for the lead-out.
void add_cuepoint(DiscLayout* layout, uint8_t track_bcd, uint8_t index_bcd, int32_t lba) {
  if (layout->cuepoint_count + 1u >= MAX_CUEPOINTS)
    raise_message(MSG_TEXT, 1, 0, 0, "Disc layout needs more than 500 cuepoints!");
  const MsfTime time = lba_to_msf(lba);
  fill_cuepoint(&layout->cuepoints[layout->cuepoint_count++], track_bcd, index_bcd, time.minute,
                time.second, time.frame);
}

// The table of contents' start of the track with that number, or `fallback`.
uint32_t track_start(const DiscLayout& layout, uint8_t number, uint32_t fallback) {
  for (unsigned i = 0; i < layout.track_count; ++i)
    if (layout.tracks[i].track_number == number) return layout.tracks[i].start;
  return fallback;
}

// The end of the readable stretch that holds `m`, and `m` moved past a
// session gap that holds it: the stretch ends before the next gap or at
// `end`.
int64_t readable_stretch(const std::vector<SessionGap>& gaps, int64_t end, int64_t* m) {
  for (const SessionGap& gap : gaps) {
    if (*m >= int64_t{gap.first} && *m <= int64_t{gap.last}) *m = int64_t{gap.last} + 1;
    if (*m < int64_t{gap.first}) return std::min(end, int64_t{gap.first} - 1);
  }
  return end;
}

// True for a Q frame that tells a position: ADR 1, valid BCD, a track other
// than 0 and the lead-out. Catalog and ISRC frames carry no position; nor
// does a frame read wrong.
bool position_frame(const uint8_t* q) {
  if ((q[0] & 0x0F) != ADR_POSITION || q[1] == LEADOUT_TRACK) return false;
  return valid_bcd(q[1]) && valid_bcd(q[2]) && q[1] != 0;
}

// What a scan of the Q subchannel has found: the last track and index, and
// the cuepoints so far in the layout.
struct ScanFindings {
  unsigned last_track = 0;
  unsigned last_index = 0;

  // Takes a position frame in disc order and adds its cuepoint when it is
  // news; true when that is an index 1. An index 1 lies where the table of
  // contents puts the track (`cursor_start` for a track it does not list),
  // another index at the frame's absolute time or at `at` when given (the
  // first frame of the scan).
  bool take(DiscLayout* layout, SubcodeScan mode, const uint8_t* q, int64_t at,
            uint32_t cursor_start) {
    const unsigned track = bcd_to_bin(q[1]);
    const unsigned index = bcd_to_bin(q[2]);
    if (last_track == 0) last_track = track;
    // Only a position past the last one found is news; a later index of
    // an earlier track is not.
    if (track < last_track || (track == last_track && index <= last_index)) return false;
    last_track = track;
    last_index = index;
    if (mode == SCAN_SOME && index > 1) return false;
    int32_t lba = 0;
    if (index == 1) {
      // Where the table of contents puts the track, whatever Q frames
      // near the change held.
      lba = static_cast<int32_t>(track_start(*layout, static_cast<uint8_t>(track), cursor_start));
    } else if (at >= 0) {
      lba = static_cast<int32_t>(at);
    } else {
      lba = msf_to_lba(bcd_to_bin(q[7]), bcd_to_bin(q[8]), bcd_to_bin(q[9]));
    }
    add_cuepoint(layout, q[1], q[2], lba);
    return index == 1;
  }

  // Tracks whose index 1 the scan did not reach (a read that failed in the
  // last second) start where the table of contents says.
  void add_unreached_tracks(DiscLayout* layout) const {
    for (unsigned i = layout->source_analysis.data_track_count; i < layout->track_count; ++i) {
      const TrackEntry& track = layout->tracks[i];
      if (track.track_number > last_track || (track.track_number == last_track && last_index == 0))
        add_cuepoint(layout, bin_to_bcd(track.track_number), 0x01,
                     static_cast<int32_t>(track.start));
    }
  }
};

// The Q subchannel scan of the audio area (modes SOME and ALL). The gaps
// between sessions are never read: each session's audio is scanned up to
// its lead-out and the scan goes on at the next session's pregap.
void scan_audio_area(CdReader& reader, DiscLayout* layout, uint8_t speed_code, SubcodeScan mode,
                     uint16_t threshold, bool progress) {
  const SourceAnalysis& analysis = layout->source_analysis;
  const std::vector<SessionGap> gaps = session_gaps(reader, *layout);
  reader.SetReadingSpeedNamed(speed_code, true);
  reader.SetBlockLengthNamed(SECTOR_KIND_AUDIO, SCAN_BLOCK_SIZE, true);
  unsigned cursor = analysis.data_track_count;  // the first audio track
  const int64_t first = layout->tracks[cursor].start;
  const int64_t end = int64_t{layout->leadout_position} - 1;
  if (progress)
    notify_event(EVENT_READ_START,
                 {static_cast<uint32_t>(first), static_cast<uint32_t>(std::max(end, first))});
  std::vector<uint8_t> buffer(std::size_t{SCAN_BATCH_BLOCKS} * SCAN_BLOCK_SIZE);
  ScanFindings found;
  for (int64_t m = first; m <= end;) {
    const int64_t stretch_end = readable_stretch(gaps, end, &m);
    if (m > stretch_end) break;
    const int64_t sure_end = stretch_end - SCAN_END_MARGIN;
    // A read ends where the last second of a session begins, so that a
    // failure there loses nothing before it.
    const int64_t batch_end = m <= sure_end ? sure_end : stretch_end;
    const auto n = static_cast<uint32_t>(std::min<int64_t>(batch_end - m + 1, SCAN_BATCH_BLOCKS));
    check_interrupt();
    const bool last_second = m > sure_end;
    if (reader.ReadAudioSectors(buffer.data(), n, static_cast<uint32_t>(m), SUBCODE_Q,
                                !last_second) != 1) {
      // The rest of this session is lost; a later one is scanned still.
      m = stretch_end + 1;
      continue;
    }
    if (progress)
      notify_event(EVENT_READ_PROGRESS,
                   {static_cast<uint32_t>(m), static_cast<uint32_t>(m + n - 1)});
    bool found_index1 = false;
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* q = buffer.data() + std::size_t{i} * SCAN_BLOCK_SIZE + RAW_SECTOR_SIZE;
      if (!position_frame(q)) continue;
      found_index1 |=
          found.take(layout, mode, q, m == first && i == 0 ? m : -1, layout->tracks[cursor].start);
    }
    if (found_index1 && cursor < layout->track_count) {
      ++cursor;
      if (mode == SCAN_SOME) {
        // Go on `threshold` frames before the next track, or right after
        // this batch when that lies behind: a jump back would only read
        // blocks again. A resume in a session gap goes on past it.
        const int64_t resume = int64_t{layout->tracks[cursor].start} - threshold;
        m = std::max(resume, m + n) - n;
      }
    }
    m += n;
  }
  found.add_unreached_tracks(layout);
  if (progress) notify_event(EVENT_READ_END);
}

// A position frame of the Q subchannel and where it was read.
struct QFrame {
  int64_t lba = 0;
  std::array<uint8_t, 16> q{};
  // Track and index in one number that grows along the disc.
  unsigned key() const { return bcd_to_bin(q[1]) * 100u + bcd_to_bin(q[2]); }
};

// Q frames read one sector at a time, each read once. A frame whose CRC
// fails (where the drive gives one) is read again; one that still fails,
// like a catalog or ISRC frame, tells no position.
class QProbe {
 public:
  QProbe(CdReader& reader, int64_t sure_end, int64_t end)
      : reader_(reader), sure_end_(sure_end), end_(end) {}

  // The first position frame from `from` up to `limit`; false when none is
  // there or the sectors stop reading (only in the last second, where a
  // failed read ends the stretch as it ends a scan).
  bool first_position(int64_t from, int64_t limit, QFrame* frame) {
    for (int64_t at = from; at <= std::min(limit, end_); ++at) {
      const std::optional<QFrame>* known = read(at);
      if (known == nullptr) return false;
      if (known->has_value()) {
        *frame = **known;
        return true;
      }
    }
    return false;
  }

  // The last position frame above `low` up to the last sector known to read
  // (after a failed read, the one before it); false when there is none.
  bool last_position(int64_t low, QFrame* frame) {
    for (int64_t at = end_; at > low; --at) {
      const std::optional<QFrame>* known = read(at);
      if (known == nullptr) continue;  // end_ has moved below `at`
      if (known->has_value()) {
        *frame = **known;
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr int READ_TRIES = 3;

  // The frame at `at` (empty when it tells no position), or null when the
  // sector does not read.
  const std::optional<QFrame>* read(int64_t at) {
    const auto known = frames_.find(at);
    if (known != frames_.end()) return &known->second;
    std::optional<QFrame> frame;
    for (int tries = 0; tries < READ_TRIES && !frame; ++tries) {
      uint8_t block[SCAN_BLOCK_SIZE];
      if (reader_.ReadAudioSectors(block, 1, static_cast<uint32_t>(at), SUBCODE_Q,
                                   at <= sure_end_) != 1) {
        end_ = at - 1;
        return nullptr;
      }
      const uint8_t* q = block + RAW_SECTOR_SIZE;
      // Drives that give no CRC leave its two bytes zero.
      const auto crc = static_cast<uint16_t>(get_be16(q + 10));
      if (crc != 0 && crc != q_crc(q)) continue;
      if (!position_frame(q)) break;
      frame.emplace();
      frame->lba = at;
      std::copy(q, q + 16, frame->q.begin());
    }
    return &frames_.emplace(at, frame).first->second;
  }

  CdReader& reader_;
  int64_t sure_end_;
  int64_t end_;
  std::map<int64_t, std::optional<QFrame>> frames_;
};

// The first position frame after `low` whose track or index is past
// low's, when `high` (a later frame) is: a binary search between the two.
QFrame next_change(QProbe& probe, const QFrame& low, const QFrame& high) {
  int64_t lo = low.lba;
  int64_t hi = high.lba;
  QFrame change = high;  // the first position frame from hi on
  while (hi - lo > 1) {
    const int64_t mid = lo + (hi - lo) / 2;
    QFrame frame;
    probe.first_position(mid, change.lba, &frame);
    if (frame.key() <= low.key()) {
      lo = std::min(frame.lba, hi - 1);
    } else {
      hi = mid;
      change = frame;
    }
  }
  return change;
}

// The search of mode FAST: in each readable stretch of the audio area, the
// Q frames at its start, at every track's start and at its end, and between
// two that differ a binary search for each change of track or index. It
// finds what the scan of every frame finds where the Q subchannel only ever
// goes on (as a disc's does), reading a few dozen frames a track.
void search_audio_area(CdReader& reader, DiscLayout* layout, uint8_t speed_code, bool progress) {
  const std::vector<SessionGap> gaps = session_gaps(reader, *layout);
  reader.SetReadingSpeedNamed(speed_code, true);
  reader.SetBlockLengthNamed(SECTOR_KIND_AUDIO, SCAN_BLOCK_SIZE, true);
  unsigned cursor = layout->source_analysis.data_track_count;
  const int64_t first = layout->tracks[cursor].start;
  const int64_t end = int64_t{layout->leadout_position} - 1;
  if (progress)
    notify_event(EVENT_READ_START,
                 {static_cast<uint32_t>(first), static_cast<uint32_t>(std::max(end, first))});
  ScanFindings found;
  const auto take = [&](const QFrame& frame) {
    const int64_t at = frame.lba == first ? first : -1;
    if (found.take(layout, SCAN_ALL, frame.q.data(), at, layout->tracks[cursor].start) &&
        cursor < layout->track_count)
      ++cursor;
  };
  for (int64_t m = first; m <= end;) {
    const int64_t stretch_end = readable_stretch(gaps, end, &m);
    if (m > stretch_end) break;
    check_interrupt();
    QProbe probe(reader, stretch_end - SCAN_END_MARGIN, stretch_end);
    std::vector<int64_t> marks;
    for (unsigned i = cursor; i < layout->track_count; ++i)
      if (layout->tracks[i].start > m && layout->tracks[i].start <= stretch_end)
        marks.push_back(layout->tracks[i].start);
    marks.push_back(stretch_end);
    QFrame last;
    if (probe.first_position(m, stretch_end, &last)) {
      take(last);
      for (const int64_t mark : marks) {
        QFrame next;
        if (mark <= last.lba) continue;
        // Where the sectors stop reading, the search ends at the last frame
        // that reads, as the scan ends with it.
        const bool readable = probe.first_position(mark, stretch_end, &next);
        if (!readable && !probe.last_position(last.lba, &next)) break;
        while (next.key() > last.key()) {
          last = next_change(probe, last, next);
          take(last);
        }
        if (!readable) break;
        if (progress)
          notify_event(EVENT_READ_PROGRESS,
                       {static_cast<uint32_t>(last.lba), static_cast<uint32_t>(next.lba)});
        last = next;
      }
    }
    m = stretch_end + 1;
  }
  found.add_unreached_tracks(layout);
  if (progress) notify_event(EVENT_READ_END);
}

}  // namespace

DataTrackEnd find_end_before_audio(CdReader& reader, const DiscLayout& layout,
                                   unsigned audio_track) {
  DataTrackEnd end;
  uint32_t data_end = layout.tracks[audio_track].start;
  for (const SessionGap& gap : session_gaps(reader, layout)) {
    if (gap.next_track != audio_track) continue;
    data_end = gap.first - 1;
    end.audio_area = gap.last + 1;
  }
  // A short data track is searched from its first sector.
  const uint32_t from = data_end > DATA_END_WINDOW ? data_end - DATA_END_WINDOW : 0;
  end.last = find_data_track_end(reader, from, data_end);
  return end;
}

uint32_t find_data_track_end(CdReader& reader, uint32_t first, uint32_t last) {
  reader.SetBlockLength(SECTOR_KIND_DATA, MODE_PROBE_BLOCK);
  uint8_t sector[RAW_SECTOR_SIZE] = {};
  uint32_t answer = 0;
  for (uint64_t lba = first; lba <= last; ++lba) {
    const auto at = static_cast<uint32_t>(lba);
    // 12 bytes in, so that the header lies where a raw sector has it.
    if (reader.ReadDataSectors(sector + SYNC_SIZE, MODE_PROBE_BLOCK, 1, at, false) != 1 &&
        reader.ReadDataSectors(sector + SYNC_SIZE, MODE_PROBE_BLOCK, 1, at, false) != 1)
      break;
    if (!sector_matches_address(sector, static_cast<int32_t>(at))) break;
    answer = at;
  }
  return answer;
}

uint16_t scan_cuepoints(CdReader& reader, DiscLayout* layout, uint8_t speed_code, SubcodeScan mode,
                        uint16_t threshold, bool progress) {
  const SourceAnalysis& analysis = layout->source_analysis;
  layout->cuepoint_count = 0;
  add_cuepoint(layout, bin_to_bcd(layout->tracks[0].track_number), 0x00, -LBA_OFFSET_FRAMES);
  for (unsigned i = 0; i < analysis.data_track_count; ++i)
    add_cuepoint(layout, bin_to_bcd(layout->tracks[i].track_number), 0x01,
                 static_cast<int32_t>(layout->tracks[i].start));
  const unsigned first_audio = analysis.data_track_count;
  if (analysis.audio_track_count > 0) {
    if (analysis.audio_pregap_length != 0)
      add_cuepoint(layout, bin_to_bcd(layout->tracks[first_audio].track_number), 0x00,
                   static_cast<int32_t>(analysis.audio_pregap_start));
    if (mode == SCAN_FAST) {
      search_audio_area(reader, layout, speed_code, progress);
    } else if (scan_reads_subcode(mode)) {
      scan_audio_area(reader, layout, speed_code, mode, threshold, progress);
    } else {
      for (unsigned i = first_audio; i < layout->track_count; ++i) {
        const TrackEntry& track = layout->tracks[i];
        const uint8_t number = bin_to_bcd(track.track_number);
        if (mode == SCAN_AUTO && i > first_audio)
          add_cuepoint(layout, number, 0x00, static_cast<int32_t>(track.start - AUTO_PREGAP));
        add_cuepoint(layout, number, 0x01, static_cast<int32_t>(track.start));
      }
    }
  }
  const MsfTime leadout = lba_to_msf(static_cast<int32_t>(layout->leadout_position));
  fill_cuepoint(&layout->cuepoints[layout->cuepoint_count++], LEADOUT_TRACK, 0x01, leadout.minute,
                leadout.second, leadout.frame);
  return layout->cuepoint_count;
}

namespace {

// Puts a TOC that starts above track 1, past LBA 0, behind a track 1 at LBA
// 0 that the table of contents does not list.
void insert_hidden_track(DiscLayout* layout) {
  const TrackEntry& first = layout->tracks[0];
  if (first.track_number <= 1 || first.start == 0) return;
  std::copy_backward(layout->tracks.begin(), layout->tracks.begin() + layout->track_count + 1,
                     layout->tracks.begin() + layout->track_count + 2);
  layout->tracks[0] = TrackEntry{};
  layout->tracks[0].track_number = 1;
  layout->tracks[0].track_flags = TRACK_DATA | TRACK_INSERTED;
  layout->tracks[0].read_from_disc = 1;
  ++layout->track_count;
  layout->first_track = 1;
}

// Sets the types of the data tracks, which must share one sector mode. The
// inserted track, whose mode is not read, takes no part in the comparison.
void type_data_tracks(DiscLayout* layout, unsigned data_tracks) {
  int mode = -1;
  for (unsigned i = 0; i < data_tracks; ++i) {
    TrackEntry& track = layout->tracks[i];
    if (track.track_flags & TRACK_INSERTED) {
      track.track_type = TrackType::Cdi;
      continue;
    }
    if (mode < 0) mode = track.sector_mode;
    if (track.sector_mode != mode)
      refuse_disc("Unable to copy discs with both MODE1 and MODE2 data tracks!\n");
    if (track.sector_mode == 1) {
      track.track_type = TrackType::Mode1;
    } else if (track.sector_mode == 2) {
      track.track_type = TrackType::Mode2;
    } else {
      refuse_disc(format_text("Unable to determine the mode of track %u\n", track.track_number));
    }
  }
}

// Leaves the drive at 2048-byte data blocks however the analysis ends; a
// failure on the way out of a failed analysis is left unsaid.
class DataBlockLength {
 public:
  explicit DataBlockLength(CdReader& reader) : reader_(reader) {}
  ~DataBlockLength() {
    if (!restored_) reader_.StopDataRead();
  }
  DataBlockLength(const DataBlockLength&) = delete;
  DataBlockLength& operator=(const DataBlockLength&) = delete;
  void restore() {
    restored_ = true;
    reader_.StopDataReadNamed(true);
  }

 private:
  CdReader& reader_;
  bool restored_ = false;
};

// The data tracks after the audio of a disc whose audio session a later
// session of data tracks follows, and where the audio session's lead-out
// begins; none on a disc of one session. The later tracks get their types
// from their sector modes.
struct LaterData {
  unsigned tracks = 0;
  uint32_t audio_leadout = 0;
};

LaterData later_session_data(CdReader& reader, DiscLayout* layout, unsigned first) {
  LaterData later;
  if (first == 0 || first >= layout->track_count ||
      (layout->tracks[first - 1].track_flags & TRACK_DATA))
    return later;
  const std::vector<DiscSession> sessions = read_disc_sessions(reader, layout);
  const uint8_t audio_session = layout->tracks[first - 1].session;
  if (sessions.size() < 2 || layout->tracks[first].session <= audio_session) return later;
  for (const DiscSession& session : sessions)
    if (session.number == audio_session) later.audio_leadout = session.leadout;
  if (later.audio_leadout == 0) return later;
  for (unsigned i = first; i < layout->track_count; ++i) {
    TrackEntry& track = layout->tracks[i];
    if (!(track.track_flags & TRACK_DATA)) return LaterData{};
    if (track.sector_mode != 1 && track.sector_mode != 2)
      refuse_disc(format_text("Unable to determine the mode of track %u\n", track.track_number));
    track.track_type = track.sector_mode == 1 ? TrackType::Mode1 : TrackType::Mode2;
  }
  later.tracks = layout->track_count - first;
  return later;
}

// Puts the later session's data tracks back behind the analysed audio
// session: their index 1 where the table of contents puts them, then the
// disc's lead-out.
void append_later_data(DiscLayout* layout, unsigned tracks, uint32_t disc_leadout) {
  --layout->cuepoint_count;  // the audio session's lead-out
  for (unsigned i = layout->track_count; i < layout->track_count + tracks; ++i)
    add_cuepoint(layout, bin_to_bcd(layout->tracks[i].track_number), 0x01,
                 static_cast<int32_t>(layout->tracks[i].start));
  add_cuepoint(layout, LEADOUT_TRACK, 0x01, static_cast<int32_t>(disc_leadout));
  layout->track_count = static_cast<uint8_t>(layout->track_count + tracks);
  layout->leadout_position = disc_leadout;
}

}  // namespace

std::unique_ptr<DiscLayout> analyze_source_disc(CdReader& reader, uint8_t speed_code,
                                                SubcodeScan mode, uint16_t threshold, bool reset,
                                                bool read_catalog, bool read_isrcs, bool progress) {
  // The reset text is printed whatever the progress switch says: the pause
  // that follows it would otherwise be unexplained.
  if (reset) reset_reader(reader, true);
  if (progress) notify_event(EVENT_ANALYSIS_START);
  reader.TestUnitReady(true);
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
  DataBlockLength block_length(reader);
  reader.ReadDiscToc(layout.get(), true, read_catalog, read_isrcs);
  if (layout->leadout_position - 1 > MAX_DISC_FRAMES)
    err_text("\nWARNING: Disc is longer than 74 minutes!\n");
  insert_hidden_track(layout.get());

  unsigned data_tracks = 0;
  while (data_tracks < layout->track_count &&
         (layout->tracks[data_tracks].track_flags & TRACK_DATA))
    ++data_tracks;
  unsigned audio_tracks = 0;
  for (unsigned i = data_tracks; i < layout->track_count; ++i, ++audio_tracks) {
    if (layout->tracks[i].track_flags & TRACK_DATA) break;
    layout->tracks[i].track_type = TrackType::Audio;
  }
  // Data tracks after the audio are a session of their own (a CD-Extra).
  const LaterData later = later_session_data(reader, layout.get(), data_tracks + audio_tracks);
  if (data_tracks + audio_tracks + later.tracks < layout->track_count)
    refuse_disc("All data tracks must come before the audio tracks!\n");
  type_data_tracks(layout.get(), data_tracks);
  const uint32_t disc_leadout = layout->leadout_position;
  // The audio session is analysed as a disc of its own.
  layout->track_count = static_cast<uint8_t>(layout->track_count - later.tracks);
  if (later.tracks > 0) layout->leadout_position = later.audio_leadout;

  SourceAnalysis& analysis = layout->source_analysis;
  if (data_tracks > 0 && audio_tracks > 0) {
    const uint32_t g = layout->tracks[data_tracks].start;
    const DataTrackEnd end = find_end_before_audio(reader, *layout, data_tracks);
    if (end.last == 0) refuse_disc("Unable to locate end of data track!\n");
    // When the audio opens a session of its own, its pregap is the new
    // session's.
    const uint32_t pregap_from = std::max(end.last + 1, end.audio_area);
    const uint32_t gap = pregap_from < g ? g - pregap_from : 0;
    analysis.audio_pregap_length = gap < 150 ? gap : gap - gap % 75;
    analysis.audio_pregap_start = g - analysis.audio_pregap_length;
  } else if (data_tracks > 0) {
    reader.FindLastReadableDataSector(MODE_PROBE_BLOCK);
  }
  if (audio_tracks > 0 && later.tracks == 0) reader.FindLastReadableSector(true);
  analysis.audio_track_count = static_cast<uint8_t>(audio_tracks);
  analysis.data_track_count = static_cast<uint8_t>(data_tracks);

  layout->cuepoint_count =
      scan_cuepoints(reader, layout.get(), speed_code, mode, threshold, progress);
  if (later.tracks > 0) append_later_data(layout.get(), later.tracks, disc_leadout);
  block_length.restore();
  if (progress) notify_event(EVENT_ANALYSIS_END);
  return layout;
}

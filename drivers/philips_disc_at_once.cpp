// Disc-at-once recording of the Philips family: READ SESSION, the catalog
// number page, the table of contents for WRITE SESSION, lead-in and lead-out
// through the gap writer; the whole-disc table of class 2.
#include <algorithm>
#include <cstring>

#include "common/byteorder.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/philips_recorder.h"
#include "drivers/recording_events.h"
#include "layout/session_split.h"

namespace {

constexpr uint8_t OP_WRITE_SESSION = 0xED;
constexpr uint8_t OP_READ_SESSION = 0xEE;
constexpr uint8_t OP_FORMAT_DISC = 0xEF;
constexpr uint8_t OP_WRITE_DISC = 0xF0;
constexpr uint8_t CATALOG_PAGE = 0x22;
// The lead-out READ SESSION reports before a session after the first.
constexpr uint16_t LATER_LEADOUT_LENGTH = 2250;

constexpr std::size_t TOC_DESCRIPTOR_HEADER = 12;
constexpr std::size_t DISC_TABLE_ENTRY = 32;

// The drive's number for a track type in WRITE SESSION and the disc header;
// -1 for a type above 3.
int drive_track_type(TrackType type) {
  switch (type) {
    case TrackType::Audio: return 0;
    case TrackType::Mode1: return 2;
    case TrackType::Mode2: return 3;
    case TrackType::Cdi: return 4;
  }
  return -1;
}

// An ISRC as the tables carry it: characters 1 to 5 less 0x30 in five
// bytes, characters 6 to 12 packed in four.
void put_isrc(const TrackEntry& track, uint8_t* out) {
  if (!(track.track_flags & TRACK_ISRC)) return;
  for (int i = 0; i < 5; ++i) out[i] = static_cast<uint8_t>(track.isrc[i] - 0x30);
  pack_nibbles(track.isrc.data() + 5, 7, out + 5);
}

void put_catalog(const DiscLayout& layout, uint8_t* out) {
  if (layout.layout_flags & LAYOUT_MCN) pack_nibbles(layout.catalog_number.data(), 13, out);
}

int32_t cuepoint_lba(const CuePoint& point) {
  return msf_to_lba(point.minute, point.second, point.frame);
}

bool valid_types(const DiscLayout& layout) {
  for (unsigned t = 0; t < layout.track_count; ++t)
    if (drive_track_type(layout.tracks[t].track_type) < 0) return false;
  return true;
}

}  // namespace

std::vector<uint8_t> philips_session_toc(const DiscLayout& layout) {
  if (!valid_types(layout) || layout.cuepoint_count < 2) return {};
  // Room for the most a layout can hold: every track's header and every
  // cuepoint, each track's end position included.
  std::vector<uint8_t> table(MAX_TRACKS * TOC_DESCRIPTOR_HEADER + 4 * (MAX_CUEPOINTS + MAX_TRACKS));
  std::size_t descriptor = 0;
  std::size_t positions = 0;
  unsigned entry = 0;
  uint8_t current = layout.cuepoints[1].track;
  auto append = [&](int32_t lba) {
    put_be32(&table[descriptor + TOC_DESCRIPTOR_HEADER + 4 * positions++],
             static_cast<uint32_t>(lba));
  };
  for (unsigned i = 1; i < layout.cuepoint_count; ++i) {
    const CuePoint& point = layout.cuepoints[i];
    const int32_t lba = cuepoint_lba(point);
    append(lba);
    if (point.track == current) continue;
    const TrackEntry& track = layout.tracks[entry];
    const std::size_t length = TOC_DESCRIPTOR_HEADER + 4 * positions;
    put_be16(&table[descriptor], static_cast<uint32_t>(length));
    table[descriptor + 2] = static_cast<uint8_t>(track_control_nibble(track.track_flags) |
                                                 ((track.track_flags & TRACK_ISRC) ? 0x80 : 0));
    put_isrc(track, &table[descriptor + 3]);
    descriptor += length;
    positions = 0;
    if (point.track == LEADOUT_TRACK || ++entry >= layout.track_count) break;
    if (point.index == 1) append(lba);  // no index 0: the track starts where the last ended
    current = point.track;
  }
  table.resize(descriptor);
  return table;
}

std::vector<uint8_t> philips_disc_table(const DiscLayout& layout, bool session) {
  if (!valid_types(layout) || layout.track_count == 0) return {};
  std::vector<uint8_t> table((layout.track_count + 2u) * DISC_TABLE_ENTRY);
  table[1] =
      static_cast<uint8_t>(drive_track_type(layout.tracks[0].track_type) | (session ? 0x08 : 0) |
                           ((layout.layout_flags & LAYOUT_MCN) ? 0x80 : 0));
  put_catalog(layout, &table[4]);
  unsigned cue = 0;
  for (unsigned t = 0; t < layout.track_count && cue < layout.cuepoint_count; ++t) {
    const TrackEntry& track = layout.tracks[t];
    uint8_t* entry = &table[(t + 1) * DISC_TABLE_ENTRY];
    // This track's cuepoints: an optional index 0, index 1, further indexes.
    const unsigned first = cue;
    while (cue < layout.cuepoint_count &&
           layout.cuepoints[cue].track == layout.cuepoints[first].track)
      ++cue;
    const unsigned index1 =
        layout.cuepoints[first].index == 0 && first + 1 < cue ? first + 1 : first;
    const CuePoint& next = layout.cuepoints[cue < layout.cuepoint_count ? cue : cue - 1];
    uint32_t next_pregap = 0;
    if (next.track != LEADOUT_TRACK && next.index == 0 && cue + 1 < layout.cuepoint_count)
      next_pregap = cuepoint_distance(next, layout.cuepoints[cue + 1]);
    uint8_t mode = 2;
    if (track.track_type == TrackType::Audio)
      mode = static_cast<uint8_t>(((track.track_flags & TRACK_4CH) ? 2 : 0) |
                                  ((track.track_flags & TRACK_PRE) ? 1 : 0));
    else if (track.track_type == TrackType::Mode1)
      mode = 1;
    entry[0] = track.track_number;
    entry[1] = static_cast<uint8_t>(mode | ((track.track_flags & TRACK_DATA) ? 0 : 0x04));
    entry[2] = static_cast<uint8_t>(((track.track_flags & TRACK_DCP) ? 0 : 0x01) | 0x02 |
                                    ((track.track_flags & TRACK_ISRC) ? 0x04 : 0));
    put_be32(entry + 5, cuepoint_distance(layout.cuepoints[index1], next));
    put_be16(entry + 9, cuepoint_distance(layout.cuepoints[first], layout.cuepoints[index1]));
    put_be16(entry + 11, 150 - next_pregap);
    put_isrc(track, entry + 13);
  }
  uint8_t* leadout = &table[(layout.track_count + 1u) * DISC_TABLE_ENTRY];
  leadout[0] = LEADOUT_TRACK;
  leadout[3] = 0x1A;
  leadout[4] = 0x5E;
  return table;
}

ResultCode PhilipsRecorder::ReadSession(uint16_t* leadin_blocks, uint16_t* leadout_blocks,
                                        bool raise) {
  uint8_t cdb[10] = {OP_READ_SESSION, LunBits()};
  cdb[8] = 4;
  uint8_t data[4] = {};
  const ResultCode result = Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb, 10, data, sizeof data);
  *leadin_blocks = static_cast<uint16_t>(get_be16(data));
  *leadout_blocks = static_cast<uint16_t>(get_be16(data + 2));
  return CheckNamed(result, "READ SESSION", raise);
}

ResultCode PhilipsRecorder::SendCatalogPage(const DiscLayout& layout) {
  uint8_t data[14] = {};
  data[4] = CATALOG_PAGE;
  data[5] = 8;
  data[6] = (layout.layout_flags & LAYOUT_MCN) ? 1 : 0;
  put_catalog(layout, data + 7);
  return ModeSelectRaw(data, sizeof data, true);
}

ResultCode PhilipsRecorder::BeginDiscAtOnce(const DiscAtOnceJob& job) {
  const DiscLayout& layout = *job.layout;
  const bool progress = job.flags & JOB_PROGRESS;
  firstTrackType = layout.tracks[0].track_type;
  lastTrackType = layout.tracks[layout.track_count > 0 ? layout.track_count - 1 : 0].track_type;
  ReadSession(&leadinLength, &leadoutLength, true);
  SendCatalogPage(layout);
  SetBlockLength(SECTOR_KIND_DATA, RAW_SECTOR_SIZE);

  // A table that cannot be built would leave the disc without a session
  // while the files are streamed: refuse it before anything is written.
  std::vector<uint8_t> toc = philips_session_toc(layout);
  int session_format = 0;
  switch (lastTrackType) {
    case TrackType::Audio: session_format = 0; break;
    case TrackType::Mode1: session_format = 1; break;
    case TrackType::Mode2:
    case TrackType::Cdi: session_format = 2; break;
    default: session_format = -1; break;
  }
  if (toc.empty() || session_format < 0) CheckNamed(MSG_BUGCHECK, "WRITE SESSION", true);
  if (speedPage31) session_format = 0;
  uint8_t cdb[10] = {OP_WRITE_SESSION, LunBits()};
  const bool session = (job.flags & JOB_SESSION) && (RecorderCaps & CAP_SESSION_BIT);
  cdb[6] = static_cast<uint8_t>(drive_track_type(firstTrackType) | (session ? 0x08 : 0) |
                                session_format << 4);
  put_be16(cdb + 7, static_cast<uint32_t>(toc.size()));
  CheckNamed(Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, cdb, 10, toc.data(),
                     static_cast<uint32_t>(toc.size())),
             "WRITE SESSION", true);

  nextWriteAddress = -150;
  if (progress) notify_event(EVENT_LEADIN_START);
  write_gap_blocks(*this, firstTrackType, leadinLength, RAW_SECTOR_SIZE, true);
  if (progress) notify_event(EVENT_LEADIN_END);
  // The sectors the host builds carry their addresses on the disc: a later
  // session's (its lead-out of 2250 blocks says it is one) begin past the earlier.
  const bool later = leadoutLength == LATER_LEADOUT_LENGTH;
  nextWriteAddress = -150 + (later ? LaterSessionStart() : 0);
  return 1;
}

int32_t PhilipsRecorder::LaterSessionStart() {
  uint8_t toc[TOC_BUFFER_LENGTH] = {};
  uint32_t received = 0;
  if (ReadTocRaw(toc, sizeof toc, 0, &received) != 1 || received < 4) return 0;
  const uint32_t end = std::min<uint32_t>(get_be16(toc) + 2u, received);
  int64_t leadout = -1;
  for (uint32_t at = 4; at + 8 <= end; at += 8)
    if (toc[at + 2] == LEADOUT_TRACK) leadout = get_be32(toc + at + 4);
  if (leadout < 0) return 0;
  uint8_t sessions[12] = {};
  const bool told = ReadTocRaw(sessions, sizeof sessions, 1, &received) == 1 && received >= 12;
  const uint32_t gap =
      !told || sessions[3] <= 1 ? FIRST_SESSION_GAP_FRAMES : LATER_SESSION_GAP_FRAMES;
  return static_cast<int32_t>(leadout + gap);
}

ResultCode PhilipsRecorder::EndDiscAtOnce(uint8_t progress) {
  // A CD+G last track left 2448 in force; the lead-out goes as 2352.
  SetWritingBlockLength(static_cast<uint8_t>(lastTrackType), RAW_SECTOR_SIZE);
  if (progress) notify_event(EVENT_LEADOUT_START);
  write_gap_blocks(*this, lastTrackType, leadoutLength, RAW_SECTOR_SIZE, false);
  if (progress) notify_event(EVENT_LEADOUT_END);
  SynchronizeCache(true);
  return 1;
}

ResultCode PhilipsClass2::BeginDiscAtOnce(const DiscAtOnceJob& job) {
  job.layout->tracks[0].pregap = 0;
  nextWriteAddress = 0;
  SetBlockLength(SECTOR_KIND_DATA, RAW_SECTOR_SIZE);
  std::vector<uint8_t> table = philips_disc_table(*job.layout, job.flags & JOB_SESSION);
  if (table.empty()) CheckNamed(MSG_BUGCHECK, "FORMAT DISC", true);
  uint8_t format_cdb[10] = {OP_FORMAT_DISC, static_cast<uint8_t>(LunBits() | 0x01)};
  put_be16(format_cdb + 7, static_cast<uint32_t>(table.size()));
  CheckNamed(Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, format_cdb, 10, table.data(),
                     static_cast<uint32_t>(table.size())),
             "FORMAT DISC", true);
  const uint8_t write_cdb[10] = {OP_WRITE_DISC, LunBits()};
  CheckNamed(Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, write_cdb, 10, nullptr, 0), "WRITE DISC",
             true);
  return 1;
}

ResultCode PhilipsClass2::EndDiscAtOnce(uint8_t /*progress*/) {
  SynchronizeCache(true);
  return 1;
}

// The disc-level reads of CdReader: the table of contents into a DiscLayout,
// the catalog number, the ISRC codes and the search for the last readable
// sector.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/cd_reader.h"

namespace {

constexpr unsigned TOC_HEADER_LENGTH = 4;
constexpr unsigned TOC_DESCRIPTOR_LENGTH = 8;
constexpr uint32_t MODE_PROBE_BLOCK = 2340;  // a raw sector without its sync
constexpr uint32_t LAST_SECTOR_WINDOW = 75;
constexpr unsigned RESET_PAUSE_MS = 10000;
// The last address a disc can have: absolute time 99:59:74.
constexpr uint32_t MAX_DISC_LBA = MAX_ABSOLUTE_FRAMES - LBA_OFFSET_FRAMES;
constexpr uint8_t TOC_FORMAT_SESSIONS = 1;
constexpr uint16_t SESSION_ANSWER_LENGTH = 12;
// From a session's lead-out to the next session's first track: lead-out,
// lead-in and pregap, after the first session and after any later one.
constexpr uint32_t FIRST_SESSION_GAP = 6750 + 4500 + 150;
constexpr uint32_t LATER_SESSION_GAP = 2250 + 4500 + 150;
// The next session's pregap, which reads again.
constexpr uint32_t PREGAP_FRAMES = 150;

// Track flags from the control nibble of a table-of-contents descriptor.
uint8_t flags_from_control(uint8_t control) {
  uint8_t flags = 0;
  if (control & 0x04) flags |= TRACK_DATA;
  if (control & 0x02) flags |= TRACK_DCP;
  if (control & 0x01) flags |= TRACK_PRE;
  if (control & 0x08) flags |= TRACK_4CH;
  return flags;
}

// The track number of a descriptor: numbers from 100 up stand for the lead-out.
uint8_t descriptor_track(const uint8_t* descriptor) {
  return descriptor[2] < 100 ? descriptor[2] : LEADOUT_TRACK;
}

// Why a READ TOC answer of `received` bytes is not a table of contents that
// can be listed, or "" when it is one: the drive sent what it announced, and
// the descriptors it announced hold tracks numbered upwards from 1 to 99
// that start one after the other, then a lead-out past the last of them, all
// at addresses a disc can have. Only the announced descriptors are read, at
// most as many as the buffer holds.
std::string toc_problem(const uint8_t* toc, uint32_t received) {
  if (received < TOC_HEADER_LENGTH)
    return format_text("READ TOC returned %u bytes, too few for a table of contents", received);
  const uint32_t announced = std::min<uint32_t>(get_be16(toc) + 2u, TOC_BUFFER_LENGTH);
  if (received < announced)
    return format_text("READ TOC returned %u of the %u bytes it announced", received, announced);
  const uint32_t descriptors =
      announced > TOC_HEADER_LENGTH ? (announced - TOC_HEADER_LENGTH) / TOC_DESCRIPTOR_LENGTH : 0;
  unsigned previous_track = 0;
  uint32_t previous_start = 0;
  for (uint32_t i = 0; i < descriptors; ++i) {
    const uint8_t* descriptor = toc + TOC_HEADER_LENGTH + i * TOC_DESCRIPTOR_LENGTH;
    const uint8_t track = descriptor_track(descriptor);
    const uint32_t start = get_be32(descriptor + 4);
    if (track == LEADOUT_TRACK) {
      if (previous_track == 0) return "The table of contents lists no track";
      if (start > MAX_DISC_LBA)
        return format_text("Lead-out at LBA %u is past the end of any disc", start);
      if (start <= previous_start)
        return format_text("Lead-out at LBA %u is not past track %u at LBA %u", start,
                           previous_track, previous_start);
      return "";
    }
    if (track == 0) return "Track number 0 is not a track";
    if (track <= previous_track)
      return format_text("Track %u follows track %u: tracks are not in ascending order", track,
                         previous_track);
    if (start > MAX_DISC_LBA)
      return format_text("Track %u starts at LBA %u, past the end of any disc", track, start);
    if (previous_track != 0 && start <= previous_start)
      return format_text("Track %u at LBA %u does not start after track %u at LBA %u", track, start,
                         previous_track, previous_start);
    previous_track = track;
    previous_start = start;
  }
  if (previous_track == 0) return "The table of contents lists no track";
  return format_text("The table of contents has no lead-out after track %u", previous_track);
}

bool is_upper_letter(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool valid_catalog_number(const char* text) {
  for (int i = 0; i < 13; ++i)
    if (!is_digit(text[i])) return false;
  return true;
}

bool valid_isrc(const char* text) {
  for (int i = 0; i < 12; ++i)
    if (!is_digit(text[i]) && !(i < 5 && is_upper_letter(text[i]))) return false;
  return true;
}

int CdReader::ReadCatalogNumber(char* out13, bool raise) {
  uint8_t data[SUBCHANNEL_LENGTH] = {};
  if (ReadSubchannel(data, SUBCHANNEL_CATALOG, 0, true, false, raise) != 1) return 0;
  const char* digits = reinterpret_cast<const char*>(data + 9);
  if (!(data[8] & 0x80) || !valid_catalog_number(digits)) return 0;
  std::memcpy(out13, digits, 13);
  return 1;
}

int CdReader::ReadTrackIsrc(uint8_t track, char* out12, bool raise) {
  uint8_t data[SUBCHANNEL_LENGTH] = {};
  if (ReadSubchannel(data, SUBCHANNEL_ISRC, track, true, false, raise) != 1) return 0;
  const char* code = reinterpret_cast<const char*>(data + 9);
  if (!(data[8] & 0x80) || !valid_isrc(code)) return 0;
  std::memcpy(out12, code, 12);
  return 1;
}

void CdReader::ReadDiscToc(DiscLayout* layout, bool detect_modes, bool want_mcn, bool want_isrc) {
  TestUnitReady(true);
  uint8_t toc[TOC_BUFFER_LENGTH] = {};
  uint32_t received = 0;
  ReadToc(toc, TOC_BUFFER_LENGTH, 0, true, &received);
  const std::string problem = toc_problem(toc, received);
  if (!problem.empty())
    raise_message(
        MSG_TEXT, 1, MSG_TEXT, 1,
        format_text("Invalid table of contents on device %u:%u:%u", host_adapter, target, lun),
        problem);

  layout->first_track = 0;
  layout->track_count = 0;
  layout->layout_flags = 0;
  layout->leadout_position = 0;
  layout->catalog_number.fill(0);
  layout->tracks.fill(TrackEntry{});

  unsigned tracks = 0;
  for (unsigned i = 0; i < MAX_TRACK_ENTRIES; ++i) {
    const uint8_t* descriptor = toc + TOC_HEADER_LENGTH + i * TOC_DESCRIPTOR_LENGTH;
    TrackEntry& entry = layout->tracks[i];
    entry.track_number = descriptor_track(descriptor);
    entry.start = get_be32(descriptor + 4);
    entry.track_flags = flags_from_control(descriptor[1] & 0x0F);
    entry.read_from_disc = 1;
    if (entry.track_number == LEADOUT_TRACK) {
      layout->leadout_position = entry.start;
      break;
    }
    ++tracks;
    if ((entry.track_flags & TRACK_DATA) && detect_modes) {
      SetBlockLengthNamed(SECTOR_KIND_DATA, MODE_PROBE_BLOCK, true);
      // 12 bytes in, so that the sector lines up with a raw sector.
      uint8_t sector[RAW_SECTOR_SIZE] = {};
      if (ReadDataSectors(sector + 12, MODE_PROBE_BLOCK, 1, entry.start, false) == 1)
        entry.sector_mode = sector[15];
    }
    if (want_isrc && ReadTrackIsrc(entry.track_number, entry.isrc.data(), false) == 1)
      entry.track_flags |= TRACK_ISRC;
  }
  layout->track_count = static_cast<uint8_t>(tracks);
  // Tracks keep their own numbers; a disc that starts above track 1 says so.
  layout->first_track = layout->tracks[0].track_number;
  if (want_mcn && ReadCatalogNumber(layout->catalog_number.data(), false) == 1)
    layout->layout_flags |= LAYOUT_MCN;
}

uint32_t CdReader::FindLastReadable(bool audio, uint32_t block_size) {
  uint32_t last = 0;
  ReadCapacity(&last, nullptr, true);
  if (audio) {
    SetBlockLengthNamed(SECTOR_KIND_AUDIO, 2352, true);
  } else {
    SetBlockLengthNamed(SECTOR_KIND_DATA, block_size, true);
  }
  // A disc shorter than the window is searched from its first sector.
  const uint32_t first = last >= LAST_SECTOR_WINDOW - 1 ? last - (LAST_SECTOR_WINDOW - 1) : 0;
  uint32_t answer = last;
  bool first_failed = false;
  std::vector<uint8_t> buffer(audio ? 2352 : block_size);
  for (uint32_t lba = first; lba != last + 1; ++lba) {
    const ResultCode result = audio ? ReadAudioSectors(buffer.data(), 1, lba, SUBCODE_NONE, false)
                                    : ReadDataSectors(buffer.data(), block_size, 1, lba, false);
    if (result != 1) {
      first_failed = lba == first;
      answer = lba - 1;
      break;
    }
  }
  if (first_failed) raise_message(MSG_NO_LAST_READABLE, 0, 0, 0);
  return answer;
}

uint32_t CdReader::FindLastReadableSector(bool audio) { return FindLastReadable(audio, 2352); }

uint32_t CdReader::FindLastReadableDataSector(uint32_t block_size) {
  return FindLastReadable(false, block_size);
}

std::vector<SessionGap> session_gaps(CdReader& reader, const DiscLayout& layout) {
  std::vector<SessionGap> gaps;
  if (layout.track_count < 2) return gaps;
  uint8_t answer[SESSION_ANSWER_LENGTH] = {};
  uint32_t received = 0;
  const bool sessions_told =
      reader.ReadTocRaw(answer, SESSION_ANSWER_LENGTH, TOC_FORMAT_SESSIONS, &received) == 1 &&
      received >= SESSION_ANSWER_LENGTH;
  bool earlier = false;  // a session boundary lies before this one
  for (unsigned i = 0; i + 1 < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    const TrackEntry& next = layout.tracks[i + 1];
    uint32_t gap = 0;
    if (sessions_told) {
      // The first track of the last session; earlier sessions are not listed.
      const uint8_t last_session = answer[3];
      if (last_session >= 2 && answer[6] == next.track_number && get_be32(answer + 8) == next.start)
        gap = last_session == 2 ? FIRST_SESSION_GAP : LATER_SESSION_GAP;
    } else if (!(track.track_flags & TRACK_DATA) && (next.track_flags & TRACK_DATA)) {
      // A data track after an audio track opens a session of its own.
      gap = earlier ? LATER_SESSION_GAP : FIRST_SESSION_GAP;
      earlier = true;
    }
    if (gap != 0 && next.start - track.start > gap)
      gaps.push_back(SessionGap{next.start - gap, next.start - PREGAP_FRAMES - 1, i + 1});
  }
  return gaps;
}

uint32_t track_last_sector(CdReader& reader, const DiscLayout& layout, unsigned index) {
  const uint32_t next = layout.tracks[index + 1].start;
  if (index + 1 >= layout.track_count) return next - 1;
  for (const SessionGap& gap : session_gaps(reader, layout))
    if (gap.next_track == index + 1) return gap.first - 1;
  return next - 1;
}

void reset_reader(CdReader& reader, bool announce) {
  if (announce) out_text("Resetting CDROM device... Please wait...");
  std::fflush(stdout);
  reader.Reset();
  platform_sleep(RESET_PAUSE_MS);
  if (announce) out_text("\n\n");
}

// The Yamaha family's recording slots, its drive cue sheet and the lead-out
// wait of disc-at-once recording.
#include "drivers/yamaha_recorder.h"

#include <algorithm>

#include "common/byteorder.h"
#include "common/console.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/recording_events.h"
#include "drivers/track_commands.h"

namespace {

constexpr uint8_t OP_WRITE_TRACK = 0xE6;
constexpr uint8_t OP_WRITE_TOC = 0xEA;

constexpr uint8_t SPEED_PAGE = 0x31;
constexpr uint8_t WRITE_MODE_PAGE = 0x32;
constexpr uint8_t DISC_AT_ONCE_MODE = 4;

// Highest speed value of page 0x31 (0, 1, 2: 1x, 2x, 4x).
constexpr uint8_t MAX_SPEED_VALUE = 2;

constexpr unsigned BUSY_PAUSE_MS = 100;
constexpr int BUSY_TRIES = 600;  // a minute of pauses
constexpr unsigned LEADOUT_PAUSE_MS = 5000;
constexpr int LEADOUT_PAUSES = 61;

// Address kinds of a cue sheet entry (low nibble of byte 0).
constexpr uint8_t ENTRY_POSITION = 1;
constexpr uint8_t ENTRY_CATALOG = 2;
constexpr uint8_t ENTRY_ISRC = 3;
constexpr std::size_t ENTRY_SIZE = 8;

// Data form of a track type; -1 above 3.
int data_form(TrackType type) {
  switch (type) {
    case TrackType::Audio: return 0;
    case TrackType::Mode1: return 2;
    case TrackType::Mode2: return 5;
    case TrackType::Cdi: return 4;
  }
  return -1;
}

// Block format: what the blocks of the track hold besides a raw sector.
uint8_t block_format(const TrackEntry& track) {
  switch (track.track_type) {
    case TrackType::Audio: return track.block_size == 2448 ? 0x30 : 0;
    case TrackType::Mode1: return track.block_size == DATA_BLOCK_SIZE ? 3 : 0;
    default: return track.block_size == MODE2_BODY_SIZE ? 3 : 0;
  }
}

}  // namespace

std::vector<uint8_t> yamaha_cue_sheet(const DiscLayout& layout) {
  if (layout.track_count == 0 || layout.cuepoint_count == 0) return {};
  for (unsigned t = 0; t < layout.track_count; ++t)
    if (data_form(layout.tracks[t].track_type) < 0) return {};
  std::vector<uint8_t> sheet;
  auto entry = [&sheet](uint8_t control, uint8_t kind) {
    sheet.resize(sheet.size() + ENTRY_SIZE);
    uint8_t* e = &sheet[sheet.size() - ENTRY_SIZE];
    e[0] = static_cast<uint8_t>(control << 4 | kind);
    return e;
  };
  if (layout.layout_flags & LAYOUT_MCN) {
    std::copy_n(layout.catalog_number.begin(), 7, entry(0, ENTRY_CATALOG) + 1);
    std::copy_n(layout.catalog_number.begin() + 7, 6, entry(0, ENTRY_CATALOG) + 1);
  }
  const TrackEntry* track = &layout.tracks[0];
  uint8_t control = track_control_nibble(track->track_flags);
  auto form = static_cast<uint8_t>(data_form(track->track_type));
  entry(control, ENTRY_POSITION)[3] = form;  // the lead-in
  uint8_t format = 0;
  uint8_t current = 0;
  unsigned next_track = 0;
  for (unsigned i = 0; i < layout.cuepoint_count; ++i) {
    const CuePoint& point = layout.cuepoints[i];
    auto position = [&](uint8_t index, uint8_t this_format) {
      uint8_t* e = entry(control, ENTRY_POSITION);
      e[1] = point.track;
      e[2] = index;
      e[3] = form;
      e[4] = this_format;
      e[5] = bin_to_bcd(point.minute);
      e[6] = bin_to_bcd(point.second);
      e[7] = bin_to_bcd(point.frame);
    };
    if (point.track != current && point.track != LEADOUT_TRACK && next_track < layout.track_count) {
      track = &layout.tracks[next_track++];
      current = point.track;
      control = track_control_nibble(track->track_flags);
      form = static_cast<uint8_t>(data_form(track->track_type));
      format = block_format(*track);
      if (track->track_flags & TRACK_ISRC) {
        for (std::size_t half = 0; half < 2; ++half) {
          uint8_t* e = entry(control, ENTRY_ISRC);
          e[1] = point.track;
          std::copy_n(track->isrc.begin() + 6 * half, 6, e + 2);
        }
      }
      if (point.index != 0) position(0, format);
    }
    position(point.index, point.track == LEADOUT_TRACK ? 0 : format);
  }
  return sheet;
}

ResultCode YamahaRecorder::CloseTrack() { return SynchronizeCacheRaw(); }

ResultCode YamahaRecorder::FinalizeDisc(uint8_t close_mode, uint8_t session) {
  return send_fixation(*this, close_mode, session);
}

ResultCode YamahaRecorder::OpenTrack(const TrackEntry& track) {
  return send_write_track(*this, track, true);
}

ResultCode YamahaRecorder::SetWritingBlockLength(uint8_t /*track_type*/, uint16_t /*block_size*/) {
  return 1;
}

ResultCode YamahaRecorder::SendSpeedPage(uint8_t value) {
  uint8_t data[8] = {0, 0, 0, 0, SPEED_PAGE, 2, 0, value};
  return ModeSelectRaw(data, sizeof data, true);
}

ResultCode YamahaRecorder::SetWritingSpeed(uint8_t speed, uint8_t test) {
  const uint8_t value = std::min<uint8_t>({speed, maxWriteSpeed, MAX_SPEED_VALUE});
  return SendSpeedPage(static_cast<uint8_t>(value << 4 | (test ? 1 : 0)));
}

ResultCode YamahaRecorder::SetReadingSpeed(uint8_t speed) {
  const uint8_t value = std::min<uint8_t>({speed, maxRecorderReadSpeed, MAX_SPEED_VALUE});
  return SendSpeedPage(static_cast<uint8_t>(value << 4));
}

ResultCode YamahaRecorder::Write(uint8_t* buffer, uint16_t block_size, uint16_t count,
                                 int32_t address) {
  ResultCode result = WriteRaw(buffer, block_size, count, static_cast<uint32_t>(address), 0);
  for (int tries = 1; result == MSG_DEVICE_BUSY && tries < BUSY_TRIES; ++tries) {
    platform_sleep(BUSY_PAUSE_MS);
    result = WriteRaw(buffer, block_size, count, static_cast<uint32_t>(address), 0);
  }
  return result;
}

ResultCode YamahaRecorder::BeginDiscAtOnce(const DiscAtOnceJob& job) {
  std::vector<uint8_t> sheet = yamaha_cue_sheet(*job.layout);
  // A sheet that cannot be built would leave the drive without one while
  // the files are streamed: refuse it before anything is sent.
  if (sheet.empty()) CheckNamed(MSG_BUGCHECK, "WRITE TOC", true);
  uint8_t page[12] = {0, 0, 0, 0, WRITE_MODE_PAGE, 6, 0, DISC_AT_ONCE_MODE};
  ModeSelectRaw(page, sizeof page, true);
  uint8_t toc_cdb[10] = {OP_WRITE_TOC, LunBits()};
  put_be16(toc_cdb + 7, static_cast<uint32_t>(sheet.size()));
  CheckNamed(Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, toc_cdb, 10, sheet.data(),
                     static_cast<uint32_t>(sheet.size())),
             "WRITE TOC", true);
  const uint8_t track_cdb[10] = {OP_WRITE_TRACK, LunBits()};
  CheckNamed(Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, track_cdb, 10, nullptr, 0), "WRITE TRACK",
             true);
  nextWriteAddress = -150;
  return 1;
}

ResultCode YamahaRecorder::EndDiscAtOnce(uint8_t progress) {
  SynchronizeCache(true);
  if (progress) notify_event(EVENT_LEADOUT_START);
  bool writing = true;
  for (int pauses = 0; pauses < LEADOUT_PAUSES && writing; ++pauses) {
    writing = TestUnitReadyRaw() == MSG_ABORTED_COMMAND;
    if (writing) platform_sleep(LEADOUT_PAUSE_MS);
  }
  // The last pause gets one more look; a drive still busy has not closed the disc.
  if (writing) writing = TestUnitReadyRaw() == MSG_ABORTED_COMMAND;
  if (progress) notify_event(EVENT_LEADOUT_END);
  if (writing)
    raise_message(MSG_TEXT, 1, 0, 0,
                  format_text("The CD-Recorder was still writing the lead-out after %u seconds: "
                              "the disc is not finished",
                              LEADOUT_PAUSES * LEADOUT_PAUSE_MS / 1000));
  return 1;
}

// The reporting wrappers of the recording slots, the gap writer and the
// table of recorder model classes.
#include "drivers/recorder_driver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/console.h"
#include "common/msgvec.h"
#include "common/sector.h"
#include "drivers/recording_events.h"

namespace {

constexpr int WRITE_TRIES = 5;
constexpr unsigned WRITE_RETRY_PAUSE_MS = 50;
// READ TOC's header: length, first and last track.
constexpr uint16_t TOC_HEADER_BYTES = 4;

// Capability word and speed limits of every recorder model class.
constexpr RecorderProfile RECORDER_PROFILES[] = {
    // class, RecorderCaps, maxWriteSpeed, maxRecorderReadSpeed, maxReadSpeed, readerCaps,
    // defaultBlockLength
    {2, 0x1B, SPEED_6X, 3, 1, 0x01, 2352},   // Philips
    {6, 0x01, SPEED_2X, 1, 0, 0x00, 2352},   // Philips, track-at-once only
    {7, 0x1B, SPEED_2X, 1, 1, 0x01, 2352},   // Philips
    {8, 0x1B, SPEED_2X, 2, 2, 0x01, 2352},   // Philips
    {9, 0x1B, SPEED_2X, 3, 3, 0x01, 2352},   // Philips
    {12, 0x19, SPEED_2X, 2, 1, 0x01, 2352},  // Philips
    {14, 0x0B, SPEED_2X, 2, 1, 0x01, 2352},  // Philips
    {10, 0x1B, SPEED_2X, 1, 1, 0x07, 2340},  // JVC
    {11, 0x1B, SPEED_2X, 2, 1, 0x07, 2340},  // JVC
    {18, 0x1F, SPEED_4X, 2, 2, 0x07, 2352},  // JVC
    {13, 0x01, SPEED_2X, 1, 1, 0x01, 2048},  // Ricoh
    {15, 0x0E, SPEED_2X, 1, 1, 0x01, 2352},  // Sony
    {16, 0x03, SPEED_2X, 1, 1, 0x07, 2352},  // Sony
    {17, 0x03, SPEED_2X, 2, 2, 0x07, 2352},  // Sony
    {19, 0x0F, SPEED_4X, 2, 1, 0x03, 2352},  // Yamaha
    {20, 0x0F, SPEED_2X, 2, 1, 0x03, 2352},  // Yamaha
};

bool begins_with_sync(const uint8_t* block) {
  return std::memcmp(block, SECTOR_SYNC.data(), SECTOR_SYNC.size()) == 0;
}

}  // namespace

ResultCode RecorderDriver::CloseTrackNamed(bool raise) {
  return CheckNamed(CloseTrack(), "CLOSE TRACK", raise);
}

ResultCode RecorderDriver::FinalizeDiscNamed(uint8_t close_mode, uint8_t session, bool progress,
                                             bool raise) {
  if (progress) notify_event(EVENT_FINALIZE_START, {session});
  const ResultCode result = FinalizeDisc(close_mode, session);
  if (progress) notify_event(EVENT_FINALIZE_END);
  return CheckNamed(result, "FINALIZE DISC", raise);
}

ResultCode RecorderDriver::OpenTrackNamed(const TrackEntry& track, bool raise) {
  return CheckNamed(OpenTrack(track), "OPEN TRACK", raise);
}

ResultCode RecorderDriver::SetWritingBlockLengthNamed(uint8_t track_type, uint16_t block_size,
                                                      bool raise) {
  return CheckNamed(SetWritingBlockLength(track_type, block_size), "SET WRITING BLOCK LENGTH",
                    raise);
}

ResultCode RecorderDriver::SetWritingSpeedNamed(uint8_t speed, uint8_t test, bool raise) {
  return CheckNamed(SetWritingSpeed(speed, test), "SET WRITING SPEED", raise);
}

ResultCode RecorderDriver::WriteNamed(uint8_t* buffer, uint16_t block_size, uint16_t count,
                                      int32_t address, bool raise) {
  if (block_size == RAW_SECTOR_SIZE && count > 0 && begins_with_sync(buffer))
    for (uint32_t i = 0; i < count; ++i)
      transform_sector(buffer + i * RAW_SECTOR_SIZE, false, false, true);
  ResultCode result = Write(buffer, block_size, count, address);
  for (int attempt = 1; attempt < WRITE_TRIES && result == MSG_ABORTED_COMMAND; ++attempt) {
    platform_sleep(WRITE_RETRY_PAUSE_MS);
    result = Write(buffer, block_size, count, address);
  }
  if (result == 1) nextWriteAddress += count;
  return CheckNamed(result, "WRITE", raise);
}

ResultCode RecorderDriver::ReadLastTrack(uint8_t* last) {
  *last = 0;
  const ResultCode ready = TestUnitReady(false);
  return ready == 1 ? LastTrackFromToc(last) : ready;
}

ResultCode RecorderDriver::LastTrackFromToc(uint8_t* last) {
  *last = 0;
  uint8_t toc[TOC_HEADER_BYTES] = {};
  uint32_t received = 0;
  const ResultCode result = ReadTocRaw(toc, sizeof toc, 0, &received);
  if (result == MSG_BLANK_CHECK) return 1;
  if (result != 1) return result;
  if (received >= 4 && toc[2] != 0 && toc[2] <= toc[3]) *last = toc[3];
  return 1;
}

bool RecorderDriver::FreeBlocks(uint32_t* /*blocks*/, bool* /*blank*/) { return false; }

bool RecorderDriver::NextTrackAddress(int32_t* /*lba*/) { return false; }

ResultCode RecorderDriver::BlankDisc(bool /*full*/, const std::function<void(unsigned)>&) {
  return CheckNamed(MSG_BUGCHECK, "BLANK", true);
}

void write_gap_blocks(RecorderDriver& recorder, TrackType type, uint32_t count, uint16_t block_size,
                      bool leadin_marking, uint8_t* scratch) {
  if (count == 0 || block_size == 0) return;
  std::unique_ptr<uint8_t, decltype(&std::free)> owned(nullptr, &std::free);
  if (scratch == nullptr) {
    owned.reset(static_cast<uint8_t*>(allocate_or_exit(MAX_TRANSFER_BYTES, false)));
    scratch = owned.get();
  }
  const uint32_t per_chunk = MAX_TRANSFER_BYTES / block_size;
  const bool build = type != TrackType::Audio && block_size == RAW_SECTOR_SIZE;
  const SectorType sector_type = type == TrackType::Mode1 ? SECTOR_MODE1 : SECTOR_MODE2_FORM2;
  for (uint32_t done = 0; done < count;) {
    const auto n = static_cast<uint16_t>(std::min(count - done, per_chunk));
    if (build) {
      for (uint16_t i = 0; i < n; ++i)
        build_sector(scratch + i * RAW_SECTOR_SIZE, sector_type, recorder.nextWriteAddress + i,
                     nullptr, nullptr, true, leadin_marking, false);
    } else {
      // A family may rewrite what it sends in place: zero every chunk.
      std::memset(scratch, 0, std::size_t{n} * block_size);
    }
    write_blocks(recorder, scratch, block_size, n, 0, true);
    done += n;
  }
}

uint8_t track_control_nibble(uint8_t track_flags) {
  return static_cast<uint8_t>(
      ((track_flags & TRACK_PRE) ? 0x01 : 0) | ((track_flags & TRACK_DCP) ? 0x02 : 0) |
      ((track_flags & TRACK_DATA) ? 0x04 : 0) | ((track_flags & TRACK_4CH) ? 0x08 : 0));
}

void pack_nibbles(const char* text, std::size_t count, uint8_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const auto nibble = static_cast<uint8_t>(text[i] & 0x0F);
    out[i / 2] = static_cast<uint8_t>(out[i / 2] | (i % 2 == 0 ? nibble << 4 : nibble));
  }
}

const RecorderProfile* recorder_profile(uint8_t model_code) {
  for (const RecorderProfile& profile : RECORDER_PROFILES)
    if (profile.model_code == model_code) return &profile;
  return nullptr;
}

void apply_recorder_profile(RecorderDriver& recorder, uint8_t model_code) {
  const RecorderProfile* profile = recorder_profile(model_code);
  if (profile == nullptr) return;
  recorder.RecorderCaps = profile->recorder_caps;
  recorder.maxWriteSpeed = profile->max_write_speed;
  recorder.maxRecorderReadSpeed = profile->max_recorder_read_speed;
  if (profile->max_read_speed != 0) recorder.maxReadSpeed = profile->max_read_speed;
  recorder.readerCaps = profile->reader_caps;
  recorder.defaultBlockLength = profile->default_block_length;
}

// The recorder interface: the model classes the factory creates with their
// fields, the reporting wrappers (scrambling, WRITE retries, FINALIZE DISC
// events on failure) and the gap writer's sectors.
#include "drivers/recorder_driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "common/sector.h"
#include "common/timecode.h"
#include "drivers/driver_factory.h"
#include "drivers/recording_events.h"
#include "support/recorder_fakes.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::EventLog;
using cdm_test::FakeRecorder;
using cdm_test::raised_text;
using cdm_test::valid_mode1_sector;
using Bytes = std::vector<uint8_t>;

struct ProfileCase {
  uint8_t code;
  uint16_t caps;
  uint8_t write_speed, recorder_read_speed, read_speed;
  uint16_t reader_caps;
};

TEST(RecorderModels, FactoryCreatesEachPhilipsClassWithItsFields) {
  const ProfileCase cases[] = {
      {2, 0x1B, 3, 3, 1, 0x01},  {6, 0x01, 1, 1, 1, 0x00}, {7, 0x1B, 1, 1, 1, 0x01},
      {8, 0x1B, 1, 2, 2, 0x01},  {9, 0x1B, 1, 3, 3, 0x01}, {12, 0x19, 1, 2, 1, 0x01},
      {14, 0x0B, 1, 2, 1, 0x01},
  };
  for (const ProfileCase& c : cases) {
    std::unique_ptr<ScsiDevice> device = create_driver(c.code);
    auto* recorder = dynamic_cast<RecorderDriver*>(device.get());
    ASSERT_NE(recorder, nullptr) << int{c.code};
    EXPECT_EQ(recorder->RecorderCaps, c.caps) << int{c.code};
    EXPECT_EQ(recorder->maxWriteSpeed, c.write_speed) << int{c.code};
    EXPECT_EQ(recorder->maxRecorderReadSpeed, c.recorder_read_speed) << int{c.code};
    EXPECT_EQ(recorder->maxReadSpeed, c.read_speed) << int{c.code};
    EXPECT_EQ(recorder->readerCaps, c.reader_caps) << int{c.code};
    EXPECT_EQ(recorder->defaultBlockLength, 2352) << int{c.code};
  }
  // Recorders without a recorder driver read only; readers, disks and the
  // transporter are no recorders either.
  for (uint8_t code : Bytes{0, 1, 3, 4, 5, 21, 35}) {
    std::unique_ptr<ScsiDevice> device = create_driver(code);
    EXPECT_EQ(dynamic_cast<RecorderDriver*>(device.get()), nullptr) << int{code};
    EXPECT_EQ(dynamic_cast<CdReader*>(device.get()) != nullptr, code != 0 && code != 3);
  }
}

TEST(RecorderWrappers, ReportUnderTheirNames) {
  FakeRecorder recorder;
  TrackEntry track;
  uint8_t block[2048] = {};
  const struct {
    const char* name;
    std::function<ResultCode(bool)> call;
  } cases[] = {
      {"CLOSE TRACK", [&](bool raise) { return recorder.CloseTrackNamed(raise); }},
      {"OPEN TRACK", [&](bool raise) { return recorder.OpenTrackNamed(track, raise); }},
      {"SET WRITING BLOCK LENGTH",
       [&](bool raise) { return recorder.SetWritingBlockLengthNamed(1, 2048, raise); }},
      {"SET WRITING SPEED", [&](bool raise) { return recorder.SetWritingSpeedNamed(1, 0, raise); }},
      {"FINALIZE DISC", [&](bool raise) { return recorder.FinalizeDiscNamed(1, 0, false, raise); }},
      {"WRITE", [&](bool raise) { return recorder.WriteNamed(block, 2048, 1, 0, raise); }},
  };
  for (const auto& c : cases) {
    recorder.results = {MSG_ILLEGAL_REQUEST};
    EXPECT_EQ(raised_text([&] { c.call(true); }),
              std::string("\nError: '") + c.name +
                  "' command failed on device 2:5:0\nIllegal command request\n");
    recorder.results = {MSG_ILLEGAL_REQUEST};
    EXPECT_EQ(c.call(false), MSG_ILLEGAL_REQUEST) << c.name;
  }
}

TEST(RecorderWrappers, FinalizeSendsBothEventsEvenWhenTheDriveFails) {
  FakeRecorder recorder;
  EventLog log;
  recorder.results = {MSG_MEDIUM_ERROR};
  EXPECT_NE(raised_text([&] { recorder.FinalizeDiscNamed(1, 1, true, true); }), "");
  EXPECT_EQ(log.types, (std::vector<uint16_t>{EVENT_FINALIZE_START, EVENT_FINALIZE_END}));
  log.types.clear();
  recorder.FinalizeDiscNamed(1, 0, false, true);  // no progress: no events
  EXPECT_TRUE(log.types.empty());
}

// A buffer of `count` raw Mode 1 sectors, or of audio bytes.
Bytes raw_blocks(unsigned count, bool data) {
  Bytes buffer(count * RAW_SECTOR_SIZE);
  for (std::size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 7 + 3);
  const Bytes user_data(2048, 0x5A);
  if (data)
    for (unsigned b = 0; b < count; ++b)
      build_sector(&buffer[b * RAW_SECTOR_SIZE], SECTOR_MODE1, static_cast<int32_t>(b), nullptr,
                   user_data.data(), false, false, false);
  return buffer;
}

TEST(RecorderWrappers, WriteScramblesOnlyBuffersThatBeginWithTheSync) {
  struct Case {
    const char* what;
    Bytes buffer;
    uint16_t block_size;
    bool scrambled;
  };
  Bytes audio_with_sync_later = raw_blocks(2, false);
  std::memcpy(&audio_with_sync_later[RAW_SECTOR_SIZE], SECTOR_SYNC.data(), 12);
  const Case cases[] = {
      {"data sectors", raw_blocks(3, true), 2352, true},
      {"audio", raw_blocks(3, false), 2352, false},
      {"sync in the second block only", audio_with_sync_later, 2352, false},
      {"2048-byte blocks", Bytes(2 * 2048, 0), 2048, false},
  };
  for (Case c : cases) {
    FakeRecorder recorder;
    recorder.nextWriteAddress = 10;
    Bytes expected = c.buffer;
    if (c.scrambled)
      for (std::size_t at = 0; at < expected.size(); at += RAW_SECTOR_SIZE)
        for (std::size_t i = 12; i < RAW_SECTOR_SIZE; ++i) expected[at + i] ^= SCRAMBLER_TABLE[i];
    const auto count = static_cast<uint16_t>(c.buffer.size() / c.block_size);
    EXPECT_EQ(recorder.WriteNamed(c.buffer.data(), c.block_size, count, 0, true), 1);
    ASSERT_EQ(recorder.writes.size(), 1u) << c.what;
    EXPECT_EQ(recorder.writes[0], expected) << c.what;
    EXPECT_EQ(recorder.nextWriteAddress, 10 + count) << c.what;
  }
}

TEST(RecorderWrappers, WriteRetriesAbortedCommandsFiveTimesAtMost) {
  struct Case {
    std::vector<ResultCode> results;
    ResultCode outcome;
    std::size_t calls;
    std::vector<unsigned> pauses;
    int32_t next_address;
  };
  const Case cases[] = {
      // four aborts, then success: the count is added once
      {{-32, -32, -32, -32, 1}, 1, 5, {50, 50, 50, 50}, 100 + 3},
      // five aborts: the fifth result stands, 200 ms of pauses
      {{-32, -32, -32, -32, -32, 1}, -32, 5, {50, 50, 50, 50}, 100},
      // any other failure ends the loop at once
      {{-32, -28, 1}, -28, 2, {50}, 100},
  };
  for (const Case& c : cases) {
    cdm_test::SleepRecorder sleeps;
    FakeRecorder recorder;
    recorder.nextWriteAddress = 100;
    recorder.results = c.results;
    Bytes buffer(3 * 2048, 0x11);
    EXPECT_EQ(recorder.WriteNamed(buffer.data(), 2048, 3, 0, false), c.outcome);
    EXPECT_EQ(recorder.writes.size(), c.calls);
    EXPECT_EQ(sleeps.pauses, c.pauses);
    EXPECT_EQ(recorder.nextWriteAddress, c.next_address);
  }
  FakeRecorder recorder;
  cdm_test::SleepRecorder sleeps;
  recorder.results = {-32, -32, -32, -32, -32};
  Bytes buffer(2048);
  EXPECT_EQ(raised_text([&] { recorder.WriteNamed(buffer.data(), 2048, 1, 0, true); }),
            "\nError: 'WRITE' command failed on device 2:5:0\nDevice aborted command\n");
}

// The sector as it was before the wrapper scrambled it.
Bytes descrambled(const Bytes& block) {
  Bytes out = block;
  transform_sector(out.data(), false, false, true);
  return out;
}

TEST(GapWriter, BuildsDataSectorsAtTheNextAddressesAndZerosOtherwise) {
  struct Case {
    TrackType type;
    uint16_t block_size;
    bool leadin;
    std::vector<std::size_t> chunks;  // blocks per WRITE
    uint8_t mode;                     // 0: zero blocks
  };
  const Case cases[] = {
      {TrackType::Mode1, 2352, false, {27, 3}, 1}, {TrackType::Mode1, 2352, true, {27, 3}, 1},
      {TrackType::Mode2, 2352, false, {27, 3}, 2}, {TrackType::Cdi, 2352, true, {27, 3}, 2},
      {TrackType::Audio, 2352, false, {27, 3}, 0}, {TrackType::Mode1, 2048, false, {30}, 0},
      {TrackType::Mode2, 2336, false, {27, 3}, 0}, {TrackType::Audio, 2448, false, {26, 4}, 0},
  };
  for (const Case& c : cases) {
    FakeRecorder recorder;
    recorder.nextWriteAddress = 4335;  // 00:59:60 onwards: the minute changes
    write_gap_blocks(recorder, c.type, 30, c.block_size, c.leadin);
    ASSERT_EQ(recorder.writes.size(), c.chunks.size());
    int32_t lba = 4335;
    for (std::size_t w = 0; w < c.chunks.size(); ++w) {
      ASSERT_EQ(recorder.writes[w].size(), c.chunks[w] * c.block_size);
      for (std::size_t b = 0; b < c.chunks[w]; ++b, ++lba) {
        const Bytes block(recorder.writes[w].begin() + b * c.block_size,
                          recorder.writes[w].begin() + (b + 1) * c.block_size);
        if (c.mode == 0) {
          EXPECT_EQ(block, Bytes(c.block_size, 0));
          continue;
        }
        const Bytes sector = descrambled(block);
        EXPECT_TRUE(std::equal(SECTOR_SYNC.begin(), SECTOR_SYNC.end(), sector.begin()));
        const MsfTime msf = lba_to_msf(lba);
        EXPECT_EQ(sector[12], static_cast<uint8_t>(bin_to_bcd(msf.minute) + (c.leadin ? 0xA0 : 0)))
            << lba;
        EXPECT_EQ(sector[13], bin_to_bcd(msf.second));
        EXPECT_EQ(sector[14], bin_to_bcd(msf.frame));
        EXPECT_EQ(sector[15], c.mode);
        if (c.mode == 1) {
          EXPECT_TRUE(valid_mode1_sector(sector.data())) << lba;
        } else {
          EXPECT_EQ(sector[18], SUBMODE_FORM2);  // form 2 subheader
        }
      }
    }
    EXPECT_EQ(recorder.nextWriteAddress, 4335 + 30);
  }
}

}  // namespace

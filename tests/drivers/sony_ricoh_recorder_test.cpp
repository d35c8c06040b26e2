// The Sony and Ricoh recorder families through a transport that records
// every command: the exact bytes of their commands, pages and the Sony
// drive cue sheet, and the two finished operations the Sony drives report
// as failures.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "drivers/driver_factory.h"
#include "drivers/ricoh_recorder.h"
#include "drivers/sony_recorder.h"
#include "layout/cue_sheet.h"
#include "support/cue_images.h"
#include "support/raised.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::check_reply;
using cdm_test::good_reply;
using cdm_test::raised_text;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using Bytes = std::vector<uint8_t>;

RecorderDriver& recorder(const std::unique_ptr<ScsiDevice>& device) {
  return static_cast<RecorderDriver&>(*device);
}

// MODE SENSE(6)'s answer: header, an 8-byte block descriptor, then the page.
cdm_test::ScriptedReply page_reply(Bytes page) {
  Bytes data = {static_cast<uint8_t>(11 + page.size()), 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0};
  data.insert(data.end(), page.begin(), page.end());
  return good_reply(data);
}

// A page of `length` bytes whose bytes after the header count up from 1.
Bytes counting_page(uint8_t code, uint8_t length, bool savable) {
  Bytes page(length);
  page[0] = static_cast<uint8_t>(code | (savable ? 0x80 : 0));
  page[1] = static_cast<uint8_t>(length - 2);
  for (uint8_t i = 2; i < length; ++i) page[i] = i;
  return page;
}

// CD+G with an ISRC, Mode 1/2048 with a generated pregap, audio with two
// indexes and flags, Mode 2/2336; a catalog number.
const char SHEET[] =
    "CATALOG 0123456789012\n"
    "FILE cdg.bin BINARY\n"
    "  TRACK 01 CDG\n"
    "    ISRC USABC9600001\n"
    "    INDEX 01 00:00:00\n"
    "FILE mode1.bin BINARY\n"
    "  TRACK 02 MODE1/2048\n"
    "    PREGAP 00:00:10\n"
    "    INDEX 01 00:00:00\n"
    "FILE audio100.bin BINARY\n"
    "  TRACK 03 AUDIO\n"
    "    FLAGS DCP PRE\n"
    "    INDEX 01 00:00:00\n"
    "    INDEX 02 00:00:50\n"
    "FILE mode2.bin BINARY\n"
    "  TRACK 04 MODE2/2336\n"
    "    INDEX 01 00:00:00\n";

TEST(SonyDiscAtOnce, CueSheetHasEveryCuepointAndCodesOnlyWhereTheClassTakesThem) {
  ScratchDirectory scratch;
  write_cue_fixture_images(scratch.path());
  std::unique_ptr<CueSheetLayout> sheet = parse_cue_sheet_text(SHEET, scratch.path());
  const Bytes positions = {
      0x01, 0x00, 0x00, 0x00, 0, 0x00, 0x00, 0x00,  // lead-in: audio first
      0x01, 0x01, 0x00, 0xC1, 0, 0x00, 0x00, 0x00,  // 1.0 CD+G
      0x01, 0x01, 0x01, 0xC1, 0, 0x00, 0x02, 0x00,  // 1.1
      0x41, 0x02, 0x00, 0x11, 0, 0x00, 0x02, 0x10,  // 2.0 Mode 1 user data
      0x41, 0x02, 0x01, 0x11, 0, 0x00, 0x02, 0x20,  // 2.1
      0x31, 0x03, 0x01, 0x01, 0, 0x00, 0x02, 0x30,  // 3.1 audio, copy permitted, pre-emphasis
      0x31, 0x03, 0x02, 0x01, 0, 0x00, 0x03, 0x05,  // 3.2
      0x41, 0x04, 0x01, 0x24, 0, 0x00, 0x03, 0x55,  // 4.1 Mode 2 body
      0x41, 0xAA, 0x01, 0x20, 0, 0x00, 0x04, 0x00,  // lead-out after a Mode 2 track
  };
  Bytes with_codes = positions;
  const Bytes codes = {
      0x02, 0x01, 0x23, 0x45, 0x67, 0x89, 0x01, 0x20,  // catalog number
      0x03, 0x01, 0x00, 'U',  'S',  'A',  'B',  'C',   // ISRC of track 1
      0x03, 0x01, 0x00, 0x00, 0x96, 0x00, 0x00, 0x10,
  };
  with_codes.insert(with_codes.end(), codes.begin(), codes.end());
  const struct {
    uint8_t model;
    Bytes write_start;  // WRITE START's command block
    Bytes sheet;
  } cases[] = {
      {15, {0xE0, 0x10, 0, 96, 0, 0, 0, 0, 0, 0}, with_codes},
      {16, {0xE0, 0x00, 0, 72, 0, 0, 0, 0, 0, 0}, positions},
      {17, {0xE0, 0x00, 0, 72, 0, 0, 0, 0, 0, 0}, positions},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.model));
    ScopedTransport<RecordingTransport> transport;
    transport->push_reply(page_reply(counting_page(0x22, 32, true)));
    std::unique_ptr<ScsiDevice> device = create_driver(c.model);
    DiscAtOnceJob job;
    job.layout = sheet->layout.get();
    EXPECT_EQ(recorder(device).BeginDiscAtOnce(job), 1);
    EXPECT_EQ(recorder(device).nextWriteAddress, -150);
    const std::vector<cdm_test::RecordedCommand>& sent = transport->commands;
    if (c.model != 15) {
      // PrepareDiscAtOnce: page 22h read and sent back with its byte 2 cleared.
      ASSERT_EQ(sent.size(), 3u);
      EXPECT_EQ(sent[0].cdb, Bytes({0x1A, 0, 0x22, 0, 44, 0}));  // MODE SENSE(6)
      EXPECT_EQ(sent[1].cdb, Bytes({0x15, 0x10, 0, 0, 36, 0}));  // MODE SELECT(6), PF
      Bytes list = {0, 0, 0, 0};
      const Bytes page = counting_page(0x22, 32, false);
      list.insert(list.end(), page.begin(), page.end());
      list[4 + 2] = 0;
      EXPECT_EQ(sent[1].data_out, list);
    }
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().cdb, c.write_start);
    EXPECT_EQ(sent.back().data_out, c.sheet);
  }
  // A track type no drive has is refused before anything is sent.
  sheet->layout->tracks[2].track_type = static_cast<TrackType>(4);
  ScopedTransport<RecordingTransport> transport;
  SonyClass17 drive;
  DiscAtOnceJob job;
  job.layout = sheet->layout.get();
  EXPECT_EQ(raised_text([&] { drive.BeginDiscAtOnce(job); }),
            "\nError: 'WRITE START' command failed on device 0:0:0\nInternal bugcheck detected\n");
  EXPECT_TRUE(transport->commands.empty());
}

TEST(SonyRecorderSlots, CommandBytes) {
  uint8_t blocks[2 * 2352] = {};
  const struct {
    uint8_t model;
    const char* what;
    std::function<ResultCode(RecorderDriver&)> call;
    ResultCode result;
    Bytes cdb;       // empty: nothing sent
    Bytes data_out;  // of the one command
  } cases[] = {
      // clang-format off
      {17, "test recording", [](RecorderDriver& r) { return r.SetWritingSpeed(1, 1); }, 1,
       {0x15, 0x10, 0, 0, 12, 0}, {0, 0, 0, 0, 0x20, 6, 0, 0x02, 0, 3, 0, 0}},  // page 20h
      {15, "double speed, test", [](RecorderDriver& r) { return r.SetWritingSpeed(3, 1); }, 1,
       {0x15, 0x10, 0, 0, 12, 0}, {0, 0, 0, 0, 0x20, 6, 0, 0x07, 0, 3, 0, 0}},
      {16, "reading 4x on a 2x reader", [](RecorderDriver& r) { return r.SetReadingSpeed(2); }, 1,
       {0x15, 0x10, 0, 0, 8, 0}, {0, 0, 0, 0, 0x31, 2, 0x01, 0}},  // page 31h
      {17, "reading at most", [](RecorderDriver& r) { return r.SetReadingSpeed(3); }, 1,
       {0x15, 0x10, 0, 0, 8, 0}, {0, 0, 0, 0, 0x31, 2, 0xFF, 0}},
      {15, "reading 2x", [](RecorderDriver& r) { return r.SetReadingSpeed(1); }, 1,
       {0x15, 0x10, 0, 0, 12, 0}, {0, 0, 0, 0, 0x21, 6, 0, 0x01, 0, 0, 0, 0}},  // page 21h
      {16, "close track", [](RecorderDriver& r) { return r.CloseTrack(); }, 1,
       {0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
      {17, "close the session", [](RecorderDriver& r) { return r.FinalizeDisc(3, 1); }, 1,
       {0xF1, 0, 0, 0, 0, 0, 0, 0, 1, 0}, {}},
      {16, "write two blocks", [&](RecorderDriver& r) { return r.Write(blocks, 2352, 2, 1234); }, 1,
       {0xE1, 0x00, 0x12, 0x60, 0, 0, 0, 0, 0, 0}, Bytes(2 * 2352, 0)},  // 4704 bytes
      {15, "eject", [](RecorderDriver& r) { return r.EjectDisc(); }, 1,
       {0xE6, 0, 0, 4, 0, 0, 0, 0, 0, 0}, {}},
      {15, "load", [](RecorderDriver& r) { return r.LoadDisc(); }, 1,
       {0xE6, 0, 0, 5, 0, 0, 0, 0, 0, 0}, {}},
      {15, "start data read at 00:04:05",
       [](RecorderDriver& r) { return r.StartDataRead(155, 1, 2048); }, 1,
       {0xE3, 0, 0, 2, 0, 4, 5, 1, 0, 0}, {}},
      {15, "start audio read at 00:02:00",
       [](RecorderDriver& r) { return r.StartAudioRead(0, 2352); }, 1,
       {0xE3, 0, 0, 1, 0, 2, 0, 0, 0, 0}, {}},
      {15, "stop reading", [](RecorderDriver& r) { return r.StopAudioRead(); }, 1,
       {0xE2, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
      {15, "no track at once",
       [](RecorderDriver& r) { return r.CloseTrack(); }, MSG_ILLEGAL_REQUEST, {}, {}},
      {15, "no tracks",
       [](RecorderDriver& r) { return r.OpenTrack(TrackEntry{}); }, MSG_ILLEGAL_REQUEST, {}, {}},
      {13, "Ricoh: test recording, any speed",
       [](RecorderDriver& r) { return r.SetWritingSpeed(2, 1); }, 1,
       {0x15, 0x10, 0, 0, 10, 0}, {0, 0, 0, 0, 0x31, 4, 0x20, 0, 0, 0}},  // page 31h
      {13, "Ricoh: close the session", [](RecorderDriver& r) { return r.FinalizeDisc(3, 1); }, 1,
       {0xE9, 0, 0x03, 0x01, 0, 0, 0, 0, 0, 0}, {}},
      {13, "Ricoh: close the disc", [](RecorderDriver& r) { return r.FinalizeDisc(1, 0); }, 1,
       {0xE9, 0, 0x02, 0x00, 0, 0, 0, 0, 0, 0}, {}},
      {13, "Ricoh: close mode 4",
       [](RecorderDriver& r) { return r.FinalizeDisc(4, 0); }, MSG_BUGCHECK, {}, {}},
      {13, "Ricoh: write track", [&](RecorderDriver& r) { return r.Write(blocks, 2048, 2, 99); }, 1,
       {0xE6, 0, 0, 0, 0, 0, 0, 0, 2, 0}, Bytes(2 * 2048, 0)},
      {13, "Ricoh: end of a track", [](RecorderDriver& r) { return r.CloseTrack(); }, 1,
       {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},  // SYNCHRONIZE CACHE
      {13, "Ricoh: no disc at once",
       [](RecorderDriver& r) { return r.BeginDiscAtOnce(DiscAtOnceJob{}); },
       MSG_ILLEGAL_REQUEST, {}, {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedTransport<RecordingTransport> transport;
    std::unique_ptr<ScsiDevice> device = create_driver(c.model);
    EXPECT_EQ(c.call(recorder(device)), c.result);
    if (c.cdb.empty()) {
      EXPECT_TRUE(transport->commands.empty());
      continue;
    }
    ASSERT_EQ(transport->commands.size(), 1u);
    EXPECT_EQ(transport->commands[0].cdb, c.cdb);
    EXPECT_EQ(transport->commands[0].data_out, c.data_out);
  }
}

TEST(SonyRecorderSlots, TrackPageIsReadChangedAndSentBackBeforeOpenTrack) {
  const struct {
    TrackType type;
    uint8_t flags;
    uint8_t byte4;  // page byte 4 as sent
  } cases[] = {
      {TrackType::Mode1, TRACK_DATA | TRACK_DCP, 0x90},
      {TrackType::Audio, TRACK_PRE, 0x02},
      {TrackType::Audio, 0, 0x00},
      {TrackType::Cdi, TRACK_DATA, 0x12},
  };
  for (const auto& c : cases) {
    ScopedTransport<RecordingTransport> transport;
    transport->push_reply(page_reply(counting_page(0x23, 36, true)));
    SonyClass16 drive;
    TrackEntry track;
    track.track_number = 7;
    track.track_type = c.type;
    track.track_flags = c.flags;
    EXPECT_EQ(drive.OpenTrack(track), 1);
    ASSERT_EQ(transport->commands.size(), 3u);
    EXPECT_EQ(transport->commands[0].cdb, Bytes({0x1A, 0, 0x23, 0, 48, 0}));  // MODE SENSE(6)
    EXPECT_EQ(transport->commands[1].cdb, Bytes({0x15, 0x10, 0, 0, 40, 0}));  // MODE SELECT(6)
    Bytes list = {0, 0, 0, 0};
    const Bytes page = counting_page(0x23, 36, false);
    list.insert(list.end(), page.begin(), page.end());
    list[4 + 4] = c.byte4;
    list[4 + 5] = 0;
    EXPECT_EQ(transport->commands[1].data_out, list);
    EXPECT_EQ(transport->commands[2].cdb, Bytes({0xF5, 0, 0, 0, 0, 7, 0, 0, 0, 0}));  // 0xF5
  }
  // A page that cannot be read or is refused opens no track.
  for (int refused = 0; refused < 2; ++refused) {
    ScopedTransport<RecordingTransport> transport;
    if (refused) transport->push_reply(page_reply(counting_page(0x23, 36, false)));
    transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x26));
    SonyClass17 drive;
    EXPECT_EQ(drive.OpenTrack(TrackEntry{}), MSG_ILLEGAL_REQUEST);
    EXPECT_EQ(transport->commands.size(), refused ? 2u : 1u);
  }
}

// The drives report a finished write and a finished fixation as unit
// attention with their own codes; nothing else is taken for success.
TEST(SonyRecorderSlots, OnlyTheTwoFinishedReportsCountAsSuccess) {
  uint8_t block[2352] = {};
  const struct {
    bool fixation;
    uint8_t key, asc;
    ResultCode result;
    uint8_t flags = 0;  // sense byte 2 beside the key
  } cases[] = {
      {false, SENSE_KEY_UNIT_ATTENTION, 0x80, 1},
      // Sense key 0 with the end-of-medium bit: the last write of a full disc.
      {false, 0, 0x80, 1, SENSE_EOM},
      {false, 0, 0x81, MSG_END_OF_MEDIUM, SENSE_EOM},
      {false, SENSE_KEY_MEDIUM_ERROR, 0x80, MSG_MEDIUM_ERROR, SENSE_EOM},
      {false, SENSE_KEY_UNIT_ATTENTION, 0xD4, MSG_UNIT_ATTENTION},
      {false, SENSE_KEY_ILLEGAL_REQUEST, 0x80, MSG_ILLEGAL_REQUEST},
      {true, SENSE_KEY_UNIT_ATTENTION, 0xD4, 1},
      {true, SENSE_KEY_UNIT_ATTENTION, 0x80, MSG_UNIT_ATTENTION},
      {true, SENSE_KEY_MEDIUM_ERROR, 0xD4, MSG_MEDIUM_ERROR},
  };
  for (const auto& c : cases) {
    ScopedTransport<RecordingTransport> transport;
    transport->push_reply(check_reply(c.key, c.asc, 0, c.flags));
    SonyClass17 drive;
    EXPECT_EQ(c.fixation ? drive.FinalizeDisc(1, 0) : drive.Write(block, 2352, 1, 0), c.result)
        << int(c.key) << " " << int(c.asc);
  }
}

TEST(RicohRecorderSlots, TrackPageAndWriteTrackFailures) {
  const struct {
    TrackType type;
    uint8_t flags;
    uint8_t byte2, byte4;
  } cases[] = {
      {TrackType::Audio, TRACK_PRE | TRACK_DCP, 0x70, 0x06},
      {TrackType::Mode1, TRACK_DATA | TRACK_DCP, 0x10, 0x04},
      {TrackType::Mode2, TRACK_DATA, 0x00, 0x00},
  };
  for (const auto& c : cases) {
    ScopedTransport<RecordingTransport> transport;
    RicohClass13 drive;
    TrackEntry track;
    track.track_type = c.type;
    track.track_flags = c.flags;
    EXPECT_EQ(drive.OpenTrack(track), 1);
    ASSERT_EQ(transport->commands.size(), 1u);
    EXPECT_EQ(transport->commands[0].cdb, Bytes({0x15, 0x10, 0, 0, 20, 0}));  // MODE SELECT(6)
    EXPECT_EQ(
        transport->commands[0].data_out,
        Bytes({0, 0, 0, 0, 0x22, 14, c.byte2, 0, c.byte4, 0x11, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}));
  }
  ScopedTransport<RecordingTransport> transport;
  RicohClass13 drive;
  drive.target = 3;
  uint8_t block[2048] = {};
  // An aborted command goes back to the WRITE wrapper, which tries again.
  transport->push_reply(check_reply(SENSE_KEY_ABORTED_COMMAND));
  EXPECT_EQ(drive.WriteNamed(block, 2048, 1, 0, true), 1);
  EXPECT_EQ(transport->commands.size(), 2u);
  EXPECT_EQ(drive.nextWriteAddress, 1);
  transport->push_reply(check_reply(SENSE_KEY_MEDIUM_ERROR, 0x0C));
  EXPECT_EQ(raised_text([&] { drive.WriteNamed(block, 2048, 1, 0, false); }),
            "\nError: 'WRITE TRACK' command failed on device 0:3:0\nBad medium detected\n");
}

}  // namespace

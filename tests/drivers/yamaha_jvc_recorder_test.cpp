// The Yamaha and JVC recorder families through a transport that records
// every command: the Yamaha drive cue sheet, speed page and lead-out wait;
// the JVC subcode program, table of contents, end-of-recording bits, block
// format cache and Q layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/sector.h"
#include "drivers/jvc_recorder.h"
#include "drivers/yamaha_recorder.h"
#include "layout/cue_sheet.h"
#include "support/cue_images.h"
#include "support/raised.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::check_reply;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using Bytes = std::vector<uint8_t>;

// The images of write_cue_fixture_images behind a sheet.
std::unique_ptr<CueSheetLayout> sheet(const std::string& text) {
  ScratchDirectory folder;
  write_cue_fixture_images(folder.path());
  return parse_cue_sheet_text(text, folder.path());
}

template <typename Leaf>
struct Drive {
  ScopedTransport<RecordingTransport> transport;
  Leaf recorder;
  std::vector<Bytes> cdbs() const {
    std::vector<Bytes> out;
    for (const auto& command : transport->commands) out.push_back(command.cdb);
    return out;
  }
};

Bytes join(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

// Catalog, a Mode 1 track of 2048-byte blocks, an audio track without index
// 0 with an ISRC and a second index, a CD+G track with a pregap.
const char MIXED[] =
    "CATALOG 0123456789012\n"
    "FILE mode1.bin BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
    "FILE audio100.bin BINARY\n  TRACK 02 AUDIO\n    FLAGS DCP\n    ISRC USABC9600001\n"
    "    INDEX 01 00:00:00\n    INDEX 02 00:00:50\n"
    "FILE cdg.bin BINARY\n  TRACK 03 CDG\n    PREGAP 00:01:00\n    INDEX 01 00:00:00\n";

TEST(YamahaCueSheet, EntriesForCodesIndexesAndBlockFormats) {
  const struct {
    const char* sheet;
    std::vector<Bytes> entries;
  } cases[] = {
      {MIXED,
       {{0x02, '0', '1', '2', '3', '4', '5', '6'},  // catalog 1-7
        {0x02, '7', '8', '9', '0', '1', '2', 0},    // catalog 8-13
        {0x41, 0, 0, 0x02, 0, 0, 0, 0},             // lead-in: data, Mode 1 form
        {0x41, 0x01, 0x00, 0x02, 0x03, 0x00, 0x00, 0x00},
        {0x41, 0x01, 0x01, 0x02, 0x03, 0x00, 0x02, 0x00},
        {0x23, 0x02, 'U', 'S', 'A', 'B', 'C', '9'},        // ISRC 1-6
        {0x23, 0x02, '6', '0', '0', '0', '0', '1'},        // ISRC 7-12
        {0x21, 0x02, 0x00, 0x00, 0x00, 0x00, 0x02, 0x10},  // index 0 of no length
        {0x21, 0x02, 0x01, 0x00, 0x00, 0x00, 0x02, 0x10},
        {0x21, 0x02, 0x02, 0x00, 0x00, 0x00, 0x02, 0x60},
        {0x01, 0x03, 0x00, 0x00, 0x30, 0x00, 0x03, 0x35},  // CD+G: block format 30h
        {0x01, 0x03, 0x01, 0x00, 0x30, 0x00, 0x04, 0x35},
        {0x01, 0xAA, 0x01, 0x00, 0x00, 0x00, 0x04, 0x45}}},
      // No catalog number or ISRC: the lead-in entry comes first.
      {"FILE mode2.bin BINARY\n  TRACK 01 MODE2/2336\n    INDEX 01 00:00:00\n",
       {{0x41, 0, 0, 0x05, 0, 0, 0, 0},
        {0x41, 0x01, 0x00, 0x05, 0x03, 0x00, 0x00, 0x00},
        {0x41, 0x01, 0x01, 0x05, 0x03, 0x00, 0x02, 0x00},
        {0x41, 0xAA, 0x01, 0x05, 0x00, 0x00, 0x02, 0x20}}},
  };
  for (const auto& c : cases) {
    auto parsed = sheet(c.sheet);
    EXPECT_EQ(yamaha_cue_sheet(*parsed->layout), join(c.entries)) << c.sheet;
  }
}

TEST(YamahaDiscAtOnce, WriteModePageCueSheetAndEmptyWriteTrack) {
  Drive<YamahaClass19> drive;
  auto parsed = sheet(MIXED);
  DiscAtOnceJob job;
  job.layout = parsed->layout.get();
  EXPECT_EQ(drive.recorder.BeginDiscAtOnce(job), 1);
  EXPECT_EQ(drive.cdbs(),
            (std::vector<Bytes>{{0x15, 0x10, 0, 0, 12, 0},             // MODE SELECT, 12 bytes
                                {0xEA, 0, 0, 0, 0, 0, 0, 0, 104, 0},   // WRITE TOC, 13 entries
                                {0xE6, 0, 0, 0, 0, 0, 0, 0, 0, 0}}));  // WRITE TRACK
  // page 32h: disc at once
  EXPECT_EQ(drive.transport->commands[0].data_out, Bytes({0, 0, 0, 0, 0x32, 6, 0, 4, 0, 0, 0, 0}));
  EXPECT_EQ(drive.recorder.nextWriteAddress, -150);

  drive.transport->push_reply(cdm_test::good_reply());  // page 32h
  drive.transport->push_reply(check_reply(SENSE_KEY_ILLEGAL_REQUEST, 0x26));
  EXPECT_EQ(cdm_test::raised_text([&] { drive.recorder.BeginDiscAtOnce(job); }),
            "\nError: 'WRITE TOC' command failed on device 0:0:0\nIllegal command request\n");
}

TEST(YamahaSlots, SpeedPagesTrackAndFixationCommands) {
  Drive<YamahaClass19> drive;  // one transport for both leaves
  YamahaRecorder& cdr100 = drive.recorder;
  YamahaClass20 cdr102;
  TrackEntry audio;
  audio.track_number = 3;
  audio.track_flags = TRACK_PRE | TRACK_DCP;
  TrackEntry mode2;
  mode2.track_number = 1;
  mode2.track_type = TrackType::Mode2;
  const struct {
    std::function<ResultCode()> call;
    Bytes cdb, data;
  } cases[] = {
      // page 31h: speed value in the high nibble, test recording in bit 0;
      // code 3 on the CDR100 (4x at most) records at 4x
      {[&] { return cdr100.SetWritingSpeed(SPEED_6X, 0); },
       {0x15, 0x10, 0, 0, 8, 0},
       {0, 0, 0, 0, 0x31, 2, 0, 0x20}},
      {[&] { return cdr100.SetWritingSpeed(SPEED_6X, 1); },
       {0x15, 0x10, 0, 0, 8, 0},
       {0, 0, 0, 0, 0x31, 2, 0, 0x21}},
      {[&] { return cdr102.SetWritingSpeed(SPEED_4X, 1); },
       {0x15, 0x10, 0, 0, 8, 0},
       {0, 0, 0, 0, 0x31, 2, 0, 0x11}},
      {[&] { return cdr102.SetReadingSpeed(SPEED_6X); },
       {0x15, 0x10, 0, 0, 8, 0},
       {0, 0, 0, 0, 0x31, 2, 0, 0x20}},
      // WRITE TRACK: audio with pre-emphasis and copy permitted; Mode 2
      {[&] { return cdr100.OpenTrack(audio); }, {0xE6, 0, 0, 0, 0, 3, 0x0D, 0, 0, 0}, {}},
      {[&] { return cdr100.OpenTrack(mode2); }, {0xE6, 0, 0, 0, 0, 1, 0x02, 0, 0, 0}, {}},
      // fixation: close mode 3 is 4 to the drive, bit 3 leaves the disc open
      {[&] { return cdr100.FinalizeDisc(3, 1); }, {0xE9, 0, 0, 0, 0, 0, 0, 0, 0x0C, 0}, {}},
      {[&] { return cdr100.CloseTrack(); },
       {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {}},  // SYNCHRONIZE CACHE
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(), 1);
    EXPECT_EQ(drive.transport->commands.back().cdb, c.cdb);
    EXPECT_EQ(drive.transport->commands.back().data_out, c.data);
  }
  EXPECT_EQ(cdr100.FinalizeDisc(4, 0), MSG_BUGCHECK);
}

// The drive answers "busy" (sense key 9) to a write it cannot take yet, and
// ABORTED COMMAND to TEST UNIT READY while it writes the lead-out.
TEST(YamahaWaits, BusyWritesAndTheLeadOut) {
  const struct {
    unsigned busy, aborted;
    ResultCode write;
    std::vector<unsigned> pauses;
  } cases[] = {
      {0, 0, 1, {}},
      {2, 3, 1, {100, 100, 5000, 5000, 5000}},
      // Gives up after a minute; after 61 pauses one more look finds the drive done.
      {600, 61, MSG_DEVICE_BUSY, {}},
  };
  for (const auto& c : cases) {
    Drive<YamahaClass20> drive;
    cdm_test::SleepRecorder sleeps;
    drive.transport->push_replies(c.busy, check_reply(SENSE_KEY_VENDOR_SPECIFIC));
    Bytes block(2352, 7);
    EXPECT_EQ(drive.recorder.Write(block.data(), 2352, 1, 0x1234), c.write);
    const std::size_t writes = drive.transport->commands.size();
    EXPECT_EQ(writes, std::min<std::size_t>(c.busy + 1, 600));
    // WRITE(10) LBA 1234h, 1 block, every time
    EXPECT_EQ(drive.transport->commands.back().cdb, Bytes({0x2A, 0, 0, 0, 0x12, 0x34, 0, 0, 1, 0}));
    drive.transport->push_reply(cdm_test::good_reply());  // SYNCHRONIZE CACHE
    drive.transport->push_replies(c.aborted, check_reply(SENSE_KEY_ABORTED_COMMAND));
    EXPECT_EQ(drive.recorder.EndDiscAtOnce(0), 1);
    const std::size_t polls = drive.transport->commands.size() - writes - 1;
    EXPECT_EQ(polls, std::min(c.aborted + 1, 62u));
    std::vector<unsigned> pauses = sleeps.pauses;
    if (c.busy >= 600) {
      EXPECT_EQ(pauses.size(), 599u + 61u);
      EXPECT_EQ(pauses.front(), 100u);
      EXPECT_EQ(pauses.back(), 5000u);
    } else {
      EXPECT_EQ(pauses, c.pauses);
    }
  }
}

// A drive that never reports the end of its lead-out has not finished the
// disc: after the last pause and one more look the wait is an error.
TEST(YamahaWaits, ALeadOutThatNeverEndsIsAnError) {
  Drive<YamahaClass19> drive;
  cdm_test::SleepRecorder sleeps;
  drive.transport->push_reply(cdm_test::good_reply());  // SYNCHRONIZE CACHE
  drive.transport->push_replies(62, check_reply(SENSE_KEY_ABORTED_COMMAND));
  EXPECT_EQ(cdm_test::raised_text([&] { drive.recorder.EndDiscAtOnce(0); }),
            "\nError: The CD-Recorder was still writing the lead-out after 305 seconds: the disc "
            "is not finished\n");
  EXPECT_EQ(drive.transport->commands.size(), 1u + 62u);
  EXPECT_EQ(sleeps.pauses, std::vector<unsigned>(61, 5000));
}

// A 12-byte JVC command with byte 5.
Bytes cdb12(uint8_t opcode, uint8_t byte5 = 0) {
  return {opcode, 0, 0, 0, 0, byte5, 0, 0, 0, 0, 0, 0};
}

// MODE SELECT data of a JVC page: header with a block descriptor of 2048 bytes.
Bytes jvc_page(const Bytes& page) {
  Bytes data = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0x00};
  data.insert(data.end(), page.begin(), page.end());
  return data;
}

// One audio track of 180000 blocks: three areas, one track entry with A0,
// A1 and A2 (23 bytes).
TEST(JvcDiscAtOnce, SubcodeProgramOfOneAudioTrack) {
  Drive<JvcClass18> drive;
  auto parsed = sheet("FILE long.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  DiscAtOnceJob job;
  job.layout = parsed->layout.get();
  EXPECT_EQ(drive.recorder.BeginDiscAtOnce(job), 1);
  const std::vector<std::pair<Bytes, Bytes>> expected = {
      {{0x15, 0x10, 0, 0, 21, 0}, jvc_page({0x22, 7, 0, 0, 2, 0, 0, 0, 0})},  // disc at once
      {cdb12(0xEC), {}},                                                      // EXECUTE OPC
      {cdb12(0xE4, 0x80), {}},                                                // CLEAR SUBCODE
      {{0xB3, 0, 0xFF, 0xFF, 0xFF, 0x6A, 0, 0, 0, 0x96, 0, 0}, {}},  // SET LIMITS -150, 150
      {{0xC2, 0, 0, 0, 0, 0, 0, 0, 4, 0}, {1, 0x01, 0x01, 0x00}},    // pause, track 1 index 0
      {{0xB3, 0, 0, 0, 0, 0, 0, 0x02, 0xBE, 0x8A, 0, 0}, {}},        // SET LIMITS 0, 179850
      {{0xC2, 0, 0, 0, 0, 0, 0, 0, 4, 0}, {0, 0x01, 0x01, 0x01}},
      {{0xB3, 0, 0, 0x02, 0xBE, 0x8A, 0, 0, 0, 0x96, 0, 0}, {}},   // SET LIMITS 179850, 150
      {{0xC2, 0, 0, 0, 0, 0, 0, 0, 4, 0}, {1, 0x01, 0x01, 0x01}},  // the closing pause
      {{0xC2, 0, 0, 0, 0, 0, 0, 0, 23, 0},                         // table of contents
       {0,    0,    0,    0x01, 0x01, 0x00, 0x02, 0x00, 0x01, 0xA0, 0x01, 0x00,
        0x00, 0x01, 0xA1, 0x01, 0x00, 0x00, 0x01, 0xA2, 0x40, 0x02, 0x00}},
  };
  ASSERT_EQ(drive.transport->commands.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(drive.transport->commands[i].cdb, expected[i].first) << i;
    EXPECT_EQ(drive.transport->commands[i].data_out, expected[i].second) << i;
  }
  EXPECT_EQ(drive.recorder.nextWriteAddress, -150);
  EXPECT_EQ(drive.recorder.endAddress, 179999);
}

// Writes go to nextWriteAddress; the one that ends at the end address
// carries 0 in bits 6-7 of the control byte, the others 2.
TEST(JvcWrite, EndOfRecordingBits) {
  Drive<JvcClass10> drive;
  auto parsed = sheet("FILE audio100.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  DiscAtOnceJob job;
  job.layout = parsed->layout.get();
  drive.recorder.BeginDiscAtOnce(job);
  drive.transport->commands.clear();
  Bytes blocks(150 * 2352);
  const struct {
    uint16_t count;
    Bytes cdb;
  } writes[] = {
      {150, {0x2A, 0, 0xFF, 0xFF, 0xFF, 0x6A, 0, 0, 150, 0x80}},  // WRITE(10) LBA -150
      {60, {0x2A, 0, 0, 0, 0, 0, 0, 0, 60, 0x80}},                // LBA 0
      {40, {0x2A, 0, 0, 0, 0, 60, 0, 0, 40, 0x00}},               // LBA 60, the last
  };
  for (const auto& w : writes) {
    EXPECT_EQ(drive.recorder.WriteNamed(blocks.data(), 2352, w.count, 0, true), 1);
    EXPECT_EQ(drive.transport->commands.back().cdb, w.cdb);
  }
}

TEST(JvcSlots, BlockFormatCacheSpeedPagesAndClosingCommands) {
  Drive<JvcClass10> drive;
  auto& recorder = drive.recorder;
  const Bytes header = {0x15, 0, 0, 0, 12, 0};  // MODE SELECT of a block descriptor
  auto descriptor = [](uint8_t density, uint8_t high, uint8_t low) {
    return Bytes{0, 0, 0, 8, density, 0, 0, 0, 0, 0, high, low};
  };
  recorder.nextWriteAddress = 1000;
  const struct {
    std::function<ResultCode()> call;
    std::vector<std::pair<Bytes, Bytes>> sent;
  } cases[] = {
      {[&] { return recorder.SetWritingBlockLength(1, 2048); }, {{header, descriptor(1, 8, 0)}}},
      {[&] { return recorder.SetWritingBlockLength(1, 2048); }, {}},  // the drive has it
      {[&] { return recorder.SetWritingBlockLength(0, 2352); }, {{header, descriptor(4, 9, 0x30)}}},
      {[&] { return recorder.SetWritingBlockLength(2, 2336); },
       {{header, descriptor(0x82, 9, 0x20)}}},
      {[&] { return recorder.SetWritingBlockLength(3, 2352); }, {{header, descriptor(4, 9, 0x30)}}},
      // speed code 3 on a 2x drive; test recording
      {[&] { return recorder.SetWritingSpeed(SPEED_6X, 1); },
       {{{0x15, 0x10, 0, 0, 15, 0}, jvc_page({0x21, 1, 3})},
        {{0x15, 0x10, 0, 0, 16, 0}, jvc_page({0x31, 2, 1, 0})}}},
      // the pages brought 2048-byte blocks of density 0: Mode 1 goes again
      {[&] { return recorder.SetWritingBlockLength(1, 2048); }, {{header, descriptor(1, 8, 0)}}},
      // CLEAR SUBCODE, a one-track data disc whose lead-out lies at LBA 1002, WRITE PMA
      {[&] { return recorder.CloseTrack(); },
       {{cdb12(0xE4, 0x80), {}},
        {{0xC2, 0, 0, 0, 0, 0, 0, 0, 23, 0},
         {0, 0,    0,    0x41, 0x01, 0, 2,    0,    0x41, 0xA0, 1,   0,
          0, 0x41, 0xA1, 1,    0,    0, 0x41, 0xA2, 0x00, 0x15, 0x27}},
        {cdb12(0xE1), {}}}},
      {[&] { return recorder.FinalizeDisc(1, 1); }, {{cdb12(0xE3, 0x00), {}}}},  // the session
      {[&] { return recorder.FinalizeDisc(1, 0); }, {{cdb12(0xE3, 0x80), {}}}},  // the disc
  };
  for (const auto& c : cases) {
    drive.transport->commands.clear();
    EXPECT_EQ(c.call(), 1);
    std::vector<std::pair<Bytes, Bytes>> sent;
    for (const auto& command : drive.transport->commands)
      sent.emplace_back(command.cdb, command.data_out);
    EXPECT_EQ(sent, c.sent);
  }
  EXPECT_EQ(recorder.SetWritingBlockLength(4, 2352), MSG_BUGCHECK);
}

// Track at once: pages and program of track 01, then 145 pregap blocks
// from LBA -145 in chunks of 31 blocks of 2048 bytes.
TEST(JvcTrackAtOnce, OpenTrackProgramsTrackOneAndWritesItsPregap) {
  Drive<JvcClass11> drive;
  TrackEntry track;
  track.track_number = 1;
  track.track_type = TrackType::Mode1;
  track.track_flags = TRACK_DATA;
  track.block_size = 2048;
  track.length = 5000;
  EXPECT_EQ(drive.recorder.OpenTrack(track), 1);
  const auto& commands = drive.transport->commands;
  ASSERT_EQ(commands.size(), 13u);
  EXPECT_EQ(commands[0].data_out, jvc_page({0x22, 7, 0, 0, 0, 0, 0, 0, 0}));     // track at once
  EXPECT_EQ(commands[1].data_out, Bytes({0, 0, 0, 8, 1, 0, 0, 0, 0, 0, 8, 0}));  // Mode 1, 2048
  EXPECT_EQ(commands[2].cdb, cdb12(0xEC));
  EXPECT_EQ(commands[3].cdb, cdb12(0xE4, 0x80));
  EXPECT_EQ(commands[4].cdb, Bytes({0xB3, 0, 0xFF, 0xFF, 0xFF, 0x6A, 0, 0, 0, 0x96, 0, 0}));
  EXPECT_EQ(commands[5].data_out, Bytes({1, 0x41, 0x01, 0x00}));
  EXPECT_EQ(commands[6].cdb, Bytes({0xB3, 0, 0, 0, 0, 0, 0, 0, 0x13, 0x8A, 0, 0}));  // 0, 5002
  EXPECT_EQ(commands[7].data_out, Bytes({0, 0x41, 0x01, 0x01}));
  EXPECT_EQ(commands[8].cdb, Bytes({0x2A, 0, 0xFF, 0xFF, 0xFF, 0x6F, 0, 0, 31, 0x80}));
  EXPECT_EQ(commands[12].cdb, Bytes({0x2A, 0, 0xFF, 0xFF, 0xFF, 0xEB, 0, 0, 21, 0x80}));
  EXPECT_EQ(drive.recorder.nextWriteAddress, 0);
  EXPECT_EQ(drive.recorder.endAddress, 4999);
}

// READ CD-DA with Q, tried three times: the drive's control, address kind,
// track, index, times come packed into the standard Q layout.
TEST(JvcReadAudio, PacksTheDrivesQFields) {
  Drive<JvcClass18> drive;
  Bytes answer(2368, 0x55);
  const Bytes drive_q = {0x4,  0x1,  0x02, 0x01, 0x00, 0x03, 0x10, 0x00,
                         0x05, 0x10, 9,    9,    9,    9,    9,    9};
  std::copy(drive_q.begin(), drive_q.end(), answer.begin() + 2352);
  drive.transport->push_replies(2, check_reply(SENSE_KEY_MEDIUM_ERROR, 0x11));
  drive.transport->push_reply(cdm_test::good_reply(answer));
  Bytes block(2368);
  EXPECT_EQ(drive.recorder.ReadAudio(block.data(), 1, 100, SUBCODE_Q), 1);
  EXPECT_EQ(drive.transport->commands.size(), 3u);
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 2352), Bytes(2352, 0x55));
  EXPECT_EQ(Bytes(block.begin() + 2352, block.end()),
            Bytes({0x41, 0x02, 0x01, 0x00, 0x03, 0x10, 0, 0x00, 0x05, 0x10, 0, 0, 0, 0, 0, 0}));
}

}  // namespace

// The MMC drivers through a transport that records every command: the cue
// sheets and write parameters pages they build from cue sheets, the bytes of
// their reading commands, and what the probe makes of a drive's answers.
#include "drivers/mmc_drive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "layout/cue_sheet.h"
#include "scsi/models.h"
#include "support/cue_images.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::check_reply;
using cdm_test::good_reply;
using cdm_test::RecordingTransport;
using cdm_test::ScopedTransport;
using Bytes = std::vector<uint8_t>;

struct SheetCase {
  const char* name;
  const char* cue;
  int32_t start;        // LBA of track 1 index 1
  uint8_t first_track;  // its number on the disc
  Bytes sheet;          // SEND CUE SHEET parameter list
  Bytes page;           // bytes 2 to 8 of the write parameters page
};

// clang-format off
const std::vector<SheetCase>& sheet_cases() {
  static const std::vector<SheetCase> cases = {
      {"one audio track",
       "FILE audio100.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       0, 1,
       {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0,     // lead-in, generated audio
        0x01, 0x01, 0x00, 0x00, 0, 0, 0, 0,     // track 1 index 0 at 00:00:00
        0x01, 0x01, 0x01, 0x00, 0, 0, 2, 0,     // track 1 index 1 at 00:02:00
        0x01, 0xAA, 0x01, 0x01, 0, 0, 3, 25},   // lead-out at 00:03:25
       {0x02, 0x00, 0x00, 0, 0, 0, 0x00}},
      {"one audio track as track 3, in a second session",
       "FILE audio100.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n",
       11400, 3,
       {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0,
        0x01, 0x03, 0x00, 0x00, 0, 2, 32, 0,
        0x01, 0x03, 0x01, 0x00, 0, 2, 34, 0,
        0x01, 0xAA, 0x01, 0x01, 0, 2, 35, 25},
       {0x02, 0x00, 0x00, 0, 0, 0, 0x00}},
      {"pregap and a second index",
       "FILE audio100.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
       "  TRACK 02 AUDIO\n    INDEX 00 00:00:40\n    INDEX 01 00:00:50\n    INDEX 02 00:01:00\n",
       0, 1,
       {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0,
        0x01, 0x01, 0x00, 0x00, 0, 0, 0, 0,
        0x01, 0x01, 0x01, 0x00, 0, 0, 2, 0,
        0x01, 0x02, 0x00, 0x00, 0, 0, 2, 40,
        0x01, 0x02, 0x01, 0x00, 0, 0, 2, 50,
        0x01, 0x02, 0x02, 0x00, 0, 0, 3, 0,
        0x01, 0xAA, 0x01, 0x01, 0, 0, 3, 25},
       {0x02, 0x00, 0x00, 0, 0, 0, 0x00}},
      {"catalog number, ISRC, copy and pre-emphasis flags",
       "CATALOG 0123456789012\nFILE audio50.bin BINARY\n  TRACK 01 AUDIO\n    FLAGS DCP PRE\n"
       "    ISRC USABC9612345\n    INDEX 01 00:00:00\n",
       0, 1,
       {0x02, '0',  '1',  '2',  '3', '4', '5', '6',  // catalog number
        0x02, '7',  '8',  '9',  '0', '1', '2', 0,
        0x31, 0x00, 0x00, 0x01, 0,   0,   0,   0,    // lead-in
        0x33, 0x01, 'U',  'S',  'A', 'B', 'C', '9',  // ISRC of track 1
        0x33, 0x01, '6',  '1',  '2', '3', '4', '5',
        0x31, 0x01, 0x00, 0x00, 0,   0,   0,   0,
        0x31, 0x01, 0x01, 0x00, 0,   0,   2,   0,
        0x31, 0xAA, 0x01, 0x01, 0,   0,   2,   50},
       {0x02, 0x03, 0x00, 0, 0, 0, 0x00}},
      {"Mode 1 at 2048 and at 2352 bytes",
       "FILE mode1.bin BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n"
       "FILE audio100.bin BINARY\n  TRACK 02 MODE1/2352\n    INDEX 01 00:00:00\n",
       0, 1,
       {0x41, 0x00, 0x00, 0x14, 0, 0, 0, 0,
        0x41, 0x01, 0x00, 0x10, 0, 0, 0, 0,
        0x41, 0x01, 0x01, 0x10, 0, 0, 2, 0,
        0x41, 0x02, 0x01, 0x11, 0, 0, 2, 10,
        0x41, 0xAA, 0x01, 0x14, 0, 0, 3, 35},
       {0x02, 0x04, 0x08, 0, 0, 0, 0x00}},
      {"Mode 2 at 2336 bytes",
       "FILE mode2.bin BINARY\n  TRACK 01 MODE2/2336\n    INDEX 01 00:00:00\n",
       0, 1,
       {0x41, 0x00, 0x00, 0x34, 0, 0, 0, 0,
        0x41, 0x01, 0x00, 0x30, 0, 0, 0, 0,
        0x41, 0x01, 0x01, 0x30, 0, 0, 2, 0,
        0x41, 0xAA, 0x01, 0x34, 0, 0, 2, 20},
       {0x02, 0x04, 0x09, 0, 0, 0, 0x20}},
      {"CD+G",
       "FILE cdg.bin BINARY\n  TRACK 01 CDG\n    INDEX 01 00:00:00\n",
       0, 1,
       {0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0,
        0x01, 0x01, 0x00, 0x40, 0, 0, 0, 0,
        0x01, 0x01, 0x01, 0x40, 0, 0, 2, 0,
        0x01, 0xAA, 0x01, 0x01, 0, 0, 2, 10},
       {0x02, 0x00, 0x03, 0, 0, 0, 0x00}},
  };
  return cases;
}
// clang-format on

TEST(MmcRecorderTables, CueSheetsAndWriteParametersOfEachKindOfTrack) {
  ScratchDirectory scratch;
  write_cue_fixture_images(scratch.path());
  for (const SheetCase& c : sheet_cases()) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<CueSheetLayout> parsed = parse_cue_sheet_text(c.cue, scratch.path());
    EXPECT_EQ(mmc_cue_sheet(*parsed->layout, c.start, c.first_track), c.sheet);
    // MODE SELECT(10) data of page 05h: session at once, audio pause 150
    Bytes page = {0x05, 0x32};
    page.insert(page.end(), c.page.begin(), c.page.end());
    page.resize(52, 0);
    page[15] = 150;
    EXPECT_EQ(mmc_session_parameters(*parsed->layout, false, false), page);
    // the same with test write and a next session allowed
    page[2] |= 0x10;
    page[3] |= 0xC0;
    EXPECT_EQ(mmc_session_parameters(*parsed->layout, true, true), page);
  }
}

// The lead-in's R-W subcode: each pack's 144 bits in the six low bits of 24
// bytes, first bits first; the lead-in entry asks for it with data form 41h.
TEST(MmcRecorderTables, CdTextGoesIntoTheLeadInSubcode) {
  Bytes packs(4 * 18, 0);
  packs[0] = 0xFC;        // 111111 00 -> symbols 3Fh, 0
  packs[18 + 17] = 0x3F;  // the second pack's last 6 bits
  packs[54] = 0x81;       // 1000 0001 -> symbols 20h, 1 (and 0 after)
  Bytes subcode(96, 0xFF);
  cd_text_subcode(packs.data(), subcode.data());
  Bytes expected(96, 0);
  expected[0] = 0x3F;
  expected[24 + 23] = 0x3F;
  expected[72] = 0x20;
  expected[73] = 0x10;
  EXPECT_EQ(subcode, expected);

  ScratchDirectory scratch;
  write_cue_fixture_images(scratch.path());
  std::unique_ptr<CueSheetLayout> parsed = parse_cue_sheet_text(
      "FILE audio100.bin BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", scratch.path());
  const Bytes sheet = mmc_cue_sheet(*parsed->layout, 0, 1, true);
  ASSERT_GE(sheet.size(), 8u);
  EXPECT_EQ(Bytes(sheet.begin(), sheet.begin() + 8), (Bytes{0x01, 0, 0, 0x41, 0, 0, 0, 0}));
}

struct ReadCase {
  const char* name;
  std::function<ResultCode(MmcReader&, uint8_t*)> call;
  ResultCode result;
  Bytes cdb;  // empty: nothing sent
  uint32_t length;
};

TEST(MmcReaderCommands, EachReadNamesItsSectorLayout) {
  const ReadCase cases[] = {
      {"audio",
       [](MmcReader& r, uint8_t* b) { return r.ReadAudio(b, 2, 0x1234, 0); },
       1,
       {0xBE, 0x04, 0, 0, 0x12, 0x34, 0, 0, 2, 0x10, 0x00, 0},
       2 * 2352},  // READ CD, CD-DA
      {"audio and formatted Q",
       [](MmcReader& r, uint8_t* b) { return r.ReadAudio(b, 2, 0x1234, 1); },
       1,
       {0xBE, 0x04, 0, 0, 0x12, 0x34, 0, 0, 2, 0x10, 0x02, 0},
       2 * 2368},
      {"audio and raw P-W",
       [](MmcReader& r, uint8_t* b) { return r.ReadAudio(b, 2, 7, 2); },
       1,
       {0xBE, 0x04, 0, 0, 0, 7, 0, 0, 2, 0x10, 0x01, 0},
       2 * 2448},
      {"P-W alone",
       [](MmcReader& r, uint8_t* b) { return r.ReadAudio(b, 3, 7, 3); },
       1,
       {0xBE, 0x04, 0, 0, 0, 7, 0, 0, 3, 0x00, 0x01, 0},
       3 * 96},
      {"no subcode format 4",
       [](MmcReader& r, uint8_t* b) { return r.ReadAudio(b, 1, 7, 4); },
       MSG_BUGCHECK,
       {},
       0},
      {"2048-byte data",
       [](MmcReader& r, uint8_t* b) { return r.ReadData(b, 2048, 2, 16); },
       1,
       {0x28, 0, 0, 0, 0, 16, 0, 0, 2, 0},
       2 * 2048},  // READ(10)
      {"2336-byte data",
       [](MmcReader& r, uint8_t* b) { return r.ReadData(b, 2336, 2, 16); },
       1,
       {0xBE, 0x00, 0, 0, 0, 16, 0, 0, 2, 0x58, 0x00, 0},
       2 * 2336},  // subheader, data, EDC
      {"2340-byte data",
       [](MmcReader& r, uint8_t* b) { return r.ReadData(b, 2340, 1, 16); },
       1,
       {0xBE, 0x00, 0, 0, 0, 16, 0, 0, 1, 0x78, 0x00, 0},
       2340},  // all headers too
      {"2352-byte data",
       [](MmcReader& r, uint8_t* b) { return r.ReadData(b, 2352, 1, 16); },
       1,
       {0xBE, 0x00, 0, 0, 0, 16, 0, 0, 1, 0xF8, 0x00, 0},
       2352},  // and the sync
      {"no 2000-byte data",
       [](MmcReader& r, uint8_t* b) { return r.ReadData(b, 2000, 1, 16); },
       MSG_BUGCHECK,
       {},
       0},
      {"block length", [](MmcReader& r, uint8_t*) { return r.SetBlockLength(1, 2340); }, 1, {}, 0},
      {"4x reading",
       [](MmcReader& r, uint8_t*) { return r.SetReadingSpeed(2); },
       1,
       {0xBB, 0, 0x02, 0xC2, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
       0},  // SET CD SPEED 706 kB/s
      {"fastest reading",
       [](MmcReader& r, uint8_t*) { return r.SetReadingSpeed(255); },
       1,
       {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
       0},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTransport<RecordingTransport> transport;
    MmcReader reader;
    Bytes buffer(3 * 2448);
    EXPECT_EQ(c.call(reader, buffer.data()), c.result);
    if (c.cdb.empty()) {
      EXPECT_TRUE(transport->commands.empty());
      continue;
    }
    ASSERT_EQ(transport->commands.size(), 1u);
    EXPECT_EQ(transport->commands[0].cdb, c.cdb);
    EXPECT_EQ(transport->commands[0].length(), c.length);
  }
}

// A GET CONFIGURATION answer: the header with the current profile, then
// the feature descriptors.
Bytes configuration(uint16_t current, const Bytes& features) {
  Bytes data = {0,
                0,
                0,
                static_cast<uint8_t>(4 + features.size()),
                0,
                0,
                static_cast<uint8_t>(current >> 8),
                static_cast<uint8_t>(current)};
  data.insert(data.end(), features.begin(), features.end());
  return data;
}

// MODE SENSE(10) of the capabilities page: byte 5 and the write speed.
Bytes capabilities(uint8_t audio, uint16_t write_kbs) {
  Bytes data = {0, 28, 0, 0, 0, 0, 0, 0, 0x2A, 0x14, 0, 0, 0, audio};
  data.resize(30, 0);
  data[26] = static_cast<uint8_t>(write_kbs >> 8);
  data[27] = static_cast<uint8_t>(write_kbs);
  return data;
}

TEST(MmcProbe, TheDrivesAnswersChooseTheDriver) {
  const Bytes cd_rom_profiles = {0, 0, 0x03, 8, 0, 0x10, 0, 0, 0, 0x08, 1, 0};
  const Bytes dvd_profile = {0, 0, 0x03, 4, 0, 0x10, 1, 0};
  const Bytes cd_read = {0, 0x1E, 0x01, 4, 0, 0, 0, 0};
  const Bytes track_at_once = {0, 0x2D, 0x01, 4, 0x06, 0, 0, 0};
  const Bytes mastering_sao = {0, 0x2E, 0x01, 4, 0x24, 0, 0x10, 0};
  const Bytes mastering_raw_only = {0, 0x2E, 0x01, 4, 0x08, 0, 0x10, 0};
  auto join = [](std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const struct {
    const char* name;
    cdm_test::ScriptedReply configuration, page;
    uint8_t kind;  // 0: stays generic
    uint16_t recorder_caps, reader_caps;
    uint8_t max_write_speed;
  } cases[] = {
      {"refuses GET CONFIGURATION", check_reply(5, 0x20), good_reply(), 0, 0, 0, 0},
      {"a DVD profile and nothing of CD", good_reply(configuration(0x10, dvd_profile)),
       good_reply(), 0, 0, 0, 0},
      {"CD-ROM in its profile list, accurate audio with R-W",
       good_reply(configuration(0, cd_rom_profiles)), good_reply(capabilities(0x07, 0)),
       DEVICE_READER, 0, 0x07, 0},
      {"current CD profile alone, no capabilities page", good_reply(configuration(0x08, {})),
       check_reply(5, 0x24), DEVICE_READER, 0, 0x03, 0},
      {"CD Read, audio not accurate", good_reply(configuration(0, cd_read)),
       good_reply(capabilities(0x01, 0)), DEVICE_READER, 0, 0x13, 0},
      {"both ways of recording at 8x",
       good_reply(configuration(9, join({track_at_once, mastering_sao}))),
       good_reply(capabilities(0x03, 1411)), DEVICE_RECORDER, 0x03, 0x03, SPEED_6X},
      {"mastering without session at once, 2x",
       good_reply(configuration(9, join({cd_read, track_at_once, mastering_raw_only}))),
       good_reply(capabilities(0x03, 400)), DEVICE_RECORDER, 0x01, 0x03, SPEED_2X},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedTransport<RecordingTransport> transport;
    transport->push_reply(c.configuration);
    transport->push_reply(c.page);
    ScsiDevice found(0, 3, 0);
    std::memcpy(found.product, "SOME NEW DRIVE  ", 16);
    std::unique_ptr<ScsiDevice> driver = probe_mmc_drive(found);
    // GET CONFIGURATION of every feature
    EXPECT_EQ(transport->commands[0].cdb, Bytes({0x46, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0}));
    if (c.kind == 0) {
      EXPECT_EQ(driver, nullptr);
      continue;
    }
    ASSERT_NE(driver, nullptr);
    // MODE SENSE(10) of the capabilities page, no block descriptors
    EXPECT_EQ(transport->commands[1].cdb, Bytes({0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, 0xFF, 0}));
    EXPECT_EQ(driver->device_kind, c.kind);
    EXPECT_EQ(driver->model_code, MODEL_MMC);
    EXPECT_EQ(std::string(driver->product, 16), "SOME NEW DRIVE  ");
    EXPECT_EQ(driver->target, 3);
    auto* recorder = dynamic_cast<MmcRecorder*>(driver.get());
    EXPECT_EQ(recorder != nullptr, c.kind == DEVICE_RECORDER);
    EXPECT_EQ(dynamic_cast<CdReader&>(*driver).readerCaps, c.reader_caps);
    if (recorder == nullptr) continue;
    EXPECT_EQ(recorder->RecorderCaps, c.recorder_caps);
    EXPECT_EQ(recorder->maxWriteSpeed, c.max_write_speed);
  }
}

}  // namespace

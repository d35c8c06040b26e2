// The emulated reader families: each answers its own commands and refuses
// the others' as its drives do (raw command blocks). What the families'
// drivers read from them is compared with the generic drive's by the
// programs (tests/tools/reader_models_test.cpp).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "emulator/bus.h"
#include "scsi/device.h"
#include "support/sample_discs.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedTransport;
using Bytes = std::vector<uint8_t>;

// A data track at LBA 0, then audio from LBA 300 on (index 0 first).
SampleDisc two_track_disc() {
  SampleDisc disc;
  disc.tracks = {{TrackType::Mode1, 300, 0, "", ""}, {TrackType::Audio, 200, 75, "", ""}};
  return disc;
}

struct Step {
  const char* what;
  Bytes cdb;
  Bytes data_out;   // MODE SELECT parameter list (empty: data in)
  uint32_t length;  // bytes in
  uint8_t asc;      // ILLEGAL REQUEST with this code, 0 for GOOD
};

// MODE SELECT(6) of a block descriptor (page format bit as given).
Step select_block(const char* what, bool page_format, uint8_t density, uint16_t length,
                  uint8_t asc) {
  return {what,
          {0x15, static_cast<uint8_t>(page_format ? 0x10 : 0), 0, 0, 12, 0},
          {0, 0, 0, 8, density, 0, 0, 0, 0, 0, static_cast<uint8_t>(length >> 8),
           static_cast<uint8_t>(length)},
          0,
          asc};
}

// MODE SELECT(6), page format, of one page without a block descriptor.
Step select_page(const char* what, Bytes page, uint8_t asc) {
  Bytes data = {0, 0, 0, 0};
  data.insert(data.end(), page.begin(), page.end());
  return {what, {0x15, 0x10, 0, 0, static_cast<uint8_t>(data.size()), 0}, data, 0, asc};
}

const Bytes READ_CDDA_300 = {0xD8, 0, 0, 0, 0x01, 0x2C, 0, 0, 0, 1, 0, 0};      // LBA 300, 1 sector
const Bytes READ_CDDA_300_ALL = {0xD8, 0, 0, 0, 0x01, 0x2C, 0, 0, 0, 1, 2, 0};  // P-W subcode
const Bytes READ_CDDA_D4_300 = {0xD4, 0, 0, 0, 0x01, 0x2C, 0, 0, 1, 0};
const Bytes READ_10_0 = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};  // READ(10) LBA 0, 1 block
const Bytes READ_10_300 = {0x28, 0, 0, 0, 0x01, 0x2C, 0, 0, 1, 0};

class ReaderDrives : public testing::Test {
 protected:
  void SetUp() override { cue = write_sample_disc(scratch.path(), "disc", two_track_disc()); }
  std::unique_ptr<ScopedTransport<EmulatedBus>> drive(const std::string& product) {
    return std::make_unique<ScopedTransport<EmulatedBus>>(
        parse_emulated_bus("0:3:0=" + product + ",medium=" + cue));
  }
  ScratchDirectory scratch;
  std::string cue;
};

TEST_F(ReaderDrives, EachFamilyAnswersItsOwnCommandsAndRefusesTheOthers) {
  struct Row {
    const char* product;
    std::vector<Step> steps;
  };
  const Row rows[] = {
      {"MYSTERY CDROM", {{"NEC audio", READ_CDDA_D4_300, {}, 2352, 0x20}}},
      {"CD-ROM DRIVE:500",
       {{"READ CD-DA", READ_CDDA_300, {}, 2352, 0x20},
        {"NEC audio", READ_CDDA_D4_300, {}, 2352, 0},
        select_block("without page format", false, 0, 2048, 0x24),
        select_block("block length without the recovery page", true, 0, 2048, 0x26)}},
      {"CD-ROM DR-U124X", {{"P-W subcode", READ_CDDA_300_ALL, {}, 2448, 0x24}}},
      {"CD-ROM PX-4XCS",
       {select_page("speed above the model's", {0x31, 0x02, 0x03, 0}, 0x26),
        select_page("its highest speed", {0x31, 0x02, 0x02, 0}, 0),
        select_page("recovery flag AWRE", {0x01, 0x06, 0x80, 0x03, 0, 0, 0, 0}, 0x26),
        {"P-W subcode", READ_CDDA_300_ALL, {}, 2448, 0}}},
      {"CD-ROM PX-12TS", {select_page("speed 6", {0x31, 0x02, 0x06, 0}, 0x26)}},
      {"CD-ROM CDU-8012", {select_page("FFh", {0x31, 0x02, 0xFF, 0}, 0x26)}},
      {"CD-ROM XM-5401TA",
       {{"READ CD-DA", READ_CDDA_300, {}, 2352, 0x20},
        select_block("audio of 2048 bytes", false, 0x82, 2048, 0x26),
        select_block("density 84h", false, 0x84, 2048, 0x26),
        select_block("density 83h, 2352 bytes", false, 0x83, 2352, 0x26),
        select_block("density 00h, 2368 bytes", false, 0x00, 2368, 0x26),
        select_block("audio with Q", false, 0x82, 2368, 0),
        {"audio density on a data track", READ_10_0, {}, 2368, 0x64},
        select_block("raw data", false, 0x00, 2352, 0),
        {"raw data density on an audio track", READ_10_300, {}, 2352, 0x64}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.product);
    const auto bus = drive(row.product);
    ScsiDevice device(0, 3, 0);
    for (const Step& step : row.steps) {
      SCOPED_TRACE(step.what);
      Bytes data = step.data_out.empty() ? Bytes(step.length) : step.data_out;
      const ResultCode result = device.Execute(
          SC_EXEC_SCSI_CMD, step.data_out.empty() ? SRB_DIR_IN : SRB_DIR_OUT, step.cdb.data(),
          static_cast<uint8_t>(step.cdb.size()), data.data(), static_cast<uint32_t>(data.size()));
      if (step.asc == 0) {
        EXPECT_EQ(result, 1);
      } else {
        EXPECT_EQ(result, MSG_ILLEGAL_REQUEST);
        EXPECT_EQ(device.last_sense[2] & 0x0F, SENSE_KEY_ILLEGAL_REQUEST);
        EXPECT_EQ(device.last_sense[12], step.asc);
      }
    }
  }
}

}  // namespace

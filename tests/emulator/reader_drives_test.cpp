// The emulated reader families: each answers its own commands and refuses
// the others' as its drives do (raw command blocks), and each family's
// driver reads the same audio and Q subchannel from its drive as the
// generic reader does from the generic drive.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "drivers/cd_reader.h"
#include "drivers/driver_factory.h"
#include "emulator/bus.h"
#include "scsi/models.h"
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
      {"MYSTERY CDROM",
       {{"NEC audio", READ_CDDA_D4_300, {}, 2352, 0x20},
        select_page("speed page", {0x31, 0x02, 0x01, 0}, 0x26),
        {"READ CD-DA", READ_CDDA_300_ALL, {}, 2448, 0}}},
      {"CD-ROM DRIVE:500",
       {{"READ CD-DA", READ_CDDA_300, {}, 2352, 0x20},
        {"NEC audio", READ_CDDA_D4_300, {}, 2352, 0},
        select_block("without page format", false, 0, 2048, 0x24),
        select_block("block length without the recovery page", true, 0, 2048, 0x26),
        {"MODE SENSE of the recovery page", {0x1A, 0, 0x01, 0, 20, 0}, {}, 20, 0}}},
      {"CD-ROM DR-U124X",
       {{"P-W subcode", READ_CDDA_300_ALL, {}, 2448, 0x24}, {"audio", READ_CDDA_300, {}, 2352, 0}}},
      {"CD-ROM PX-4XCS",
       {select_page("speed above the model's", {0x31, 0x02, 0x03, 0}, 0x26),
        select_page("its highest speed", {0x31, 0x02, 0x02, 0}, 0),
        select_page("recovery flag AWRE", {0x01, 0x06, 0x80, 0x03, 0, 0, 0, 0}, 0x26),
        select_page("TB PER DTE", {0x01, 0x06, 0x26, 0x03, 0, 0, 0, 0}, 0),
        {"P-W subcode", READ_CDDA_300_ALL, {}, 2448, 0}}},
      {"CD-ROM PX-12TS",
       {select_page("speed 5", {0x31, 0x02, 0x05, 0}, 0),
        select_page("speed 6", {0x31, 0x02, 0x06, 0}, 0x26)}},
      {"CD-ROM CDU-8012",
       {select_page("FFh", {0x31, 0x02, 0xFF, 0}, 0x26),
        select_page("01h", {0x31, 0x02, 0x01, 0}, 0)}},
      {"CD-ROM CDU-76S", {select_page("FFh", {0x31, 0x02, 0xFF, 0}, 0)}},
      {"CD-ROM XM-5401TA",
       {{"READ CD-DA", READ_CDDA_300, {}, 2352, 0x20},
        select_block("audio of 2048 bytes", false, 0x82, 2048, 0x26),
        select_block("density 84h", false, 0x84, 2048, 0x26),
        select_block("density 83h, 2352 bytes", false, 0x83, 2352, 0x26),
        select_block("density 00h, 2368 bytes", false, 0x00, 2368, 0x26),
        select_block("audio with Q", false, 0x82, 2368, 0),
        {"audio density on a data track", READ_10_0, {}, 2368, 0x64},
        {"audio with Q", READ_10_300, {}, 2368, 0},
        select_block("raw data", false, 0x00, 2352, 0),
        {"raw data", READ_10_0, {}, 2352, 0},
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

// Audio, and where the model reads Q the 2368-byte sectors, through each
// family's driver from its own drive equal the generic reader's from the
// generic drive (the Q CRC, which the standard layout leaves out, aside).
TEST_F(ReaderDrives, EveryFamilyReadsWhatTheGenericDriveGives) {
  constexpr uint32_t first = 360, count = 20;  // from index 0 into index 1
  auto read = [&](const std::string& product, uint8_t model_code, uint8_t format, Bytes* out) {
    const auto bus = drive(product);
    std::unique_ptr<ScsiDevice> device = create_driver(model_code);
    auto& reader = dynamic_cast<CdReader&>(*device);
    reader.target = 3;
    const uint32_t size = audio_sector_size(format);
    out->assign(std::size_t{count} * size, 0);
    EXPECT_EQ(reader.SetBlockLengthNamed(SECTOR_KIND_AUDIO, size, false), 1);
    const ResultCode result = reader.ReadAudioSectors(out->data(), count, first, format, false);
    if (format == SUBCODE_Q)
      for (uint32_t i = 0; i < count; ++i)  // the CRC bytes
        (*out)[i * 2368 + 2362] = (*out)[i * 2368 + 2363] = 0;
    return result;
  };
  struct Row {
    const char* product;
    uint8_t model_code;
  };
  const Row rows[] = {{"CD-ROM DRIVE:222", 22}, {"CD-ROM DR-U10X", 26},   {"CD-ROM PX-8XCS", 29},
                      {"CD-ROM CDU-55S", 31},   {"CD-ROM XM-3401TE", 33}, {"CD-ROM XM-3601TA", 34}};
  for (const uint8_t format : {SUBCODE_NONE, SUBCODE_Q}) {
    Bytes generic;
    ASSERT_EQ(read("MYSTERY CDROM", MODEL_UNKNOWN_CDROM, format, &generic), 1);
    for (const Row& row : rows) {
      SCOPED_TRACE(row.product);
      SCOPED_TRACE(static_cast<int>(format));
      const auto caps = dynamic_cast<CdReader&>(*create_driver(row.model_code)).readerCaps;
      if (format == SUBCODE_Q && !(caps & CAP_READ_SUBQ)) continue;
      Bytes family;
      ASSERT_EQ(read(row.product, row.model_code, format, &family), 1);
      EXPECT_TRUE(family == generic);
    }
  }
}

}  // namespace

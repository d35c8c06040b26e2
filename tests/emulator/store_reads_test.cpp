// What the emulated drives read, and keep, where a program cannot steer
// them: an image cut short under a reader, the gap between two sessions of
// a recorded disc, and a disc transporter that finds part of a kept disc
// where it would keep the next.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "common/byteorder.h"
#include "emulator/bus.h"
#include "scsi/device.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedTransport;
constexpr uint32_t RAW = 2352;

// One block at `lba`, read with READ CD-DA (audio) or READ(10) of 2048
// bytes (data): "read", or the sense key, ASC and ASCQ.
std::string read_one(ScsiDevice& device, uint32_t lba, bool audio = true) {
  uint8_t cdb[12] = {0xD8};  // READ CD-DA, 1 block, no subcode
  put_be32(cdb + 2, lba);
  put_be32(cdb + 6, 1);
  uint8_t read10[10] = {0x28};  // READ(10), 1 block
  put_be32(read10 + 2, lba);
  read10[8] = 1;
  std::vector<uint8_t> block(RAW);
  if (device.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, audio ? cdb : read10, audio ? 12 : 10,
                     block.data(), audio ? RAW : 2048) == 1)
    return "read";
  char text[16];
  std::snprintf(text, sizeof text, "%X/%02X/%02X", device.last_sense[2] & 0x0F,
                device.last_sense[12], device.last_sense[13]);
  return text;
}

const char* const AUDIO_SHEET = "FILE \"%s.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";

std::string sheet_for(const std::string& name) {
  std::string text = AUDIO_SHEET;
  text.replace(text.find("%s"), 2, name);
  return text;
}

TEST(StoreReads, ASectorPastTheImageIsAMediumError) {
  ScratchDirectory dir;
  write_file(dir.file("r.cue"), sheet_for("r"));
  write_file(dir.file("r.bin"), std::string(300 * RAW, '\x22'));
  ScopedTransport<EmulatedBus> bus(
      parse_emulated_bus("0:3:0=MYSTERY CDROM,medium=" + dir.file("r.cue")));
  ScsiDevice reader(0, 3, 0);
  EXPECT_EQ(read_one(reader, 250), "read");
  ASSERT_EQ(truncate(dir.file("r.bin").c_str(), 100 * RAW), 0);
  struct Row {
    uint32_t lba;
    const char* answer;
  };
  for (const Row& row :
       {Row{99, "read"}, Row{100, "3/11/00"}, Row{299, "3/11/00"}, Row{300, "5/21/00"}})
    EXPECT_EQ(read_one(reader, row.lba), row.answer) << row.lba;
}

// Two sessions of data: track 1 from LBA 0 to 300, its lead-out (6750 blocks), the
// next lead-in (4500) and pregap (150), track 2 from LBA 11700 to 12000.
TEST(StoreReads, TheGapBetweenSessionsIsNotReadableButThePregapIs) {
  ScratchDirectory dir;
  const std::string m = dir.file("m");
  write_file(
      m + ".cue",
      "FILE \"m.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n"
      "  REM SESSION 02\n  TRACK 02 MODE1/2352\n    INDEX 00 00:04:00\n    INDEX 01 02:36:00\n");
  write_file(m + ".bin", "");
  std::filesystem::resize_file(m + ".bin", 12000ull * RAW);
  write_file(m + ".state",
             "capacity 332850\ndisc open\nnext 18900\n"
             "session 1 1 1 300 closed\nsession 2 2 2 12000 closed\n");
  ScopedTransport<EmulatedBus> bus(parse_emulated_bus("0:4:0=CDD2000,medium=" + m));
  ScsiDevice recorder(0, 4, 0);
  struct Row {
    uint32_t lba;
    const char* answer;
  };
  for (const Row& row :
       {Row{299, "read"}, Row{300, "3/11/00"}, Row{7049, "3/11/00"}, Row{7050, "3/11/00"},
        Row{11549, "3/11/00"}, Row{11550, "read"}, Row{11700, "read"}, Row{11999, "read"}})
    EXPECT_EQ(read_one(recorder, row.lba, false), row.answer) << row.lba;
}

// A kept disc of which only the state is left still takes its number: the
// transporter keeps the next disc under the next number, and the state stays.
TEST(StoreReads, TheTransporterKeepsNoDiscOverAnotherOnesFiles) {
  ScratchDirectory dir;
  const std::string m = dir.file("m");
  write_file(m + ".cue", sheet_for("m"));
  write_file(m + ".bin", std::string(300 * RAW, '\x33'));
  write_file(m + ".state", "capacity 332850\ndisc open\nnext 11700\nsession 1 1 1 300 closed\n");
  write_file(m + "-1.state", "kept");
  ScopedTransport<EmulatedBus> bus(
      parse_emulated_bus("0:4:0=CDD2000,medium=" + m + ";0:5:0=DISC TRANSPORTER"));
  ScsiDevice recorder(0, 4, 0), transporter(0, 5, 0);
  const uint8_t eject[6] = {0x1B, 0, 0, 0, 0x02, 0};  // START STOP UNIT: eject
  ASSERT_EQ(recorder.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, eject, 6, nullptr, 0), 1);
  const uint8_t exchange[12] = {0xA6};  // EXCHANGE MEDIUM, vendor bits 0: exchange
  ASSERT_EQ(transporter.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_NONE, exchange, 12, nullptr, 0), 1);
  EXPECT_EQ(read_file(m + "-1.state"), "kept");
  EXPECT_FALSE(std::filesystem::exists(m + "-1.cue"));
  EXPECT_EQ(read_file(m + "-2.bin"), std::string(300 * RAW, '\x33'));
  EXPECT_EQ(read_file(m + "-2.cue"), sheet_for("m-2"));
}

}  // namespace

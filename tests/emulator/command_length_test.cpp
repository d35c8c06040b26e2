// Every emulated device checks a command block's length before its handler
// reads a byte: the group code of the operation code gives the length, and
// a block of any other length is ILLEGAL REQUEST, invalid field in CDB.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/bus.h"
#include "support/scratch.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One device of each emulated family: readers, recorders, the drives of the
// multimedia command set and the transporter.
const char* const FAMILIES =
    "0:0:0=CD-ROM PX-12CS;0:1:0=CD-ROM DRIVE:222;0:2:0=CD-ROM DR-U124X;0:3:0=CD-ROM CDU-76S;"
    "0:4:0=CD-ROM XM-3701TA;0:5:0=MMC CD-ROM DRIVE;0:6:0=MMC CD-RW DRIVE,medium=mmc;"
    "1:0:0=CDD2000,medium=philips;1:1:0=CD-R   CDU924S,medium=sony;1:2:0=RO1060C,medium=ricoh;"
    "1:3:0=CDR102,medium=yamaha;1:4:0=RCD-1000,medium=jvc;1:5:0=DISC TRANSPORTER;"
    "1:6:0=CD-ROM XM-3401TA,type=0xFF";

std::string in_folder(std::string value, const std::string& folder) {
  for (size_t at = value.find("medium="); at != std::string::npos;
       at = value.find("medium=", at + 1))
    value.insert(at + 7, folder + "/");
  return value;
}

EmulatedAnswer send(EmulatedDevice& device, const Bytes& cdb, std::size_t length) {
  Bytes block = cdb;
  block.resize(16, 0);
  uint8_t buffer[64] = {};
  uint8_t sense[SENSE_LENGTH] = {};
  const EmulatedCommand command{
      block.data(), static_cast<uint8_t>(length), SRB_DIR_IN, buffer, sizeof buffer, nullptr};
  return device.run(command, sense);
}

bool invalid_field(const EmulatedAnswer& answer) {
  return answer.target_status == STATUS_CHECK_CONDITION &&
         answer.sense.key == SENSE_KEY_ILLEGAL_REQUEST && answer.sense.asc == 0x24 &&
         answer.sense.ascq == 0x00;
}

TEST(CommandLength, EveryHandledCommandOfEveryFamilyRefusesAnyOtherLength) {
  ScratchDirectory scratch;
  EmulatedBus bus(parse_emulated_bus(in_folder(FAMILIES, scratch.path())));
  for (const auto& device : bus.devices()) {
    SCOPED_TRACE(device->identity().product);
    unsigned handled = 0;
    for (unsigned opcode = 0; opcode < 256; ++opcode) {
      if (!device->handler(static_cast<uint8_t>(opcode))) continue;
      ++handled;
      const uint8_t length = device->command_length(static_cast<uint8_t>(opcode));
      // A block of zeros but the operation code: wrong lengths of every
      // size the bus carries (6 to 16 bytes).
      for (std::size_t wrong = 6; wrong <= 16; ++wrong) {
        if (wrong == length) continue;
        EXPECT_TRUE(invalid_field(send(*device, {static_cast<uint8_t>(opcode)}, wrong)))
            << "opcode " << opcode << ", " << wrong << " bytes";
      }
    }
    EXPECT_GE(handled, 3u);  // INQUIRY, TEST UNIT READY, REQUEST SENSE at least
  }
}

TEST(CommandLength, GroupCodesGiveTheLengthsTheDrivesTake) {
  ScratchDirectory scratch;
  EmulatedBus bus(parse_emulated_bus(in_folder(FAMILIES, scratch.path())));
  const struct {
    uint8_t ha, id;
    Bytes cdb;  // at its right length
  } cases[] = {
      {0, 0, {0x00, 0, 0, 0, 0, 0}},                       // TEST UNIT READY
      {0, 0, {0x12, 0, 0, 0, 36, 0}},                      // INQUIRY, 36 bytes
      {1, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}},           // READ CAPACITY
      {1, 0, {0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 64, 0}},       // MODE SENSE(10), group 2
      {0, 5, {0xBE, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0}},  // READ CD, no blocks, group 5
      {0, 0, {0xD8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},     // READ CD-DA, 12-byte vendor
      {0, 1, {0xD4, 0, 0, 0, 0, 0, 0, 0, 0, 0}},           // NEC READ CD-DA, 10 bytes
      {1, 4, {0xE3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},     // JVC FIXATION, 12 bytes
      {1, 1, {0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},           // Sony CLOSE TRACK, 10 bytes
      {1, 5, {0xA6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},     // EXCHANGE MEDIUM
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "opcode " << int(c.cdb[0]) << " on " << int(c.ha) << ":" << int(c.id));
    EmulatedDevice& device = *bus.device(c.ha, c.id, 0);
    EXPECT_EQ(device.command_length(c.cdb[0]), c.cdb.size());
    EXPECT_FALSE(invalid_field(send(device, c.cdb, c.cdb.size())));
    EXPECT_TRUE(invalid_field(send(device, c.cdb, c.cdb.size() - 1 < 6 ? 7 : c.cdb.size() - 1)));
  }
}

}  // namespace

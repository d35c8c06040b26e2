// MODE SENSE(10) of the emulated CD-ROM drive gives what MODE SENSE(6)
// gives, behind the longer header.
#include <gtest/gtest.h>

#include <vector>

#include "emulator/bus.h"
#include "scsi/device.h"
#include "support/scsi_fakes.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes mode_sense(ScsiDevice& drive, Bytes cdb, uint32_t length) {
  Bytes data(length, 0);
  uint32_t moved = 0;  // the drive may send less than the allocation length
  EXPECT_EQ(drive.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb.data(),
                          static_cast<uint8_t>(cdb.size()), data.data(), length, &moved),
            1);
  return data;
}

}  // namespace

TEST(EmulatedCdromDrive, ModeSenseTenGivesTheSamePagesAsSix) {
  cdm_test::ScopedTransport<EmulatedBus> bus(parse_emulated_bus("0:3:0=CD-ROM"));
  ScsiDevice drive(0, 3, 0);
  const Bytes six = mode_sense(drive, {0x1A, 0, 0x3F, 0, 255, 0}, 255);  // MODE SENSE(6) all pages
  const Bytes ten = mode_sense(drive, {0x5A, 0, 0x3F, 0, 0, 0, 0, 0x01, 0x00, 0}, 256);
  const std::size_t six_length = six[0] + 1u;
  ASSERT_GT(six_length, 12u);
  EXPECT_EQ(Bytes(ten.begin(), ten.begin() + 8),
            Bytes({0, static_cast<uint8_t>(six_length + 2), six[1], six[2], 0, 0, 0, six[3]}));
  EXPECT_EQ(Bytes(ten.begin() + 8, ten.begin() + 8 + (six_length - 4)),
            Bytes(six.begin() + 4, six.begin() + six_length));

  // Block descriptors left out, one page, and an allocation length that cuts it.
  const Bytes page = mode_sense(drive, {0x5A, 0x08, 0x01, 0, 0, 0, 0, 0, 10, 0}, 12);
  EXPECT_EQ(page, Bytes({0, 14, 0, 0, 0, 0, 0, 0, 0x01, 0x06, 0, 0}));
}

#include "emulator/bus.h"

#include <gtest/gtest.h>

#include "scsi/device.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedTransport;

TEST(EmulatedBus, InquiryGivesTheIdentityAsWritten) {
  ScopedTransport<EmulatedBus> bus(
      parse_emulated_bus("0:3:0=CD-ROM PX-12CS,vendor=ACME,revision=1.1,type=0xFF"));
  uint8_t data[INQUIRY_LENGTH] = {};
  ASSERT_EQ(ScsiDevice::Inquiry(0, 3, 0, data, nullptr, false), 1);
  EXPECT_EQ(data[0], 0xFF);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 28), "ACME    CD-ROM PX-12CS  1.1 ");
}

}  // namespace

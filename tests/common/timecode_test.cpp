#include "common/timecode.h"

#include <gtest/gtest.h>

namespace {

TEST(TimeCode, ConversionsAroundTheLbaOrigin) {
  EXPECT_EQ(msf_to_lba(0, 2, 0), 0);
  EXPECT_EQ(lba_to_msf(0), (MsfTime{0, 2, 0}));
  EXPECT_EQ(lba_to_msf(-150), (MsfTime{0, 0, 0}));
  EXPECT_EQ(msf_to_frames(74, 0, 0), 333000);
  EXPECT_EQ(lba_to_msf(333000 - 150 - 1), (MsfTime{73, 59, 74}));
  for (int32_t lba = -150; lba < 400000; lba += 997) {
    const MsfTime msf = lba_to_msf(lba);
    EXPECT_EQ(msf_to_lba(msf.minute, msf.second, msf.frame), lba);
  }
}

TEST(TimeCode, BinaryCodedDecimal) {
  EXPECT_EQ(bin_to_bcd(99), 0x99);
  EXPECT_EQ(bin_to_bcd(0), 0x00);
  EXPECT_EQ(bcd_to_bin(0x45), 45);
  testing::internal::CaptureStderr();
  EXPECT_EQ(bin_to_bcd(100), 0xA0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Illegal BCD number!\n");
}

}  // namespace

#include "common/msgvec.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/console.h"
#include "support/raised.h"

namespace {

using cdm_test::raised_text;

TEST(MessageVector, CommandFailureWithCausePrintsTwoLines) {
  testing::internal::CaptureStderr();
  const int status = run_tool(
      []() -> int { raise_message(MSG_COMMAND_FAILED, 4, MSG_NOT_READY, 0, "READ TOC", 1, 4, 0); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\nError: 'READ TOC' command failed on device 1:4:0\nDevice is not ready\n");
}

TEST(MessageVector, ReadFailuresPickTheirKindsText) {
  EXPECT_EQ(
      raised_text(
          [&] { raise_sector_read_failure(ReadKind::Audio, 10, 20, 0, 3, 0, MSG_MEDIUM_ERROR); }),
      "\nError: Unable to read AUDIO sectors 10 to 20 on device 0:3:0\nBad medium detected\n");
  EXPECT_EQ(raised_text([&] { raise_sector_read_failure(ReadKind::Data, 1, 2, 0, 3, 0, 0); }),
            "\nError: Unable to read DATA sectors 1 to 2 on device 0:3:0\n");
}

TEST(MessageVector, LongFileNamesAreNeverCut) {
  const std::string name(5000, 'x');
  EXPECT_EQ(raised_text([&] {
              raise_message(MSG_CUE_SHEET_LINE, 1, MSG_TEXT, 1, 7u,
                            "Unable to open file \"" + name + "\"");
            }),
            "\nError: Invalid CUE SHEET command at line 7\nUnable to open file \"" + name + "\"\n");
}

TEST(MessageVector, CatalogueIsInOrderAndEveryCodeHasText) {
  std::size_t count = 0;
  const CatalogueEntry* entries = message_catalogue(&count);
  ASSERT_EQ(count, 49u);
  for (std::size_t i = 1; i < count; ++i) EXPECT_LE(entries[i].code, entries[i - 1].code);
  for (int32_t code = -1; code >= -35; --code) EXPECT_NE(message_text(code), nullptr);
}

}  // namespace

namespace {

TEST(RunTool, OtherExceptionsEndAsReportedErrors) {
  testing::internal::CaptureStderr();
  const int status = run_tool([]() -> int { throw std::runtime_error("disk on fire"); });
  EXPECT_EQ(status, 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nError: disk on fire\n");
}

}  // namespace

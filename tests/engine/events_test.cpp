// The recording events: what notify_event hands the callback, and the
// console text of every event type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/recording.h"

namespace {

TEST(RecordingEvents, NotifyBuildsTheRecordOrAnswersOneWithoutCallback) {
  clear_event_callback();
  EXPECT_EQ(notify_event(EVENT_TRACK_START, {3, 100}), 1);
  std::vector<RecordingEvent> seen;
  set_event_callback([&](const RecordingEvent& event) {
    seen.push_back(event);
    return 7;
  });
  EXPECT_EQ(notify_event(EVENT_JITTER_PROGRESS, {1, 2, 3, 4, 5, 6, 7, 8, 9}), 7);
  EXPECT_EQ(notify_event(EVENT_RECORDING_DONE), 7);
  clear_event_callback();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].type, EVENT_JITTER_PROGRESS);
  EXPECT_EQ(seen[0].arg_count, 8);  // a ninth argument has no place
  EXPECT_EQ(seen[0].args[7], 8u);
  EXPECT_EQ(seen[1].arg_count, 0);
  EXPECT_EQ(seen[1].args[0], 0u);
}

TEST(RecordingEvents, ConsoleTexts) {
  struct Case {
    uint16_t type;
    std::vector<uint32_t> args;
    const char* text;
    const char* printed;
  };
  const Case cases[] = {
      {0, {16, 115}, nullptr, "Reading LBA 000016 to 000115 (100 blocks)\n"},
      {3, {0, 0}, nullptr, "Reading LBA 000000 to 000000 (1 blocks)\n"},
      {1, {27, 53}, nullptr, "  LBA: 000027 to 000053\r"},
      {2, {}, nullptr, "\n"},
      {5, {}, nullptr, "\n"},
      {4, {27, 53, 0xFFFD}, nullptr, "  LBA: 000027 to 000053 (Jitter: -3 stereo samples)      \r"},
      {4, {1, 2, 12}, nullptr, "  LBA: 000001 to 000002 (Jitter: 12 stereo samples)      \r"},
      {6, {}, nullptr, ""},
      {7, {}, nullptr, "CD successfully recorded!\n"},
      {8, {300}, "TRACK01.BIN", "Writing file \"TRACK01.BIN\" (300 blocks)\n 0% completed.\r"},
      {9, {42}, nullptr, " 42% completed.\r"},
      {10, {}, nullptr, " 100% completed.\n"},
      {11, {7, 1234}, nullptr, "Writing TRACK 07 (1234 blocks)\n 0% completed.\r"},
      {12, {99}, nullptr, " 99% completed.\r"},
      {13, {}, nullptr, " 100% completed.\n"},
      {14, {150}, nullptr, "Writing pregap (150 blocks)..."},
      {15, {}, nullptr, "\n"},
      {16, {75}, nullptr, "Writing postgap (75 blocks)..."},
      {17, {}, nullptr, "\n"},
      {18, {}, nullptr, "Writing leadin track..."},
      {19, {}, nullptr, "\n"},
      {20, {}, nullptr, "Writing leadout track..."},
      {21, {}, nullptr, "\n"},
      {22, {1}, nullptr, "\nFinalizing SESSION (writing leadin/leadout)..."},
      {22, {0}, nullptr, "\nFinalizing DISC (writing leadin/leadout)..."},
      {23, {}, nullptr, "\n"},
      {24, {}, nullptr, "Analyzing disc layout... Please wait...\n"},
      {25, {}, nullptr, ""},
      {26, {1}, nullptr, ""},
      {0xFFFF, {}, nullptr, ""},
  };
  for (const Case& c : cases) {
    RecordingEvent event;
    event.type = c.type;
    event.text = c.text;
    for (uint32_t word : c.args) event.args[event.arg_count++] = word;
    testing::internal::CaptureStdout();
    EXPECT_EQ(console_event_callback(event), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed) << c.type;
  }
}

}  // namespace

// The span readers against a drive that follows a script of read offsets:
// the jitter figures of the events, a stop asked by the callback, the last
// blocks of a span read again when a read lands too early to hold them, and
// the block sizes that cannot be read.
#include "engine/span_reading.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/recording.h"
#include "support/raised.h"

namespace {

constexpr uint32_t RAW = 2352;

// Audio whose every 4-byte sample differs from the others, read at the
// offsets of `shifts` (stereo samples, positive: late), one per read, the
// last one repeated.
class ScriptedReader : public CdReader {
 public:
  explicit ScriptedReader(uint32_t frames, std::vector<int> shifts)
      : shifts_(std::move(shifts)), disc_(std::size_t{frames} * RAW) {
    for (std::size_t i = 0; i < disc_.size(); i += 4) {
      const auto sample = static_cast<uint32_t>(i / 4 + 1);
      std::memcpy(&disc_[i], &sample, 4);
    }
  }
  ResultCode ReadAudio(uint8_t* buffer, uint32_t count, uint32_t lba, uint8_t) override {
    const int shift = shifts_[std::min(reads, shifts_.size() - 1)];
    ++reads;
    const int64_t from = int64_t{lba} * RAW + shift * 4;
    for (std::size_t i = 0; i < std::size_t{count} * RAW; ++i) {
      const int64_t at = from + static_cast<int64_t>(i);
      buffer[i] = at >= 0 && at < static_cast<int64_t>(disc_.size()) ? disc_[at] : 0;
    }
    return 1;
  }
  std::string frames(uint32_t first, uint32_t last) const {
    return std::string(disc_.begin() + first * RAW, disc_.begin() + (last + 1) * RAW);
  }
  std::size_t reads = 0;

 private:
  std::vector<int> shifts_;
  std::vector<uint8_t> disc_;
};

struct Collected {
  std::string bytes;
  std::vector<RecordingEvent> events;
};

Collected read_audio(ScriptedReader& reader, uint32_t first, uint32_t last, int stop_after = 0) {
  Collected got;
  int batches = 0;
  set_event_callback([&](const RecordingEvent& event) {
    got.events.push_back(event);
    return event.type == EVENT_JITTER_PROGRESS && ++batches == stop_after ? 0 : 1;
  });
  read_audio_span(
      reader, RAW, first, last, JITTER_ON,
      [&](const uint8_t* blocks, uint16_t size, uint32_t count) {
        got.bytes.append(reinterpret_cast<const char*>(blocks), size * count);
      },
      true);
  clear_event_callback();
  return got;
}

TEST(SpanReading, JitterFiguresAreTheChangeOfTheDrivesOffset) {
  ScriptedReader reader(200, {0, 3, -2, -2, 40});
  const Collected got = read_audio(reader, 0, 119);
  EXPECT_TRUE(got.bytes == reader.frames(0, 119));
  std::vector<int> figures;
  for (const RecordingEvent& event : got.events)
    if (event.type == EVENT_JITTER_PROGRESS) figures.push_back(static_cast<int16_t>(event.args[2]));
  // Late by 3 samples: the reference lies 12 bytes early, a figure of -3.
  EXPECT_EQ(figures, (std::vector<int>{0, -3, 5, 0, -42}));
  EXPECT_EQ(got.events.front().type, EVENT_JITTER_READ_START);
  EXPECT_EQ(got.events.back().type, EVENT_JITTER_READ_END);
}

TEST(SpanReading, ACallbackThatAsksToStopEndsAfterThatBatch) {
  ScriptedReader reader(200, {0});
  const Collected got = read_audio(reader, 0, 199, 2);
  EXPECT_TRUE(got.bytes == reader.frames(0, 51));
  ASSERT_EQ(got.events.size(), 4u);
  EXPECT_EQ(got.events[3].type, EVENT_JITTER_READ_END);
  EXPECT_EQ(reader.reads, 2u);
}

// The last read of a span ends at its last block: landing early it lacks the
// tail of that block and is made again.
TEST(SpanReading, AReadLandingEarlyAtTheEndIsMadeAgain) {
  ScriptedReader reader(60, {0, 0, -3, -1, 0});
  const Collected got = read_audio(reader, 0, 52);
  EXPECT_TRUE(got.bytes == reader.frames(0, 52));
  EXPECT_EQ(reader.reads, 5u);
}

TEST(SpanReading, BlockSizesThatCannotBeRead) {
  ScriptedReader reader(10, {0});
  const SpanSink sink = [](const uint8_t*, uint16_t, uint32_t) {};
  for (uint16_t size : std::initializer_list<uint16_t>{2048, 2340, 0}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(
        cdm_test::raised_text([&] { read_audio_span(reader, size, 0, 1, JITTER_ON, sink, false); }),
        "\nError: Internal bugcheck detected\n");
  }
  for (uint16_t size : std::initializer_list<uint16_t>{2448, 2000, 512}) {
    SCOPED_TRACE(size);
    EXPECT_EQ(cdm_test::raised_text([&] { read_data_span(reader, size, 0, 1, sink, false); }),
              "\nError: Internal bugcheck detected\n");
  }
  EXPECT_EQ(reader.reads, 0u);
}

}  // namespace

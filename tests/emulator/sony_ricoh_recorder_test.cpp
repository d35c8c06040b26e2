// The emulated Sony and Ricoh recorders: what they answer and refuse, by raw
// command bytes (their round trips with the engine are in
// engine_to_recorder_test.cpp).
#include <gtest/gtest.h>

#include <functional>

#include "tests/emulator/recorder_harness.h"

namespace {

using namespace cdm_test;

class SonyRicohRecorders : public RecorderHarness {};

// Drive cue sheet of one audio track of 10 frames after a 150-frame pregap.
const Bytes ONE_AUDIO_TRACK = {
    0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0,     // lead-in
    0x01, 0x01, 0x00, 0x01, 0, 0, 0, 0,     // 1.0 at 00:00:00
    0x01, 0x01, 0x01, 0x01, 0, 0, 2, 0,     // 1.1 at 00:02:00
    0x01, 0xAA, 0x01, 0x00, 0, 0, 2, 0x10,  // lead-out at 00:02:10
};

Bytes write_start(bool class15, const Bytes& sheet) {
  return {0xE0, static_cast<uint8_t>(class15 ? 0x10 : 0),
          0,    static_cast<uint8_t>(sheet.size()),
          0,    0,
          0,    0,
          0,    0};
}

Bytes sony_write(uint32_t bytes) {
  return {0xE1,
          static_cast<uint8_t>(bytes >> 16),
          static_cast<uint8_t>(bytes >> 8),
          static_cast<uint8_t>(bytes),
          0,
          0,
          0,
          0,
          0,
          0};
}

// Page 22h with byte 2 cleared, as the family's drivers prepare a disc at once.
void prepare(RecorderHarness& r) {
  Bytes page(32, 0);
  page[0] = 0x22;
  page[1] = 30;
  ASSERT_EQ(r.select_page(page), 1) << r.sense();
}

TEST_F(SonyRicohRecorders, AnswersAndRefusalsWithADrivesSense) {
  using Step = std::function<void(RecorderHarness&)>;
  Bytes bad_form = ONE_AUDIO_TRACK;
  bad_form[11] = 0x11;  // a Mode 1 data form for an audio track
  Bytes no_leadout(ONE_AUDIO_TRACK.begin(), ONE_AUDIO_TRACK.end() - 8);
  no_leadout.insert(no_leadout.end(), ONE_AUDIO_TRACK.begin() + 16, ONE_AUDIO_TRACK.begin() + 24);
  const Bytes audio_block(RAW_SECTOR_SIZE, 0);
  const Step nothing = [](RecorderHarness&) {};
  const Step sheet_sent = [](RecorderHarness& r) {
    prepare(r);
    ASSERT_EQ(r.send(write_start(false, ONE_AUDIO_TRACK), ONE_AUDIO_TRACK), 1) << r.sense();
  };
  // A track at once of one audio block.
  const Step one_audio_block = [&](RecorderHarness& r) {
    ASSERT_EQ(r.send({0xF5, 0, 0, 0, 0, 1, 0, 0, 0, 0}), 1) << r.sense();
    ASSERT_EQ(r.send(sony_write(RAW_SECTOR_SIZE), audio_block), 1) << r.sense();
  };
  const struct {
    const char* what;
    const char* product;
    Step setup;
    Bytes cdb;
    Bytes data;
    Sense sense;  // 0/0/0: GOOD
  } cases[] = {
      // clang-format off
      {"cue sheet before the disc page was prepared", "CDS620E", nothing,
       write_start(false, ONE_AUDIO_TRACK), ONE_AUDIO_TRACK, {5, 0x2C, 0}},
      {"class 15's bit on another class", "CD-R   CDU920S", prepare,
       write_start(true, ONE_AUDIO_TRACK), ONE_AUDIO_TRACK, {5, 0x24, 0}},
      {"class 15 without its bit", "CDW-900E", nothing,
       write_start(false, ONE_AUDIO_TRACK), ONE_AUDIO_TRACK, {5, 0x24, 0}},
      {"a data form against the control nibble", "CDW-900E", nothing,
       write_start(true, bad_form), bad_form, {5, 0x26, 0}},
      {"no lead-out", "CDW-900E", nothing,
       write_start(true, no_leadout), no_leadout, {5, 0x26, 0}},
      {"bytes that are not whole blocks", "CDS620E", sheet_sent,
       sony_write(2048), Bytes(2048, 0), {5, 0x24, 0}},
      {"more blocks than the sheet", "CDS620E", sheet_sent,
       sony_write(161 * RAW_SECTOR_SIZE), Bytes(161 * RAW_SECTOR_SIZE, 0), {5, 0x63, 0}},
      {"the last block: the drive reports the recording finished", "CDS620E", sheet_sent,
       sony_write(160 * RAW_SECTOR_SIZE), Bytes(160 * RAW_SECTOR_SIZE, 0), {6, 0x80, 0}},
      {"class 15 opens no track", "CDW-900E", nothing,
       {0xF5, 0, 0, 0, 0, 1, 0, 0, 0, 0}, {}, {5, 0x20, 0}},
      {"open track 100", "CDS615E", nothing,
       {0xF5, 0, 0, 0, 0, 100, 0, 0, 0, 0}, {}, {5, 0x24, 0}},
      {"fixation reports itself done", "CDS615E", one_audio_block,
       {0xF1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, {6, 0xD4, 0}},
      {"class 15 reads on from where it started", "CDW-900E", nothing,
       {0xE4, 0, 0x09, 0x30, 0, 0, 0, 0, 0, 0}, {}, {5, 0x2C, 0}},
      {"Ricoh: no disc at once", "RO1060C", nothing,
       write_start(false, ONE_AUDIO_TRACK), ONE_AUDIO_TRACK, {5, 0x20, 0}},
      {"Ricoh: a track page of no track kind", "RO1060C", nothing,
       {0x15, 0x10, 0, 0, 20, 0},  // MODE SELECT(6) of page 22h
       {0, 0, 0, 0, 0x22, 14, 0x30, 0, 0, 0x11, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0}, {5, 0x26, 0}},
      {"Ricoh: fixation without its bit", "RO1060C", nothing,
       {0xE9, 0, 0x01, 0, 0, 0, 0, 0, 0, 0}, {}, {5, 0x24, 0}},
      // clang-format on
  };
  int discs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    disc = folder + "/disc" + std::to_string(++discs);
    use(c.product);
    c.setup(*this);
    const int result = send(c.cdb, c.data);
    EXPECT_EQ(sense(), c.sense);
    EXPECT_EQ(result == 1, c.sense == Sense{});
  }
}

}  // namespace

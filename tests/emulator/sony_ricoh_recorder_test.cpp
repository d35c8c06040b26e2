// The emulated Sony and Ricoh recorders: what they refuse, by raw command
// bytes, and the engine with the families' drivers recording on them, the
// two written apart from each other.
#include <gtest/gtest.h>

#include <functional>

#include "drivers/driver_factory.h"
#include "drivers/recorder_driver.h"
#include "engine/recording.h"
#include "layout/cue_sheet.h"
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
  const struct {
    const char* what;
    const char* product;
    Step setup;
    Bytes cdb;
    Bytes data;
    Sense sense;  // 0/0/0: GOOD
  } cases[] = {
      {"cue sheet before the disc page was prepared",
       "CDS620E",
       nothing,
       write_start(false, ONE_AUDIO_TRACK),
       ONE_AUDIO_TRACK,
       {5, 0x2C, 0}},
      {"class 15's bit on another class",
       "CD-R   CDU920S",
       prepare,
       write_start(true, ONE_AUDIO_TRACK),
       ONE_AUDIO_TRACK,
       {5, 0x24, 0}},
      {"class 15 without its bit",
       "CDW-900E",
       nothing,
       write_start(false, ONE_AUDIO_TRACK),
       ONE_AUDIO_TRACK,
       {5, 0x24, 0}},
      {"a data form against the control nibble",
       "CDW-900E",
       nothing,
       write_start(true, bad_form),
       bad_form,
       {5, 0x26, 0}},
      {"no lead-out", "CDW-900E", nothing, write_start(true, no_leadout), no_leadout, {5, 0x26, 0}},
      {"bytes that are not whole blocks",
       "CDS620E",
       sheet_sent,
       sony_write(2048),
       Bytes(2048, 0),
       {5, 0x24, 0}},
      {"more blocks than the sheet",
       "CDS620E",
       sheet_sent,
       sony_write(161 * RAW_SECTOR_SIZE),
       Bytes(161 * RAW_SECTOR_SIZE, 0),
       {5, 0x63, 0}},
      {"the last block: the drive reports the recording finished",
       "CDS620E",
       sheet_sent,
       sony_write(160 * RAW_SECTOR_SIZE),
       Bytes(160 * RAW_SECTOR_SIZE, 0),
       {6, 0x80, 0}},
      {"class 15 opens no track",
       "CDW-900E",
       nothing,
       {0xF5, 0, 0, 0, 0, 1, 0, 0, 0, 0},
       {},
       {5, 0x20, 0}},
      {"open track 0", "CDS615E", nothing, {0xF5, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, {5, 0x24, 0}},
      {"fixation reports itself done",
       "CDS615E",
       [&](RecorderHarness& r) {
         ASSERT_EQ(r.send({0xF5, 0, 0, 0, 0, 1, 0, 0, 0, 0}), 1) << r.sense();
         ASSERT_EQ(r.send(sony_write(RAW_SECTOR_SIZE), audio_block), 1) << r.sense();
       },
       {0xF1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {},
       {6, 0xD4, 0}},
      {"class 15 reads on from where it started",
       "CDW-900E",
       nothing,
       {0xE4, 0, 0x09, 0x30, 0, 0, 0, 0, 0, 0},
       {},
       {5, 0x2C, 0}},
      {"Ricoh: no disc at once",
       "RO1060C",
       nothing,
       write_start(false, ONE_AUDIO_TRACK),
       ONE_AUDIO_TRACK,
       {5, 0x20, 0}},
      {"Ricoh: a track page of no track kind",
       "RO1060C",
       nothing,
       {0x15, 0x10, 0, 0, 20, 0},
       {0, 0, 0, 0, 0x22, 14, 0x30, 0, 0, 0x11, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0},
       {5, 0x26, 0}},
      {"Ricoh: fixation without its bit",
       "RO1060C",
       nothing,
       {0xE9, 0, 0x01, 0, 0, 0, 0, 0, 0, 0},
       {},
       {5, 0x24, 0}},
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

// Class 15 reads audio through its own commands: START READ, then READ on
// from there, as the driver sends them.
TEST_F(SonyRicohRecorders, RecordedDiscsGiveBackTheImage) {
  SampleDisc sample;
  sample.catalog = "0731454032326";
  sample.tracks = {{TrackType::Audio, 200, 0, "USABC9600001", "DCP"},
                   {TrackType::Mode1, 150, 150, "", ""},
                   {TrackType::Mode2, 100, 0, "", ""}};
  const std::string cue = write_sample_disc(folder, "sample", sample);
  const struct {
    const char* product;
    uint8_t model;
    bool codes;
  } cases[] = {{"CDW-900E", 15, true}, {"CDS615E", 16, false}, {"CD-R2004", 17, false}};
  int discs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.product);
    disc = folder + "/disc" + std::to_string(++discs);
    use(c.product);
    std::unique_ptr<ScsiDevice> device = create_driver(c.model);
    auto& recorder = static_cast<RecorderDriver&>(*device);
    recorder.target = 4;
    std::unique_ptr<CueSheetLayout> sheet = parse_cue_sheet(cue);
    DiscAtOnceJob job;
    job.layout = sheet->layout.get();
    job.files = sheet->files.data();
    job.file_count = sheet->file_count;
    std::string failure = "none";
    Bytes audio(3 * RAW_SECTOR_SIZE);
    try {
      record_disc_at_once(recorder, job);
      recorder.ReadAudioSectors(audio.data(), 3, 100, SUBCODE_NONE, true);
    } catch (const MSGVEC& record) {
      failure = message_vector_text(record);
    }
    ASSERT_EQ(failure, "none");
    for (int32_t i = 0; i < 3; ++i)
      EXPECT_EQ(
          Bytes(audio.begin() + i * RAW_SECTOR_SIZE, audio.begin() + (i + 1) * RAW_SECTOR_SIZE),
          sample_frame(TrackType::Audio, static_cast<uint32_t>(100 + i)));
    unplug();
    EXPECT_EQ(file(".bin"), read_file(folder + "/sample.bin"));
    EXPECT_EQ(file(".state").substr(0, 27), "capacity 332850\ndisc closed");
    const std::string stored = file(".cue");
    EXPECT_EQ(stored.find("CATALOG 0731454032326\n") != std::string::npos, c.codes) << stored;
    EXPECT_EQ(stored.find("ISRC USABC9600001\n") != std::string::npos, c.codes) << stored;
    EXPECT_NE(stored.find("  TRACK 02 MODE1/2352\n    INDEX 00 00:02:50\n    INDEX 01 00:04:50\n"),
              std::string::npos)
        << stored;
  }
}

// Two runs of a Mode 1 track of 2048-byte blocks on each track-at-once
// class, the first leaving the session open, the second a test.
TEST_F(SonyRicohRecorders, TrackAtOnceThroughTheStagingBuffer) {
  Bytes data(500 * DATA_BLOCK_SIZE);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + i / 2048);
  const struct {
    const char* product;
    uint8_t model;
  } cases[] = {{"CD-R   CDU920S", 16}, {"CD-R   CDU940S", 17}, {"RO1060C", 13}};
  int discs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.product);
    disc = folder + "/tao" + std::to_string(++discs);
    for (const uint8_t flags :
         {uint8_t{TAO_FINALIZE | TAO_SESSION}, uint8_t{TAO_FINALIZE | TAO_TEST}}) {
      use(c.product);
      std::unique_ptr<ScsiDevice> device = create_driver(c.model);
      auto& recorder = static_cast<RecorderDriver&>(*device);
      recorder.target = 4;
      TrackAtOnceJob job;
      job.track.track_number = 1;
      job.track.track_type = TrackType::Mode1;
      job.track.track_flags = TRACK_DATA;
      job.track.block_size = DATA_BLOCK_SIZE;
      job.flags = flags;
      std::string failure = "none";
      try {
        ASSERT_EQ(begin_track_at_once(recorder, job), 1);
        BlockWriter writer(DATA_BLOCK_SIZE, recorder);
        writer.append(data.data(), data.size());
        writer.flush();
        end_track_at_once(recorder, job);
      } catch (const MSGVEC& record) {
        failure = message_vector_text(record);
      }
      ASSERT_EQ(failure, "none");
      unplug();
    }
    EXPECT_EQ(file(".state"), "capacity 332850\ndisc open\nnext 11900\nsession 1 1 1 500 closed\n");
    const std::string image = file(".bin");
    ASSERT_EQ(image.size(), 500 * RAW_SECTOR_SIZE);
    for (int32_t lba = 0; lba < 500; ++lba) {
      Bytes sector(RAW_SECTOR_SIZE);
      build_sector(sector.data(), SECTOR_MODE1, lba, nullptr, data.data() + lba * DATA_BLOCK_SIZE,
                   false, false, false);
      ASSERT_EQ(image.compare(static_cast<std::size_t>(lba) * RAW_SECTOR_SIZE, RAW_SECTOR_SIZE,
                              std::string(sector.begin(), sector.end())),
                0)
          << lba;
    }
  }
}

}  // namespace

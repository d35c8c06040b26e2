// The recording engine and the recorder families' drivers against the
// emulated recorders, written apart from each other: a disc-at-once job of a
// sample disc must come out as the same image, and read back through the
// driver; a track at once as its sectors.
#include <gtest/gtest.h>

#include <functional>

#include "drivers/cd_text_reading.h"
#include "drivers/driver_factory.h"
#include "drivers/mmc_drive.h"
#include "engine/recording.h"
#include "layout/cd_text.h"
#include "layout/cue_sheet.h"
#include "scsi/models.h"
#include "tests/emulator/recorder_harness.h"

namespace {

using namespace cdm_test;

class EngineToRecorder : public RecorderHarness {};

TEST_F(EngineToRecorder, DiscAtOnceGivesBackTheImage) {
  const std::string cue = write_sample_disc(folder, "sample", mixed_sample_disc());
  struct Case {
    const char* product;
    uint8_t model;
    bool codes;  // the catalog number and ISRC reach the disc
  };
  const std::vector<Case> cases = {
      {"CDD2000", 8, true},    {"CDD522/10", 7, true},
      {"RO-1420C", 14, true},  {"KHSW/OB-01", 2, true},
      {"CDW-900E", 15, true},  {"CDS615E", 16, false},
      {"CD-R2004", 17, false}, {"MMC CD-RW DRIVE", MODEL_MMC, true},
  };
  int discs = 0;
  for (const Case& row : cases) {
    SCOPED_TRACE(row.product);
    disc = folder + "/disc" + std::to_string(++discs);
    use(row.product);
    std::unique_ptr<ScsiDevice> device = create_driver(row.model);
    auto* recorder = static_cast<RecorderDriver*>(device.get());
    recorder->target = 4;
    std::unique_ptr<CueSheetLayout> job_sheet = parse_cue_sheet(cue);
    DiscAtOnceJob job;
    job.layout = job_sheet->layout.get();
    job.files = job_sheet->files.data();
    job.file_count = job_sheet->file_count;
    std::string failure = "none";
    // Audio read back through the driver, as its class reads.
    Bytes audio(3 * RAW_SECTOR_SIZE);
    try {
      record_disc_at_once(*recorder, job);
      recorder->ReadAudioSectors(audio.data(), 3, 100, SUBCODE_NONE, true);
    } catch (const MSGVEC& record) {
      failure = message_vector_text(record);
    }
    ASSERT_EQ(failure, "none");
    for (uint32_t i = 0; i < 3; ++i)
      EXPECT_EQ(
          Bytes(audio.begin() + i * RAW_SECTOR_SIZE, audio.begin() + (i + 1) * RAW_SECTOR_SIZE),
          sample_frame(TrackType::Audio, 100 + i));
    unplug();
    EXPECT_EQ(file(".bin"), read_file(folder + "/sample.bin"));
    EXPECT_EQ(file(".state").substr(0, 27), "capacity 332850\ndisc closed");
    const std::string stored = file(".cue");
    EXPECT_EQ(stored.find("CATALOG 0731454032326\n") != std::string::npos, row.codes) << stored;
    EXPECT_EQ(stored.find("ISRC USABC9600001\n") != std::string::npos, row.codes) << stored;
    EXPECT_NE(stored.find("  TRACK 02 MODE1/2352\n    INDEX 00 00:02:50\n    INDEX 01 00:04:50\n"),
              std::string::npos)
        << stored;
  }
}

// The lead-in's packs on the MMC recorder: as the driver sent them they come
// back as PATH.cdt and READ TOC format 5; a pack whose CRC is wrong is
// refused and leaves the disc blank.
TEST_F(EngineToRecorder, LeadInPacksAreKeptAndBadOnesRefused) {
  const std::string cue = write_sample_disc(folder, "sample", mixed_sample_disc());
  std::unique_ptr<CueSheetLayout> sheet = parse_cue_sheet(cue);
  sheet->layout->disc_texts = {{"TITLE", "Sample", false}, {"PERFORMER", "Players", false}};
  const std::vector<uint8_t> packs = build_cd_text(*sheet->layout).packs;
  ASSERT_EQ(packs.size(), 8u * CD_TEXT_PACK_SIZE);  // title, performer, 2 of codes, 3 of size
  for (const bool corrupt : {false, true}) {
    SCOPED_TRACE(corrupt ? "a bad CRC" : "sound packs");
    disc = folder + (corrupt ? "/bad" : "/good");
    use("MMC CD-RW DRIVE");
    ScsiDevice found;  // as the bus scan finds it: the probe reads its features
    found.target = 4;
    std::unique_ptr<ScsiDevice> device = probe_mmc_drive(found);
    auto* recorder = dynamic_cast<RecorderDriver*>(device.get());
    ASSERT_NE(recorder, nullptr);
    ASSERT_TRUE(recorder->RecorderCaps & CAP_CD_TEXT);
    DiscAtOnceJob job;
    job.layout = sheet->layout.get();
    job.files = sheet->files.data();
    job.file_count = sheet->file_count;
    job.cd_text = packs;
    if (corrupt) job.cd_text[2 * CD_TEXT_PACK_SIZE + 5] ^= 0x40;
    std::string failure = "none";
    std::vector<uint8_t> read_back;
    try {
      record_disc_at_once(*recorder, job);
      read_cd_text_packs(*recorder, &read_back);
    } catch (const MSGVEC& record) {
      failure = message_vector_text(record);
    }
    unplug();
    if (corrupt) {
      EXPECT_EQ(failure,
                "\nError: 'WRITE' command failed on device 0:4:0\nIllegal command request\n");
      EXPECT_EQ(file(".cue"), "(none)");
      continue;
    }
    ASSERT_EQ(failure, "none");
    EXPECT_EQ(read_back, packs);
    EXPECT_EQ(file(".cdt"), std::string(packs.begin(), packs.end()));
    EXPECT_NE(file(".cue").find("TITLE \"Sample\"\nPERFORMER \"Players\"\n"), std::string::npos);
  }
}

}  // namespace

namespace {

using namespace cdm_test;

// Two runs of a Mode 1 track of 2048-byte blocks through the staging
// buffer on each family, the first leaving the session open; the second is
// a test.
TEST_F(EngineToRecorder, TrackAtOnceThroughTheStagingBuffer) {
  Bytes data(1000 * DATA_BLOCK_SIZE);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 2048);
  const struct {
    const char* product;
    uint8_t model;
  } cases[] = {{"CDD2600", 9},
               {"CD-R   CDU920S", 16},
               {"CD-R   CDU940S", 17},
               {"RO1060C", 13},
               {"MMC CD-RW DRIVE", MODEL_MMC}};
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
    EXPECT_EQ(file(".state"),
              "capacity 332850\ndisc open\nnext 12400\nsession 1 1 1 1000 closed\n");
    const std::string image = file(".bin");
    ASSERT_EQ(image.size(), 1000 * RAW_SECTOR_SIZE);
    for (int32_t lba = 0; lba < 1000; ++lba) {
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

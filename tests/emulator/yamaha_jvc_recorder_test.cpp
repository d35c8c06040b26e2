// The Yamaha and JVC drivers and the engine against their emulated
// recorders, written apart from each other; and the JVC drive obeying the
// host's subcode program, right or wrong.
#include <gtest/gtest.h>

#include <functional>

#include "drivers/jvc_recorder.h"
#include "drivers/yamaha_recorder.h"
#include "tests/emulator/recorder_harness.h"

namespace {

using namespace cdm_test;

class YamahaJvcRecorders : public RecorderHarness {};

struct Family {
  const char* product;
  std::unique_ptr<RecorderDriver> (*driver)();
};

// A disc at once of the sample disc comes back as its image (the JVC drives
// take no catalog number or ISRC: the host programs only positions). The Yamaha
// drive now and then answers "busy" to a write, and answers ABORTED COMMAND
// to TEST UNIT READY while it writes the lead-out: the driver waits both out.
TEST_F(YamahaJvcRecorders, DiscAtOnceGivesBackTheImage) {
  const std::string cue = write_sample_disc(folder, "sample", mixed_sample_disc());
  const struct {
    Family family;
    std::string items;
    std::vector<unsigned> pauses;
    bool codes;
  } cases[] = {
      {{"CDR100",
        []() -> std::unique_ptr<RecorderDriver> { return std::make_unique<YamahaClass19>(); }},
       ",writebusy=7,leadout=3",
       // 30 writes (6 + 8 of track 1 with its pregap, 12, 4) and the four
       // answered "busy" sent again: 34 commands, every seventh refused
       {100, 100, 100, 100, 5000, 5000, 5000},
       true},
      {{"CDR102",
        []() -> std::unique_ptr<RecorderDriver> { return std::make_unique<YamahaClass20>(); }},
       "",
       {},
       true},
      {{"RCD-1000",
        []() -> std::unique_ptr<RecorderDriver> { return std::make_unique<JvcClass10>(); }},
       "",
       {},
       false},
      {{"RCD 4X4",
        []() -> std::unique_ptr<RecorderDriver> { return std::make_unique<JvcClass18>(); }},
       "",
       {},
       false},
  };
  int discs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family.product);
    disc = folder + "/disc" + std::to_string(++discs);
    use(c.family.product, c.items);
    SleepRecorder sleeps;
    std::unique_ptr<RecorderDriver> recorder = c.family.driver();
    ASSERT_EQ(record_sheet(*recorder, cue), "none");
    // The Q of track 1, index 1 comes back through the driver as any drive
    // gives it (the JVC drives send its fields unpacked, the driver packs
    // them): track, index and the absolute time of each position frame.
    Bytes frames(10 * (RAW_SECTOR_SIZE + 16));
    ASSERT_EQ(recorder->ReadAudioSectors(frames.data(), 10, 100, SUBCODE_Q, false), 1);
    int positions = 0;
    for (uint32_t i = 0; i < 10; ++i) {
      const uint8_t* q = frames.data() + i * (RAW_SECTOR_SIZE + 16) + RAW_SECTOR_SIZE;
      if ((q[0] & 0x0F) != 1) continue;
      ++positions;
      const uint32_t frame = 250 + i;  // LBA 100 + i, 150 frames after 00:00:00
      EXPECT_EQ(Bytes(q + 1, q + 3), Bytes({0x01, 0x01})) << i;
      EXPECT_EQ(Bytes(q + 7, q + 10),
                Bytes({0x00, static_cast<uint8_t>(frame / 75 / 10 * 16 + frame / 75 % 10),
                       static_cast<uint8_t>(frame % 75 / 10 * 16 + frame % 75 % 10)}))
          << i;
    }
    EXPECT_GT(positions, 0);
    unplug();
    EXPECT_EQ(sleeps.pauses, c.pauses);
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

// A track at once of 2048-byte blocks through the staging buffer; the JVC
// drive ends it with two run-out blocks.
TEST_F(YamahaJvcRecorders, TrackAtOnceThroughTheStagingBuffer) {
  Bytes data(1000 * DATA_BLOCK_SIZE);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13 + i / 2048);
  const struct {
    Family family;
    int32_t run_out;
  } cases[] = {
      {{"CDR102",
        []() -> std::unique_ptr<RecorderDriver> { return std::make_unique<YamahaClass20>(); }},
       0},
      {{"RCD5040",
        []() -> std::unique_ptr<RecorderDriver> { return std::make_unique<JvcClass11>(); }},
       2},
  };
  int discs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.family.product);
    disc = folder + "/tao" + std::to_string(++discs);
    use(c.family.product);
    std::unique_ptr<RecorderDriver> recorder = c.family.driver();
    recorder->target = 4;
    TrackAtOnceJob job;
    job.track.track_number = 1;
    job.track.track_type = TrackType::Mode1;
    job.track.track_flags = TRACK_DATA;
    job.track.block_size = DATA_BLOCK_SIZE;
    job.track.length = 1000;
    job.flags = TAO_FINALIZE;
    std::string failure = "none";
    try {
      ASSERT_EQ(begin_track_at_once(*recorder, job), 1);
      BlockWriter writer(DATA_BLOCK_SIZE, *recorder);
      writer.append(data.data(), data.size());
      writer.flush();
      end_track_at_once(*recorder, job);
    } catch (const MSGVEC& record) {
      failure = message_vector_text(record);
    }
    ASSERT_EQ(failure, "none");
    unplug();
    const int32_t end = 1000 + c.run_out;
    EXPECT_EQ(file(".state"), "capacity 332850\ndisc closed\nnext " +
                                  std::to_string(end + 6750 + 4650) + "\nsession 1 1 1 " +
                                  std::to_string(end) + " closed\n");
    const std::string image = file(".bin");
    ASSERT_EQ(image.size(), std::size_t(end) * RAW_SECTOR_SIZE);
    for (int32_t lba = 0; lba < end; ++lba) {
      Bytes sector(RAW_SECTOR_SIZE);
      build_sector(sector.data(), SECTOR_MODE1, lba, nullptr,
                   lba < 1000 ? data.data() + lba * DATA_BLOCK_SIZE : nullptr, false, false, false);
      ASSERT_EQ(image.compare(static_cast<std::size_t>(lba) * RAW_SECTOR_SIZE, RAW_SECTOR_SIZE,
                              std::string(sector.begin(), sector.end())),
                0)
          << lba;
    }
  }
}

// One audio track of 300 blocks recorded on a JVC drive with three subcode
// programs for the same blocks: the disc is what the program says, and a
// table of contents that does not list the program is refused.
TEST_F(YamahaJvcRecorders, JvcDriveRecordsTheHostsProgram) {
  struct Area {
    int32_t start, length;
    uint8_t pause, index;
  };
  const Bytes right_toc = {0, 0,    0,    0x01, 0x01, 0x00, 0x02, 0x00, 0x01, 0xA0, 0x01, 0,
                           0, 0x01, 0xA1, 0x01, 0,    0,    0x01, 0xA2, 0x00, 0x06, 0x00};
  Bytes late_toc = right_toc;
  late_toc[6] = 0x03;  // track 1 at 00:03:00
  const struct {
    const char* what;
    std::vector<Area> program;
    Bytes toc;
    Sense refused;        // of the first write
    std::string indexes;  // of the stored cue sheet
    uint8_t toc_start;    // READ TOC: track 1's LBA
  } cases[] = {
      {"right",
       {{-150, 150, 1, 0}, {0, 150, 0, 1}, {150, 150, 1, 1}},
       right_toc,
       {},
       "    INDEX 01 00:00:00\n",
       0},
      {"a longer pause and an index 2 where index 1 should go on",
       {{-150, 225, 1, 0}, {75, 75, 0, 1}, {150, 150, 0, 2}},
       late_toc,
       {},
       "    INDEX 00 00:00:00\n    INDEX 01 00:01:00\n    INDEX 02 00:02:00\n",
       75},
      {"a table of contents the program does not bear out",
       {{-150, 150, 1, 0}, {0, 150, 0, 1}, {150, 150, 1, 1}},
       late_toc,
       {5, 0x26, 0},
       "",
       0},
  };
  int discs = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    disc = folder + "/jvc" + std::to_string(++discs);
    use("RCD 4X4");
    // MODE SELECT: page 22h, disc at once; then 2352-byte blocks
    Bytes page = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x08, 0x00, 0x22, 7, 0, 0, 2, 0, 0, 0, 0};
    ASSERT_EQ(send({0x15, 0x10, 0, 0, 21, 0}, page), 1) << sense();
    ASSERT_EQ(select_block_length(2352), 1);
    ASSERT_EQ(send({0xEC, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 1);     // EXECUTE OPC
    ASSERT_EQ(send({0xE4, 0, 0, 0, 0, 0x80, 0, 0, 0, 0, 0, 0}), 1);  // CLEAR SUBCODE
    for (const Area& area : c.program) {
      Bytes limits = {0xB3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // SET LIMITS
      put_be32(&limits[2], static_cast<uint32_t>(area.start));
      put_be32(&limits[6], static_cast<uint32_t>(area.length));
      ASSERT_EQ(send(limits), 1) << sense();
      // SET SUBCODE: Q item of audio track 01
      ASSERT_EQ(send({0xC2, 0, 0, 0, 0, 0, 0, 0, 4, 0}, {area.pause, 0x01, 0x01, area.index}), 1)
          << sense();
    }
    ASSERT_EQ(send({0xC2, 0, 0, 0, 0, 0, 0, 0, 23, 0}, c.toc), 1) << sense();
    Bytes silence(150 * RAW_SECTOR_SIZE, 0);
    Bytes audio;
    for (int32_t lba = 0; lba < 300; ++lba) {
      const Bytes frame = reader_frame(Frame::Audio, lba);
      audio.insert(audio.end(), frame.begin(), frame.end());
    }
    // WRITE(10) LBA -150, 150 blocks, more to follow
    const int first = send({0x2A, 0, 0xFF, 0xFF, 0xFF, 0x6A, 0, 0, 150, 0x80}, silence);
    if (c.refused != Sense{}) {
      EXPECT_EQ(sense(), c.refused);
      unplug();
      EXPECT_EQ(file(".cue"), "(none)");
      continue;
    }
    ASSERT_EQ(first, 1) << sense();
    // WRITE(10) LBA 0, 300 blocks, the last
    ASSERT_EQ(send({0x2A, 0, 0, 0, 0, 0, 0, 0x01, 0x2C, 0x00}, audio), 1) << sense();
    Bytes toc(12);
    ASSERT_EQ(receive({0x43, 0, 0, 0, 0, 0, 1, 0, 12, 0}, &toc), 1)
        << sense();  // READ TOC, track 1
    EXPECT_EQ(toc[11], c.toc_start);
    unplug();
    const std::string stored = file(".cue");
    EXPECT_NE(stored.find("  TRACK 01 AUDIO\n" + c.indexes), std::string::npos) << stored;
    EXPECT_EQ(file(".bin"), std::string(audio.begin(), audio.end()));
  }
}

}  // namespace

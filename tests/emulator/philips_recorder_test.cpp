// The emulated Philips recorders: a session at once of audio, Mode 1 and
// Mode 2 tracks sent as the family's driver sends them, stored as a reader
// gets it and read back through the recorder, the emulated CD-ROM drive and
// the readers of other makers; track at once over two sessions kept between
// runs; class 2's whole-disc table; test recordings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "emulator/bus.h"
#include "support/run_program.h"
#include "tests/emulator/recorder_harness.h"

namespace {

using namespace cdm_test;

const char* const MIXED_CUE =
    "CATALOG 0731454032326\n"
    "FILE \"disc.bin\" BINARY\n"
    "  TRACK 01 AUDIO\n"
    "    FLAGS DCP\n"
    "    ISRC USABC9600001\n"
    "    INDEX 01 00:00:00\n"
    "  TRACK 02 MODE1/2352\n"
    "    INDEX 00 00:01:25\n"
    "    INDEX 01 00:03:25\n"
    "  TRACK 03 MODE2/2352\n"
    "    INDEX 01 00:04:10\n"
    "    INDEX 02 00:04:40\n";

class PhilipsRecorder : public RecorderHarness {
 protected:
  // Every frame of the stored image against what a reader must get.
  void expect_image(const std::vector<Segment>& segments, int32_t from = 0) {
    const std::string image = file(".bin");
    for (const Segment& segment : segments) {
      for (int32_t lba = std::max(segment.first, from); lba < segment.first + segment.count;
           ++lba) {
        const std::size_t at = static_cast<std::size_t>(lba) * RAW_SECTOR_SIZE;
        ASSERT_LE(at + RAW_SECTOR_SIZE, image.size()) << lba;
        ASSERT_EQ(Bytes(image.begin() + static_cast<long>(at),
                        image.begin() + static_cast<long>(at + RAW_SECTOR_SIZE)),
                  reader_frame(segment.kind, lba))
            << "LBA " << lba;
      }
    }
  }
};

TEST_F(PhilipsRecorder, SessionAtOnceIsStoredAsAReaderGetsIt) {
  use("CDD2000");
  record_mixed();
  EXPECT_EQ(file(".cue"), MIXED_CUE);
  EXPECT_EQ(file(".state"), "capacity 332850\ndisc closed\nnext 11770\nsession 1 1 3 370 closed\n");
  EXPECT_EQ(file(".bin").size(), 370u * RAW_SECTOR_SIZE);
  expect_image(MIXED_PROGRAM);

  // The recorder reads its own disc: READ TOC, then READ(10) of raw blocks,
  // audio with the bytes swapped as this class gives it.
  Bytes toc(64);
  uint32_t moved = 0;
  ASSERT_EQ(receive({0x43, 0, 0, 0, 0, 0, 0, 0, 64, 0}, &toc, &moved), 1);
  EXPECT_EQ(moved, 36u);
  EXPECT_EQ(
      Bytes(toc.begin(), toc.begin() + 36),
      Bytes({0x00, 0x22, 1, 3, 0, 0x12, 1,    0, 0,    0,    0, 0, 0, 0x14, 2,   0, 0, 0, 0, 250, 0,
             0x14, 3,    0, 0, 0, 0x01, 0x36, 0, 0x14, 0xAA, 0, 0, 0, 0x01, 0x72}));
  ASSERT_EQ(select_block_length(2352), 1);
  for (const Segment& segment : MIXED_PROGRAM) {
    if (segment.first < 0) continue;
    const int32_t lba = segment.first + segment.count - 1;
    Bytes frame(RAW_SECTOR_SIZE);
    // READ(10), 1 block
    ASSERT_EQ(receive({0x28, 0, 0, 0, static_cast<uint8_t>(lba >> 8), static_cast<uint8_t>(lba), 0,
                       0, 1, 0},
                      &frame),
              1);
    Bytes expected = reader_frame(segment.kind, lba);
    if (segment.kind == Frame::Audio) transform_sector(expected.data(), true, false, false);
    EXPECT_EQ(frame, expected) << lba;
  }
}

TEST_F(PhilipsRecorder, TheCdromDriveReadsTheStoredDisc) {
  use("CDD2600");
  record_mixed();
  unplug();
  ScopedTransport<EmulatedBus> bus(
      parse_emulated_bus("0:3:0=MYSTERY CDROM,medium=" + disc + ".cue"));
  ScsiDevice reader(0, 3, 0);
  auto read = [&](const Bytes& cdb, Bytes* data) {
    return reader.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb.data(),
                          static_cast<uint8_t>(cdb.size()), data->data(),
                          static_cast<uint32_t>(data->size()));
  };
  Bytes header = {0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0x09, 0x30};  // block length 2352
  ASSERT_EQ(reader.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_OUT, Bytes{0x15, 0x10, 0, 0, 12, 0}.data(), 6,
                           header.data(), 12),
            1);
  for (const Segment& segment : MIXED_PROGRAM) {
    for (int32_t lba = std::max(segment.first, 0); lba < segment.first + segment.count; ++lba) {
      Bytes frame(RAW_SECTOR_SIZE);
      const auto hi = static_cast<uint8_t>(lba >> 8), lo = static_cast<uint8_t>(lba);
      const int result =
          segment.kind == Frame::Audio
              ? read({0xD8, 0, 0, 0, hi, lo, 0, 0, 0, 1, 0, 0}, &frame)  // READ CD-DA
              : read({0x28, 0, 0, 0, hi, lo, 0, 0, 1, 0}, &frame);       // READ(10)
      ASSERT_EQ(result, 1) << lba;
      ASSERT_EQ(frame, reader_frame(segment.kind, lba)) << "LBA " << lba;
    }
  }
  // The catalog number and the ISRC come back in the sub-channel.
  Bytes catalog(24);
  ASSERT_EQ(read({0x42, 0, 0x40, 2, 0, 0, 0, 0, 24, 0}, &catalog), 1);
  EXPECT_EQ(std::string(catalog.begin() + 9, catalog.begin() + 22), "0731454032326");
  Bytes isrc(24);
  ASSERT_EQ(read({0x42, 0, 0x40, 3, 0, 0, 1, 0, 24, 0}, &isrc), 1);
  EXPECT_EQ(std::string(isrc.begin() + 9, isrc.begin() + 21), "USABC9600001");
}

TEST_F(PhilipsRecorder, ReadersOfOtherMakersReadTheStoredDisc) {
  use("RO-1420C");  // speed and test flag in page 31h, session format 0
  Bytes lengths(4);
  ASSERT_EQ(receive({0xEE, 0, 0, 0, 0, 0, 0, 0, 4, 0}, &lengths), 1);
  ASSERT_EQ(select_page({0x31, 0x02, 0x00, 0x10}), 1);
  ASSERT_EQ(select_block_length(2352), 1);
  ASSERT_EQ(send({0xED, 0, 0, 0, 0, 0, 0x00, 0, 64, 0}, mixed_table()), 1) << sense();
  write_zeros(4500);
  write_segments(MIXED_PROGRAM);
  write_zeros(6750);
  ASSERT_EQ(synchronize_cache(), 1);

  const ProgramRun info = run_command(
      "cd-info",
      {"--no-header", "--no-device-info", "--no-cddb", "--no-analyze", "--cue-file", disc + ".cue"},
      folder);
  ASSERT_EQ(info.status, 0) << info.err;
  for (const char* line : {"  1: 00:02:00  000000 audio", "  2: 00:05:25  000250 data",
                           "  3: 00:06:10  000310 XA", "170: 00:06:70  000370 leadout"})
    EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;

  const ProgramRun chunks = run_command("bchunk", {"disc.bin", "disc.cue", "out"}, folder);
  if (chunks.status == 127 || chunks.err.find("No such file") != std::string::npos)
    GTEST_SKIP() << "bchunk is not installed (scripts/packages.txt)";
  ASSERT_EQ(chunks.status, 0) << chunks.out << chunks.err;
  auto read_out = [&](const std::string& name) { return read_file(folder + "/" + name); };
  // Audio as stored; the user data of each data track from its index 1 on.
  const std::string audio = read_out("out01.cdr");
  ASSERT_GE(audio.size(), 100u * RAW_SECTOR_SIZE);
  for (int32_t lba = 0; lba < 100; ++lba) {
    const Bytes expected = reader_frame(Frame::Audio, lba);
    ASSERT_EQ(audio.compare(static_cast<std::size_t>(lba) * RAW_SECTOR_SIZE, RAW_SECTOR_SIZE,
                            std::string(expected.begin(), expected.end())),
              0)
        << lba;
  }
  // bchunk starts a track at its last INDEX line (track 3's index 2).
  for (const auto& [name, first, count, offset, kind] :
       {std::tuple{"out02.iso", 250, 60, SECTOR_DATA_OFFSET, Frame::Mode1},
        std::tuple{"out03.iso", 340, 30, MODE2_DATA_OFFSET, Frame::Mode2}}) {
    const std::string data = read_out(name);
    ASSERT_EQ(data.size(), static_cast<std::size_t>(count) * DATA_BLOCK_SIZE) << name;
    for (int32_t i = 0; i < count; ++i) {
      const Bytes frame = reader_frame(kind, first + i);
      ASSERT_EQ(
          data.compare(static_cast<std::size_t>(i) * DATA_BLOCK_SIZE, DATA_BLOCK_SIZE,
                       std::string(frame.begin() + static_cast<long>(offset),
                                   frame.begin() + static_cast<long>(offset) + DATA_BLOCK_SIZE)),
          0)
          << name << " block " << i;
    }
  }
}

TEST_F(PhilipsRecorder, AnOpenSessionTakesAnotherAtOnce) {
  use("CDD522/10");
  record_mixed(0x28);  // session at once, leave the disc open
  EXPECT_EQ(file(".state"), "capacity 332850\ndisc open\nnext 11770\nsession 1 1 3 370 closed\n");
  unplug();
  use("CDD522/10");
  Bytes lengths(4);
  ASSERT_EQ(receive({0xEE, 0, 0, 0, 0, 0, 0, 0, 4, 0}, &lengths), 1);
  EXPECT_EQ(lengths, Bytes({0x11, 0x94, 0x08, 0xCA}));  // 4500, 2250
  // One audio track of 75 frames, numbered from the disc's next track.
  const Bytes table = {0x00, 0x14, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 75};
  ASSERT_EQ(select_block_length(2352), 1);
  ASSERT_EQ(send({0xED, 0, 0, 0, 0, 0, 0x00, 0, 20, 0}, table), 1) << sense();
  write_zeros(4500);
  write_segments({{11620, 150, Frame::Silence}, {11770, 75, Frame::Audio}});
  write_zeros(2250);
  ASSERT_EQ(synchronize_cache(), 1);
  EXPECT_EQ(file(".state"),
            "capacity 332850\ndisc closed\nnext 18745\n"
            "session 1 1 3 370 closed\nsession 2 4 4 11845 closed\n");
  EXPECT_EQ(file(".cue"), std::string(MIXED_CUE) +
                              "  REM SESSION 02\n"
                              "  TRACK 04 AUDIO\n"
                              "    INDEX 00 00:04:70\n"
                              "    INDEX 01 02:36:70\n");
  expect_image(
      {{370, 11250, Frame::Silence}, {11620, 150, Frame::Silence}, {11770, 75, Frame::Audio}});
  expect_image(MIXED_PROGRAM);
}

TEST_F(PhilipsRecorder, TrackAtOnceOverTwoRuns) {
  use("CDD2600");
  ASSERT_EQ(select_block_length(2048), 1);
  ASSERT_EQ(send({0xE6, 0, 0, 0, 0, 1, 0x01, 0, 0, 0}), 1);  // OPEN TRACK 1, Mode 1
  Bytes blocks;
  for (int32_t lba = 0; lba < 300; ++lba) {
    const Bytes frame = reader_frame(Frame::Mode1, lba);
    blocks.insert(blocks.end(), frame.begin() + SECTOR_DATA_OFFSET,
                  frame.begin() + SECTOR_DATA_OFFSET + DATA_BLOCK_SIZE);
  }
  ASSERT_EQ(write(blocks, DATA_BLOCK_SIZE), 1) << sense();
  ASSERT_EQ(synchronize_cache(), 1);
  EXPECT_EQ(file(".state"), "(none)");  // nothing is kept before the session closes
  ASSERT_EQ(send({0xE9, 0, 0, 0, 0, 0, 0, 0, 0x09, 0}), 1);  // FIXATION, close the session only
  EXPECT_EQ(file(".state"), "capacity 332850\ndisc open\nnext 11700\nsession 1 1 1 300 closed\n");

  // A second run: the drive makes the pregap of the new session's track.
  use("CDD2600");
  ASSERT_EQ(select_block_length(2352), 1);
  ASSERT_EQ(send({0xE6, 0, 0, 0, 0, 2, 0x05, 0, 0, 0}), 1);  // OPEN TRACK 2, audio, pre-emphasis
  Bytes audio;
  for (int32_t lba = 11700; lba < 11900; ++lba) {
    const Bytes frame = host_frame(Frame::Audio, lba);
    audio.insert(audio.end(), frame.begin(), frame.end());
  }
  ASSERT_EQ(write(audio, RAW_SECTOR_SIZE), 1) << sense();
  ASSERT_EQ(synchronize_cache(), 1);
  ASSERT_EQ(send({0xE9, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}), 1);  // FIXATION, close the disc
  EXPECT_EQ(file(".state"),
            "capacity 332850\ndisc closed\nnext 18800\n"
            "session 1 1 1 300 closed\nsession 2 2 2 11900 closed\n");
  EXPECT_EQ(file(".cue"),
            "FILE \"disc.bin\" BINARY\n"
            "  TRACK 01 MODE1/2352\n"
            "    INDEX 01 00:00:00\n"
            "  REM SESSION 02\n"
            "  TRACK 02 AUDIO\n"
            "    FLAGS PRE\n"
            "    INDEX 00 00:04:00\n"
            "    INDEX 01 02:36:00\n");
  expect_image({{0, 300, Frame::Mode1}, {300, 11400, Frame::Silence}, {11700, 200, Frame::Audio}});
  // READ TOC format 1: sessions 1 to 2, the last one beginning with track 2 at 11700.
  Bytes toc(12);
  ASSERT_EQ(receive({0x43, 0, 0x01, 0, 0, 0, 0, 0, 12, 0}, &toc), 1);
  EXPECT_EQ(toc, Bytes({0, 10, 1, 2, 0, 0x11, 2, 0, 0, 0, 0x2D, 0xB4}));
  // A closed disc takes nothing more.
  ASSERT_EQ(send({0xE6, 0, 0, 0, 0, 3, 0x04, 0, 0, 0}), MSG_ILLEGAL_REQUEST);
  EXPECT_EQ(sense(), (Sense{5, 0x30, 0x05}));
}

TEST_F(PhilipsRecorder, AnUnfixatedTrackOutlivesTheRun) {
  use("CDD521/02");
  ASSERT_EQ(select_block_length(2352), 1);
  ASSERT_EQ(send({0xE6, 0, 0, 0, 0, 1, 0x04, 0, 0, 0}), 1);
  write_segments({{0, 80, Frame::Audio}});
  ASSERT_EQ(synchronize_cache(), 1);
  unplug();
  EXPECT_EQ(file(".state"), "capacity 332850\ndisc open\nnext 230\nsession 1 1 1 80 open\n");
  use("CDD521/02");
  ASSERT_EQ(select_block_length(2352), 1);
  ASSERT_EQ(send({0xE6, 0, 0, 0, 0, 2, 0x04, 0, 0, 0}), 1);
  write_segments({{230, 20, Frame::Audio}});
  ASSERT_EQ(send({0xE9, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}), 1);  // ends the open track too
  EXPECT_EQ(file(".state"), "capacity 332850\ndisc closed\nnext 11650\nsession 1 1 2 250 closed\n");
  expect_image({{0, 80, Frame::Audio}, {80, 150, Frame::Silence}, {230, 20, Frame::Audio}});
}

TEST_F(PhilipsRecorder, WholeDiscTableOfClassTwo) {
  use("KHSW/OB-01");
  Bytes table(4 * 32, 0);
  const Bytes digits = catalog_bcd("0731454032326");
  table[1] = 0x80;  // catalog number, audio first
  std::copy(digits.begin(), digits.end(), table.begin() + 4);
  // track 1: audio, copy permitted, ISRC; 100 frames; next pregap 150
  const Bytes track1 = {
      1, 0x04, 0x06,       0,          0,          0,          0,          0,    100,  0,    150,
      0, 0,    'U' - 0x30, 'S' - 0x30, 'A' - 0x30, 'B' - 0x30, 'C' - 0x30, 0x96, 0x00, 0x00, 0x10};
  // track 2: Mode 1, no copy; 60 frames after a 150-frame pregap; 150 at the end
  const Bytes track2 = {2, 0x01, 0x03, 0, 0, 0, 0, 0, 60, 0, 150, 0, 150};
  std::copy(track1.begin(), track1.end(), table.begin() + 32);
  std::copy(track2.begin(), track2.end(), table.begin() + 64);
  table[96] = 0xAA;
  table[99] = 0x1A;
  table[100] = 0x5E;
  ASSERT_EQ(select_block_length(2352), 1);
  ASSERT_EQ(send({0xEF, 0x01, 0, 0, 0, 0, 0, 0, 128, 0}, table), 1) << sense();  // FORMAT DISC
  ASSERT_EQ(send({0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 1);                         // WRITE DISC
  write_segments({{0, 100, Frame::Audio}, {100, 150, Frame::EmptyMode1}, {250, 60, Frame::Mode1}});
  ASSERT_EQ(synchronize_cache(), 1) << sense();
  // The same two tracks as the session table's disc.
  const std::string cue = MIXED_CUE;
  EXPECT_EQ(file(".cue"), cue.substr(0, cue.find("  TRACK 03")));
  expect_image({{0, 100, Frame::Audio}, {100, 150, Frame::EmptyMode1}, {250, 60, Frame::Mode1}});
  // This class reads raw data sectors scrambled.
  ASSERT_EQ(select_block_length(2352), 1);
  Bytes frame(RAW_SECTOR_SIZE);
  ASSERT_EQ(receive({0x28, 0, 0, 0, 0, 251, 0, 0, 1, 0}, &frame), 1);  // READ(10) LBA 251
  Bytes expected = reader_frame(Frame::Mode1, 251);
  transform_sector(expected.data(), false, false, true);
  EXPECT_EQ(frame, expected);
}

TEST_F(PhilipsRecorder, TestRecordingsBurnNothing) {
  use("CDD2000");
  record_mixed(0x20, true);
  for (const char* suffix : {".cue", ".bin", ".state", ".bin.new"})
    EXPECT_EQ(file(suffix), "(none)") << suffix;
  Bytes toc(12);
  EXPECT_EQ(receive({0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0}, &toc), MSG_BLANK_CHECK);

  // Track at once on class 14, test bit in page 31h, on a disc holding a session.
  record_mixed(0x28);
  unplug();
  const std::string cue = file(".cue"), bin = file(".bin"), state = file(".state");
  use("PX-R24CS");
  ASSERT_EQ(select_page({0x31, 0x02, 0x00, 0x21}), 1);
  ASSERT_EQ(select_block_length(2352), 1);
  ASSERT_EQ(send({0xE6, 0, 0, 0, 0, 4, 0x04, 0, 0, 0}), 1);
  write_segments({{11770, 100, Frame::Audio}});
  ASSERT_EQ(synchronize_cache(), 1);
  ASSERT_EQ(send({0xE9, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}), 1);
  unplug();
  EXPECT_EQ(file(".cue"), cue);
  EXPECT_EQ(file(".bin"), bin);
  EXPECT_EQ(file(".state"), state);
}

}  // namespace

namespace {

using namespace cdm_test;

TEST_F(PhilipsRecorder, CdgBlocksKeepTheirSubcode) {
  use("CDD2000");
  ASSERT_EQ(select_block_length(2448), 1);
  ASSERT_EQ(send({0xE6, 0, 0, 0, 0, 1, 0x04, 0, 0, 0}), 1);  // OPEN TRACK 1, audio
  Bytes blocks(20 * 2448);
  for (std::size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<uint8_t>(i * 11 + i / 97);
  ASSERT_EQ(write(blocks, 2448), 1) << sense();
  ASSERT_EQ(send({0xE9, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}), 1);
  EXPECT_EQ(file(".cue"), "FILE \"disc.bin\" BINARY\n  TRACK 01 CDG\n    INDEX 01 00:00:00\n");
  EXPECT_EQ(file(".bin"), std::string(blocks.begin(), blocks.end()));
  unplug();

  // The CD-ROM drive gives the sector and the R-W channels beside P and Q.
  ScopedTransport<EmulatedBus> bus(
      parse_emulated_bus("0:3:0=MYSTERY CDROM,medium=" + disc + ".cue"));
  ScsiDevice reader(0, 3, 0);
  Bytes frame(2448);
  const Bytes cdb = {0xD8, 0, 0, 0, 0, 7, 0, 0, 0, 1, 2, 0};  // READ CD-DA LBA 7, P-W subcode
  ASSERT_EQ(reader.Execute(SC_EXEC_SCSI_CMD, SRB_DIR_IN, cdb.data(), 12, frame.data(), 2448), 1);
  const auto sent = blocks.begin() + 7 * 2448;
  EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 2352), Bytes(sent, sent + 2352));
  for (std::size_t i = 0; i < 96; ++i)
    ASSERT_EQ(frame[2352 + i] & 0x3F, sent[2352 + static_cast<long>(i)] & 0x3F) << i;
}

}  // namespace

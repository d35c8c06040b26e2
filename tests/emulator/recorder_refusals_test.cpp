// What the emulated Philips recorders refuse, each with a drive's sense, and
// what sets the classes apart: their commands, their pages and their reads.
#include <gtest/gtest.h>

#include <functional>

#include "tests/emulator/recorder_harness.h"

namespace {

using namespace cdm_test;

class RecorderRefusals : public RecorderHarness {};

using Step = std::function<void(RecorderHarness&)>;

// WRITE SESSION of one audio track of 75 frames, after the block length.
void one_track_session(RecorderHarness& r) {
  ASSERT_EQ(r.select_block_length(2352), 1);
  const Bytes table = {0x00, 0x14, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 75};
  ASSERT_EQ(r.send({0xED, 0, 0, 0, 0, 0, 0, 0, 20, 0}, table), 1) << r.sense();
}

// A closed disc: one track at once of 10 audio blocks, fixated.
void closed_disc(RecorderHarness& r) {
  ASSERT_EQ(r.select_block_length(2352), 1);
  ASSERT_EQ(r.send({0xE6, 0, 0, 0, 0, 1, 0x04, 0, 0, 0}), 1);
  ASSERT_EQ(r.write(Bytes(10 * RAW_SECTOR_SIZE, 0), RAW_SECTOR_SIZE), 1);
  ASSERT_EQ(r.send({0xE9, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}), 1);
}

void open_mode1_track(RecorderHarness& r, uint32_t block_length) {
  ASSERT_EQ(r.select_block_length(block_length), 1);
  ASSERT_EQ(r.send({0xE6, 0, 0, 0, 0, 1, 0x01, 0, 0, 0}), 1);
}

const Bytes WRITE_ONE = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0};  // WRITE(10) LBA 0, 1 block

TEST_F(RecorderRefusals, EachWithTheSenseADriveGives) {
  struct Case {
    const char* what;
    const char* product;
    const char* items;
    Step setup;
    Bytes cdb;
    Bytes data;
    Sense sense;
  };
  const Bytes block(RAW_SECTOR_SIZE, 0);
  const std::vector<Case> cases = {
      {"write with nothing open",
       "CDD2000",
       "",
       [](auto& r) { r.select_block_length(2352); },
       WRITE_ONE,
       block,
       {5, 0x2C, 0}},
      {"transfer not of the block length",
       "CDD2600",
       "",
       [](auto& r) { open_mode1_track(r, 2352); },
       WRITE_ONE,
       Bytes(2048, 0),
       {5, 0x24, 0}},
      {"block length the track cannot take",
       "CDD2600",
       "",
       [](auto& r) { open_mode1_track(r, 2336); },
       WRITE_ONE,
       Bytes(2336, 0),
       {5, 0x64, 0}},
      {"more blocks than the table",
       "CDD2000",
       "",
       [](auto& r) {
         one_track_session(r);
         r.write_zeros(4500 + 225 + 6750);
       },
       WRITE_ONE,
       block,
       {5, 0x63, 0}},
      {"past the disc's capacity",
       "CDD2600",
       ",capacity=1",
       [](auto& r) {
         ASSERT_EQ(r.select_block_length(2352), 1);
         ASSERT_EQ(r.send({0xE6, 0, 0, 0, 0, 1, 0x04, 0, 0, 0}), 1);
         r.write_zeros(4350);
       },
       WRITE_ONE,
       block,
       {5, 0x21, 0}},
      {"a table past the capacity",
       "CDD2000",
       ",capacity=1",
       [](auto& r) { r.select_block_length(2352); },
       {0xED, 0, 0, 0, 0, 0, 0, 0, 20, 0},
       {0x00, 0x14, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x13, 0x88},  // ends at 5000
       {5, 0x21, 0}},
      {"CD+G blocks for a data track at once",
       "CDD2000",
       "",
       [](auto& r) {
         ASSERT_EQ(r.select_block_length(2352), 1);
         const Bytes table = {0x00, 0x14, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 75};
         ASSERT_EQ(r.send({0xED, 0, 0, 0, 0, 0, 0x12, 0, 20, 0}, table), 1) << r.sense();
         r.write_zeros(4500);
         ASSERT_EQ(r.select_block_length(2448), 1);
       },
       WRITE_ONE,
       Bytes(2448, 0),
       {5, 0x64, 0}},
      {"write to a closed disc", "CDD2600", "", closed_disc, WRITE_ONE, block, {5, 0x30, 0x05}},
      {"session on a closed disc",
       "CDD2600",
       "",
       closed_disc,
       {0xED, 0, 0, 0, 0, 0, 0, 0, 20, 0},
       {0x00, 0x14, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 75},
       {5, 0x30, 0x05}},
      {"write with the tray out",
       "CDD2600",
       "",
       [](auto& r) {
         open_mode1_track(r, 2352);
         ASSERT_EQ(r.send({0xE7, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}), 1);  // eject
       },
       WRITE_ONE,
       block,
       {2, 0x3A, 0}},
      {"synchronize before the lead-out",
       "CDD2000",
       "",
       one_track_session,
       {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {},
       {5, 0x2C, 0}},
      {"a track opened twice",
       "CDD2600",
       "",
       [](auto& r) { open_mode1_track(r, 2048); },
       {0xE6, 0, 0, 0, 0, 2, 0x01, 0, 0, 0},
       {},
       {5, 0x2C, 0}},
      {"fixation of nothing",
       "CDD2600",
       "",
       [](auto&) {},
       {0xE9, 0, 0, 0, 0, 0, 0, 0, 0x01, 0},
       {},
       {5, 0x2C, 0}},
      {"fixation close mode 2",
       "CDD2600",
       "",
       [](auto&) {},
       {0xE9, 0, 0, 0, 0, 0, 0, 0, 0x02, 0},
       {},
       {5, 0x24, 0}},
      {"open track of audio in mode 2",
       "CDD2600",
       "",
       [](auto&) {},
       {0xE6, 0, 0, 0, 0, 1, 0x06, 0, 0, 0},
       {},
       {5, 0x24, 0}},
      {"speed above the class",
       "CDD522/10",
       "",
       [](auto&) {},
       {0x15, 0x10, 0, 0, 12, 0},
       {0, 0, 0, 0, 0x23, 0x06, 0x04, 0, 0, 0, 0, 0},
       {5, 0x26, 0}},
      {"catalog digit above 9",
       "CDD2000",
       "",
       [](auto&) {},
       {0x15, 0x10, 0, 0, 14, 0},
       {0, 0, 0, 0, 0x22, 0x08, 0x01, 0xA0, 0, 0, 0, 0, 0, 0},
       {5, 0x26, 0}},
      {"write disc without its table",
       "KHSW/OB-01",
       "",
       [](auto&) {},
       {0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       {},
       {5, 0x2C, 0}},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& row = cases[i];
    SCOPED_TRACE(row.what);
    disc = folder + "/disc" + std::to_string(i);
    use(row.product, row.items);
    row.setup(*this);
    ASSERT_NE(send(row.cdb, row.data), 1);
    EXPECT_EQ(sense(), row.sense);
  }
}

TEST_F(RecorderRefusals, TablesThatDoNotAddUp) {
  struct Case {
    const char* what;
    const char* product;
    Bytes cdb;
    Bytes table;
    Sense sense;
  };
  // One audio descriptor: control, index 1, end.
  auto descriptor = [](uint8_t control, int32_t index1, int32_t end) {
    Bytes d = {0x00, 0x14, control, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int32_t value : {index1, end})
      for (int shift = 24; shift >= 0; shift -= 8)
        d.push_back(static_cast<uint8_t>(value >> shift));
    return d;
  };
  auto joined = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  Bytes odd_length = descriptor(0, 0, 75);
  odd_length[1] = 22;
  odd_length.resize(22, 0);
  Bytes bad_isrc = descriptor(0x80, 0, 75);
  bad_isrc[3] = 0xFF;
  // Class 2: header, one audio track of 75 frames, lead-out.
  Bytes disc_table(96, 0);
  disc_table[32] = 1;
  disc_table[33] = 0x04;
  disc_table[34] = 0x02;
  disc_table[40] = 75;
  disc_table[44] = 150;
  disc_table[64] = 0xAA;
  disc_table[67] = 0x1A;
  disc_table[68] = 0x5E;
  Bytes short_pregap = disc_table;
  short_pregap[44] = 75;  // a pregap after the last track
  Bytes no_leadout = disc_table;
  no_leadout[64] = 0x02;
  Bytes data_as_audio = disc_table;
  data_as_audio[33] = 0x01;  // Mode 1 track, header says audio
  const Bytes session = {0xED, 0, 0, 0, 0, 0, 0, 0, 20, 0};
  const std::vector<Case> cases = {
      {"descriptor length",
       "CDD2000",
       {0xED, 0, 0, 0, 0, 0, 0, 0, 22, 0},
       odd_length,
       {5, 0x26, 0}},
      {"table longer than its descriptors",
       "CDD2000",
       {0xED, 0, 0, 0, 0, 0, 0, 0, 40, 0},
       joined(descriptor(0, 0, 75), Bytes(20, 0)),
       {5, 0x26, 0}},
      {"end before index 1", "CDD2000", session, descriptor(0, 100, 50), {5, 0x26, 0}},
      {"first index 1 before LBA 0", "CDD2000", session, descriptor(0, -10, 75), {5, 0x26, 0}},
      {"data track for an audio session", "CDD2000", session, descriptor(4, 0, 75), {5, 0x26, 0}},
      {"ISRC character", "CDD2000", session, bad_isrc, {5, 0x26, 0}},
      {"track starting inside the previous",
       "CDD2000",
       {0xED, 0, 0, 0, 0, 0, 0, 0, 40, 0},
       joined(descriptor(0, 0, 75), descriptor(0, 70, 150)),
       {5, 0x26, 0}},
      {"type code 1",
       "CDD2000",
       {0xED, 0, 0, 0, 0, 0, 0x01, 0, 20, 0},
       descriptor(0, 0, 75),
       {5, 0x24, 0}},
      {"no table sent", "CDD2000", session, {}, {5, 0x24, 0}},
      {"pregap after the last track",
       "KHSW/OB-01",
       {0xEF, 1, 0, 0, 0, 0, 0, 0, 96, 0},
       short_pregap,
       {5, 0x26, 0}},
      {"no lead-out entry",
       "KHSW/OB-01",
       {0xEF, 1, 0, 0, 0, 0, 0, 0, 96, 0},
       no_leadout,
       {5, 0x26, 0}},
      {"track type against the header",
       "KHSW/OB-01",
       {0xEF, 1, 0, 0, 0, 0, 0, 0, 96, 0},
       data_as_audio,
       {5, 0x26, 0}},
      {"not whole entries",
       "KHSW/OB-01",
       {0xEF, 1, 0, 0, 0, 0, 0, 0, 95, 0},
       disc_table,
       {5, 0x24, 0}},
  };
  // The sound table is taken.
  use("KHSW/OB-01");
  ASSERT_EQ(send({0xEF, 1, 0, 0, 0, 0, 0, 0, 96, 0}, disc_table), 1) << sense();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& row = cases[i];
    SCOPED_TRACE(row.what);
    disc = folder + "/disc" + std::to_string(i);
    use(row.product);
    ASSERT_EQ(select_block_length(2352), 1);
    ASSERT_NE(send(row.cdb, row.table), 1);
    EXPECT_EQ(sense(), row.sense);
    // Nothing was started: a write has no session to go to.
    ASSERT_NE(write(Bytes(RAW_SECTOR_SIZE, 0), RAW_SECTOR_SIZE), 1);
    EXPECT_EQ(sense(), (Sense{5, 0x2C, 0}));
  }
}

// Whether each class has a command: anything but ILLEGAL REQUEST 20h/00h.
TEST_F(RecorderRefusals, EachClassHasItsCommandsAndPages) {
  struct Case {
    const char* product;
    const char* has;  // one letter a command: S WRITE SESSION, R READ SESSION, F FORMAT
                      // DISC, W WRITE DISC, E LOAD/UNLOAD, C READ CD-DA, 3 page 23h, 1 page
                      // 31h, 2 page 22h
  };
  const std::vector<Case> cases = {
      {"KHSW/OB-01", "FWE3"}, {"CDD521/02", "E3"},         {"RF4100", "E3"},
      {"CDD522/10", "SRE32"}, {"PCD225", "SRE32"},         {"CDD2000", "SRE32"},
      {"CDR100IPW", "SRE32"}, {"CD-Writer 6020", "SRE32"}, {"CD-WO DW-S114X", "C3"},
      {"RO-1420C", "SRC12"},  {"PX-R24CS", "SRC12"},
  };
  struct Probe {
    char letter;
    Bytes cdb;
    Bytes data;
  };
  const std::vector<Probe> probes = {
      {'S', {0xED, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
      {'R', {0xEE, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
      {'F', {0xEF, 1, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
      {'W', {0xF0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
      {'E', {0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
      {'C', {0xD8, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, {}},
      {'3', {0x15, 0x10, 0, 0, 12, 0}, {0, 0, 0, 0, 0x23, 0x06, 0x02, 0, 0, 0, 0, 0}},
      {'1', {0x15, 0x10, 0, 0, 8, 0}, {0, 0, 0, 0, 0x31, 0x02, 0, 0x20}},
      {'2', {0x15, 0x10, 0, 0, 14, 0}, {0, 0, 0, 0, 0x22, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& row : cases) {
    use(row.product);
    for (const Probe& probe : probes) {
      const bool has = std::string(row.has).find(probe.letter) != std::string::npos;
      send(probe.cdb, probe.data);
      const Sense absent = probe.cdb[0] == 0x15 ? Sense{5, 0x26, 0} : Sense{5, 0x20, 0};
      EXPECT_EQ(sense() == absent, !has) << row.product << " " << probe.letter << " " << sense();
    }
  }
}

// READ(10) of 2352-byte blocks and READ CD-DA of a recorded disc, by class.
TEST_F(RecorderRefusals, EachClassReadsAsItsDrivesDo) {
  use("CDD2000");
  record_mixed();
  struct Case {
    const char* product;
    bool audio_by_read10;  // swapped; else ILLEGAL MODE FOR THIS TRACK
    bool scrambled_data;
    int cdda;  // 0 none, 1 as stored, 2 swapped
  };
  const std::vector<Case> cases = {
      {"KHSW/OB-01", true, true, 0},  {"CDD521/10", true, true, 0},
      {"PCD225", true, true, 0},      {"CDD2000/09", true, false, 0},
      {"CDD2600/01", true, false, 0}, {"CD-WO DW-S114X", false, false, 1},
      {"RO-1420C", false, false, 2},
  };
  const Bytes audio = reader_frame(Frame::Audio, 5);
  const Bytes data = reader_frame(Frame::Mode1, 260);
  Bytes swapped = audio, scrambled = data;
  transform_sector(swapped.data(), true, false, false);
  transform_sector(scrambled.data(), false, false, true);
  for (const Case& row : cases) {
    SCOPED_TRACE(row.product);
    use(row.product);
    ASSERT_EQ(select_block_length(2352), 1);
    Bytes frame(RAW_SECTOR_SIZE);
    const int audio_read = receive({0x28, 0, 0, 0, 0, 5, 0, 0, 1, 0}, &frame);  // READ(10) LBA 5
    if (row.audio_by_read10) {
      EXPECT_EQ(audio_read, 1);
      EXPECT_EQ(frame, swapped);
    } else {
      EXPECT_EQ(sense(), (Sense{5, 0x64, 0}));
    }
    ASSERT_EQ(receive({0x28, 0, 0, 0, 0x01, 0x04, 0, 0, 1, 0}, &frame), 1);  // READ(10) LBA 260
    EXPECT_EQ(frame, row.scrambled_data ? scrambled : data);
    const int cdda = receive({0xD8, 0, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0}, &frame);  // READ CD-DA LBA 5
    if (row.cdda == 0) {
      EXPECT_EQ(sense(), (Sense{5, 0x20, 0}));
    } else {
      EXPECT_EQ(cdda, 1);
      EXPECT_EQ(frame, row.cdda == 2 ? swapped : audio);
    }
  }
}

}  // namespace

#include "layout/cue_sheet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/msgvec.h"
#include "support/cue_images.h"
#include "support/raised.h"

namespace {

using cdm_test::raised_text;

namespace fs = std::filesystem;

const std::string kFixtures = std::string(CDM_FIXTURE_DIR) + "/cue";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A scratch folder holding the fixture images; sheets are copied into it and
// parsed from there, so the images are found beside the sheet.
class CueSheetTest : public testing::Test {
 protected:
  void SetUp() override { write_cue_fixture_images(folder_); }

  std::unique_ptr<CueSheetLayout> parse_fixture(const std::string& kind, const std::string& name) {
    const std::string copy = folder_ + "/" + name;
    fs::copy_file(kFixtures + "/" + kind + "/" + name, copy);
    return parse_cue_sheet(copy);
  }

  std::unique_ptr<CueSheetLayout> parse_text(const std::string& text) {
    return parse_cue_sheet_text(text, folder_);
  }

  // The two lines a tool would print for the fault of `text`, or "" when it parses.
  std::string fault_of_text(const std::string& text) {
    try {
      parse_text(text);
    } catch (const MSGVEC& record) {
      return message_vector_text(record);
    }
    return "";
  }

  ScratchDirectory scratch_;
  std::string folder_ = scratch_.path();
};

struct Cue {
  unsigned track;  // BCD as stored
  unsigned index;
  unsigned minute, second, frame;
};

void expect_cuepoints(const DiscLayout& layout, const std::vector<Cue>& expected) {
  ASSERT_EQ(layout.cuepoint_count, expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const CuePoint& p = layout.cuepoints[i];
    EXPECT_EQ((std::vector<unsigned>{p.track, p.index, p.minute, p.second, p.frame}),
              (std::vector<unsigned>{expected[i].track, expected[i].index, expected[i].minute,
                                     expected[i].second, expected[i].frame}))
        << "cuepoint " << i;
  }
}

struct Gaps {
  uint32_t pregap, length, postgap;
};

void expect_tracks(const DiscLayout& layout, const std::vector<Gaps>& expected) {
  ASSERT_EQ(layout.track_count, expected.size());
  uint32_t sum = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TrackEntry& t = layout.tracks[i];
    EXPECT_EQ((std::vector<uint32_t>{t.pregap, t.length, t.postgap}),
              (std::vector<uint32_t>{expected[i].pregap, expected[i].length, expected[i].postgap}))
        << "track entry " << i;
    sum += t.pregap + t.length + t.postgap;
  }
  EXPECT_EQ(sum, layout.leadout_position + 150);
}

// Every bad sheet names what is wrong and the exact lines its error prints.
TEST_F(CueSheetTest, EveryBadFixtureGivesItsStatedError) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(kFixtures + "/bad")) {
    const std::string name = entry.path().filename().string();
    const std::string text = read_file(entry.path().string());
    std::string expected = "\nError: ";
    bool described = false;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("REM Wrong: ", 0) == 0) described = true;
      if (line.rfind("REM Error: ", 0) == 0) expected += line.substr(11) + "\n";
      if (line.rfind("REM Cause: ", 0) == 0) expected += line.substr(11) + "\n";
    }
    EXPECT_TRUE(described) << name << " does not say what is wrong";
    std::string got = "(parsed)";
    try {
      parse_fixture("bad", name);
    } catch (const MSGVEC& record) {
      got = message_vector_text(record);
    }
    EXPECT_EQ(got, expected) << name;
    ++checked;
  }
  EXPECT_GE(checked, 70);
}

TEST_F(CueSheetTest, SingleTrack) {
  auto sheet = parse_fixture("good", "single.cue");
  const DiscLayout& layout = *sheet->layout;
  expect_cuepoints(layout, {{0x01, 0x00, 0, 0, 0}, {0x01, 0x01, 0, 2, 0}, {0xAA, 0x01, 0, 3, 25}});
  expect_tracks(layout, {{150, 100, 0}});
  EXPECT_EQ(layout.leadout_position, 100u);
  EXPECT_EQ(layout.first_track, 0);
  EXPECT_EQ(layout.layout_flags, 0);
  const TrackEntry& track = layout.tracks[0];
  EXPECT_EQ(track.track_number, 1);
  EXPECT_EQ(track.block_size, 2352);
  EXPECT_EQ(track.track_type, TrackType::Audio);
  EXPECT_EQ(track.track_flags, 0);
  EXPECT_EQ(track.start, 0u);
  EXPECT_EQ(layout.tracks[1].track_number, 0);  // entries past the count stay zero
  EXPECT_EQ(sheet->file_count, 1);
  EXPECT_EQ(sheet->track_count, 1);
  EXPECT_EQ(sheet->cuepoint_count, 3);
  EXPECT_EQ(sheet->total_frames, 100u);
  EXPECT_EQ(sheet->total_image_bytes, 100u * 2352);
  const ImageFile& file = sheet->files[0];
  EXPECT_EQ(file.name, "AUDIO100.BIN");
  EXPECT_EQ(file.path, folder_ + "/audio100.bin");
  EXPECT_EQ(file.file_type, FileType::Binary);
  EXPECT_EQ(file.data_length, 100u * 2352);
  EXPECT_EQ(file.data_offset, 0u);
  EXPECT_EQ(file.first_track, 0);
  EXPECT_EQ(file.track_count, 1);
  free_cue_sheet(sheet);
  EXPECT_EQ(sheet, nullptr);
}

TEST_F(CueSheetTest, GeneratedPregapsFileIndexZeroAndPostgap) {
  auto sheet = parse_fixture("good", "pregaps.cue");
  const DiscLayout& layout = *sheet->layout;
  expect_cuepoints(layout, {{0x01, 0x00, 0, 0, 0},
                            {0x01, 0x01, 0, 4, 0},
                            {0x01, 0x02, 0, 5, 0},
                            {0x02, 0x00, 0, 5, 10},
                            {0x02, 0x01, 0, 5, 20},
                            {0x03, 0x00, 0, 6, 25},
                            {0x03, 0x01, 0, 6, 55},
                            {0xAA, 0x01, 0, 7, 30}});
  expect_tracks(layout, {{300, 85, 0}, {0, 15, 75}, {30, 50, 0}});
  EXPECT_EQ(sheet->total_frames, 405u);
  EXPECT_EQ(sheet->total_image_bytes, 150u * 2352);
  ASSERT_EQ(sheet->file_count, 2);
  EXPECT_EQ(sheet->files[0].track_count, 2);
  EXPECT_EQ(sheet->files[1].first_track, 2);
  EXPECT_EQ(sheet->files[1].track_count, 1);
  EXPECT_EQ(sheet->files[1].name, "AUDIO50.BIN");
}

TEST_F(CueSheetTest, FirstIndexZeroMakesOnlyTheIndexZeroCuepoint) {
  auto sheet = parse_fixture("good", "index00.cue");
  expect_cuepoints(*sheet->layout,
                   {{0x01, 0x00, 0, 0, 0}, {0x01, 0x01, 0, 2, 50}, {0xAA, 0x01, 0, 3, 25}});
  expect_tracks(*sheet->layout, {{150, 100, 0}});
}

TEST_F(CueSheetTest, SheetWrittenElsewhereWithEveryTrackType) {
  auto sheet = parse_fixture("good", "mixed.cue");
  const DiscLayout& layout = *sheet->layout;
  expect_cuepoints(layout, {{0x01, 0x00, 0, 0, 0},
                            {0x01, 0x01, 0, 2, 0},
                            {0x02, 0x00, 0, 3, 0},
                            {0x02, 0x01, 0, 5, 0},
                            {0x03, 0x01, 0, 7, 10},
                            {0x04, 0x01, 0, 8, 36},
                            {0x05, 0x01, 0, 8, 46},
                            {0x05, 0x02, 0, 8, 56},
                            {0xAA, 0x01, 0, 8, 66}});
  // The partial last frame of the 2352-byte audio file counts whole.
  expect_tracks(layout, {{150, 75, 0}, {150, 10, 150}, {0, 101, 0}, {0, 10, 0}, {0, 20, 0}});
  EXPECT_EQ(layout.tracks[0].track_flags, TRACK_DCP | TRACK_PRE | TRACK_ISRC);
  EXPECT_EQ(std::string(layout.tracks[0].isrc.data(), 12), "USABC9912345");
  EXPECT_EQ(layout.tracks[1].track_flags, TRACK_DATA);
  EXPECT_EQ(layout.tracks[1].track_type, TrackType::Mode1);
  EXPECT_EQ(layout.tracks[1].block_size, 2048);
  EXPECT_EQ(layout.tracks[2].track_flags, TRACK_4CH);
  EXPECT_EQ(layout.tracks[3].track_type, TrackType::Audio);  // CD+G is audio
  EXPECT_EQ(layout.tracks[3].block_size, 2448);
  EXPECT_EQ(layout.tracks[4].track_type, TrackType::Mode2);
  EXPECT_EQ(layout.tracks[4].block_size, 2336);
  EXPECT_EQ(layout.layout_flags, LAYOUT_MCN);
  EXPECT_EQ(std::string(layout.catalog_number.data(), 13), "0123456789012");
  ASSERT_EQ(sheet->file_count, 5);
  const ImageFile& wav = sheet->files[0];
  EXPECT_EQ(wav.name, "TRACK 01.WAV");
  EXPECT_EQ(wav.path, folder_ + "/Track 01.wav");
  EXPECT_EQ(wav.file_type, FileType::Wave);
  EXPECT_EQ(wav.data_offset, 44u);
  EXPECT_EQ(wav.data_length, 75u * 2352);
  EXPECT_EQ(sheet->total_image_bytes, 176400u + 20480 + 236200 + 24480 + 46720);
  EXPECT_EQ(sheet->total_frames, 516u);
}

TEST_F(CueSheetTest, WaveFileWithTwoTracks) {
  auto sheet = parse_fixture("good", "wave.cue");
  expect_cuepoints(*sheet->layout, {{0x07, 0x00, 0, 0, 0},
                                    {0x07, 0x01, 0, 2, 0},
                                    {0x08, 0x01, 0, 2, 60},
                                    {0xAA, 0x01, 0, 3, 25}});
  expect_tracks(*sheet->layout, {{150, 60, 0}, {0, 40, 0}});
  EXPECT_EQ(sheet->files[0].data_offset, 57u);  // past a 5-byte LIST chunk
  EXPECT_EQ(sheet->files[0].track_count, 2);
}

TEST_F(CueSheetTest, ImagesAreFoundInTheCurrentFolderFirst) {
  ScratchDirectory scratch;
  const std::string here = scratch.path();
  write_sized_file(here + "/audio100.bin", 7 * 2352);
  const fs::path saved = fs::current_path();
  fs::current_path(here);
  std::unique_ptr<CueSheetLayout> sheet;
  EXPECT_NO_THROW(sheet = parse_cue_sheet(kFixtures + "/good/single.cue"));
  fs::current_path(saved);
  ASSERT_TRUE(sheet);
  EXPECT_EQ(sheet->files[0].path, "audio100.bin");
  EXPECT_EQ(sheet->total_frames, 7u);

  // An absolute name is used as it stands.
  auto absolute =
      parse_text("FILE " + folder_ + "/audio50.bin BINARY\nTRACK 1 AUDIO\nINDEX 1 0:0:0");
  EXPECT_EQ(absolute->files[0].path, folder_ + "/audio50.bin");
  EXPECT_EQ(absolute->total_frames, 50u);
}

TEST_F(CueSheetTest, SheetThatCannotBeRead) {
  EXPECT_EQ(raised_text([&] { parse_cue_sheet(folder_ + "/none.cue"); }),
            "\nError: Unable to open file \"" + folder_ + "/none.cue\"\n");
  EXPECT_EQ(raised_text([&] { parse_cue_sheet(folder_); }),
            "\nError: Unable to open file \"" + folder_ + "\"\nCue sheet is not a regular file!\n");
}

TEST_F(CueSheetTest, TracksCountUpAcrossFilesAndMayStartAnywhere) {
  auto sheet = parse_text(
      "FILE audio100.bin BINARY\nTRACK 98 AUDIO\nINDEX 01 00:00:00\n"
      "FILE audio50.bin BINARY\nTRACK 99 AUDIO\nINDEX 01 00:00:00\n");
  EXPECT_EQ(sheet->layout->tracks[0].track_number, 98);
  EXPECT_EQ(sheet->layout->tracks[1].track_number, 99);
  EXPECT_EQ(sheet->layout->cuepoints[2].track, 0x99);
}

// A sheet of one 40-minute file whose tracks have the given counts of
// indexes, one frame apart; its line count goes to `lines`.
std::string many_indexes(const std::vector<unsigned>& counts, unsigned* lines) {
  std::string text = "FILE long.bin BINARY\n";
  *lines = 1;
  unsigned frame = 0;
  for (std::size_t track = 0; track < counts.size(); ++track) {
    text += "TRACK " + std::to_string(track + 1) + " AUDIO\n";
    ++*lines;
    for (unsigned index = 1; index <= counts[track]; ++index, ++frame) {
      char line[64];
      std::snprintf(line, sizeof line, "INDEX %02u 00:%02u:%02u\n", index, frame / 75, frame % 75);
      text += line;
      ++*lines;
    }
  }
  return text;
}

TEST_F(CueSheetTest, CuepointTableHoldsExactly500) {
  // Index 0 of the first track, 498 indexes and the lead-out fill the table.
  unsigned lines = 0;
  auto sheet = parse_text(many_indexes({99, 99, 99, 99, 99, 3}, &lines));
  EXPECT_EQ(sheet->cuepoint_count, 500);
  EXPECT_EQ(sheet->layout->cuepoints[499].track, LEADOUT_TRACK);
  expect_tracks(
      *sheet->layout,
      {{150, 99, 0}, {0, 99, 0}, {0, 99, 0}, {0, 99, 0}, {0, 99, 0}, {0, 40 * 4500 - 498 + 3, 0}});

  // One more index leaves no room for the lead-out, found after the last line.
  const std::string one_more = many_indexes({99, 99, 99, 99, 99, 4}, &lines);
  EXPECT_EQ(fault_of_text(one_more), "\nError: Invalid CUE SHEET command at line " +
                                         std::to_string(lines) +
                                         "\nDisc layout needs more than 500 cuepoints!\n");
  // Thousands of indexes stop at the index that needs the 501st cuepoint:
  // line 1 FILE, five tracks of a TRACK line and 99 INDEX lines, then the
  // sixth TRACK line and its fifth INDEX (cuepoint 1 + 495 + 5).
  const std::string thousands = many_indexes(std::vector<unsigned>(20, 99), &lines);
  EXPECT_EQ(fault_of_text(thousands), "\nError: Invalid CUE SHEET command at line " +
                                          std::to_string(1 + 5 * 100 + 1 + 5) +
                                          "\nDisc layout needs more than 500 cuepoints!\n");
}

}  // namespace

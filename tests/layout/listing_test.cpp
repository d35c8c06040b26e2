#include "layout/listing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "common/console.h"
#include "common/timecode.h"
#include "layout/cue_sheet.h"
#include "support/cue_images.h"

namespace {

const char* const kHeading =
    "\n"
    "              Start     Length   Start   Length\n"
    "TRACK INDEX  MM:SS:FF  MM:SS:FF   LBA     LBA\n"
    "----- -----  --------  --------   ---     ---\n";
const char* const kShortWarning = "    (Warning! Index is shorter than four seconds)\n";
const char* const kClosingWarning =
    "\nWARNING: This disc layout contains at least one track/index\n"
    "that is shorter than four seconds. This is a violation of the\n"
    "CDROM specification.\n";
const char* const kPrompt = "<hit any key to continue>\r";

struct Point {
  uint8_t track;  // binary
  uint8_t index;
  int32_t lba;
};

// A layout whose cuepoints start with track 1 index 0 at 00:00:00, then the
// given points, then the lead-out at `leadout`.
DiscLayout make_layout(const std::vector<Point>& points, int32_t leadout) {
  DiscLayout layout;
  std::vector<Point> all = {{1, 0, -150}};
  all.insert(all.end(), points.begin(), points.end());
  for (const Point& p : all) {
    const MsfTime msf = lba_to_msf(p.lba);
    fill_cuepoint(&layout.cuepoints[layout.cuepoint_count++], bin_to_bcd(p.track),
                  bin_to_bcd(p.index), msf.minute, msf.second, msf.frame);
  }
  const MsfTime end = lba_to_msf(leadout);
  fill_cuepoint(&layout.cuepoints[layout.cuepoint_count++], LEADOUT_TRACK, 0x01, end.minute,
                end.second, end.frame);
  layout.leadout_position = static_cast<uint32_t>(leadout);
  return layout;
}

std::string listing(const DiscLayout& layout, bool paging, bool warnings, int* keys = nullptr) {
  int pressed = 0;
  set_key_reader([&pressed] {
    ++pressed;
    return ' ';
  });
  testing::internal::CaptureStdout();
  list_layout(layout, paging, warnings);
  std::fflush(stdout);
  const std::string text = testing::internal::GetCapturedStdout();
  set_key_reader(nullptr);
  if (keys) *keys = pressed;
  return text;
}

// Parses a fixture sheet with the fixture images beside it.
std::unique_ptr<CueSheetLayout> parse_good_fixture(const std::string& name) {
  ScratchDirectory scratch;
  const std::string folder = scratch.path();
  write_cue_fixture_images(folder);
  std::FILE* file = std::fopen((std::string(CDM_FIXTURE_DIR) + "/cue/good/" + name).c_str(), "rb");
  std::string text;
  for (int c; file && (c = std::fgetc(file)) != EOF;) text.push_back(static_cast<char>(c));
  if (file) std::fclose(file);
  auto sheet = parse_cue_sheet_text(text, folder);
  return sheet;
}

TEST(LayoutListing, ParsedSingleTrackListsOneRow) {
  auto sheet = parse_good_fixture("single.cue");
  EXPECT_EQ(listing(*sheet->layout, true, true),
            std::string(kHeading) + " 01    01    00:02:00  00:01:25  000000  000100\n" +
                kShortWarning + kClosingWarning);
}

TEST(LayoutListing, RowsTimesAndLengths) {
  // A pregap row, a row of exactly 300 frames, the last row measured to the lead-out.
  const DiscLayout layout =
      make_layout({{1, 1, 0}, {2, 0, 4500}, {2, 1, 4650}, {2, 2, 4950}}, 100000);
  const std::string expected = std::string(kHeading) +
                               " 01    01    00:02:00  01:00:00  000000  004500\n"
                               " 02    00    01:02:00  00:02:00  004500  000150\n"
                               " 02    01    01:04:00  00:04:00  004650  000300\n"
                               " 02    02    01:08:00  21:07:25  004950  095050\n";
  EXPECT_EQ(listing(layout, true, true), expected);
}

TEST(LayoutListing, ShortIndexWarnings) {
  // Index 1 of 299 frames is flagged, a short index 0 never is.
  const DiscLayout layout = make_layout({{1, 1, 0}, {2, 0, 299}, {2, 1, 300}}, 1000);
  const std::string rows[] = {" 01    01    00:02:00  00:03:74  000000  000299\n",
                              " 02    00    00:05:74  00:00:01  000299  000001\n",
                              " 02    01    00:06:00  00:09:25  000300  000700\n"};
  EXPECT_EQ(listing(layout, false, true),
            kHeading + rows[0] + kShortWarning + rows[1] + rows[2] + kClosingWarning);
  EXPECT_EQ(listing(layout, false, false), kHeading + rows[0] + rows[1] + rows[2]);

  const DiscLayout fine = make_layout({{1, 1, 0}}, 300);
  EXPECT_EQ(listing(fine, false, true),
            std::string(kHeading) + " 01    01    00:02:00  00:04:00  000000  000300\n");
}

TEST(LayoutListing, PagingStopsBeforeEverySeventeenthRow) {
  std::vector<Point> points;
  for (int row = 0; row < 33; ++row)
    points.push_back({static_cast<uint8_t>(row + 1), 1, row * 300});
  const DiscLayout layout = make_layout(points, 33 * 300);
  std::string expected = kHeading;
  for (int row = 0; row < 33; ++row) {
    if (row == 16 || row == 32) expected += kPrompt;
    const MsfTime start = lba_to_msf(row * 300);
    char line[80];
    std::snprintf(line, sizeof line, " %02d    01    %02u:%02u:%02u  00:04:00  %06d  000300\n",
                  row + 1, start.minute, start.second, start.frame, row * 300);
    expected += line;
  }
  EXPECT_NE(expected.find(" 17    01    01:06:00  00:04:00  004800  000300\n"), std::string::npos);
  int keys = 0;
  EXPECT_EQ(listing(layout, true, false, &keys), expected);
  EXPECT_EQ(keys, 2);

  // Exactly 16 rows: no prompt at all, none after the last row.
  const DiscLayout sixteen =
      make_layout(std::vector<Point>(points.begin(), points.begin() + 16), 16 * 300);
  EXPECT_EQ(listing(sixteen, true, false, &keys).find(kPrompt), std::string::npos);
  EXPECT_EQ(keys, 0);
  // Paging off never waits.
  listing(layout, false, false, &keys);
  EXPECT_EQ(keys, 0);
}

TEST(DiscLengthCheck, WarnsAboveSeventyFourMinutes) {
  EXPECT_FALSE(exceeds_disc_length(MAX_DISC_FRAMES));
  EXPECT_TRUE(exceeds_disc_length(MAX_DISC_FRAMES + 1));

  const DiscLayout fits = make_layout({{1, 1, 0}}, static_cast<int32_t>(MAX_DISC_FRAMES));
  testing::internal::CaptureStderr();
  check_disc_length(fits, false);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  auto sheet = parse_good_fixture("long.cue");  // two 40-minute files
  const DiscLayout& long_disc = *sheet->layout;
  ASSERT_EQ(long_disc.leadout_position, 360000u);
  testing::internal::CaptureStderr();
  // Without confirmation the warning is all: the disc may take it.
  EXPECT_NO_THROW(check_disc_length(long_disc, false));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING! Total disc time (80:02:00) exceeds 74 minutes!\n");

  // With confirmation the check asks, reads RETURN and goes on.
  std::FILE* input = std::tmpfile();
  std::fputs("\n", input);
  std::rewind(input);
  const int saved = dup(fileno(stdin));
  dup2(fileno(input), fileno(stdin));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(check_disc_length(long_disc, true));
  std::fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  dup2(saved, fileno(stdin));
  close(saved);
  std::fclose(input);
  EXPECT_EQ(out, "Hit <RETURN> to continue (or CTRL/C to exit)...\n");

  testing::internal::CaptureStderr();
  EXPECT_FALSE(warn_long_source_disc(MAX_DISC_FRAMES));
  EXPECT_TRUE(warn_long_source_disc(MAX_DISC_FRAMES + 1));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "\nWARNING: Disc is longer than 74 minutes!\n");
}

}  // namespace

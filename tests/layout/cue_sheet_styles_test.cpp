// The cue sheet parser on sheets as other programs write them: the texts
// it keeps, the encodings it reads, the names it finds image files by, the
// keywords of audio files, long discs and sessions.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/msgvec.h"
#include "layout/cue_sheet.h"
#include "support/cue_images.h"
#include "support/raised.h"
#include "support/scratch.h"

namespace {

using cdm_test::raised_text;
namespace fs = std::filesystem;

const std::string kStyles = std::string(CDM_FIXTURE_DIR) + "/cue/styles";
const std::string kTrack = "FILE audio100.bin BINARY\nTRACK 01 AUDIO\n";
const std::string kIndex = "INDEX 01 00:00:00\n";

std::string texts_of(const std::vector<SheetText>& texts) {
  std::string out;
  for (const SheetText& t : texts) out += (t.rem ? "REM " : "") + t.keyword + "=" + t.value + "|";
  return out;
}

class CueSheetStyles : public testing::Test {
 protected:
  void SetUp() override { write_cue_fixture_images(folder_); }

  std::string fault_of(const std::string& text) {
    return raised_text([&] { parse_cue_sheet_text(text, folder_); });
  }

  ScratchDirectory scratch_;
  std::string folder_ = scratch_.path();
};

// Each text line, given before the first track and after it: the value the
// layout keeps, or the fault.
TEST_F(CueSheetStyles, TextsAreKeptWithTheirValues) {
  const struct {
    std::string line;
    std::string kept;  // keyword=value, "" for a comment
    std::string fault;
  } cases[] = {
      {R"(TITLE "Live at the \"Blue Room\"")", "TITLE=Live at the \"Blue Room\"", ""},
      {R"(TITLE "Closing ""Time""")", "TITLE=Closing \"Time\"", ""},
      {R"(title "He said "hi" there")", "TITLE=He said \"hi\" there", ""},
      {"PERFORMER The Quiet Ones  \t", "PERFORMER=The Quiet Ones", ""},
      {R"(SONGWRITER "AC\DC \\ \"x\"")", "SONGWRITER=AC\\DC \\ \"x\"", ""},
      {"Composer \"\"", "COMPOSER=", ""},
      {"ARRANGER \"A  B\"", "ARRANGER=A  B", ""},
      {"MESSAGE \"Thanks\"", "MESSAGE=Thanks", ""},
      {"DISC_ID XY12345", "DISC_ID=XY12345", ""},
      {"GENRE \"Jazz\"", "GENRE=Jazz", ""},
      {"UPC_EAN 0123456789012", "UPC_EAN=0123456789012", ""},
      {"TOC_INFO1 \"a\"", "TOC_INFO1=a", ""},
      {"TOC_INFO2 \"b\"", "TOC_INFO2=b", ""},
      {"SIZE_INFO \"c\"", "SIZE_INFO=c", ""},
      {"CDTEXTFILE \"Album.cdt\"", "CDTEXTFILE=Album.cdt", ""},
      {"REM GENRE \"Progressive Rock\"", "REM GENRE=Progressive Rock", ""},
      {"REM DATE 1998", "REM DATE=1998", ""},
      {"rem DISCID 2A0B1C03", "REM DISCID=2A0B1C03", ""},
      {"REM COMMENT \"ripped, then checked\"", "REM COMMENT=ripped, then checked", ""},
      {"REM REPLAYGAIN_TRACK_GAIN -6.20 dB", "REM REPLAYGAIN_TRACK_GAIN=-6.20 dB", ""},
      {"REM COMPOSER \"Someone\"", "REM COMPOSER=Someone", ""},
      {"REM LEAD-OUT 01:30:00", "REM LEAD-OUT=01:30:00", ""},
      {"REM ORIGINAL", "REM ORIGINAL=", ""},
      {"REM a comment in words", "", ""},
      {"REM Fix: later", "", ""},
      {"TITLE", "", "Illegal TITLE command syntax!"},
      {"PERFORMER  \t ", "", "Illegal PERFORMER command syntax!"},
      {"TITLES \"x\"", "", "Illegal syntax encountered"},
      {"REMARK x", "", "Illegal syntax encountered"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::string kept = c.kept.empty() ? "" : c.kept + "|";
    if (!c.fault.empty()) {
      EXPECT_EQ(fault_of(c.line + "\n" + kTrack + kIndex),
                "\nError: Invalid CUE SHEET command at line 1\n" + c.fault + "\n");
      EXPECT_EQ(fault_of(kTrack + c.line + "\n" + kIndex),
                "\nError: Invalid CUE SHEET command at line 3\n" + c.fault + "\n");
      continue;
    }
    auto disc = parse_cue_sheet_text(c.line + "\n" + kTrack + kIndex, folder_);
    EXPECT_EQ(texts_of(disc->layout->disc_texts), kept);
    EXPECT_EQ(texts_of(disc->layout->track_texts[0]), "");
    auto track = parse_cue_sheet_text(kTrack + c.line + "\n" + kIndex + "TRACK 02 AUDIO\n" +
                                          "INDEX 01 00:00:10\n" + c.line + "\n",
                                      folder_);
    EXPECT_EQ(texts_of(track->layout->disc_texts), "");
    EXPECT_EQ(texts_of(track->layout->track_texts[0]), kept);
    EXPECT_EQ(texts_of(track->layout->track_texts[1]), kept);
  }
}

// The style fixtures' texts, read from their encodings as UTF-8.
TEST_F(CueSheetStyles, EncodingsAreReadAsUtf8) {
  const struct {
    const char* sheet;
    std::vector<std::string> images;
    std::string disc_title, first_track_title;
  } cases[] = {
      {"code_page_1252.cue", {"Café del Mar.wav", "Ñandú.wav"}, "Déjà vu – Größte Erfolge", "Café"},
      {"code_page_1251.cue",
       {"01 Песня без слов.wav", "02 Странная сказка.wav"},
       "Звезда по имени Солнце",
       "Песня без слов"},
      {"utf16.cue", {"曲.wav"}, "日本のアルバム", "一曲目"},
      {"lone_cr.cue", {"first.wav"}, "Ça ira — ein Stück", ""},
      {"gaps_appended.cue",
       {"01 - Opening.wav", "02 - Second Song.wav", "03 - Closing Time.wav"},
       "Live at the \"Blue Room\"",
       "Opening"},
  };
  WavSpec wav;
  wav.data_size = 400 * 2352;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sheet);
    for (const std::string& image : c.images)
      write_bytes(folder_ + "/" + image, wav_file_bytes(wav));
    fs::copy_file(kStyles + "/" + c.sheet, folder_ + "/" + c.sheet,
                  fs::copy_options::overwrite_existing);
    std::unique_ptr<CueSheetLayout> sheet;
    try {
      sheet = parse_cue_sheet(folder_ + "/" + c.sheet);
    } catch (const MSGVEC& record) {
      ADD_FAILURE() << message_vector_text(record);
      continue;
    }
    ASSERT_EQ(sheet->file_count, c.images.size());
    for (std::size_t i = 0; i < c.images.size(); ++i) {
      EXPECT_EQ(sheet->files[i].written, c.images[i]);
      EXPECT_EQ(sheet->files[i].path, folder_ + "/" + c.images[i]);
    }
    std::string disc_title, track_title;
    for (const SheetText& t : sheet->layout->disc_texts)
      if (t.keyword == "TITLE") disc_title = t.value;
    for (const SheetText& t : sheet->layout->track_texts[0])
      if (t.keyword == "TITLE") track_title = t.value;
    EXPECT_EQ(disc_title, c.disc_title);
    EXPECT_EQ(track_title, c.first_track_title);
  }
}

// Names as other systems write them, found beside the sheet; the file table
// keeps the name as written (and in upper case) beside the path opened.
TEST_F(CueSheetStyles, ImageNamesAreFoundAsWindowsPathsAndInAnyCase) {
  fs::create_directories(folder_ + "/Disc 1/Audio");
  write_sized_file(folder_ + "/Disc 1/Audio/Track One.bin", 2352 * 10);
  write_sized_file(folder_ + "/Other.BIN", 2352 * 10);
  const std::string nested = folder_ + "/Disc 1/Audio/Track One.bin";
  const struct {
    std::string written;
    std::string opened;  // "" when none opens
    std::string reason;
  } cases[] = {
      {"Disc 1\\Audio\\Track One.bin", nested, ""},
      {"disc 1/AUDIO/track one.BIN", nested, ""},
      {"DISC 1\\audio\\TRACK ONE.bin", nested, ""},
      {"D:\\Rips\\Disc 1\\Audio\\Track One.bin", folder_ + "/Track One.bin", "missing"},
      {"D:\\Rips\\other.bin", folder_ + "/Other.BIN", ""},
      {"\\\\nas\\share\\OTHER.bin", folder_ + "/Other.BIN", ""},
      {"C:other.bin", folder_ + "/Other.BIN", ""},
      {"D:\\Rips\\none.bin", "", "No such file or directory"},
      {"Disc 1\\Audio", "", "Not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.written);
    const std::string text = "FILE \"" + c.written + "\" BINARY\nTRACK 01 AUDIO\n" + kIndex;
    if (c.reason == "missing") {
      // Only by its last component beside the sheet: the nested folders
      // are not where the Windows path puts them.
      write_sized_file(folder_ + "/track one.bin", 2352 * 10);
      EXPECT_EQ(parse_cue_sheet_text(text, folder_)->files[0].path, folder_ + "/track one.bin");
      fs::remove(folder_ + "/track one.bin");
      continue;
    }
    if (c.opened.empty()) {
      EXPECT_EQ(fault_of(text),
                "\nError: Invalid CUE SHEET command at line 1\nUnable to open file \"" + c.written +
                    "\": " + c.reason + "\n");
      continue;
    }
    auto sheet = parse_cue_sheet_text(text, folder_);
    EXPECT_EQ(sheet->files[0].path, c.opened);
    EXPECT_EQ(sheet->files[0].written, c.written);
    std::string upper = c.written;
    for (char& ch : upper) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    EXPECT_EQ(sheet->files[0].name, upper);
  }
}

// Every audio keyword opens a WAV file of CD audio, whose content decides.
TEST_F(CueSheetStyles, AudioKeywordsOpenTheFileByItsContent) {
  for (const std::string keyword :
       {"WAVE", "wave", "AIFF", "FLAC", "MP3", "OGG", "OPUS", "WAVPACK"}) {
    SCOPED_TRACE(keyword);
    auto sheet =
        parse_cue_sheet_text("FILE short.wav " + keyword + "\nTRACK 01 AUDIO\n" + kIndex, folder_);
    EXPECT_EQ(sheet->files[0].file_type, FileType::Wave);
    EXPECT_EQ(sheet->files[0].data_length, 100u * 2352);
    EXPECT_EQ(sheet->total_frames, 100u);
  }
}

// Times to 99:59:74; sessions numbered in order, kept per track, and a
// layout of two sessions refused for recording.
TEST_F(CueSheetStyles, LongDiscsAndSessions) {
  auto sheet = parse_cue_sheet_text("FILE long.bin BINARY\nTRACK 01 AUDIO\n" + kIndex +
                                        "INDEX 02 39:59:74\nFILE long.bin BINARY\nTRACK 02 AUDIO\n"
                                        "PREGAP 15:00:00\n" +
                                        kIndex + "INDEX 02 39:00:00\n",
                                    folder_);
  EXPECT_EQ(sheet->total_frames, 2u * 40 * 4500 + 15 * 4500);
  EXPECT_EQ(fault_of(kTrack + "INDEX 01 00:00:00\nPOSTGAP 99:59:75\n"),
            "\nError: Invalid CUE SHEET command at line 4\nIllegal MM:SS:FF value specified!\n");

  const std::string two = "REM SESSION 01\n" + kTrack + kIndex + "TRACK 02 AUDIO\n" +
                          "INDEX 01 00:00:40\nREM SESSION 02\nTRACK 03 AUDIO\nINDEX 01 00:01:00\n";
  sheet = parse_cue_sheet_text(two, folder_);
  EXPECT_EQ(
      (std::vector<unsigned>{sheet->layout->tracks[0].session, sheet->layout->tracks[1].session,
                             sheet->layout->tracks[2].session}),
      (std::vector<unsigned>{1, 1, 2}));
  EXPECT_EQ(raised_text([&] { check_single_session(*sheet->layout); }),
            "\nError: The CUE SHEET lays out 2 sessions (session 02 begins at track 03); only a "
            "disc of one session can be recorded from it\n");
  sheet = parse_cue_sheet_text(kTrack + kIndex + "REM SESSION 01\n", folder_);
  EXPECT_NO_THROW(check_single_session(*sheet->layout));
}

}  // namespace

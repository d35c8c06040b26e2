// Cue sheets as rippers and other programs write them (tests/fixtures/cue/
// styles/, one style each), recorded with cueburn on every emulated recorder
// that records disc-at-once and read back: the tracks where the sheet's own
// "REM Starts:" line puts them (discinfo, and cuebreakpoints on the recorded
// disc's sheet), and every sector the image files' audio in sheet order. The
// emulated reader, given the same sheet, lists and reads the same disc.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "common/console.h"
#include "layout/cue_encoding.h"
#include "support/burn_discs.h"
#include "support/cue_images.h"
#include "support/patterns.h"
#include "support/run_program.h"

namespace {

using namespace cueburn_test;
namespace fs = std::filesystem;

const std::string kStyles = std::string(CDM_FIXTURE_DIR) + "/cue/styles";

// The image files each style's sheet names, as they lie beside the sheet:
// name (folders included) and frames.
struct Image {
  std::string name;
  uint32_t frames;
};
struct Style {
  std::string sheet;
  std::vector<Image> images;
  std::string warnings;  // what cueburn prints on standard error
  // Track 1's index 1 lies after LBA 0 (audio in its pregap).
  bool index1_at_0_only = false;
};

// The family that makes the first pregap itself (Philips class 2): it
// refuses audio before track 1 before anything is written.
bool recorder_needs_index1_at_0(const std::string& product) { return product == "KHSW/OB-01"; }

const Style kStylesTable[] = {
    {"gaps_appended.cue",
     {{"01 - Opening.wav", 400}, {"02 - Second Song.wav", 305}, {"03 - Closing Time.wav", 200}},
     ""},
    {"index0_left_open.cue", {{"a.wav", 250}, {"b.wav", 200}}, ""},
    {"hidden_track.cue", {{"01 Hidden.wav", 400}, {"02 Next.wav", 300}}, "", true},
    {"code_page_1252.cue", {{"Café del Mar.wav", 120}, {"Ñandú.wav", 180}}, ""},
    {"code_page_1251.cue", {{"01 Песня без слов.wav", 90}, {"02 Странная сказка.wav", 110}}, ""},
    {"windows_paths.cue",
     {{"01 Intro.wav", 100}, {"02 Outro.wav", 80}, {"album/extras/03 End.wav", 70}},
     ""},
    {"lone_cr.cue", {{"first.wav", 175}}, ""},
    {"utf16.cue", {{"曲.wav", 100}}, ""},
    {"first_track_above_1.cue",
     {{"12 Second Disc Opens.wav", 300}, {"13 And Closes.wav", 220}},
     ""},
    {"binary_wav.cue",
     {{"Live At The Hall.wav", 330}},
     "WARNING! FILE \"Live At The Hall.wav\" is marked BINARY but holds WAV audio: its audio "
     "is recorded, not the file's bytes\n"},
    {"scms_flags.cue",
     {{"scms.wav", 160}},
     "WARNING! FLAGS SCMS of track 01 is not recorded\n"
     "WARNING! FLAGS SCMS of track 02 is not recorded\n"},
};

// The "REM Starts: 01 000000, 02 000400; lead-out 000905" line: each
// track's number (`numbers`) and the LBA of its index 1, then the lead-out.
std::vector<unsigned> stated_starts(const std::string& sheet,
                                    std::vector<unsigned>* numbers = nullptr) {
  const std::string text = cue_text_as_utf8(read_file(kStyles + "/" + sheet));
  cdm_test::Groups line;
  std::vector<unsigned> starts;
  if (!cdm_test::Pattern(R"(REM Starts: ([^\r\n]*))", true).search(text, line)) return starts;
  const std::string entries = line[1];
  static const cdm_test::Pattern lba(R"((\d\d) (\d{6})|lead-out (\d{6}))");
  for (const cdm_test::Groups& entry : lba.search_all(entries)) {
    starts.push_back(static_cast<unsigned>(std::stoul(entry.took_part(2) ? entry[2] : entry[3])));
    if (numbers != nullptr && entry.took_part(1))
      numbers->push_back(static_cast<unsigned>(std::stoul(entry[1])));
  }
  return starts;
}

// The same from discinfo's listing.
std::vector<unsigned> listed_starts(const std::string& listing,
                                    std::vector<unsigned>* numbers = nullptr) {
  std::vector<unsigned> starts;
  cdm_test::Groups match;
  // Made once: building a pattern costs more than all the matching.
  static const cdm_test::Pattern track(R"(^(\d\d)   \w+ *   \d\d:\d\d:\d\d    (\d{6}))");
  static const cdm_test::Pattern leadout(R"(^Leadout: .*\(LBA (\d+)\))");
  std::istringstream lines(listing);
  for (std::string line; std::getline(lines, line);) {
    if (track.search(line, match)) {
      starts.push_back(static_cast<unsigned>(std::stoul(match[2])));
      if (numbers != nullptr) numbers->push_back(static_cast<unsigned>(std::stoul(match[1])));
    }
    if (leadout.search(line, match)) starts.push_back(static_cast<unsigned>(std::stoul(match[1])));
  }
  return starts;
}

// cuebreakpoints' "m:ss.ff" of each track after the first, as LBAs.
std::vector<unsigned> breakpoints(const std::string& cue, const std::string& folder) {
  const ProgramRun run = run_command("cuebreakpoints", {cue}, folder);
  EXPECT_EQ(run.status, 0) << run.err;
  std::vector<unsigned> lbas;
  cdm_test::Groups match;
  static const cdm_test::Pattern position(R"((\d+):(\d\d)\.(\d\d))");
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);)
    if (position.match(line, match))
      lbas.push_back(static_cast<unsigned>(std::stoul(match[1]) * 4500 + std::stoul(match[2]) * 75 +
                                           std::stoul(match[3])));
  return lbas;
}

Bytes wav_of(uint32_t frames, uint8_t seed) {
  WavSpec spec;
  spec.data_size = frames * RAW;
  Bytes bytes = wav_file_bytes(spec);
  const Bytes samples = pattern(frames, RAW, seed);
  std::copy(samples.begin(), samples.end(), bytes.end() - samples.size());
  return bytes;
}

TEST_F(CueBurn, SheetsInEveryStyleRecordAsTheirOwnLayout) {
  int styles = 0;
  for (const Style& style : kStylesTable) {
    SCOPED_TRACE(style.sheet);
    std::vector<unsigned> numbers;
    const std::vector<unsigned> starts = stated_starts(style.sheet, &numbers);
    // Numbered from 1 by a recorder that does not keep a higher first number.
    std::vector<unsigned> renumbered(numbers.size());
    std::iota(renumbered.begin(), renumbered.end(), 1u);
    const std::string renumber_warning =
        numbers.front() == 1 ? ""
                             : format_text(
                                   "WARNING! The CD-Recorder numbers the tracks from 01: "
                                   "tracks %02u to %02u are recorded as 01 to %02zu\n",
                                   numbers.front(), numbers.back(), numbers.size());
    ASSERT_GE(starts.size(), 2u) << "no REM Starts: line";
    std::vector<Segment> segments;
    uint8_t seed = 17;
    for (const Image& image : style.images) {
      fs::create_directories(fs::path(folder + "/" + image.name).parent_path());
      write_bytes(folder + "/" + image.name, wav_of(image.frames, seed += 40));
      segments.push_back({Segment::Copy, image.name, 44, image.frames, RAW});
    }
    const std::string cue = folder + "/" + style.sheet;
    fs::copy_file(kStyles + "/" + style.sheet, cue, fs::copy_options::overwrite_existing);
    for (const Recorder& recorder : RECORDERS) {
      SCOPED_TRACE(recorder.product);
      const std::string disc = folder + "/burned";
      for (const char* ext : {".cue", ".bin", ".state"}) std::remove((disc + ext).c_str());
      const std::string bus = std::string("0:4:0=") + recorder.product + ",medium=" + disc;
      if (style.index1_at_0_only && recorder_needs_index1_at_0(recorder.product)) {
        const ProgramRun refused = cueburn(bus, {style.sheet, "/NOCONFIRM"});
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.err.find("cannot record audio before track 1 (track 01's INDEX 01 is "
                                   "at LBA " +
                                   std::to_string(starts[0])),
                  std::string::npos)
            << refused.out << refused.err;
        EXPECT_FALSE(fs::exists(disc + ".bin"));
        continue;
      }
      const ProgramRun run = cueburn(bus, {style.sheet, "/NOCONFIRM"});
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      const bool keeps_numbers = recorder.product == std::string("MMC CD-RW DRIVE");
      // What the sheets' CD-TEXT gives rise to is the CD-TEXT tests' matter.
      static const cdm_test::Pattern cd_text_warning("WARNING! CD-?TEXT.*\\n");
      EXPECT_EQ(cd_text_warning.replace(run.err, ""),
                style.warnings + (keeps_numbers ? "" : renumber_warning));
      const ProgramRun info = discinfo(bus, {"/NOPROMPT"});
      ASSERT_EQ(info.status, 0) << info.err;
      std::vector<unsigned> listed_numbers;
      EXPECT_EQ(listed_starts(info.out, &listed_numbers), starts) << info.out;
      EXPECT_EQ(listed_numbers, keeps_numbers ? numbers : renumbered);
      expect_sectors(read_file(disc + ".bin"), folder, segments, style.sheet);
      EXPECT_EQ(breakpoints(disc + ".cue", folder),
                std::vector<unsigned>(starts.begin() + 1, starts.end() - 1));
    }
    // The emulated reader takes the same sheet as its medium: the same
    // listing, and the whole disc reads as the files' audio in order.
    const std::string reader = "0:3:0=CD-ROM PX-12CS,medium=" + cue;
    const ProgramRun info = discinfo(reader, {"/NOPROMPT"});
    ASSERT_EQ(info.status, 0) << info.err;
    std::vector<unsigned> listed_numbers;
    EXPECT_EQ(listed_starts(info.out, &listed_numbers), starts) << info.out;
    EXPECT_EQ(listed_numbers, numbers);
    {
      cdm_test::ScopedEnv bus("EMULATED_SCSI_BUS", reader);
      std::remove((folder + "/ripped.bin").c_str());
      const ProgramRun rip =
          run_program("ripspan", {"ripped.bin", "/BIN", "/BATCH", "/NOJC"}, folder);
      ASSERT_EQ(rip.status, 0) << rip.err;
      std::string audio;
      for (const Image& image : style.images)
        audio += read_file(folder + "/" + image.name).substr(44);
      EXPECT_TRUE(read_file(folder + "/ripped.bin") == audio);
    }
    for (const Image& image : style.images) fs::remove(folder + "/" + image.name);
    ++styles;
  }
  EXPECT_EQ(styles, static_cast<int>(fs::directory_iterator(kStyles) == fs::directory_iterator()
                                         ? 0
                                         : std::distance(fs::directory_iterator(kStyles),
                                                         fs::directory_iterator())));
}

}  // namespace

namespace {

// The recorded disc's sheet keeps the texts it holds when a later session
// is recorded; readers of other makers read them from it.
TEST_F(CueBurn, RecordedSheetKeepsItsTexts) {
  write_bytes(folder + "/one.wav", wav_of(300, 3));
  write_bytes(folder + "/two.wav", wav_of(200, 4));
  write_file(folder + "/first.cue", "FILE one.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  write_file(folder + "/second.cue",
             "FILE two.wav WAVE\n  TRACK 02 AUDIO\n    INDEX 01 00:00:00\n");
  const std::string disc = folder + "/burned";
  const std::string bus = "0:4:0=CDD2000,medium=" + disc;
  ASSERT_EQ(cueburn(bus, {"first.cue", "/NOCONFIRM", "/SESSION"}).status, 0);
  std::string sheet = read_file(disc + ".cue");
  sheet = "TITLE \"Second Light\"\nPERFORMER \"Zoë Keating\"\nREM DATE 2004\n" + sheet;
  sheet.insert(sheet.find("TRACK 01 AUDIO\n") + 15, "    TITLE \"Into the Trees\"\n");
  write_file(disc + ".cue", sheet);
  const ProgramRun run = cueburn(bus, {"second.cue", "/NOCONFIRM"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string kept = read_file(disc + ".cue");
  for (const char* line : {"TITLE \"Second Light\"\n", "PERFORMER \"Zoë Keating\"\n",
                           "REM DATE 2004\n", "    TITLE \"Into the Trees\"\n", "REM SESSION 02\n"})
    EXPECT_NE(kept.find(line), std::string::npos) << line << " in\n" << kept;
  const ProgramRun peer =
      run_command("cueprint", {"-d", "%T/%P\\n", "-t", "%n %t\\n", disc + ".cue"}, folder);
  ASSERT_EQ(peer.status, 0) << peer.err;
  EXPECT_EQ(peer.out, "Second Light/Zoë Keating\n1 Into the Trees\n2 \n");
}

// A sheet of two sessions is refused before anything is recorded on a
// recorder whose disc-at-once always closes the disc, and the disc stays blank.
TEST_F(CueBurn, SheetOfTwoSessionsIsRefused) {
  write_bytes(folder + "/one.wav", wav_of(300, 3));
  write_file(folder + "/two.cue",
             "REM SESSION 01\nFILE one.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
             "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\nREM SESSION 02\n  TRACK 03 AUDIO\n"
             "    INDEX 01 00:03:00\n");
  const std::string disc = folder + "/burned";
  const ProgramRun run = cueburn("0:4:0=CDS615E,medium=" + disc, {"two.cue", "/NOCONFIRM"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(
      run.err,
      "\nError: The CUE SHEET lays out 2 sessions (session 02 begins at track 03); only a disc "
      "of one session can be recorded from it\n");
  struct stat info {};
  EXPECT_NE(stat((disc + ".cue").c_str(), &info), 0);
}

}  // namespace

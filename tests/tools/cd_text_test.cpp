// CD-TEXT from the cue sheet to the disc and back: cueburn records the
// sheet's texts on the emulated MMC recorder, the packs it leaves beside the
// disc pass a checker written from the format, and discinfo /CDTEXT,
// sheetgen /CDTEXT, cd-info and cueprint give back the same values.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/cd_text_check.h"
#include "support/patterns.h"
#include "support/run_program.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;
using Lines = std::vector<std::string>;

constexpr const char* RECORDER = "0:4:0=MMC CD-RW DRIVE,medium=";

// Field names by pack type, as the cue sheet writes them.
const char* field_of(int type, int track) {
  static const char* names[] = {"TITLE",    "PERFORMER", "SONGWRITER", "COMPOSER",
                                "ARRANGER", "MESSAGE",   "DISC_ID",    "GENRE"};
  if (type == 0x8E) return track == 0 ? "UPC_EAN" : "ISRC";
  return type >= 0x80 && type <= 0x87 ? names[type - 0x80] : "?";
}

std::string where(int track) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", track);
  return track == 0 ? "disc" : text;
}

// A sheet of `tracks` one-second audio tracks: the disc's lines first, then
// each track's own lines from `track_lines(n)`.
std::string sheet(const Lines& disc, unsigned tracks, Lines (*track_lines)(unsigned)) {
  std::string text;
  for (const std::string& line : disc) text += line + "\n";
  text += "FILE \"audio.bin\" BINARY\n";
  for (unsigned n = 1; n <= tracks; ++n) {
    char head[32];
    std::snprintf(head, sizeof head, "  TRACK %02u AUDIO\n", n);
    text += head;
    for (const std::string& line : track_lines(n)) text += "    " + line + "\n";
    std::snprintf(head, sizeof head, "    INDEX 01 %02u:%02u:00\n", (n - 1) / 60, (n - 1) % 60);
    text += head;
  }
  return text;
}

// "WHERE FIELD value" of the fields a listing or a sheet gives: lines
// `FIELD "value"` under discinfo's headings, or a sheet's text lines before
// its first TRACK and after each.
Lines values_in(const std::string& text) {
  Lines values;
  std::string at = "disc";
  static const cdm_test::Pattern heading(
      R"(^CD-TEXT (?:block (\d) \([^)]*\) )?of (?:the disc|track (\d\d)):|^\s*TRACK (\d\d) )");
  static const cdm_test::Pattern field(R"re(^\s*([A-Z_]+) "(.*)"$)re");
  static const cdm_test::Pattern isrc(R"(^\s*ISRC (\w{12})$)");
  std::istringstream in(text);
  cdm_test::Groups match;
  for (std::string line; std::getline(in, line);) {
    if (heading.search(line, match)) {
      at = (match.took_part(1) ? "block " + match[1] + " " : "") + (match.took_part(2)   ? match[2]
                                                                    : match.took_part(3) ? match[3]
                                                                                         : "disc");
    } else if (field.match(line, match)) {
      values.push_back(at + " " + match[1] + " " + match[2]);
    } else if (isrc.match(line, match)) {
      values.push_back(at + " ISRC " + match[1]);
    }
  }
  std::sort(values.begin(), values.end());
  return values;
}

// The same from the checker's reading of the packs.
Lines values_in(const cd_text_check::Result& packs) {
  Lines values;
  for (const std::string& line : cd_text_check::text_lines(packs)) {
    const int type = std::stoi(line.substr(0, 2), nullptr, 16);
    const int track = std::stoi(line.substr(3, 2));
    std::string text = line.substr(6);
    if (type == 0x87) text = text.substr(text.find(':') + 1);
    values.push_back(where(track) + " " + field_of(type, track) + " " + text);
  }
  std::sort(values.begin(), values.end());
  return values;
}

struct Recorded {
  ProgramRun burn, info, sheet;
  std::string packs;  // PATH.cdt
};

// Records `text` as sheet.cue in `folder` and reads the disc back.
Recorded record(const ScratchDirectory& folder, const std::string& text, unsigned tracks,
                const Lines& extra = {}) {
  write_file(folder.file("sheet.cue"), text);
  write_file(folder.file("audio.bin"), std::string(std::size_t{tracks} * 75 * 2352, '\0'));
  Recorded result;
  const ScopedEnv bus("EMULATED_SCSI_BUS", RECORDER + folder.file("disc"));
  Lines arguments = {"sheet.cue", "/NOCONFIRM"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  result.burn = run_program("cueburn", arguments, folder.path());
  result.info = run_program("discinfo", {"/CDTEXT", "/NOPROMPT"}, folder.path());
  result.sheet = run_program("sheetgen", {"back.cue", "/CDTEXT", "/BATCH"}, folder.path());
  result.sheet.out = read_file(folder.file("back.cue"));
  result.packs = read_file(folder.file("disc.cdt"));
  return result;
}

Lines no_lines(unsigned) { return {}; }

Lines every_field(unsigned n) {
  const std::string t = std::to_string(n);
  return {"TITLE \"Song " + t + "\"",
          "PERFORMER \"Singer " + t + "\"",
          "SONGWRITER \"Writer " + t + "\"",
          "COMPOSER \"Composer " + t + "\"",
          "ARRANGER \"Arranger " + t + "\"",
          "MESSAGE \"Note " + t + "\"",
          "ISRC USABC0000" + std::string(n < 10 ? "00" : "0") + t};
}

Lines long_titles(unsigned n) {
  char title[64];
  std::snprintf(title, sizeof title, "TITLE \"Movement %02u, Allegro\"", n);
  return {title, "PERFORMER \"The Ninety-Nine Players\""};
}

Lines latin1(unsigned n) {
  if (n == 1) return {"TITLE \"Dvořák: Humoreske № 7\"", "PERFORMER \"Orquesta Sinfónica\""};
  return {"TITLE \"Ça ira – encore\"", "PERFORMER \"Orquesta Sinfónica\""};
}

Lines too_long(unsigned n) {
  char title[80];
  std::snprintf(title, sizeof title, "TITLE \"Track %02u with a title far too long to fit\"", n);
  return {title};
}

struct RoundTrip {
  const char* name;
  Lines disc;
  unsigned tracks;
  Lines (*track_lines)(unsigned);
  Lines expected;  // values read back, beyond those the sheet states as they are
  std::string warnings;
  int genre = -1;  // the genre code expected in pack 87h
};

// Every value the sheet states, as "WHERE FIELD value".
Lines stated(const RoundTrip& trip) {
  Lines values;
  static const cdm_test::Pattern field(R"re(^(?:REM )?([A-Z_]+) "?([^"]*)"?$)re");
  cdm_test::Groups match;
  auto add = [&](const std::string& at, const std::string& line) {
    if (field.match(line, match)) values.push_back(at + " " + match[1] + " " + match[2]);
  };
  for (const std::string& line : trip.disc) add("disc", line);
  for (unsigned n = 1; n <= trip.tracks; ++n)
    for (const std::string& line : trip.track_lines(n)) add(where(static_cast<int>(n)), line);
  return values;
}

TEST(CdText, RecordedAndReadBackToTheSameValues) {
  const RoundTrip trips[] = {
      {"every field at disc and track level",
       {"CATALOG 0000000000000", "TITLE \"An Album\"", "PERFORMER \"A Band\"",
        "SONGWRITER \"Words\"", "COMPOSER \"Music\"", "ARRANGER \"Sounds\"", "MESSAGE \"Hello\"",
        "DISC_ID \"XY12345\"", "GENRE \"Jazz\"", "UPC_EAN \"0123456789012\""},
       3,
       every_field,
       {},
       "",
       14},
      {"99 tracks with long titles",
       {"TITLE \"A Symphony of Ninety-Nine Movements, recorded live in one long evening\"",
        "REM GENRE \"Rock music\""},
       99,
       long_titles,
       {},
       "",
       23},
      {"Latin-1 letters, and what ISO-8859-1 lacks",
       {"TITLE \"Café Müller\"", "PERFORMER \"Señor Ñandú\"", "REM GENRE \"Tango\""},
       2,
       latin1,
       {"01 TITLE Dvorák: Humoreske No 7", "02 TITLE Ça ira - encore"},
       "WARNING! CD-TEXT TITLE of track 01 is recorded as \"Dvorák: Humoreske No 7\"\n"
       "WARNING! CD-TEXT TITLE of track 02 is recorded as \"Ça ira - encore\"\n",
       1},
  };
  for (const RoundTrip& trip : trips) {
    SCOPED_TRACE(trip.name);
    const ScratchDirectory folder;
    const Recorded disc =
        record(folder, sheet(trip.disc, trip.tracks, trip.track_lines), trip.tracks);
    ASSERT_EQ(disc.burn.status, 0) << disc.burn.err;
    EXPECT_EQ(disc.burn.err, trip.warnings);
    // What the sheet states, with the changed texts in their recorded form
    // and the catalog number given as UPC_EAN where no UPC_EAN is.
    Lines expected;
    for (const std::string& value : stated(trip)) {
      const std::string head = value.substr(0, value.find(' ', 5));
      bool replaced = false;
      for (const std::string& changed : trip.expected) replaced |= changed.rfind(head, 0) == 0;
      if (head == "disc CATALOG") continue;
      if (!replaced) expected.push_back(value);
    }
    expected.insert(expected.end(), trip.expected.begin(), trip.expected.end());
    std::sort(expected.begin(), expected.end());

    const cd_text_check::Result packs = cd_text_check::check(disc.packs);
    EXPECT_EQ(packs.faults, Lines{});
    EXPECT_EQ(values_in(packs), expected);
    EXPECT_EQ(packs.texts.at({0x87, 0}).substr(0, packs.texts.at({0x87, 0}).find(':')),
              std::to_string(trip.genre));
    ASSERT_EQ(disc.info.status, 0) << disc.info.err;
    EXPECT_EQ(values_in(disc.info.out), expected);
    EXPECT_EQ(values_in(disc.sheet.out), expected);
    if (trip.tracks == 99) {  // the shortcut: each performer after the first as a TAB
      EXPECT_NE(disc.packs.find("\t"), std::string::npos);
      EXPECT_GT(packs.texts.size(), 99u);
    }

    // Readers no one here wrote show the recorded sheet's titles and
    // performers: cd-info in UTF-8, cueprint as the sheet's ISO-8859-1 bytes.
    const ProgramRun cd_info = run_command(
        "cd-info", {"--no-device-info", "--no-cddb", "--cue-file", folder.file("disc.cue")});
    const ProgramRun cueprint =
        run_command("cueprint", {"-d", "%T|%P\n", "-t", "%n|%t|%p\n", folder.file("disc.cue")});
    ASSERT_EQ(cueprint.status, 0) << cueprint.err;
    Lines shown, wanted;
    std::istringstream cue_lines(cueprint.out);
    for (std::string line; std::getline(cue_lines, line);)
      if (!line.empty()) shown.push_back(cd_text_check::utf8(line));
    std::string title, performer;
    for (const std::string& value : expected) {
      if (value.rfind("disc TITLE ", 0) == 0) title = value.substr(11);
      if (value.rfind("disc PERFORMER ", 0) == 0) performer = value.substr(15);
    }
    wanted.push_back(title + "|" + performer);
    for (unsigned n = 1; n <= trip.tracks; ++n) {
      std::string track_title, track_performer;
      for (const std::string& value : expected) {
        if (value.rfind(where(static_cast<int>(n)) + " TITLE ", 0) == 0)
          track_title = value.substr(9);
        if (value.rfind(where(static_cast<int>(n)) + " PERFORMER ", 0) == 0)
          track_performer = value.substr(13);
      }
      wanted.push_back(std::to_string(n) + "|" + track_title + "|" + track_performer);
      EXPECT_NE(cd_info.out.find("\tTITLE: " + track_title + "\n"), std::string::npos)
          << "track " << n;
    }
    EXPECT_EQ(shown, wanted);
    EXPECT_NE(cd_info.out.find("\tTITLE: " + title + "\n"), std::string::npos) << cd_info.out;
    if (!performer.empty()) {
      EXPECT_NE(cd_info.out.find("\tPERFORMER: " + performer + "\n"), std::string::npos)
          << cd_info.out;
    }
  }
}

TEST(CdText, TextFileRecordedAsItStandsAndBadFilesRefused) {
  const ScratchDirectory first;
  const std::string text = sheet({"TITLE \"From a file\"", "PERFORMER \"Packs\""}, 2, every_field);
  const Recorded source = record(first, text, 2);
  ASSERT_EQ(source.burn.status, 0) << source.burn.err;
  ASSERT_FALSE(source.packs.empty());
  std::string header = {static_cast<char>((source.packs.size() + 2) >> 8),
                        static_cast<char>((source.packs.size() + 2) & 0xFF), 0, 0};
  const struct {
    const char* name;
    std::string file;
    std::string error;  // empty: recorded
  } cases[] = {
      {"packs alone", source.packs, ""},
      {"behind the format-5 header", header + source.packs, ""},
      {"a bad CRC in the third pack",
       header + source.packs.substr(0, 40) + "X" + source.packs.substr(41),
       "CD-TEXT file \"x.cdt\" is bad: pack 3 at byte 40 has a bad CRC"},
      {"no whole number of packs", source.packs.substr(0, 30),
       "CD-TEXT file \"x.cdt\" is bad: 30 bytes are no whole number of 18-byte packs"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchDirectory folder;
    write_file(folder.file("x.cdt"), c.file);
    const Recorded disc = record(folder, sheet({"CDTEXTFILE \"x.cdt\""}, 2, no_lines), 2);
    if (!c.error.empty()) {
      EXPECT_EQ(disc.burn.status, 1);
      EXPECT_NE(disc.burn.err.find("\nError: " + c.error + "\n"), std::string::npos)
          << disc.burn.err;
      EXPECT_EQ(read_file(folder.file("disc.cue")), "");  // nothing recorded
      continue;
    }
    ASSERT_EQ(disc.burn.status, 0) << disc.burn.err;
    EXPECT_EQ(disc.packs, source.packs);
    EXPECT_EQ(values_in(disc.info.out), values_in(source.info.out));
    EXPECT_EQ(values_in(disc.sheet.out), values_in(source.sheet.out));
  }
}

TEST(CdText, EveryLanguageReadBackAndTheFirstWrittenIntoSheets) {
  // A file of three blocks: English and German in ISO-8859-1, Japanese in MS-JIS.
  cd_text_check::Block english, german, japanese;
  english.last_track = german.last_track = japanese.last_track = 2;
  english.texts = {{{0x80, 0}, "Caf\xE9 M\xFCller"},
                   {{0x81, 0}, "Se\xF1or"},
                   {{0x80, 1},
                    "Ma\xF1"
                    "ana"},
                   {{0x80, 2}, "Second"}};
  german.language = 0x08;
  german.texts = {{{0x80, 0},
                   "Gr\xFC\xDF"
                   "e"},
                  {{0x80, 1}, "Erstes"},
                  {{0x81, 2}, "S\xE4nger"}};
  japanese.language = 0x69;
  japanese.character_code = 0x80;
  japanese.texts = {{{0x80, 0}, "\x93\x8C\x8B\x9E\x82\xCC\x96\xE9"},
                    {{0x81, 0}, "\x89\xCC\x8E\xE8"},
                    {{0x80, 1}, "\x91\xE6\x88\xEA\x8B\xC8"},
                    {{0x80, 2}, "\x91\xE6\x93\xF1\x8B\xC8"}};
  const std::string file = cd_text_check::build({english, german, japanese});
  const ScratchDirectory folder;
  write_file(folder.file("x.cdt"), file);
  const Recorded disc =
      record(folder, sheet({"CDTEXTFILE \"x.cdt\""}, 2, no_lines), 2, {"/SESSION"});
  ASSERT_EQ(disc.burn.status, 0) << disc.burn.err;
  EXPECT_EQ(disc.packs, file);

  const Lines first = {"01 TITLE Mañana", "02 TITLE Second", "disc PERFORMER Señor",
                       "disc TITLE Café Müller"};
  Lines every = first;
  for (const char* value :
       {"block 1 disc TITLE Grüße", "block 1 01 TITLE Erstes", "block 1 02 PERFORMER Sänger",
        "block 2 disc TITLE 東京の夜", "block 2 disc PERFORMER 歌手", "block 2 01 TITLE 第一曲",
        "block 2 02 TITLE 第二曲"})
    every.push_back(value);
  std::sort(every.begin(), every.end());
  ASSERT_EQ(disc.info.status, 0) << disc.info.err;
  EXPECT_EQ(values_in(disc.info.out), every) << disc.info.out;
  EXPECT_NE(disc.info.out.find("\n\nCD-TEXT block 1 (German) of the disc:\n"), std::string::npos);
  EXPECT_NE(disc.info.out.find("\nCD-TEXT block 2 (Japanese) of track 02:\n"), std::string::npos);

  // A sheet holds the first language, and sheetgen says so of the others.
  EXPECT_EQ(values_in(disc.sheet.out), first);
  EXPECT_EQ(disc.sheet.err,
            "WARNING! CD-TEXT block 1 (German) is not written: a CUE SHEET holds the first "
            "block's texts only\n"
            "WARNING! CD-TEXT block 2 (Japanese) is not written: a CUE SHEET holds the first "
            "block's texts only\n");

  // The recorded disc's sheet names its packs: cd-info shows the first
  // block, and a disc pressed from the sheet carries every block.
  {
    const ScopedEnv bus("EMULATED_SCSI_BUS",
                        "0:3:0=MMC CD-ROM DRIVE,medium=" + folder.file("disc.cue"));
    const ProgramRun pressed = run_program("discinfo", {"/CDTEXT", "/NOPROMPT"}, folder.path());
    ASSERT_EQ(pressed.status, 0) << pressed.err;
    EXPECT_EQ(values_in(pressed.out), every);
  }
  // A later session rewrites the sheet with the texts the disc loaded from
  // it (as ISO-8859-1: a character set detector takes this sheet for
  // another code page).
  write_file(folder.file("later.cue"), sheet({}, 1, no_lines));
  const ScopedEnv bus("EMULATED_SCSI_BUS", RECORDER + folder.file("disc"));
  const ProgramRun later = run_program("cueburn", {"later.cue", "/NOCONFIRM"}, folder.path());
  ASSERT_EQ(later.status, 0) << later.err;
  const ProgramRun cd_info = run_command(
      "cd-info", {"--no-device-info", "--no-cddb", "--cue-file", folder.file("disc.cue")});
  for (const char* shown : {"\tTITLE: Café Müller\n\tPERFORMER: Señor\n", "\tTITLE: Mañana\n"})
    EXPECT_NE(cd_info.out.find(shown), std::string::npos) << cd_info.out;
}

TEST(CdText, NotRecordedWhereItCannotBeAndNotReadWhereItCannotBe) {
  const std::string text = sheet({"TITLE \"Album\"", "PERFORMER \"Band\""}, 2, long_titles);
  const std::string not_recorded =
      "WARNING! CD-TEXT is not recorded: the CD-Recorder cannot record it\n";
  const struct {
    const char* name;
    std::string bus;  // the recorder and its options
    Lines switches;
    std::string warnings;
    bool after_a_session = false;  // the disc holds a session recorded without texts
  } cases[] = {
      {"/NOCDTEXT", RECORDER, {"/NOCDTEXT"}, ""},
      {"an MMC drive without R-W in its lead-in",
       "0:4:0=MMC CD-RW DRIVE,cd_text=0,medium=",
       {},
       not_recorded},
      {"a Philips recorder", "0:4:0=CDD2000,medium=", {}, not_recorded},
      {"a later session",
       RECORDER,
       {},
       "WARNING! CD-TEXT is recorded in a disc's first session only: this session has none\n",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ScratchDirectory folder;
    write_file(folder.file("sheet.cue"), text);
    write_file(folder.file("audio.bin"), std::string(2 * 75 * 2352, '\0'));
    const ScopedEnv bus("EMULATED_SCSI_BUS", c.bus + folder.file("disc"));
    if (c.after_a_session) {
      ASSERT_EQ(run_program("cueburn", {"sheet.cue", "/NOCONFIRM", "/NOCDTEXT", "/SESSION"},
                            folder.path())
                    .status,
                0);
    }
    Lines arguments = {"sheet.cue", "/NOCONFIRM"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun burn = run_program("cueburn", arguments, folder.path());
    ASSERT_EQ(burn.status, 0) << burn.err;
    EXPECT_EQ(burn.err, c.warnings);
    EXPECT_EQ(read_file(folder.file("disc.cdt")), "");
    EXPECT_EQ(read_file(folder.file("disc.cue")).find("TITLE"), std::string::npos);
  }

  // A sheet whose texts take more than one block is refused before anything is written.
  {
    const ScratchDirectory folder;
    const Recorded disc = record(folder, sheet({}, 99, too_long), 99);
    EXPECT_EQ(disc.burn.status, 1);
    EXPECT_NE(disc.burn.err.find("\nError: The CD-TEXT of the CUE SHEET takes 347 packs, more "
                                 "than the 253 of one block\n"),
              std::string::npos)
        << disc.burn.err;
    EXPECT_EQ(read_file(folder.file("disc.cue")), "");
  }

  // Pressed discs: readers of the R-W subchannel read their CD-TEXT, the others say they cannot.
  const struct {
    const char* reader;
    std::string says;
  } readers[] = {
      {"MMC CD-ROM DRIVE", "\nCD-TEXT of the disc:\n  TITLE \"Album\"\n  PERFORMER \"Band\"\n"},
      {"CD-ROM PX-12CS", "\nCD-TEXT of the disc:\n  TITLE \"Album\"\n  PERFORMER \"Band\"\n"},
      {"CD-ROM XM-3401TA", "\nThe CDROM device cannot read CD-TEXT\n"},
  };
  const ScratchDirectory folder;
  write_file(folder.file("pressed.cue"), text);
  write_file(folder.file("plain.cue"), sheet({}, 2, no_lines));
  write_file(folder.file("audio.bin"), std::string(2 * 75 * 2352, '\0'));
  for (const auto& r : readers) {
    SCOPED_TRACE(r.reader);
    const ScopedEnv bus("EMULATED_SCSI_BUS",
                        std::string("0:3:0=") + r.reader + ",medium=" + folder.file("pressed.cue"));
    const ProgramRun info = run_program("discinfo", {"/CDTEXT", "/NOPROMPT"}, folder.path());
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find(r.says), std::string::npos) << info.out;
  }
  const ScopedEnv bus("EMULATED_SCSI_BUS",
                      "0:3:0=MMC CD-ROM DRIVE,medium=" + folder.file("plain.cue"));
  const ProgramRun info = run_program("discinfo", {"/CDTEXT", "/NOPROMPT"}, folder.path());
  EXPECT_NE(info.out.find("\nNo CD-TEXT on this disc\n"), std::string::npos) << info.out;
}

}  // namespace

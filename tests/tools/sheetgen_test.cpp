// sheetgen run as a user runs it: the cue sheets of sample discs in every
// scan mode, the discs it refuses, its switches, a sheet that cannot be
// written, and the round trip of the cueburn fixtures (recorded, described,
// read back by the project's parser and by cue sheet readers no one here
// wrote).
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/timecode.h"
#include "layout/cue_sheet.h"
#include "support/burn_discs.h"
#include "support/cue_images.h"
#include "support/patterns.h"
#include "support/run_program.h"
#include "support/sample_discs.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;

const char REM[] = "REM Add 'FILE <filename> <filetype>' command here!\n";
const char FOUND[] =
    "CDROM device found...\n"
    "  HA #0 - SCSI ID #3 - EMULATED MYSTERY CDROM    1.00\n\n";
const char GENERIC[] =
    "Warning: CDROM device model is unknown to this program!\n"
    "The generic CDROM device driver will be used...\n\n";

class SheetGen : public testing::Test {
 protected:
  ProgramRun sheetgen(const std::string& bus, const std::vector<std::string>& arguments) {
    ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
    return run_program("sheetgen", arguments, folder);
  }
  // A drive that no model table knows, at 0:3:0, holding a sample disc
  // (each in files of its own).
  std::string reader(const SampleDisc& disc, const std::string& items = "") {
    const std::string name = "disc" + std::to_string(++discs);
    return "0:3:0=MYSTERY CDROM,medium=" + write_sample_disc(folder, name, disc) + items;
  }

  ScratchDirectory scratch;
  std::string folder = scratch.path();
  unsigned discs = 0;
  ScopedEnv no_reader_id{"CDREADER_ID", std::nullopt};
  ScopedEnv no_trace{"TRACE_SCSI_ENABLED", std::nullopt};
};

SampleTrack audio(uint32_t frames, uint32_t index0 = 0) {
  return {TrackType::Audio, frames, index0, "", ""};
}

SampleTrack data(TrackType type, uint32_t frames) { return {type, frames, 0, "", ""}; }

SampleDisc sample(std::vector<SampleTrack> tracks) {
  SampleDisc disc;
  disc.tracks = std::move(tracks);
  return disc;
}

// Three audio tracks: track 2 with a pregap of 100 frames from LBA 375 and
// an index 2 at LBA 725, track 3 with a pregap of 400 frames from LBA 975;
// index 1 at LBAs 0, 475 and 1375; lead-out at 1675. Tracks 1 and 2 have
// ISRC codes, track 1 flags. Track 2's pregap begins where the disc's
// hundreds of frames carry the catalog number, its index 2 where they carry
// the ISRC: the first frame of an index must tell its position all the same.
SampleDisc album(const std::string& catalog) {
  SampleDisc disc;
  disc.catalog = catalog;
  disc.tracks = {audio(375), audio(500, 100), audio(300, 400)};
  disc.indexes = {{}, {250}};
  disc.tracks[0].flags = "DCP PRE";
  disc.tracks[0].isrc = "USABC9600001";
  disc.tracks[1].isrc = "GBXYZ9700002";
  return disc;
}

std::string track_lines(const std::string& head, const std::vector<std::string>& indexes) {
  std::string text = "  TRACK " + head + "\n";
  for (const std::string& index : indexes) text += "    INDEX " + index + "\n";
  return text;
}

TEST_F(SheetGen, DescribesDiscsInEveryScanMode) {
  const std::string track1 = REM + std::string("  TRACK 01 AUDIO\nFLAGS DCP PRE\n");
  const std::string coded1 = REM + std::string("  TRACK 01 AUDIO\n    ISRC USABC9600001\n") +
                             "FLAGS DCP PRE\n    INDEX 01 00:00:00\n";
  const std::string coded2 = "02 AUDIO\n    ISRC GBXYZ9700002";
  const std::string track3 = track_lines("03 AUDIO", {"00 00:13:00", "01 00:18:25"});
  const struct {
    const char* what;
    SampleDisc disc;
    std::string items;
    std::vector<std::string> switches;
    std::string sheet;
  } cases[] = {
      {"table of contents only; /MCN without a catalog number",
       album(""),
       "",
       {"/MCN"},
       track1 + "    INDEX 01 00:00:00\n" + track_lines("02 AUDIO", {"01 00:06:25"}) +
           track_lines("03 AUDIO", {"01 00:18:25"})},
      {"two-second pregaps assumed",
       album(""),
       "",
       {"/SUBCODE=auto"},
       track1 + "    INDEX 01 00:00:00\n" +
           track_lines("02 AUDIO", {"00 00:04:25", "01 00:06:25"}) +
           track_lines("03 AUDIO", {"00 00:16:25", "01 00:18:25"})},
      {"every index, catalog number and ISRC",
       album("0123456789012"),
       "",
       {"/SUBCODE=ALL", "/MCN", "/ISRC"},
       "CATALOG 0123456789012\n" + coded1 +
           track_lines(coded2, {"00 00:05:00", "01 00:06:25", "02 00:09:50"}) + track3},
      {"every index by a search, catalog number and ISRC",
       album("0123456789012"),
       ",jitter=30",
       {"/SUBCODE=FAST", "/MCN", "/ISRC"},
       "CATALOG 0123456789012\n" + coded1 +
           track_lines(coded2, {"00 00:05:00", "01 00:06:25", "02 00:09:50"}) + track3},
      // The scan goes on 300 frames before track 3: its pregap of 400 is
      // found where the scan comes back, at LBA 1075.
      {"pregaps, threshold 300",
       album(""),
       "",
       {"/SUBCODE=SOME", "/ISRC"},
       coded1 + track_lines(coded2, {"00 00:05:00", "01 00:06:25"}) +
           track_lines("03 AUDIO", {"00 00:14:25", "01 00:18:25"})},
      {"pregaps, threshold 450",
       album(""),
       "",
       {"/SUBCODE=SOME", "/THRESH=450", "/ISRC"},
       coded1 + track_lines(coded2, {"00 00:05:00", "01 00:06:25"}) + track3},
      {"data, then audio after a gap of 100 frames",
       sample({data(TrackType::Mode1, 600), audio(300, 100)}),
       "",
       {"/SUBCODE=SOME"},
       REM + track_lines("01 MODE1/2352", {"01 00:00:00"}) +
           track_lines("02 AUDIO", {"00 00:08:00", "01 00:09:25"})},
      // 2 of the 302 frames stay with the data track.
      {"data, then audio after a gap of 302 frames",
       sample({data(TrackType::Mode2, 600), audio(300, 302)}),
       "",
       {},
       REM + track_lines("01 MODE2/2352", {"01 00:00:00"}) +
           track_lines("02 AUDIO", {"00 00:08:02", "01 00:12:02"})},
      {"a table of contents that starts at track 2",
       sample({data(TrackType::Mode2, 600), audio(300, 150), audio(300)}),
       ",toc_first=2",
       {"/SUBCODE=ALL"},
       REM + track_lines("01 CDI/2352", {"01 00:00:00"}) +
           track_lines("02 AUDIO", {"00 00:08:00", "01 00:10:00"}) +
           track_lines("03 AUDIO", {"01 00:14:00"})},
      {"a table of contents that starts at track 2, by a search",
       sample({data(TrackType::Mode2, 600), audio(300, 150), audio(300)}),
       ",toc_first=2",
       {"/SUBCODE=FAST"},
       REM + track_lines("01 CDI/2352", {"01 00:00:00"}) +
           track_lines("02 AUDIO", {"00 00:08:00", "01 00:10:00"}) +
           track_lines("03 AUDIO", {"01 00:14:00"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> arguments = {"out.cue", "/BATCH"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = sheetgen(reader(c.disc, c.items), arguments);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, GENERIC);
    EXPECT_EQ(read_file(folder + "/out.cue"), c.sheet);
    std::remove((folder + "/out.cue").c_str());
  }
}

TEST_F(SheetGen, ProgressOfAScan) {
  SampleDisc disc;
  disc.tracks = {audio(40), audio(300, 10)};
  const ProgramRun run = sheetgen(reader(disc), {"out.cue", "/SUBCODE=SOME", "/THRESH=5"});
  EXPECT_EQ(run.status, 0);
  // From track 1 to the lead-out at 350. After track 1's index 1 the scan
  // goes on 5 frames before track 2 (LBA 50), after track 2's 5 frames
  // before the lead-out.
  EXPECT_EQ(run.out, std::string(FOUND) + GENERIC +
                         "Analyzing disc layout... Please wait...\n"
                         "Reading LBA 000000 to 000349 (350 blocks)\n"
                         "  LBA: 000000 to 000026\r  LBA: 000045 to 000071\r"
                         "  LBA: 000345 to 000349\r\n");
  EXPECT_EQ(read_file(folder + "/out.cue"),
            REM + track_lines("01 AUDIO", {"01 00:00:00"}) +
                track_lines("02 AUDIO", {"00 00:00:45", "01 00:00:50"}));
}

// Discs and drives the tool refuses: nothing is written.
TEST_F(SheetGen, Refusals) {
  const std::string analysis = "\nError analyzing disc...\n";
  const std::string recorder = "CD-Recorder device found...\n";
  const struct {
    const char* what;
    std::string bus;
    std::vector<std::string> switches;
    std::string out, err;
  } cases[] = {
      {"audio before data",
       reader(sample({audio(300), data(TrackType::Mode1, 300)})),
       {},
       GENERIC,
       analysis + "All data tracks must come before the audio tracks!\n"},
      {"mode 1 and mode 2",
       reader(sample({data(TrackType::Mode1, 300), data(TrackType::Mode2, 300)})),
       {},
       GENERIC,
       analysis + "Unable to copy discs with both MODE1 and MODE2 data tracks!\n"},
      {"a data track whose first sector does not read",
       reader(sample({data(TrackType::Mode1, 300), audio(300)}), ",bad=0"),
       {},
       GENERIC,
       analysis + "Unable to determine the mode of track 1\n"},
      {"no data sector before the audio track",
       reader(sample({data(TrackType::Mode1, 600), audio(300)}), ",bad=100-599"),
       {},
       GENERIC,
       analysis + "Unable to locate end of data track!\n"},
      // The recorder reads no subcode; it is refused before its (empty)
      // tray is looked at, and AUTO needs no subcode.
      {"a scan on a drive without subcode",
       "0:4:0=CDD2000",
       {"/SUBCODE=some"},
       "",
       "Error: CDROM device does not support the reading of subcodes!\n"},
      {"no subcode needed",
       "0:4:0=CDD2000",
       {"/SUBCODE=AUTO"},
       "",
       "\nError: 'TEST UNIT READY' command failed on device 0:4:0\nDevice is not ready\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> arguments = {"out.cue", "/BATCH"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = sheetgen(c.bus, arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(read_file(folder + "/out.cue"), "");
  }
}

TEST_F(SheetGen, SwitchErrorsAndUnwritableSheets) {
  const std::string usage =
      "SHEETGEN.EXE - Version 2.4A (November 1996)\n\n"
      "Usage: SHEETGEN <cuefile> [/ID=ha:id:lun] [/BATCH] [/ISRC] [/MCN]\n"
      "         [/RESET] [/SPEED=n] [/SUBCODE=option] [/THRESH=n]\n"
      "cuefile   - Output CUE SHEET file\n"
      "/ID       - SCSI address of CDROM drive (default is first found)\n"
      "/BATCH    - Disable all logging messages\n"
      "/ISRC     - Read the 'International Standard Recording Codes'\n"
      "/MCN      - Read the 'Media Catalog Number'\n"
      "/RESET    - Reset device (workaround for firmware bugs)\n"
      "/SPEED=n  - Reading speed (default is maximum)\n"
      "/SUBCODE  - Subcode scanning option...\n"
      "              NONE - Disable subcode scan (default)\n"
      "              SOME - Scan subcode for pregaps only\n"
      "              AUTO - Add two second pregaps to all audio tracks\n"
      "              ALL  - Scan subcode for all subindexes\n"
      "/THRESH   - Pregap scan threshold (default is 300 sectors)\n"
      "e.g. SHEETGEN TEST.CUE\n"
      "e.g. SHEETGEN TEST.CUE /SUBCODE=SOME /THRESH=450\n"
      "e.g. SHEETGEN TEST.CUE /ID=0:3:0 /SUBCODE=ALL\n";
  const std::string bus = reader(album(""));
  const struct {
    std::vector<std::string> arguments;
    std::string out, err;
  } cases[] = {
      {{}, usage, ""},
      {{"out.cue", "/?"}, usage, ""},
      {{"a.cue", "b.cue"}, "", "Too many parameters - b.cue\n"},
      {{"/MCN", "/ISRC"}, "", "Error: CUE SHEET filename must be specified!\n"},
      {{"out.cue", "/Nope"}, "", "Invalid switch - /Nope\n"},
      {{"out.cue", "/ID=1:2"}, "", "Illegal /ID value format!\n"},
      {{"out.cue", "/SPEED=3"}, "", "Error: Illegal reading speed specified!\n"},
      {{"out.cue", "/SPEEDY=2"}, "", "Error: Illegal /SPEED format!\n"},
      {{"out.cue", "/SUBCODE="}, "", "Error: Illegal /SUBCODE format!\n"},
      {{"out.cue", "/subcode=most"}, "", "Illegal /SUBCODE option \"MOST\" specified!\n"},
      {{"out.cue", "/THRESH=-1"}, "", "Error: Illegal /THRESH format!\n"},
      {{"out.cue", "/ID=0:3:1"}, "", "\nError: Specified device (0:3:1) is not a CDROM!\n"},
      // The sheet goes nowhere, or not whole: never status 0.
      {{"missing/out.cue", "/BATCH"},
       GENERIC,
       "\nError: Unable to create file \"missing/out.cue\"\n"},
      {{"/dev/full", "/BATCH"}, GENERIC, "\nError: Unexpected failure writing file (disk full?)\n"},
  };
  for (const auto& c : cases) {
    const ProgramRun run = sheetgen(bus, c.arguments);
    EXPECT_EQ(run.status, 1) << c.err;
    EXPECT_EQ(run.out, c.out) << c.err;
    EXPECT_EQ(run.err, c.err);
  }
}

// The parts of a parsed layout a described disc must give back.
std::vector<std::string> layout_summary(const DiscLayout& layout) {
  std::vector<std::string> lines;
  if (layout.layout_flags & LAYOUT_MCN)
    lines.push_back("catalog " + std::string(layout.catalog_number.data(), 13));
  for (unsigned i = 0; i < layout.track_count; ++i) {
    const TrackEntry& track = layout.tracks[i];
    std::string line = "track " + std::to_string(track.track_number) + " type " +
                       std::to_string(static_cast<int>(track.track_type)) + " flags " +
                       std::to_string(track.track_flags);
    if (track.track_flags & TRACK_ISRC) line += " isrc " + std::string(track.isrc.data(), 12);
    lines.push_back(line);
  }
  for (unsigned i = 0; i < layout.cuepoint_count; ++i) {
    const CuePoint& point = layout.cuepoints[i];
    char text[40];
    std::snprintf(text, sizeof text, "cuepoint %02X %02X %02u:%02u:%02u", point.track, point.index,
                  point.minute, point.second, point.frame);
    lines.push_back(text);
  }
  return lines;
}

// "m:ss.ff" of cuebreakpoints for an LBA.
std::string breakpoint(uint32_t lba) {
  const MsfTime time = frames_to_msf(static_cast<int32_t>(lba));
  char text[16];
  std::snprintf(text, sizeof text, "%u:%02u.%02u", time.minute, time.second, time.frame);
  return text;
}

// What cuebreakpoints (index 1, and with --prepend-gaps the first index of
// each track), cueprint (track numbers and ISRC codes) and cdrdao show-toc
// (catalog, start and pregap, flags and ISRC of each track) must read from
// a sheet of this layout.
struct PeerView {
  std::string index1, first_index, cueprint, cdrdao;
};

PeerView expected_view(const DiscLayout& layout) {
  PeerView view;
  if (layout.layout_flags & LAYOUT_MCN)
    view.cdrdao = "catalog " + std::string(layout.catalog_number.data(), 13) + "\n";
  view.cueprint = std::to_string(layout.track_count) + "\n";
  uint32_t track_first = 0;
  for (unsigned i = 0; i < layout.cuepoint_count; ++i) {
    const CuePoint& point = layout.cuepoints[i];
    if (point.track == LEADOUT_TRACK) break;
    const uint32_t lba = cuepoint_frames(point) - LBA_OFFSET_FRAMES;
    const bool first = i == 0 || point.track != layout.cuepoints[i - 1].track;
    if (first) track_first = lba;
    const unsigned number = bcd_to_bin(point.track);
    if (first && number > 1) view.first_index += breakpoint(lba) + "\n";
    if (point.index != 1) continue;
    if (number > 1) view.index1 += breakpoint(lba) + "\n";
    const TrackEntry& track = layout.tracks[number - 1];
    const std::string isrc =
        (track.track_flags & TRACK_ISRC) ? std::string(track.isrc.data(), 12) : "";
    view.cueprint += std::to_string(number) + " " + isrc + "\n";
    // cdrdao counts track 1's pregap as part of the disc's start.
    view.cdrdao += "track " + std::to_string(number) + " start " + std::to_string(lba) +
                   " pregap " + std::to_string(number > 1 ? lba - track_first : 0) +
                   ((track.track_flags & TRACK_DCP) ? " copy" : "") +
                   ((track.track_flags & TRACK_PRE) ? " pre" : "") +
                   ((track.track_flags & TRACK_4CH) ? " four" : "") + " " + isrc + "\n";
  }
  return view;
}

// The same read from cdrdao show-toc's listing.
std::string cdrdao_view(const std::string& text) {
  std::string view;
  std::istringstream lines(text);
  std::string line, track;
  cdm_test::Groups match;
  uint32_t pregap = 0;
  std::string flags, isrc;
  // Made once: building a pattern costs more than all the matching.
  static const cdm_test::Pattern catalog(R"(^CATALOG NUMBER: (\d{13}))");
  static const cdm_test::Pattern track_line(R"(^TRACK +(\d+) +Mode)");
  static const cdm_test::Pattern isrc_line(R"(ISRC (\w\w) (\w{3}) (\d\d) (\d{5}))");
  static const cdm_test::Pattern pregap_line(R"(^ +PREGAP .*\( *(\d+)\))");
  static const cdm_test::Pattern copy_line(R"(^ +COPY PERMITTED)");
  static const cdm_test::Pattern pre_line(R"(^ +PRE-EMPHASIS)");
  static const cdm_test::Pattern four_line(R"(^ +FOUR CHANNEL AUDIO)");
  static const cdm_test::Pattern start_line(R"(^ +START .*\( *(\d+)\))");
  while (std::getline(lines, line)) {
    if (catalog.search(line, match)) {
      view += "catalog " + match[1] + "\n";
    } else if (track_line.search(line, match)) {
      track = match[1];
      pregap = 0;
      flags.clear();
      isrc.clear();
    } else if (isrc_line.search(line, match)) {
      isrc = match[1] + match[2] + match[3] + match[4];
    } else if (pregap_line.search(line, match)) {
      pregap = static_cast<uint32_t>(std::stoul(match[1]));
    } else if (copy_line.found_in(line)) {
      flags += " copy";
    } else if (pre_line.found_in(line)) {
      flags += " pre";
    } else if (four_line.found_in(line)) {
      flags += " four";
    } else if (start_line.search(line, match)) {
      view += "track " + track + " start " + match[1] + " pregap " + std::to_string(pregap) +
              flags + " " + isrc + "\n";
    }
  }
  return view;
}

// Readers that read the Q subchannel: one no model table knows, and one of
// each family that can (Plextor, Sony, Toshiba).
const char* const QREADERS[] = {"MYSTERY CDROM", "CD-ROM PX-12CS", "CD-ROM CDU-76S",
                                "CD-ROM XM-3401TA"};

TEST_F(SheetGen, RecordedDiscsAreDescribedAsTheirCueSheetsLaidThemOut) {
  using namespace cueburn_test;
  const std::string disc = folder + "/burned";
  for (const Fixture& fixture : fixtures()) {
    // Audio and mixed discs; the peers know no CD+G track.
    if (std::string(fixture.sheet).find("AUDIO") == std::string::npos || !fixture.peers) continue;
    SCOPED_TRACE(fixture.name);
    for (const auto& [name, bytes] : fixture.files) write_bytes(folder + "/" + name, bytes);
    write_file(folder + "/disc.cue", fixture.sheet);
    for (const char* ext : {".cue", ".bin", ".state"}) std::remove((disc + ext).c_str());
    {
      ScopedEnv emulated("EMULATED_SCSI_BUS", "0:4:0=CDD2000,medium=" + disc);
      const ProgramRun burn = run_program("cueburn", {"disc.cue", "/NOCONFIRM"}, folder);
      ASSERT_EQ(burn.status, 0) << burn.err;
    }
    // Every reader that reads the Q subchannel describes the disc alike.
    std::string sheet;
    for (const char* product : QREADERS) {
      SCOPED_TRACE(product);
      const ProgramRun run = sheetgen(std::string("0:3:0=") + product + ",medium=" + disc + ".cue",
                                      {"described.cue", "/SUBCODE=ALL", "/MCN", "/ISRC", "/BATCH"});
      ASSERT_EQ(run.status, 0) << run.err;
      const std::string described = read_file(folder + "/described.cue");
      if (sheet.empty()) sheet = described;
      EXPECT_EQ(described, sheet);
      // The search finds what the scan of every frame finds.
      const ProgramRun fast =
          sheetgen(std::string("0:3:0=") + product + ",medium=" + disc + ".cue",
                   {"searched.cue", "/SUBCODE=FAST", "/MCN", "/ISRC", "/BATCH"});
      ASSERT_EQ(fast.status, 0) << fast.err;
      EXPECT_EQ(read_file(folder + "/searched.cue"), sheet);
    }
    const std::size_t rem = sheet.find(REM);
    ASSERT_NE(rem, std::string::npos) << sheet;
    sheet.replace(rem, std::string(REM).size(), "FILE \"burned.bin\" BINARY\n");
    write_file(folder + "/described.cue", sheet);

    const auto original = parse_cue_sheet(folder + "/disc.cue");
    const auto described = parse_cue_sheet(folder + "/described.cue");
    EXPECT_EQ(layout_summary(*described->layout), layout_summary(*original->layout)) << sheet;

    const PeerView want = expected_view(*original->layout);
    const auto peer = [&](const std::string& program, const std::vector<std::string>& arguments) {
      const ProgramRun theirs = run_command(program, arguments, folder);
      EXPECT_EQ(theirs.status, 0) << program << ": " << theirs.err;
      return theirs.out;
    };
    EXPECT_EQ(peer("cuebreakpoints", {"described.cue"}), want.index1);
    EXPECT_EQ(peer("cuebreakpoints", {"--prepend-gaps", "described.cue"}), want.first_index);
    EXPECT_EQ(peer("cueprint", {"-d", "%N\\n", "-t", "%n %i\\n", "described.cue"}), want.cueprint);
    // cdrdao 1.2.4 puts an INDEX 02 or above of any track but the first at
    // its time in the file plus the track's start, so it gets the sheet
    // without them (its listing shows no index beyond 1 anyway).
    write_file(folder + "/for_cdrdao.cue",
               cdm_test::Pattern(R"(    INDEX ([1-9]\d|0[2-9]) .*\n)").replace(sheet, ""));
    EXPECT_EQ(cdrdao_view(peer("cdrdao", {"show-toc", "for_cdrdao.cue"})), want.cdrdao);
  }
}

}  // namespace

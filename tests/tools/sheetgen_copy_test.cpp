// sheetgen /COPY: the whole disc into one image beside the sheet, recorded
// again by cueburn from the two unchanged, and the copies it refuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/patterns.h"
#include "support/run_program.h"
#include "support/sample_discs.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;

SampleTrack audio(uint32_t frames, uint32_t index0 = 0, const std::string& isrc = "") {
  return {TrackType::Audio, frames, index0, isrc, ""};
}

SampleDisc disc_of(std::vector<SampleTrack> tracks, const std::string& catalog = "") {
  SampleDisc disc;
  disc.tracks = std::move(tracks);
  disc.catalog = catalog;
  return disc;
}

// Pregaps, an index 2, codes; a mixed disc with a gap after its data track
// (302 frames: 2 stay with the data track); a data disc.
SampleDisc album() {
  SampleDisc disc =
      disc_of({audio(375, 0, "USABC9600001"), audio(500, 100), audio(300, 400)}, "0123456789012");
  disc.indexes = {{}, {250}};
  return disc;
}

ProgramRun run_on(const std::string& bus, const std::string& program,
                  const std::vector<std::string>& arguments, const std::string& folder) {
  ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
  ScopedEnv no_reader_id("CDREADER_ID", std::nullopt);
  ScopedEnv no_writer_id("CDWRITER_ID", std::nullopt);
  return run_program(program, arguments, folder);
}

// The sheet of the disc at `medium` without its FILE line.
std::string described(const std::string& medium, const std::string& folder) {
  const ProgramRun run = run_on("0:3:0=MYSTERY CDROM,medium=" + medium, "sheetgen",
                                {"plain.cue", "/SUBCODE=ALL", "/MCN", "/ISRC", "/BATCH"}, folder);
  EXPECT_EQ(run.status, 0) << run.err;
  return read_file(folder + "/plain.cue");
}

std::string without_file_line(const std::string& sheet) {
  const std::size_t rem = sheet.find("REM Add");
  const std::size_t begin = rem != std::string::npos ? rem : sheet.find("FILE ");
  if (begin == std::string::npos) return sheet;
  return sheet.substr(0, begin) + sheet.substr(sheet.find('\n', begin) + 1);
}

TEST(SheetgenCopy, SheetAndImageRecordAgainAsTheDisc) {
  const struct {
    const char* what;
    SampleDisc disc;
    const char* copy;
    const char* file_line;
    std::string items;
  } cases[] = {
      {"audio into a binary image", album(), "disc copy.bin", "FILE \"disc copy.bin\" BINARY\n",
       ""},
      {"audio into WAV, from a drive that jitters", album(), "copy.wav", "FILE copy.wav WAVE\n",
       ",jitter=30,seed=3"},
      {"audio into FLAC", album(), "copy.FLAC", "FILE copy.FLAC WAVE\n", ",jitter=7"},
      {"mode 1 data and audio", disc_of({{TrackType::Mode1, 600, 0, "", ""}, audio(300, 302)}),
       "mixed.bin", "FILE mixed.bin BINARY\n", ""},
      {"mode 2 data only", disc_of({{TrackType::Mode2, 400, 0, "", ""}}), "data.bin",
       "FILE data.bin BINARY\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory scratch;
    const std::string folder = scratch.path();
    const std::string medium = write_sample_disc(folder, "source", c.disc);
    // The sheet goes into a folder of its own; the image beside it.
    ASSERT_EQ(run_command("mkdir", {folder + "/out"}).status, 0);
    const ProgramRun copy = run_on(
        "0:3:0=MYSTERY CDROM,medium=" + medium + c.items, "sheetgen",
        {"out/copy.cue", "/SUBCODE=ALL", "/MCN", "/ISRC", "/BATCH", std::string("/COPY=") + c.copy},
        folder);
    ASSERT_EQ(copy.status, 0) << copy.err;
    EXPECT_EQ(copy.err, "");
    const std::string sheet = read_file(folder + "/out/copy.cue");
    EXPECT_NE(sheet.find(c.file_line), std::string::npos) << sheet;
    EXPECT_EQ(without_file_line(sheet), without_file_line(described(medium, folder)));

    const ProgramRun burn = run_on("0:4:0=CDD2000,medium=" + folder + "/burned", "cueburn",
                                   {"out/copy.cue", "/NOCONFIRM"}, folder);
    ASSERT_EQ(burn.status, 0) << burn.err;
    EXPECT_TRUE(read_file(folder + "/burned.bin") == read_file(folder + "/source.bin"));
    EXPECT_EQ(without_file_line(described(folder + "/burned.cue", folder)),
              without_file_line(sheet));
  }
}

// /SECURE, /RETRIES and /OFFSET read the copy's audio as ripspan reads a
// span: the image equals a clean drive's copy under scratches and a drive
// cache (without re-reads it does not, so the scratches are real), undecided
// positions are named with status 1 and a complete image and sheet, and
// the read offset, from /OFFSET or CD_READ_OFFSET, shifts the audio.
TEST(SheetgenCopy, SecureCopyProvesOrNamesEveryPosition) {
  const struct {
    const char* what;
    const char* product;
    std::string items;
    std::vector<std::string> switches;
    const char* environment_offset;
    int shift;  // samples the image is shifted by against the clean copy
    bool exact;
    int status;
  } cases[] = {
      // The copy's passes are jitter-corrected (no C2 pointers): only the
      // re-reads' flawless reads vote, one in four of a scratch's reads.
      {"scratches, C2 pointers, cache",
       "MMC CD-ROM DRIVE",
       ",scratch=600-619,cache=1",
       {"/SECURE", "/RETRIES=40"},
       nullptr,
       0,
       true,
       0},
      {"scratches on a drive that jitters",
       "MYSTERY CDROM",
       ",scratch=600-604,jitter=20,seed=5",
       {"/SECURE", "/RETRIES=60"},
       nullptr,
       0,
       true,
       0},
      {"no re-reads",
       "MMC CD-ROM DRIVE",
       ",scratch=600-619,cache=1",
       {"/SECURE", "/RETRIES=0"},
       nullptr,
       0,
       false,
       1},
      {"offset by switch",
       "MMC CD-ROM DRIVE",
       ",offset=-30",
       {"/SECURE", "/OFFSET=-30"},
       nullptr,
       -30,
       true,
       0},
      {"offset by environment",
       "MMC CD-ROM DRIVE",
       ",offset=700",
       {"/SECURE"},
       "700",
       700,
       true,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory scratch;
    const std::string folder = scratch.path();
    const std::string medium = write_sample_disc(folder, "source", album());
    ScopedEnv offset("CD_READ_OFFSET", c.environment_offset
                                           ? std::optional<std::string>(c.environment_offset)
                                           : std::nullopt);
    const std::string bus = std::string("0:3:0=") + c.product + ",medium=" + medium;
    const ProgramRun clean =
        run_on(bus, "sheetgen", {"clean.cue", "/BATCH", "/COPY=clean.bin", "/OFFSET=0"}, folder);
    ASSERT_EQ(clean.status, 0) << clean.err;
    std::vector<std::string> arguments = {"copy.cue", "/BATCH", "/COPY=copy.bin"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = run_on(bus + c.items, "sheetgen", arguments, folder);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(read_file(folder + "/copy.cue").find("FILE copy.bin BINARY\n"), std::string::npos);

    const std::string expected = read_file(folder + "/clean.bin");
    const std::string copy = read_file(folder + "/copy.bin");
    ASSERT_EQ(copy.size(), expected.size());
    const std::size_t zeros = 4 * static_cast<std::size_t>(std::abs(c.shift));
    const std::size_t kept = expected.size() - zeros;
    const bool equal = c.shift >= 0 ? copy.substr(0, kept) == expected.substr(0, kept) &&
                                          copy.substr(kept) == std::string(zeros, '\0')
                                    : copy.substr(zeros) == expected.substr(zeros) &&
                                          copy.substr(0, zeros) == std::string(zeros, '\0');
    EXPECT_EQ(equal, c.exact);
    // Track 2 begins at LBA 475 (its pregap of 100 from 375): LBA 600 is
    // 125 frames (00:01.50) into it.
    cdm_test::Groups found;
    ASSERT_TRUE(cdm_test::Pattern("Track 02: copy CRC [0-9A-F]{8}, (\\d+) suspicious positions?"
                                  "( \\((00:01\\.[5-6]\\d(, )?)+\\))?, AccurateRip v1 [0-9A-F]{8}")
                    .search(run.out, found))
        << run.out;
    EXPECT_NE(run.out.find("Track 03: copy CRC "), std::string::npos);
    EXPECT_NE(run.out.find("AccurateRip database file "), std::string::npos);
    const int undecided = std::stoi(found[1]);
    EXPECT_EQ(undecided > 0, c.status == 1);
    if (c.status == 0) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(run.err, "Error: " + std::to_string(undecided) + " suspicious position" +
                             (undecided == 1 ? "" : "s") +
                             " stayed undecided after 0 re-reads: the copy may differ from the "
                             "disc there\n");
    }
  }
}

// Refused before the sheet or the image is made.
TEST(SheetgenCopy, Refusals) {
  const SampleDisc mixed = disc_of({{TrackType::Mode1, 300, 0, "", ""}, audio(300)});
  const struct {
    SampleDisc disc;
    std::vector<std::string> arguments;
    std::string err;
  } cases[] = {
      {mixed,
       {"a.cue", "/COPY=a.wav"},
       "Error: A disc with data tracks can only be copied into a .bin file\n"},
      {mixed,
       {"a.cue", "/COPY=a.flac"},
       "Error: A disc with data tracks can only be copied into a .bin file\n"},
      {album(),
       {"a.cue", "/COPY=a.iso"},
       "Error: /COPY file name must end in .bin, .wav or .flac\n"},
      {album(),
       {"a.cue", "/COPY=.wav"},
       "Error: /COPY file name must end in .bin, .wav or .flac\n"},
      {album(), {"a.cue", "/COPY="}, "Error: Illegal /COPY format!\n"},
      {album(), {"a.cue", "/SECURE"}, "Error: /SECURE, /RETRIES and /OFFSET go with /COPY\n"},
      {album(), {"a.cue", "/OFFSET=6"}, "Error: /SECURE, /RETRIES and /OFFSET go with /COPY\n"},
      {album(),
       {"a.cue", "/COPY=a.bin", "/RETRIES=1001"},
       "Error: Illegal /RETRIES value specified!\n"},
      {album(), {"a.cue", "/COPY=a.bin", "/OFFSET=x"}, "Error: Illegal /OFFSET value format!\n"},
      {album(),
       {"a.bin", "/COPY=a.bin"},
       "Error: The /COPY file and the CUE SHEET file must differ!\n"},
      {album(),
       {"a.cue", "/COPY=source.bin"},
       "\nError: Unable to create file \"source.bin\"\nIt holds the disc of a drive on the SCSI "
       "bus\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[1]);
    ScratchDirectory scratch;
    const std::string medium = write_sample_disc(scratch.path(), "source", c.disc);
    const std::string image = read_file(scratch.file("source.bin"));
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("/BATCH");
    const ProgramRun run =
        run_on("0:3:0=MYSTERY CDROM,medium=" + medium, "sheetgen", arguments, scratch.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(read_file(scratch.file("a.cue")), "");
    const std::string target = c.arguments[1].substr(6);
    if (target != "source.bin") {
      EXPECT_EQ(read_file(scratch.file(target)), "");
    }
    EXPECT_TRUE(read_file(scratch.file("source.bin")) == image);
  }
}

}  // namespace

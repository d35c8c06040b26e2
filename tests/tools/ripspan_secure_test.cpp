// ripspan's proven copies, run as a user runs them: checksums that the
// peers (accuraterip-checksum, crc32) compute alike, secure reading against
// scratched sectors and a drive's cache, the read offset, and the check
// against an AccurateRip database entry.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/wav.h"
#include "support/patterns.h"
#include "support/rip_discs.h"
#include "support/run_program.h"
#include "support/scsi_fakes.h"

namespace {

using namespace ripspan_test;

// Three audio tracks of different lengths; track 2 with a pause.
SampleDisc three_tracks() {
  SampleDisc disc;
  disc.tracks = {{TrackType::Audio, 700, 0, "", ""},
                 {TrackType::Audio, 1300, 75, "", ""},
                 {TrackType::Audio, 1000, 0, "", ""}};
  return disc;
}

struct Sums {
  std::string crc, v1, v2, suspicious;
};

// The report's lines by track number: "Track 01: copy CRC ..., AccurateRip v1 ..., v2 ...".
std::map<int, Sums> report_of(const std::string& out) {
  static const cdm_test::Pattern line(
      "Track (\\d\\d): copy CRC ([0-9A-F]{8})(?:, (\\d+) suspicious positions?(?: \\([^)]*\\))?)?"
      ", AccurateRip v1 ([0-9A-F]{8}), v2 ([0-9A-F]{8})\n");
  std::map<int, Sums> sums;
  for (const cdm_test::Groups& found : line.search_all(out))
    sums[std::stoi(found[1])] = {found[2], found[4], found[5], found[3]};
  return sums;
}

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(const std::string& text) {
  return text.substr(0, text.find_last_not_of(" \n") + 1);
}

class RipspanSecure : public testing::Test {
 protected:
  std::string out(const std::string& name) const { return scratch.file(name); }

  // A track's audio as a WAV file for the peers, and as raw bytes.
  std::string track_wav(const std::string& audio, const std::string& name) const {
    WavHeader header;
    init_wav_header(&header, static_cast<uint32_t>(audio.size()));
    const auto bytes = wav_header_bytes(header);
    write_file(out(name + ".wav"), std::string(bytes.begin(), bytes.end()) + audio);
    write_file(out(name + ".raw"), audio);
    return out(name);
  }

  ScratchDirectory scratch;
  ScratchDirectory disc_folder;
};

// Every track's copy CRC and AccurateRip sums are the peers' figures for the
// track's audio as the disc holds it, whatever the drive and reading road.
TEST_F(RipspanSecure, ChecksumsEqualThePeers) {
  struct Case {
    const char* product;
    std::vector<std::string> switches;
  };
  const Case cases[] = {{"MYSTERY CDROM", {}},
                        {"MMC CD-ROM DRIVE", {}},
                        {"MMC CD-ROM DRIVE", {"/SECURE"}},
                        {"MYSTERY CDROM", {"/SECURE", "/JC"}}};
  const SampleDisc sample = three_tracks();
  const std::vector<uint32_t> starts = sample_track_starts(sample);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.product) + (c.switches.empty() ? "" : " " + c.switches[0]));
    Disc disc(disc_folder.path(), sample, ",jitter=0");
    disc.product = c.product;
    std::vector<std::string> arguments = {out("disc.wav")};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = disc.rip(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::map<int, Sums> sums = report_of(run.out);
    ASSERT_EQ(sums.size(), 3u) << run.out;
    for (int track = 1; track <= 3; ++track) {
      SCOPED_TRACE(track);
      const std::string file =
          track_wav(disc.frames(starts[track - 1], starts[track] - 1), "t" + std::to_string(track));
      const std::string number = std::to_string(track);
      EXPECT_EQ(sums.at(track).v1,
                trimmed(run_command("accuraterip-checksum",
                                    {"--accuraterip-v1", file + ".wav", number, "3"})
                            .out));
      EXPECT_EQ(sums.at(track).v2,
                trimmed(run_command("accuraterip-checksum", {file + ".wav", number, "3"}).out));
      EXPECT_EQ(sums.at(track).crc, upper(trimmed(run_command("crc32", {file + ".raw"}).out)));
      if (!c.switches.empty()) {
        EXPECT_EQ(sums.at(track).suspicious, "0");
      }
    }
    // A whole disc also gets its identifiers.
    EXPECT_NE(run.out.find("AccurateRip database file "), std::string::npos);
    EXPECT_NE(run.out.find("CDDB disc id "), std::string::npos);
  }
}

// A secure copy equals the disc under scratches and a drive cache that
// hands back a first read's bytes; a plain copy of the same disc does not,
// so the scratches are real. Where re-reads cannot decide, the output is
// complete, the positions are named and the status is 1.
TEST_F(RipspanSecure, SecureReadingProvesOrNamesEveryPosition) {
  struct Case {
    const char* name;
    const char* product;
    const char* items;
    std::vector<std::string> switches;
    bool exact;
    int status;
  };
  const Case cases[] = {
      {"clean disc, cache", "MMC CD-ROM DRIVE", ",cache=1", {"/SECURE"}, true, 0},
      {"scratches, C2 pointers, cache",
       "MMC CD-ROM DRIVE",
       ",scratch=1500-1519,cache=1",
       {"/SECURE"},
       true,
       0},
      {"scratches without C2, cache",
       "MYSTERY CDROM",
       ",scratch=1500-1504,cache=1",
       {"/SECURE", "/RETRIES=60"},
       true,
       0},
      {"jittering drive, cache",
       "MYSTERY CDROM",
       ",jitter=20,seed=3,cache=1",
       {"/SECURE", "/JC"},
       true,
       0},
      {"no re-reads",
       "MMC CD-ROM DRIVE",
       ",scratch=1500-1519,cache=1",
       {"/SECURE", "/RETRIES=0"},
       false,
       1},
      {"plain copy", "MMC CD-ROM DRIVE", ",scratch=1500-1519", {}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Disc disc(disc_folder.path(), three_tracks(), c.items);
    disc.product = c.product;
    std::vector<std::string> arguments = {out("s.bin"), "/BIN", "/BATCH"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    const ProgramRun run = disc.rip(arguments);
    EXPECT_EQ(run.status, c.status) << run.err;
    const std::string copy = read_file(out("s.bin"));
    EXPECT_EQ(copy.size(), 3075u * RAW);
    EXPECT_EQ(copy == disc.frames(0, 3074), c.exact);
    if (c.status == 0) {
      EXPECT_EQ(run.err, "");
      continue;
    }
    // Track 2 begins at LBA 775: LBA 1500 is 725 frames (00:09.50) into it.
    // A scratched sector may read right in both passes: at most 20 are left.
    cdm_test::Groups found;
    ASSERT_TRUE(cdm_test::Pattern("Track 02: copy CRC [0-9A-F]{8}, (\\d+) suspicious positions? "
                                  "\\((00:09\\.[5-6]\\d(, )?)+\\)")
                    .search(run.out, found))
        << run.out;
    const int undecided = std::stoi(found[1]);
    EXPECT_GE(undecided, 1);
    EXPECT_LE(undecided, 20);
    EXPECT_EQ(run.err, "Error: " + std::to_string(undecided) + " suspicious position" +
                           (undecided == 1 ? "" : "s") +
                           " stayed undecided after 0 re-reads: the copy may differ from the "
                           "disc there\n");
  }
}

// On a drive that needs jitter correction a scratched sector can become a
// pass's reference, which no later read shows again: the pass starts afresh
// there and the comparison decides (no drive cache here: a cache would hand
// the overlap the reference's own wrong bytes), so the copy is the disc's on every
// seed of the drive's jitter and wherever the scratches lie, the tail of
// the span and silence before them included.
TEST_F(RipspanSecure, ScratchesOnAJitteringDriveNeverEndTheCopy) {
  struct Case {
    const char* product;
    const char* scratch;
    unsigned jitter;
    bool silence;  // digital silence before the scratches
  };
  const Case cases[] = {
      {"MYSTERY CDROM", "1500-1504", 20, false},    {"MYSTERY CDROM", "740-790", 7, false},
      {"MYSTERY CDROM", "3060-3074", 30, false},    {"MYSTERY CDROM", "1200-1210", 20, true},
      {"MMC CD-ROM DRIVE", "1500-1519", 20, false},
  };
  for (const Case& c : cases) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
      SCOPED_TRACE(std::string(c.product) + " scratch=" + c.scratch + " seed " +
                   std::to_string(seed));
      Disc disc(disc_folder.path(), three_tracks(),
                ",jitter=" + std::to_string(c.jitter) + ",seed=" + std::to_string(seed) +
                    ",scratch=" + c.scratch);
      disc.product = c.product;
      if (c.silence) disc.silence(1100, 1199);
      const ProgramRun run =
          disc.rip({out("j.bin"), "/BIN", "/BATCH", "/SECURE", "/JC", "/RETRIES=60"});
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.err, "");
      EXPECT_TRUE(read_file(out("j.bin")) == disc.frames(0, 3074));
    }
  }
}

// The drive's read offset, from /OFFSET or CD_READ_OFFSET: the copy is the
// disc's audio, with zeros where it would have to be read beyond the disc,
// and a line that says so.
TEST_F(RipspanSecure, ReadOffsetIsCorrected) {
  struct Case {
    int offset;
    bool by_environment;
    std::vector<std::string> switches;
  };
  const Case cases[] = {{6, false, {}},
                        {-30, false, {"/SECURE"}},
                        {700, true, {}},
                        {-1200, true, {"/SECURE"}},
                        {588, false, {"/TRACK=2"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    Disc disc(disc_folder.path(), three_tracks(), ",offset=" + std::to_string(c.offset));
    disc.product = "MMC CD-ROM DRIVE";
    std::vector<std::string> arguments = {out("o.bin"), "/BIN"};
    arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
    if (!c.by_environment) arguments.push_back("/OFFSET=" + std::to_string(c.offset));
    cdm_test::ScopedEnv offset("CD_READ_OFFSET", c.by_environment
                                                     ? std::optional(std::to_string(c.offset))
                                                     : std::nullopt);
    const ProgramRun run = disc.rip(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    const bool track = !c.switches.empty() && c.switches[0] == "/TRACK=2";
    const std::string expected = track ? disc.frames(775, 2074) : disc.frames(0, 3074);
    const std::string copy = read_file(out("o.bin"));
    ASSERT_EQ(copy.size(), expected.size());
    const std::size_t zeros = track ? 0 : 4 * static_cast<std::size_t>(std::abs(c.offset));
    const std::size_t kept = expected.size() - zeros;
    if (c.offset > 0) {
      EXPECT_TRUE(copy.substr(0, kept) == expected.substr(0, kept));
      EXPECT_EQ(copy.substr(kept), std::string(zeros, '\0'));
    } else {
      EXPECT_TRUE(copy.substr(zeros) == expected.substr(zeros));
      EXPECT_EQ(copy.substr(0, zeros), std::string(zeros, '\0'));
    }
    const std::string where = c.offset > 0 ? "past the last" : "before the first";
    const std::string line = "Offset " + std::string(c.offset > 0 ? "+" : "") +
                             std::to_string(c.offset) + ": " + std::to_string(zeros / 4) +
                             " samples " + where + " audio sector read as zeros";
    EXPECT_EQ(run.out.find(line) != std::string::npos, zeros > 0) << run.out;
  }
}

// The little-endian bytes of a database record for the disc of three_tracks().
std::string entry_record(const std::vector<std::pair<uint8_t, uint32_t>>& tracks, uint32_t id1,
                         uint32_t id2, uint32_t cddb) {
  std::string bytes(1, static_cast<char>(tracks.size()));
  const auto le32 = [&bytes](uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(v >> (8 * i));
  };
  le32(id1);
  le32(id2);
  le32(cddb);
  for (const auto& [confidence, checksum] : tracks) {
    bytes += static_cast<char>(confidence);
    le32(checksum);
    le32(0);
  }
  return bytes;
}

uint32_t hex(const std::string& text) {
  return static_cast<uint32_t>(std::stoul(text, nullptr, 16));
}

// /ACCURIP compares each track with a database entry the user fetched, and
// refuses an entry that is not one before anything is read.
TEST_F(RipspanSecure, DatabaseEntryIsChecked) {
  Disc disc(disc_folder.path(), three_tracks());
  disc.product = "MMC CD-ROM DRIVE";
  const ProgramRun first = disc.rip({out("a.wav"), "/BATCH", "/SECURE"});
  ASSERT_EQ(first.status, 0) << first.err;
  const std::map<int, Sums> sums = report_of(first.out);
  ASSERT_EQ(sums.size(), 3u);
  cdm_test::Groups id;
  ASSERT_TRUE(cdm_test::Pattern("AccurateRip disc id 003-([0-9a-f]{8})-([0-9a-f]{8})-"
                                "([0-9a-f]{8})\n")
                  .search(first.out, id));
  const uint32_t id1 = hex(id[1]), id2 = hex(id[2]), cddb = hex(id[3]);

  struct Case {
    const char* name;
    std::string entry;
    std::string lines;
  };
  const std::string other_pressing =
      entry_record({{4, hex(sums.at(1).v1)}, {2, 0xDEADBEEF}, {0, 0}}, id1, id2, cddb);
  const Case cases[] = {
      {"v2, v1 and a mismatch",
       entry_record({{12, hex(sums.at(1).v2)}, {3, hex(sums.at(2).v1)}, {7, 0x12345678}}, id1, id2,
                    cddb),
       "Track 01: accurately ripped, confidence 12 (v2)\n"
       "Track 02: accurately ripped, confidence 3 (v1)\n"
       "Track 03: differs\n"},
      {"a second pressing's record",
       other_pressing + entry_record({{9, hex(sums.at(1).v2)}, {0, 0}, {0, 0}}, id1, id2, cddb),
       "Track 01: accurately ripped, confidence 9 (v2)\n"
       "Track 02: differs\n"
       "Track 03: not in the database\n"},
      {"another disc's entry",
       entry_record({{12, hex(sums.at(1).v2)}, {3, 1}, {7, 2}}, id1 + 1, id2, cddb),
       "Track 01: not in the database\n"
       "Track 02: not in the database\n"
       "Track 03: not in the database\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(out("entry.bin"), c.entry);
    const ProgramRun run = disc.rip({out("b.wav"), "/BATCH", "/ACCURIP=" + out("entry.bin")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find(c.lines), std::string::npos) << run.out;
  }

  const struct {
    std::string entry;
    const char* why;
  } bad[] = {{"", "the file is empty"},
             {entry_record({{1, 1}, {1, 1}, {1, 1}}, id1, id2, cddb).substr(0, 30),
              "a record is cut short"},
             {std::string(13, '\0'), "a record counts no tracks"}};
  for (const auto& b : bad) {
    SCOPED_TRACE(b.why);
    write_file(out("bad.bin"), b.entry);
    std::remove(out("c.wav").c_str());
    const ProgramRun run = disc.rip({out("c.wav"), "/BATCH", "/ACCURIP=" + out("bad.bin")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Error: AccurateRip entry \"" + out("bad.bin") + "\" is unusable: " + b.why + "\n");
    EXPECT_EQ(read_file(out("c.wav")), "");
  }
}

// The new switches' values are checked with the others, before any drive.
TEST_F(RipspanSecure, SwitchValuesAreChecked) {
  struct Case {
    std::vector<std::string> arguments;
    const char* environment_offset;
    const char* err;
  };
  const Case cases[] = {
      {{"/OFFSET=5001"}, nullptr, "Error: Illegal /OFFSET value specified!\n"},
      {{"/OFFSET=-5001"}, nullptr, "Error: Illegal /OFFSET value specified!\n"},
      {{"/OFFSET=six"}, nullptr, "Error: Illegal /OFFSET value format!\n"},
      {{"/RETRIES=1001"}, nullptr, "Error: Illegal /RETRIES value specified!\n"},
      {{"/RETRIES="}, nullptr, "Error: Illegal /RETRIES value format!\n"},
      {{"/SECURE", "/DATA"},
       nullptr,
       "Error: /SECURE, /RETRIES, /OFFSET and /ACCURIP read audio only\n"},
      {{"/OFFSET=6", "/CDG"},
       nullptr,
       "Error: /SECURE, /RETRIES, /OFFSET and /ACCURIP read audio only\n"},
      {{}, "12x", "Error: Illegal CD_READ_OFFSET value specified!\n"},
      {{}, "-6000", "Error: Illegal CD_READ_OFFSET value specified!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    cdm_test::ScopedEnv offset(
        "CD_READ_OFFSET",
        c.environment_offset ? std::optional<std::string>(c.environment_offset) : std::nullopt);
    std::vector<std::string> arguments = {out("x.wav")};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProgramRun run = run_program("ripspan", arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.err);
  }
}

}  // namespace

// Cue sheets recorded with cueburn on every emulated recorder that records
// disc-at-once, then read back: with discinfo, byte by byte from the
// recorder's image, with ripspan, and with readers no one here wrote
// (cd-info, cueprint and cuebreakpoints, bchunk).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/burn_discs.h"
#include "support/patterns.h"
#include "support/run_program.h"
#include "support/scsi_fakes.h"

namespace {

using namespace cueburn_test;
using cdm_test::ScopedEnv;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Track number -> "LBA type" as cd-info lists the disc of a cue sheet; it
// tells mode 2 ("XA") from mode 1 ("data"), discinfo without /MODE does not.
std::vector<std::string> cd_info_tracks(const std::string& text) {
  std::vector<std::string> tracks;
  static const cdm_test::Pattern track(R"(^\s*(\d+): \d\d:\d\d:\d\d\s+(\d+) (\w+))");
  cdm_test::Groups match;
  for (const std::string& line : lines_of(text))
    if (track.search(line, match))
      tracks.push_back(match[1] + " " + std::to_string(std::stoul(match[2])) + " " +
                       (match[3] == "XA" ? "data" : match[3]));
  return tracks;
}

// What cd-info, cueprint ("-d %N\n -t %n %i\n") and cuebreakpoints must say
// of a disc, from discinfo's listing of it.
struct PeerViews {
  std::vector<std::string> cd_info, cueprint, breakpoints;
};

PeerViews expected_views(const std::string& listing) {
  PeerViews views;
  static const cdm_test::Pattern track(
      R"(^(\d\d)   (\w+) *   \d\d:\d\d:\d\d    (\d{6}) .*  (Not Available|\S+)$)");
  static const cdm_test::Pattern leadout(R"(^Leadout: \d\d:\d\d:\d\d \(LBA (\d+)\))");
  cdm_test::Groups match;
  for (const std::string& line : lines_of(listing)) {
    if (track.search(line, match)) {
      const auto number = static_cast<unsigned>(std::stoul(match[1]));
      const auto lba = static_cast<unsigned>(std::stoul(match[3]));
      const std::string n = std::to_string(number);
      views.cd_info.push_back(n + " " + std::to_string(lba) +
                              (match[2] == "Audio" ? " audio" : " data"));
      views.cueprint.push_back(n + " " + (match[4] == "Not Available" ? "" : match[4]));
      char time[16];
      std::snprintf(time, sizeof time, "%u:%02u.%02u", lba / 4500, lba / 75 % 60, lba % 75);
      if (number > 1) views.breakpoints.push_back(time);
    } else if (leadout.search(line, match)) {
      views.cd_info.push_back("170 " + std::to_string(std::stoul(match[1])) + " leadout");
    }
  }
  views.cueprint.insert(views.cueprint.begin(), std::to_string(views.cueprint.size()));
  return views;
}

void expect_peers_agree(const std::string& cue, const std::string& listing,
                        const std::string& folder) {
  const PeerViews views = expected_views(listing);
  ASSERT_GE(views.cd_info.size(), 2u) << listing;
  const struct {
    const char* program;
    std::vector<std::string> arguments;
    const std::vector<std::string>& expected;
  } peers[] = {
      {"cd-info",
       {"--no-header", "--no-device-info", "--no-cddb", "--no-analyze", "--cue-file", cue},
       views.cd_info},
      {"cueprint", {"-d", "%N\\n", "-t", "%n %i\\n", cue}, views.cueprint},
      {"cuebreakpoints", {cue}, views.breakpoints},
  };
  for (const auto& peer : peers) {
    const ProgramRun run = run_command(peer.program, peer.arguments, folder);
    ASSERT_EQ(run.status, 0) << peer.program << ": " << run.err;
    const std::vector<std::string> got =
        peer.program == std::string("cd-info") ? cd_info_tracks(run.out) : lines_of(run.out);
    EXPECT_EQ(got, peer.expected) << peer.program << ":\n" << run.out << run.err;
  }
}

// bchunk splits the recorded image into one file per track, from the
// track's last INDEX line up to the next track's first: audio frames as stored,
// data as the 2048 user bytes of each sector. They must hold the source
// files' data and the gaps as the segments lay them out.
void expect_bchunk_splits(const std::string& disc, const std::string& folder,
                          const std::vector<Segment>& segments) {
  const ProgramRun run =
      run_command("bchunk", {disc + ".bin", disc + ".cue", folder + "/split"}, folder);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  struct Split {
    std::string type;
    std::vector<std::size_t> indexes;  // frames of the image
  };
  std::vector<Split> splits;
  static const cdm_test::Pattern track(R"(^\s*TRACK \d+ (\S+))");
  static const cdm_test::Pattern index(R"(^\s*INDEX \d+ (\d\d):(\d\d):(\d\d))");
  cdm_test::Groups match;
  for (const std::string& line : lines_of(read_file(disc + ".cue"))) {
    if (track.search(line, match)) splits.push_back({match[1], {}});
    if (index.search(line, match) && !splits.empty())
      splits.back().indexes.push_back(std::stoul(match[1]) * 4500 + std::stoul(match[2]) * 75 +
                                      std::stoul(match[3]));
  }
  for (const Split& split : splits) ASSERT_FALSE(split.indexes.empty()) << split.type;
  const std::vector<Bytes> payload = payload_frames(folder, segments);
  for (std::size_t k = 0; k < splits.size(); ++k) {
    const bool audio = splits[k].type == "AUDIO";
    const std::size_t offset = audio ? 0 : splits[k].type == "MODE1/2352" ? 16 : 24;
    const std::size_t length = audio ? RAW : DATA_BLOCK_SIZE;
    const std::size_t end = k + 1 < splits.size() ? splits[k + 1].indexes.front() : payload.size();
    std::string expected;
    for (std::size_t lba = splits[k].indexes.back(); lba < end && lba < payload.size(); ++lba)
      expected.append(payload[lba].begin() + offset, payload[lba].begin() + offset + length);
    char name[32];
    std::snprintf(name, sizeof name, "/split%02zu.%s", k + 1, audio ? "cdr" : "iso");
    const std::string got = read_file(folder + name);
    EXPECT_EQ(got.size(), expected.size()) << name;
    EXPECT_TRUE(got == expected) << name;
  }
}

// The sheet sheetgen /SUBCODE=ALL /MCN /ISRC writes of a recorded disc,
// found by its Q subchannel in a reader that reads it.
std::string described_sheet(const std::string& folder, const std::string& disc) {
  ScopedEnv bus("EMULATED_SCSI_BUS", "0:3:0=CD-ROM PX-12CS,medium=" + disc + ".cue");
  const std::string out = folder + "/described.cue";
  std::remove(out.c_str());
  const ProgramRun run =
      run_program("sheetgen", {out, "/SUBCODE=ALL", "/MCN", "/ISRC", "/BATCH"}, folder);
  EXPECT_EQ(run.status, 0) << run.err;
  return read_file(out);
}

// A described sheet as a recorder can give it: without the catalog number
// and ISRC lines where it takes no codes, without indexes above 1 on class 2,
// whose disc table has no room for them.
struct Described {
  std::string product;
  bool codes;
  std::string sheet;
  bool indexes() const { return product != "KHSW/OB-01"; }
  std::string as_recorded(std::string full) const {
    if (!codes) full = cdm_test::Pattern(R"([^\n]*(CATALOG|ISRC) [^\n]*\n)").replace(full, "");
    if (!indexes()) full = cdm_test::Pattern(R"( *INDEX 0[2-9][^\n]*\n)").replace(full, "");
    return full;
  }
};

// Every recorder records every fixture; the discs read back alike through
// discinfo, sector by sector, the peers, and their Q subchannel (sheetgen's
// sheet of each audio disc equals the one of a recorder that keeps every
// code and index, which sheetgen's own tests check against the original
// sheets).
TEST_F(CueBurn, RecordedDiscsReadBackAsTheCueSheetLaidThemOut) {
  for (const Fixture& fixture : fixtures()) {
    const bool audio = std::string(fixture.sheet).find("AUDIO") != std::string::npos;
    std::vector<Described> described;
    for (const auto& [product, codes] : RECORDERS) {
      const std::string what = std::string(fixture.name) + " on " + product;
      SCOPED_TRACE(what);
      const std::string cue = write_fixture(fixture);
      const std::string disc = folder + "/burned";
      for (const char* ext : {".cue", ".bin", ".state"}) std::remove((disc + ext).c_str());
      const std::string bus = std::string("0:4:0=") + product + ",medium=" + disc;
      const ProgramRun run = cueburn(bus, {cue, "/NOCONFIRM"});
      ASSERT_EQ(run.status, 0) << run.out << run.err;
      EXPECT_NE(run.out.find("CD successfully recorded!\n"), std::string::npos) << run.out;

      const ProgramRun info = discinfo(bus, {"/MCN", "/ISRC", "/NOPROMPT"});
      ASSERT_EQ(info.status, 0) << info.err;
      const std::size_t listed = info.out.find("\n\n");
      EXPECT_EQ(info.out.substr(listed + 2),
                codes ? fixture.listing : without_codes(fixture.listing));

      expect_sectors(read_file(disc + ".bin"), folder, fixture.segments, what);
      if (!fixture.peers) continue;
      expect_peers_agree(disc + ".cue", info.out.substr(listed + 2), folder);
      expect_bchunk_splits(disc, folder, fixture.segments);
      if (!audio) continue;
      described.push_back({product, codes, described_sheet(folder, disc)});
    }
    const auto whole = std::find_if(described.begin(), described.end(),
                                    [](const Described& d) { return d.codes && d.indexes(); });
    for (const Described& d : described)
      EXPECT_EQ(d.sheet, d.as_recorded(whole->sheet)) << fixture.name << " on " << d.product;
  }
}

// ripspan /CDG reads the recorded CD+G tracks back through a reader of the
// recorded cue sheet: the audio as the image files hold it, and the R-W
// channels of their subcode (P and Q are the disc's own).
TEST_F(CueBurn, CdgTracksReadBackWithTheirSubcode) {
  const std::vector<Fixture> all = fixtures();
  write_fixture(all.back());
  const std::string disc = folder + "/burned";
  const ProgramRun run = cueburn("0:4:0=RO-1420C,medium=" + disc, {"disc.cue", "/NOCONFIRM"});
  ASSERT_EQ(run.status, 0) << run.err;
  const struct {
    const char* track;
    const char* file;
  } tracks[] = {{"/TRACK=1", "first.cdg"}, {"/TRACK=3", "last.cdg"}};
  for (const auto& t : tracks) {
    ScopedEnv bus("EMULATED_SCSI_BUS", "0:3:0=CD-ROM PX-12CS,medium=" + disc + ".cue");
    const std::string out = folder + "/ripped.cdg";
    std::remove(out.c_str());
    const ProgramRun rip = run_program("ripspan", {out, t.track, "/CDG", "/BATCH"}, folder);
    ASSERT_EQ(rip.status, 0) << rip.err;
    const std::string got = read_file(out);
    std::string source = read_file(folder + "/" + t.file);
    ASSERT_EQ(got.size(), source.size()) << t.file;
    std::string masked = got;
    for (std::size_t at = RAW; at < source.size(); at += CDG)
      for (std::size_t i = at; i < at + CDG - RAW; ++i) {
        source[i] = static_cast<char>(source[i] & 0x3F);
        masked[i] = static_cast<char>(masked[i] & 0x3F);
      }
    EXPECT_TRUE(masked == source) << t.file;
  }
}

}  // namespace

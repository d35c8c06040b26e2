// The emulated CD-ROM drive against readers that no one here wrote: Debian's
// libcdio-utils read the same cue sheets. The track starts, types, flags,
// lead-out and catalog number that discinfo lists must be the ones cd-info
// finds, and every sector the emulated drive delivers must be the one
// cd-read reads from the image.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/cd_reader.h"
#include "emulator/bus.h"
#include "support/cue_images.h"
#include "support/patterns.h"
#include "support/run_program.h"
#include "support/sample_discs.h"
#include "support/scsi_fakes.h"

namespace {

using cdm_test::ScopedEnv;
using cdm_test::ScopedTransport;

// What one listing says about a track.
struct ListedTrack {
  std::string time;  // MM:SS:FF
  unsigned lba = 0;
  std::string type;  // "data" (mode 1), "XA" (mode 2) or "audio"
  bool copy = false;
  bool pre_emphasis = false;
  bool four_channel = false;
  bool operator==(const ListedTrack&) const = default;
};

struct Listing {
  std::map<unsigned, ListedTrack> tracks;  // by track number; 170 is the lead-out
  std::string catalog;
};

Listing parse_cd_info(const std::string& text) {
  Listing listing;
  // "  2: 00:08:00  000450 audio  false  yes   2        no"
  static const cdm_test::Pattern track(
      R"(^\s*(\d+): (\d\d:\d\d:\d\d)\s+(\d+) (\w+)\s*(\w*)\s*(\w*)\s*(\d*)\s*(\w*))");
  static const cdm_test::Pattern catalog(R"(^Media Catalog Number \(MCN\): (\d+))");
  std::istringstream lines(text);
  std::string line;
  cdm_test::Groups match;
  while (std::getline(lines, line)) {
    if (track.search(line, match)) {
      ListedTrack entry;
      entry.time = match[2];
      entry.lba = static_cast<unsigned>(std::stoul(match[3]));
      entry.type = match[4] == "leadout" ? "" : std::string(match[4]);
      entry.copy = match[6] == "yes";
      entry.four_channel = match[7] == "4";
      entry.pre_emphasis = match[8] == "yes";
      listing.tracks[static_cast<unsigned>(std::stoul(match[1]))] = entry;
    } else if (catalog.search(line, match)) {
      listing.catalog = match[1];
    }
  }
  return listing;
}

Listing parse_discinfo(const std::string& text) {
  Listing listing;
  // "02   Audio   00:08:00    000450    Yes        No        No     USABC9600001"
  static const cdm_test::Pattern track(
      R"(^(\d\d)   (\w+) *   (\d\d:\d\d:\d\d)    (\d{6})    (...)       (...)       (...))");
  static const cdm_test::Pattern leadout(R"(^Leadout: (\d\d:\d\d:\d\d) \(LBA (\d+)\))");
  static const cdm_test::Pattern catalog(R"(^Media Catalog Number: (\d+))");
  const std::map<std::string, std::string> types = {
      {"Mode1", "data"}, {"Mode2", "XA"}, {"Audio", "audio"}};
  std::istringstream lines(text);
  std::string line;
  cdm_test::Groups match;
  while (std::getline(lines, line)) {
    if (track.search(line, match)) {
      ListedTrack entry;
      entry.type = types.count(match[2]) ? types.at(match[2]) : std::string(match[2]);
      entry.time = match[3];
      entry.lba = static_cast<unsigned>(std::stoul(match[4]));
      entry.copy = match[5] == "Yes";
      // cd-info shows pre-emphasis and channels of audio tracks only.
      entry.pre_emphasis = entry.type == "audio" && match[6] == "Yes";
      entry.four_channel = entry.type == "audio" && match[7] == "Yes";
      listing.tracks[static_cast<unsigned>(std::stoul(match[1]))] = entry;
    } else if (leadout.search(line, match)) {
      ListedTrack entry;
      entry.time = match[1];
      entry.lba = static_cast<unsigned>(std::stoul(match[2]));
      listing.tracks[170] = entry;
    } else if (catalog.search(line, match)) {
      listing.catalog = match[1];
    }
  }
  return listing;
}

class LibcdioCheck : public testing::Test {
 protected:
  // Lists the disc with both programs and compares; then reads every sector
  // with cd-read and through the emulated drive.
  void check(const SampleDisc& disc) {
    const std::string cue = write_sample_disc(folder, "disc", disc);
    const std::string bus = "0:3:0=MYSTERY CDROM,medium=" + cue;
    const ProgramRun info = run_command(
        "cd-info",
        {"--no-header", "--no-device-info", "--no-cddb", "--no-analyze", "--cue-file", cue},
        folder);
    ASSERT_EQ(info.status, 0) << info.err;
    ProgramRun ours;
    {
      ScopedEnv emulated("EMULATED_SCSI_BUS", bus);
      ScopedEnv no_reader_id("CDREADER_ID", std::nullopt);
      ours = run_program("discinfo", {"/MODE", "/MCN", "/NOPROMPT"});
    }
    ASSERT_EQ(ours.status, 0) << ours.err;
    const Listing theirs = parse_cd_info(info.out);
    const Listing listed = parse_discinfo(ours.out);
    ASSERT_EQ(listed.tracks.size(), disc.tracks.size() + 1) << ours.out;
    EXPECT_EQ(listed.catalog, theirs.catalog);
    for (const auto& [number, track] : listed.tracks) {
      ASSERT_TRUE(theirs.tracks.count(number)) << "cd-info lacks track " << number << info.out;
      EXPECT_EQ(track, theirs.tracks.at(number)) << "track " << number << "\n" << info.out;
    }

    // Every sector of every track, from its first cuepoint to the next one.
    ScopedTransport<EmulatedBus> drive(parse_emulated_bus(bus));
    CdReader reader;
    reader.target = 3;
    const std::vector<uint32_t> starts = sample_track_starts(disc);
    for (std::size_t t = 0; t < disc.tracks.size(); ++t) {
      const SampleTrack& track = disc.tracks[t];
      const uint32_t first = starts[t] - track.index0;
      const uint32_t end =
          t + 1 < disc.tracks.size() ? starts[t + 1] - disc.tracks[t + 1].index0 : starts[t + 1];
      const uint32_t count = end - first;
      const bool audio = track.type == TrackType::Audio;
      const char* mode = audio ? "audio" : track.type == TrackType::Mode1 ? "m1f1" : "m2f1";
      const std::string out = folder + "/read.bin";
      const ProgramRun read =
          run_command("cd-read",
                      {"--no-header", "--cue-file", cue, "-m", mode, "-s", std::to_string(first),
                       "-n", std::to_string(count), "-o", out},
                      folder);
      ASSERT_EQ(read.status, 0) << read.err;
      const std::string expected = read_file(out);
      const uint32_t size = audio ? 2352 : 2048;
      ASSERT_EQ(expected.size(), std::size_t{count} * size) << "track " << t + 1;
      std::string got(expected.size(), '\0');
      auto* buffer = reinterpret_cast<uint8_t*>(got.data());
      if (audio) {
        ASSERT_EQ(reader.ReadAudioSectors(buffer, count, first, SUBCODE_NONE, false), 1);
      } else {
        ASSERT_EQ(reader.SetBlockLengthNamed(SECTOR_KIND_DATA, 2048, false), 1);
        for (uint32_t done = 0; done < count; done += 16) {
          const auto n = static_cast<uint16_t>(std::min<uint32_t>(16, count - done));
          ASSERT_EQ(reader.ReadDataSectors(buffer + done * size, size, n, first + done, false), 1);
        }
      }
      EXPECT_TRUE(got == expected) << "sectors of track " << t + 1 << " differ";
    }
  }

  ScratchDirectory scratch;
  std::string folder = scratch.path();
};

TEST_F(LibcdioCheck, ModeOneDataAndAudio) {
  SampleDisc disc;
  disc.catalog = "5012345678900";
  disc.tracks = {{TrackType::Mode1, 450, 0, "", ""},
                 {TrackType::Audio, 300, 150, "USABC9600001", "DCP"},
                 {TrackType::Audio, 200, 0, "", "PRE 4CH"},
                 {TrackType::Audio, 120, 75, "", "DCP PRE"}};
  check(disc);
}

TEST_F(LibcdioCheck, ModeTwoDataAndAudio) {
  SampleDisc disc;
  disc.tracks = {{TrackType::Mode2, 300, 0, "", ""}, {TrackType::Audio, 400, 150, "", ""}};
  check(disc);
}

TEST_F(LibcdioCheck, AudioWithIndexZeroAreas) {
  SampleDisc disc;
  disc.catalog = "0000000000017";
  disc.tracks = {{TrackType::Audio, 200, 0, "", ""},
                 {TrackType::Audio, 150, 40, "", "4CH"},
                 {TrackType::Audio, 90, 150, "", ""}};
  check(disc);
}

}  // namespace

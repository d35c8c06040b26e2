// ripspan writing FLAC files, checked by the Debian decoders: flac -d gives
// back the disc's samples exactly, the stream's MD5 sum is theirs (flac -t
// checks it), metaflac reads the tags the disc has.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/rip_discs.h"
#include "support/run_program.h"

namespace {

using namespace ripspan_test;

// The samples of a FLAC file as raw little-endian bytes, by flac -d.
std::string decoded(const std::string& flac_file) {
  const std::string raw = flac_file + ".raw";
  const ProgramRun run =
      run_command("flac", {"-d", "-f", "-s", "--force-raw-format", "--endian=little",
                           "--sign=signed", "-o", raw, flac_file});
  EXPECT_EQ(run.status, 0) << run.err;
  return read_file(raw);
}

// The stream's MD5 sum by metaflac, and md5sum's of the audio it should
// hold; flac -t (which checks the sum) must pass too.
void expect_audio_sum(const std::string& flac_file, const std::string& audio) {
  write_file(flac_file + ".expected", audio);
  const ProgramRun sum = run_command("md5sum", {flac_file + ".expected"});
  const ProgramRun stored = run_command("metaflac", {"--show-md5sum", flac_file});
  EXPECT_EQ(stored.status, 0) << stored.err;
  EXPECT_EQ(stored.out, sum.out.substr(0, 32) + "\n");
  const ProgramRun test = run_command("flac", {"-t", "-s", flac_file});
  EXPECT_EQ(test.status, 0) << test.err;
}

std::string tags_of(const std::string& flac_file) {
  const ProgramRun run = run_command("metaflac", {"--export-tags-to=-", flac_file});
  EXPECT_EQ(run.status, 0) << run.err;
  return run.out;
}

// Two tracks: track 1 of 300 frames with an ISRC, track 2 of 200 frames
// after a pregap of 150 (which /TRACK=1 copies: LBAs 0 to 449), on a disc
// with or without a catalog number.
SampleDisc coded_disc(const std::string& catalog) {
  SampleDisc disc;
  disc.catalog = catalog;
  disc.tracks = {{TrackType::Audio, 300, 0, "USABC9600001", ""},
                 {TrackType::Audio, 200, 150, "", ""}};
  return disc;
}

TEST(RipspanFlac, DecodesToTheDiscAndCarriesItsCodes) {
  const struct {
    const char* what;
    std::string catalog;
    std::string items;
    std::vector<std::string> arguments;  // after the output file
    const char* output;
    uint32_t first, last;
    std::string tags;
  } cases[] = {
      {"a track with its ISRC and the catalog number",
       "0123456789012",
       ",jitter=30,seed=5",
       {"/TRACK=1", "/JC"},
       "one.flac",
       0,
       449,
       "TRACKNUMBER=1\nTRACKTOTAL=2\nISRC=USABC9600001\nCATALOGNUMBER=0123456789012\n"},
      {"a track without codes, name in capitals",
       "",
       "",
       {"/TRACK=2"},
       "TWO.FLAC",
       450,
       649,
       "TRACKNUMBER=2\nTRACKTOTAL=2\n"},
      {"a span by /FLAC under another name",
       "0123456789012",
       "",
       {"/FLAC", "/START=10", "/END=500"},
       "span.audio",
       10,
       500,
       "TRACKTOTAL=2\nCATALOGNUMBER=0123456789012\n"},
      {"/FLAC after /WAV wins",
       "",
       "",
       {"/WAV", "/FLAC", "/END=99"},
       "s.wav",
       0,
       99,
       "TRACKTOTAL=2\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDirectory scratch;
    Disc disc(scratch.path(), coded_disc(c.catalog), c.items);
    const std::string output = scratch.file(c.output);
    std::vector<std::string> arguments = {output, "/BATCH"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProgramRun run = disc.rip(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_TRUE(decoded(output) == disc.frames(c.first, c.last));
    expect_audio_sum(output, disc.frames(c.first, c.last));
    EXPECT_EQ(tags_of(output), c.tags);
  }
}

// A .wav or /BIN choice keeps a .flac name from choosing FLAC; FLAC takes
// neither data nor CD+G sectors, nor an append. Refused before anything is
// made.
TEST(RipspanFlac, FormatChoiceAndRefusals) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string err;
    const char* magic;  // the output's first four bytes, "" when none is made
  } cases[] = {
      {{"x.flac", "/BIN", "/END=9"}, 0, "", ""},
      {{"x.flac", "/WAV", "/END=9"}, 0, "", "RIFF"},
      {{"x.flac", "/END=9"}, 0, "", "fLaC"},
      {{"x.flac", "/DATA"},
       1,
       "Error: A FLAC file holds audio only: /DATA and /CDG write binary or WAV files\n",
       nullptr},
      {{"x.bin", "/CDG", "/FLAC"},
       1,
       "Error: A FLAC file holds audio only: /DATA and /CDG write binary or WAV files\n",
       nullptr},
      {{"x.flac", "/APPEND"}, 1, "Error: Cannot append to a FLAC file\n", nullptr},
  };
  for (const auto& c : cases) {
    ScratchDirectory scratch;
    Disc disc(scratch.path(), coded_disc(""));
    std::vector<std::string> arguments = c.arguments;
    arguments[0] = scratch.file(arguments[0]);
    arguments.push_back("/BATCH");
    const ProgramRun run = disc.rip(arguments);
    SCOPED_TRACE(c.arguments[1]);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, c.err);
    const std::string bytes = read_file(arguments[0]);
    if (c.magic == nullptr) {
      EXPECT_EQ(bytes, "");
    } else if (*c.magic == '\0') {
      EXPECT_TRUE(bytes == disc.frames(0, 9));
    } else {
      EXPECT_EQ(bytes.substr(0, 4), c.magic);
    }
  }
}

}  // namespace

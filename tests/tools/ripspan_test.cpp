// ripspan run as a user runs it: spans copied bit-exact from emulated drives
// that jitter, tracks, raw data, CD+G, WAV files and the progress texts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/cue_images.h"
#include "support/patterns.h"
#include "support/rip_discs.h"
#include "support/run_program.h"

namespace {

using namespace ripspan_test;

class Ripspan : public testing::Test {
 protected:
  std::string out(const std::string& name) const { return scratch.file(name); }
  ScratchDirectory scratch;
  ScratchDirectory disc_folder;
};

struct JitterCase {
  const char* name;
  const char* drive_items;
  std::vector<std::string> switches;
  uint32_t first;
  uint32_t last;
};

// The drives the reading cases run on: an unknown CD-ROM drive (the generic
// reader's READ CD-DA and READ(10)) and a drive of the multimedia command
// set (READ CD).
const char* const DRIVES[] = {"MYSTERY CDROM", "MMC CD-ROM DRIVE"};

// Every span equals the image, whatever the drive's jitter, as long as the
// correction is on (or the drive lands exactly).
TEST_F(Ripspan, SpansAreBitExactUnderJitter) {
  const JitterCase cases[] = {
      {"exact drive, correction on", ",jitter=0", {"/JC"}, 0, 999},
      {"1 sample", ",jitter=1,seed=11", {"/JC"}, 0, 999},
      {"7 samples", ",jitter=7,seed=12", {"/JC"}, 3, 777},
      {"30 samples", ",jitter=30,seed=13", {"/JC"}, 0, 1499},
      {"30 samples, span ends short of a batch", ",jitter=30,seed=14", {"/JC"}, 100, 130},
      {"exact drive, correction off", "", {"/NOJC"}, 0, 999},
      {"exact drive, drive's default (off)", "", {}, 10, 500},
      {"one block", ",jitter=30,seed=15", {"/JC"}, 5, 5},
      {"two blocks", ",jitter=30,seed=16", {"/JC"}, 1598, 1599},
  };
  for (const char* drive : DRIVES)
    for (const JitterCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " on " + drive);
      Disc disc(disc_folder.path(), audio_disc(1600), c.drive_items);
      disc.product = drive;
      std::vector<std::string> arguments = {out("span.bin"), "/BIN", "/BATCH",
                                            "/START=" + std::to_string(c.first),
                                            "/END=" + std::to_string(c.last)};
      arguments.insert(arguments.end(), c.switches.begin(), c.switches.end());
      const ProgramRun run = disc.rip(arguments);
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(run.status, 0);
      EXPECT_EQ(run.out, "");
      EXPECT_TRUE(read_file(out("span.bin")) == disc.frames(c.first, c.last));
    }
}

// Without correction the jittering drive's reads land off: the emulated
// jitter is real, so the cases above prove the correction.
TEST_F(Ripspan, JitterWithoutCorrectionCorruptsTheSpan) {
  const Disc disc(disc_folder.path(), audio_disc(400), ",jitter=30,seed=13");
  const ProgramRun run = disc.rip({out("span.bin"), "/BIN", "/BATCH", "/NOJC", "/END=399"});
  EXPECT_EQ(run.status, 0);
  const std::string span = read_file(out("span.bin"));
  EXPECT_EQ(span.size(), 400u * RAW);
  EXPECT_FALSE(span == disc.frames(0, 399));
}

// Digital silence cannot be a reference: a silent tail is passed on and read
// again, long silent stretches make the next read start afresh.
TEST_F(Ripspan, SilenceKeepsTheSpanExact) {
  struct SilenceCase {
    const char* name;
    const char* drive_items;
    uint32_t silent_first, silent_last;
  };
  const SilenceCase cases[] = {
      {"silent tail, exact drive", ",jitter=0", 590, 599},
      {"silent tail, jittering drive", ",jitter=30,seed=5", 580, 599},
      {"long silence inside, exact drive", ",jitter=0", 100, 399},
      {"silence at the start, jittering drive", ",jitter=7,seed=6", 0, 20},
  };
  for (const SilenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Disc disc(disc_folder.path(), audio_disc(600), c.drive_items);
    disc.silence(c.silent_first, c.silent_last);
    const ProgramRun run = disc.rip({out("span.bin"), "/BIN", "/BATCH", "/JC"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(read_file(out("span.bin")) == disc.frames(0, 599));
  }
}

// A read landing more than one block late has lost its reference: the tool
// ends with the exact error, and the new WAV file's header counts exactly the
// bytes that were written before.
TEST_F(Ripspan, LostSynchronisationEndsTheToolWithATruthfulHeader) {
  const Disc disc(disc_folder.path(), audio_disc(3000), ",jitter=5000,seed=1");
  const ProgramRun run = disc.rip({out("lost.wav"), "/BATCH", "/JC", "/END=2999"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "\nError: Unable to synchronize sector!\n");
  const std::string file = read_file(out("lost.wav"));
  ASSERT_GE(file.size(), 44u);
  EXPECT_EQ(le32_at(file, 40), file.size() - 44);
  EXPECT_EQ(le32_at(file, 4), file.size() - 8);
  EXPECT_EQ((file.size() - 44) % RAW, 0u);
  EXPECT_LT(file.size() - 44, 3000u * RAW);
  const WavReadBack back = read_wav_with_python(out("lost.wav"));
  EXPECT_EQ(back.format, "2 2 44100 " + std::to_string((file.size() - 44) / 4));
}

// A bad sector fails the read with the drive's medium error; the WAV header
// counts the batch written before it.
TEST_F(Ripspan, BadSectorFailsTheAudioReadWithMediumError) {
  const Disc disc(disc_folder.path(), audio_disc(100), ",bad=40");
  const ProgramRun run = disc.rip({out("bad.wav"), "/BATCH", "/NOJC", "/END=99"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "\nError: Unable to read AUDIO sectors 27 to 53 on device 0:3:0\n"
            "Bad medium detected\n");
  const WavReadBack back = read_wav_with_python(out("bad.wav"));
  EXPECT_EQ(back.format, "2 2 44100 " + std::to_string(27 * 588));
  EXPECT_TRUE(back.samples == disc.frames(0, 26));
}

// /TRACK spans run from the track's index 1 to the next table-of-contents
// entry (the next track's pause included), the last one to the lead-out.
TEST_F(Ripspan, TrackSpansFollowTheTableOfContents) {
  SampleDisc sample;
  sample.tracks = {{TrackType::Audio, 300, 0, "", ""},
                   {TrackType::Audio, 250, 75, "", ""},
                   {TrackType::Audio, 200, 40, "", ""}};
  const std::vector<uint32_t> starts = sample_track_starts(sample);
  const Disc disc(disc_folder.path(), sample, ",jitter=7,seed=2");
  for (unsigned track = 1; track <= 3; ++track) {
    SCOPED_TRACE(track);
    const ProgramRun run = disc.rip(
        {out("track.wav"), "/TRACK=" + std::to_string(track), "/BATCH", "/JC", "/START=00:02:10"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    const WavReadBack back = read_wav_with_python(out("track.wav"));
    const uint32_t first = starts[track - 1], last = starts[track] - 1;
    EXPECT_EQ(back.format, "2 2 44100 " + std::to_string((last - first + 1) * 588));
    EXPECT_TRUE(back.samples == disc.frames(first, last));
  }
  const ProgramRun missing = disc.rip({out("none.wav"), "/TRACK=4"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "Error: Specified track number (4) does not exist!\n");
}

// /DATA reads 2048 bytes as they are and 2336, 2340 and 2352 from 2340-byte
// reads: the header dropped, kept, or the sync pattern put in front.
TEST_F(Ripspan, DataSpansInEveryBlockSize) {
  SampleDisc sample;
  sample.tracks = {{TrackType::Mode1, 100, 0, "", ""}};
  for (const char* drive : DRIVES) {
    SCOPED_TRACE(drive);
    Disc disc(disc_folder.path(), sample);
    disc.product = drive;
    struct DataCase {
      uint16_t block;
      std::size_t skip;  // bytes of each raw sector left out at its start
    };
    for (const DataCase c :
         {DataCase{2048, 16}, DataCase{2336, 16}, DataCase{2340, 12}, DataCase{2352, 0}}) {
      SCOPED_TRACE(c.block);
      const ProgramRun run = disc.rip({out("data.bin"), "/DATA", "/BATCH", "/START=3", "/END=70",
                                       "/BLKLEN=" + std::to_string(c.block)});
      EXPECT_EQ(run.err, "");
      EXPECT_EQ(run.status, 0);
      std::string expected;
      for (uint32_t lba = 3; lba <= 70; ++lba)
        expected += disc.frames(lba, lba).substr(c.skip, c.block);
      EXPECT_TRUE(read_file(out("data.bin")) == expected);
    }
    // Without /END a data span ends at the last sector that reads as data.
    const ProgramRun whole = disc.rip({out("whole.bin"), "/DATA", "/BATCH", "/BLKLEN=2352"});
    EXPECT_EQ(whole.status, 0);
    EXPECT_TRUE(read_file(out("whole.bin")) == disc.frames(0, 99));
    // "/DATA /WAV" writes a WAV header in front of the raw sectors.
    const ProgramRun wav = disc.rip({out("data.wav"), "/DATA", "/WAV", "/BATCH", "/END=9"});
    EXPECT_EQ(wav.status, 0);
    EXPECT_EQ(read_wav_with_python(out("data.wav")).format,
              "2 2 44100 " + std::to_string(10 * 588));
  }
}

// /CDG writes 2448-byte blocks: the audio, then the subcode whose R-W
// channels are the cue sheet's CD+G bytes (P and Q are the disc's own). /JC
// does not apply to them: overlapping reads would misplace every block.
TEST_F(Ripspan, CdgBlocksCarryTheSheetsSubcode) {
  std::string image;
  for (uint32_t frame = 0; frame < 60; ++frame) {
    for (uint32_t i = 0; i < RAW; ++i) image += static_cast<char>(frame * 5 + i * 3 + 1);
    for (uint32_t i = 0; i < 96; ++i) image += static_cast<char>((frame + i * 7) & 0x3F);
  }
  write_file(disc_folder.file("cdg.bin"), image);
  write_file(disc_folder.file("cdg.cue"),
             "FILE \"cdg.bin\" BINARY\n  TRACK 01 CDG\n    INDEX 01 00:00:00\n");
  for (const char* drive : DRIVES) {
    SCOPED_TRACE(drive);
    Disc disc(disc_folder.path(), audio_disc(1));
    disc.cue = disc_folder.file("cdg.cue");
    disc.product = drive;
    const ProgramRun run = disc.rip({out("cdg.bin"), "/CDG", "/JC", "/BATCH", "/END=59"});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    const std::string blocks = read_file(out("cdg.bin"));
    ASSERT_EQ(blocks.size(), image.size());
    for (uint32_t frame = 0; frame < 60; ++frame) {
      const std::size_t at = frame * 2448u;
      EXPECT_TRUE(blocks.compare(at, RAW, image, at, RAW) == 0) << "audio of frame " << frame;
      std::string rw;
      for (std::size_t i = at + RAW; i < at + 2448; ++i) rw += static_cast<char>(blocks[i] & 0x3F);
      EXPECT_EQ(rw, image.substr(at + RAW, 96)) << "subcode of frame " << frame;
    }
  }
}

// WAV files read back by Python's wave module; /APPEND adds to both lengths.
TEST_F(Ripspan, WavFilesAndAppending) {
  const Disc disc(disc_folder.path(), audio_disc(300), ",jitter=7,seed=8");
  ASSERT_EQ(disc.rip({out("a.wav"), "/BATCH", "/JC", "/START=10", "/END=109"}).status, 0);
  WavReadBack back = read_wav_with_python(out("a.wav"));
  EXPECT_EQ(back.format, "2 2 44100 58800");
  EXPECT_TRUE(back.samples == disc.frames(10, 109));

  const ProgramRun append =
      disc.rip({out("a.wav"), "/APPEND", "/BATCH", "/JC", "/START=200", "/END=249"});
  EXPECT_EQ(append.err, "");
  EXPECT_EQ(append.status, 0);
  back = read_wav_with_python(out("a.wav"));
  EXPECT_EQ(back.format, "2 2 44100 " + std::to_string(150 * 588));
  EXPECT_TRUE(back.samples == disc.frames(10, 109) + disc.frames(200, 249));
  const std::string file = read_file(out("a.wav"));
  EXPECT_EQ(le32_at(file, 4), file.size() - 8);

  // Binary appending adds the blocks behind the file's bytes.
  write_file(out("b.bin"), "head");
  ASSERT_EQ(disc.rip({out("b.bin"), "/APPEND", "/BIN", "/BATCH", "/END=3"}).status, 0);
  EXPECT_TRUE(read_file(out("b.bin")) == "head" + disc.frames(0, 3));
}

TEST_F(Ripspan, AppendRefusals) {
  const Disc disc(disc_folder.path(), audio_disc(100));
  WavSpec mono;
  mono.channels = 1;
  mono.block_align = 2;
  write_bytes(out("mono.wav"), wav_file_bytes(mono));
  // A canonical header whose data length leaves no room for 100 more blocks.
  WavSpec full;
  full.data_size = 8;
  full.data_size_field = 0xFFFF0000;
  full.riff_size_field = 0xFFFF0024;
  write_bytes(out("full.wav"), wav_file_bytes(full));
  const std::string full_before = read_file(out("full.wav"));
  struct Refusal {
    std::string file;
    std::string err;
  };
  const Refusal refusals[] = {
      {out("missing.wav"), "Error opening output file \"" + out("missing.wav") + "\"\n"},
      {out("mono.wav"), "WAV file is invalid/corrupt or not CD compatible!\n"},
      {out("full.wav"), "Error: WAV file cannot hold 4 GB or more of audio data!\n"},
      {scratch.path(), "Error opening output file \"" + scratch.path() + "\"\n"},
  };
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.file);
    const ProgramRun run = disc.rip({r.file, "/APPEND", "/BATCH", "/END=99"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, r.err);
  }
  EXPECT_EQ(read_file(out("full.wav")), full_before);
}

// The events as the console prints them: the audio reader's batches with the
// jitter figure, the data reader's batches.
TEST_F(Ripspan, ProgressTexts) {
  const Disc exact(disc_folder.path(), audio_disc(100));
  ProgramRun run = exact.rip({out("e.wav"), "/JC", "/END=59"});
  EXPECT_EQ(run.status, 0);
  // The progress, then the checksums of what was copied.
  const std::string audio_progress = device_lines() +
                                     "Reading LBA 000000 to 000059 (60 blocks)\n"
                                     "  LBA: 000000 to 000026 (Jitter: 0 stereo samples)      \r"
                                     "  LBA: 000027 to 000051 (Jitter: 0 stereo samples)      \r"
                                     "  LBA: 000052 to 000059 (Jitter: 0 stereo samples)      \r"
                                     "\n";
  EXPECT_EQ(run.out.substr(0, audio_progress.size()), audio_progress);
  EXPECT_TRUE(is_track_report(run.out.substr(audio_progress.size()))) << run.out;

  ScratchDirectory data_folder;
  SampleDisc data_sample;
  data_sample.tracks = {{TrackType::Mode1, 100, 0, "", ""}};
  const Disc data(data_folder.path(), data_sample);
  run = data.rip({out("d.bin"), "/DATA", "/BLKLEN=2048", "/START=00:02:00", "/END=00:02:59"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, device_lines() +
                         "Reading LBA 000000 to 000059 (60 blocks)\n"
                         "  LBA: 000000 to 000030\r"
                         "  LBA: 000031 to 000059\r"
                         "\n");

  // A jittering drive: each figure is the change of the drive's offset, so
  // with up to 30 samples each way it stays within 60; the batches follow
  // each other without gaps.
  const Disc jittery(disc_folder.path(), audio_disc(1000), ",jitter=30,seed=21");
  run = jittery.rip({out("j.wav"), "/JC", "/END=999"});
  EXPECT_EQ(run.status, 0);
  static const cdm_test::Pattern line(
      "  LBA: (\\d{6}) to (\\d{6}) \\(Jitter: (-?\\d+) stereo samples\\)      \r");
  unsigned batches = 0, nonzero = 0;
  long expected_first = 0;
  const std::string progress = run.out.substr(device_lines().size());
  for (const cdm_test::Groups& batch : line.search_all(progress)) {
    EXPECT_EQ(std::stol(batch[1]), expected_first);
    expected_first = std::stol(batch[2]) + 1;
    const int jitter = std::stoi(batch[3]);
    EXPECT_LE(std::abs(jitter), 60);
    if (batches++ == 0) {
      EXPECT_EQ(jitter, 0);  // the first read after REZERO UNIT is exact
    }
    nonzero += jitter != 0;
  }
  EXPECT_EQ(expected_first, 1000);
  EXPECT_GT(batches, 30u);
  EXPECT_GT(nonzero, 10u);
}

}  // namespace

// What the cueburn tests share: cue sheets with their image files, what the
// disc recorded from each must hold LBA by LBA, and runs of cueburn and
// discinfo on an emulated bus.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/sector.h"
#include "support/run_program.h"
#include "support/scratch.h"
#include "support/scsi_fakes.h"

namespace cueburn_test {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t RAW = 2352;
constexpr uint32_t CDG = 2448;  // an audio frame and its 96 subcode bytes

// A run of the recorded disc, in LBA order: frames of an image file, or a
// generated gap.
struct Segment {
  enum Kind { Copy, User2048, User2336, Silence, Mode1Gap, Mode2Gap } kind;
  std::string file;     // Copy, User2048, User2336: the source file
  uint32_t offset = 0;  // byte offset of the first frame in the file
  uint32_t frames = 0;
  uint32_t size = RAW;  // bytes a frame of Copy and Silence takes on the disc
};

struct Fixture {
  const char* name;
  const char* sheet;
  // Image files: name and bytes.
  std::vector<std::pair<std::string, Bytes>> files;
  std::vector<Segment> segments;
  // discinfo /MCN /ISRC /NOPROMPT of the recorded disc, after its device lines.
  std::string listing;
  // Whether the readers of other makers read the recorded cue sheet: none
  // of them knows a CDG track.
  bool peers = true;
};

// A file of `frames` frames of `size` bytes, each frame different.
Bytes pattern(uint32_t frames, uint32_t size, uint8_t seed);
// Raw sectors built at the LBAs from `first` on.
Bytes raw_sectors(SectorType type, uint32_t frames, int32_t first);
// A CD audio WAV file of `frames` frames.
Bytes wav(uint32_t frames);

// discinfo's column heads.
extern const char HEADER[];

// The round-trip cue sheets: every track type, gaps, indexes, codes, flags.
std::vector<Fixture> fixtures();

// Products of the classes that record disc-at-once: Philips 2, 7, 8, 9 and
// 14 (6 and 12 record track at once only), Sony 15, 16 and 17, Yamaha 19
// (its writes now and then answered "busy") and 20, JVC 10, 11 and 18.
// `codes`: the catalog number and ISRC codes reach the disc (Sony 16 and 17
// leave them out of their cue sheet; the JVC drives take none).
struct Recorder {
  const char* product;
  bool codes;
};
extern const std::vector<Recorder> RECORDERS;

// A listing as it reads when the recorder left the codes out.
std::string without_codes(const std::string& listing);

class CueBurn : public testing::Test {
 protected:
  ProgramRun cueburn(const std::string& bus, const std::vector<std::string>& arguments,
                     const std::string& input = "");
  ProgramRun discinfo(const std::string& bus, const std::vector<std::string>& arguments);
  // Writes the fixture's files and its cue sheet; returns the sheet's path.
  std::string write_fixture(const Fixture& fixture);

  ScratchDirectory scratch;
  std::string folder = scratch.path();
  cdm_test::ScopedEnv no_writer_id{"CDWRITER_ID", std::nullopt};
  cdm_test::ScopedEnv no_reader_id{"CDREADER_ID", std::nullopt};
  cdm_test::ScopedEnv no_trace{"TRACE_SCSI_ENABLED", std::nullopt};
};

// Checks every sector of the recorded image against the segments: copied
// frames byte for byte, cooked data at its place in sectors that carry their
// own address, gaps silent or empty sectors of the track's mode.
void expect_sectors(const std::string& image, const std::string& folder,
                    const std::vector<Segment>& segments, const std::string& what);

// What each LBA of the disc must carry where a reader finds the user data,
// as a 2352-byte frame: copied frames whole, cooked data from byte 16, zeros
// in gaps and wherever the recorder builds the bytes itself.
std::vector<Bytes> payload_frames(const std::string& folder, const std::vector<Segment>& segments);

}  // namespace cueburn_test

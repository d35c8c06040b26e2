// What the span extraction tests share: a disc in an emulated drive, runs of the
// program, the image bytes a span must equal, and WAV files read back by
// Python's wave module.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/sample_discs.h"
#include "support/scratch.h"

namespace ripspan_test {

constexpr uint32_t RAW = 2352;

// A disc of `frames` audio frames in one track (the sample pattern: never
// silent), with LBA k at frame k of the image.
SampleDisc audio_disc(uint32_t frames);

class Disc {
 public:
  // Writes the disc into `folder`; `drive_items` follow the medium item of
  // the drive at 0:3:0 (",jitter=7,seed=3").
  Disc(const std::string& folder, const SampleDisc& disc, const std::string& drive_items = "");

  // Sets the disc's frames first..last (LBAs) to digital silence.
  void silence(uint32_t first, uint32_t last) const;
  // The image bytes of LBAs first..last.
  std::string frames(uint32_t first, uint32_t last) const;

  // Runs ripspan with the disc in the drive.
  ProgramRun rip(const std::vector<std::string>& arguments, const std::string& input = "") const;

  std::string cue;
  std::string bin;
  std::string items;
  std::string product = "MYSTERY CDROM";  // the drive's, as EMULATED_SCSI_BUS names it
};

// What Python's wave module reads from a WAV file.
struct WavReadBack {
  std::string format;  // "channels width rate frames", or Python's error
  std::string samples;
};
WavReadBack read_wav_with_python(const std::string& path);

// The 32-bit little-endian word at `at` of a file's bytes.
uint32_t le32_at(const std::string& bytes, std::size_t at);

// True when `text` is the checksum report of an audio rip: one line a
// track, "Track 01 (part): copy CRC ..., AccurateRip v1 ..., v2 ...".
bool is_track_report(const std::string& text);

// The two device lines and the generic driver's warning for the drive at 0:3:0.
std::string device_lines();

}  // namespace ripspan_test

// The cue sheets that the cueburn tests record, with their image files, the
// sectors each recorded disc must hold and its discinfo listing; the cue
// sheet generator's round trip records them too.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/sector.h"

namespace cueburn_fixtures {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t RAW = 2352;

// A run of the recorded disc, in LBA order: frames of an image file, or a
// generated gap.
struct Segment {
  enum Kind { Copy, User2048, User2336, Silence, Mode1Gap, Mode2Gap } kind;
  std::string file;     // Copy, User2048, User2336: the source file
  uint32_t offset = 0;  // byte offset of the first frame in the file
  uint32_t frames = 0;
};

struct Fixture {
  const char* name;
  const char* sheet;
  // Image files: name and bytes.
  std::vector<std::pair<std::string, Bytes>> files;
  std::vector<Segment> segments;
  // discinfo /MCN /ISRC /NOPROMPT of the recorded disc, after its device lines.
  std::string listing;
};

// A file of `frames` frames of `size` bytes, each frame different.
Bytes pattern(uint32_t frames, uint32_t size, uint8_t seed);

// Raw sectors built at the LBAs from `first` on.
Bytes raw_sectors(SectorType type, uint32_t frames, int32_t first);

// A CD audio WAV file of `frames` frames of samples.
Bytes wav(uint32_t frames);

// The heading of a discinfo listing.
extern const char HEADER[];

// Every fixture: audio, data of both modes, data followed by audio.
std::vector<Fixture> fixtures();

}  // namespace cueburn_fixtures

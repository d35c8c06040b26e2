// Conversion of an image of 2048-byte blocks into complete 2352-byte raw
// sectors (mode 1 or mode 2 form 1, optionally scrambled, optionally with a
// 150-sector postgap): the work of sectconv. Progress and the completion
// texts go to standard output, errors to standard error; every failure has
// printed its message when ToolExit{1} is thrown.
#pragma once

#include <string>

#include "common/byte_stream.h"
#include "common/sector.h"

struct RawImageSettings {
  std::string input_name;
  std::string output_name;
  SectorType sector_type = SECTOR_MODE1;  // or SECTOR_MODE2_FORM1
  bool postgap = false;
  bool scramble = false;
};

// Sectors of the postgap written after the data with "/POSTGAP".
constexpr uint32_t RAW_IMAGE_POSTGAP_SECTORS = 150;

// Opens the input ("Error opening \"%s\"\n"), creates the output ("Error
// creating \"%s\"\n"; never the input itself) and converts.
void convert_image_file(const RawImageSettings& settings);

// Converts everything `input` holds into `output` and closes it. The first
// block becomes LBA 0. Fails with "Error: Input file length is not a multiple
// of 2048!\n" (nothing written), "\nUnexpected error reading input file!\n"
// or "\nUnexpected error writing output file!\n" (a write or the close failed).
void convert_image(const RawImageSettings& settings, ByteSource& input, ByteSink& output);

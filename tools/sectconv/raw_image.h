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

// Opens the input (a regular file or a block device: "Error opening
// \"%s\"\n" and the reason on the next line), checks it as image_block_count
// does, then creates the output ("Error creating \"%s\"\n" and the reason;
// never the input itself, however named) and converts. Nothing is created or
// emptied before every check has passed; a failure after that adds
// "Output file \"%s\" is incomplete.\n" to its message.
void convert_image_file(const RawImageSettings& settings);

// The number of blocks `input` holds, once it is known that they can be
// converted: its length must be a whole number of blocks ("Error: Input file
// length is not a multiple of 2048!\n"), and its sectors, with the postgap
// when asked for, must have addresses up to LAST_BCD_LBA ("Error: Input file
// has %lu blocks, more than the %lu that sector addresses up to 99:59:74
// allow!\n", " with the postgap" before the "!" when asked for). A length
// that cannot be taken fails with "\nUnexpected error reading input file!\n".
uint64_t image_block_count(const RawImageSettings& settings, ByteSource& input);

// Converts everything `input` holds into `output` and closes it. The first
// block becomes LBA 0. Fails as image_block_count does (nothing written), or
// with "\nUnexpected error reading input file!\n" or "\nUnexpected error
// writing output file!\n" (a write or the close failed).
void convert_image(const RawImageSettings& settings, ByteSource& input, ByteSink& output);

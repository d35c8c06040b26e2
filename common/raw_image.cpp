#include "common/raw_image.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "common/console.h"

namespace {

// Blocks between two looks at the progress line: the percentages shown are
// those of a conversion that goes 27 blocks at a time.
constexpr uint64_t kProgressBlocks = 27;
// Blocks read and written at once: large transfers keep the conversion close
// to the speed of a plain copy.
constexpr uint64_t kChunkBlocks = kProgressBlocks * 20;

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};
using Buffer = std::unique_ptr<uint8_t[], FreeDeleter>;

Buffer allocate_buffer(std::size_t size) {
  return Buffer(static_cast<uint8_t*>(allocate_or_exit(size, false)));
}

const uint8_t kDataSubheader[4] = {0, 0, SUBMODE_DATA, 0};

[[noreturn]] void write_failed() { fail_with("\nUnexpected error writing output file!\n"); }

}  // namespace

void convert_image_file(const RawImageSettings& settings) {
  FileSource input;
  if (!input.open(settings.input_name))
    fail_with(format_text("Error opening \"%s\"\n", settings.input_name.c_str()));
  FileSink output;
  if (!output.create(settings.output_name, &input))
    fail_with(format_text("Error creating \"%s\"\n", settings.output_name.c_str()));
  convert_image(settings, input, output);
}

void convert_image(const RawImageSettings& settings, ByteSource& input, ByteSink& output) {
  Buffer in = allocate_buffer(kChunkBlocks * DATA_BLOCK_SIZE);
  Buffer out = allocate_buffer(kChunkBlocks * RAW_SECTOR_SIZE);

  uint64_t length = 0;
  if (!input.length(&length)) fail_with("\nUnexpected error reading input file!\n");
  if (length % DATA_BLOCK_SIZE != 0) fail_with("Error: Input file length is not a multiple of 2048!\n");
  const uint64_t blocks = length / DATA_BLOCK_SIZE;
  out_text(format_text("File contains %luMb of data (%lu blocks)\n",
                       static_cast<unsigned long>((length + 1048575) / 1048576),
                       static_cast<unsigned long>(blocks)));
  out_text("Processing...\n");
  ProgressLine progress;
  progress.start();

  const SectorType type = settings.sector_type;
  const uint8_t* subheader = type == SECTOR_MODE1 ? nullptr : kDataSubheader;
  int32_t lba = 0;
  uint64_t done = 0;
  while (done < blocks) {
    const uint64_t n = std::min(kChunkBlocks, blocks - done);
    if (input.read(in.get(), n * DATA_BLOCK_SIZE) != n * DATA_BLOCK_SIZE)
      fail_with("\nUnexpected error reading input file!\n");
    for (uint64_t group = 0; group < n; group += kProgressBlocks) {
      const uint64_t m = std::min(kProgressBlocks, n - group);
      for (uint64_t i = group; i < group + m; ++i)
        build_sector(out.get() + i * RAW_SECTOR_SIZE, type, lba++, subheader,
                     in.get() + i * DATA_BLOCK_SIZE, true, false, settings.scramble);
      progress.update(done + group + m, blocks);
    }
    if (!output.write(out.get(), n * RAW_SECTOR_SIZE)) write_failed();
    done += n;
  }
  out_text("Conversion completed!\n");

  if (settings.postgap) {
    out_text("Writing POSTGAP (150 blocks)...");
    for (uint32_t i = 0; i < RAW_IMAGE_POSTGAP_SECTORS; ++i) {
      uint8_t* sector = out.get() + (i % kChunkBlocks) * RAW_SECTOR_SIZE;
      build_sector(sector, type, lba++, nullptr, nullptr, true, false, settings.scramble);
      if (!output.write(sector, RAW_SECTOR_SIZE)) write_failed();
    }
    out_text("\n");
  }
  if (!output.close()) write_failed();
}

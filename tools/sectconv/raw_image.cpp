#include "tools/sectconv/raw_image.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "common/background_job.h"
#include "common/console.h"
#include "common/stream_buffer.h"
#include "common/timecode.h"

namespace {

// Blocks between two looks at the progress line: the percentages shown are
// those of a conversion that goes 27 blocks at a time.
constexpr uint64_t kProgressBlocks = 27;
// Blocks read and written at once: large transfers keep the conversion close
// to the speed of a plain copy.
constexpr uint64_t kChunkBlocks = kProgressBlocks * 32;
// Sectors a thread encodes at a time when two share a chunk.
constexpr uint64_t kEncodeGroup = 8;

const uint8_t kDataSubheader[4] = {0, 0, SUBMODE_DATA, 0};

[[noreturn]] void write_failed() { fail_with("\nUnexpected error writing output file!\n"); }

}  // namespace

void convert_image_file(const RawImageSettings& settings) {
  const char* output_name = settings.output_name.c_str();
  FileSource input;
  if (!input.open(settings.input_name))
    fail_with(format_text("Error opening \"%s\"\n%s\n", settings.input_name.c_str(),
                          input.failure().c_str()));
  image_block_count(settings, input);
  FileSink output;
  if (!output.create(settings.output_name, &input))
    fail_with(format_text("Error creating \"%s\"\n%s\n", output_name, output.failure().c_str()));
  try {
    convert_image(settings, input, output);
  } catch (const ToolExit&) {
    err_text(format_text("Output file \"%s\" is incomplete.\n", output_name));
    throw;
  }
}

uint64_t image_block_count(const RawImageSettings& settings, ByteSource& input) {
  uint64_t length = 0;
  if (!input.length(&length)) fail_with("\nUnexpected error reading input file!\n");
  if (length % DATA_BLOCK_SIZE != 0)
    fail_with("Error: Input file length is not a multiple of 2048!\n");
  const uint64_t blocks = length / DATA_BLOCK_SIZE;
  const uint64_t most = MAX_RAW_IMAGE_SECTORS - (settings.postgap ? RAW_IMAGE_POSTGAP_SECTORS : 0);
  if (blocks > most) {
    const MsfTime last = lba_to_msf(LAST_BCD_LBA);
    fail_with(format_text(
        "Error: Input file has %lu blocks, more than the %lu that sector addresses up to "
        "%02u:%02u:%02u allow%s!\n",
        static_cast<unsigned long>(blocks), static_cast<unsigned long>(most), last.minute,
        last.second, last.frame, settings.postgap ? " with the postgap" : ""));
  }
  return blocks;
}

void convert_image(const RawImageSettings& settings, ByteSource& input, ByteSink& output) {
  const uint64_t blocks = image_block_count(settings, input);
  const uint64_t length = blocks * DATA_BLOCK_SIZE;
  StreamBuffer in[2] = {StreamBuffer(kChunkBlocks * DATA_BLOCK_SIZE),
                        StreamBuffer(kChunkBlocks * DATA_BLOCK_SIZE)};
  StreamBuffer out[2] = {StreamBuffer(kChunkBlocks * RAW_SECTOR_SIZE),
                         StreamBuffer(kChunkBlocks * RAW_SECTOR_SIZE)};
  out_text(format_text("File contains %luMb of data (%lu blocks)\n",
                       static_cast<unsigned long>((length + 1048575) / 1048576),
                       static_cast<unsigned long>(blocks)));
  out_text("Processing...\n");
  ProgressLine progress;
  progress.start();

  // While a second thread writes chunk i - 1, this one reads chunk i + 1;
  // then both encode chunk i, taking groups of its sectors until none is
  // left. Splitting the transfers between the threads keeps them about
  // equally busy (a write costs more than a read, encoding less than both).
  // Progress and failures show in the order of a conversion that reads,
  // encodes and writes one chunk after the other.
  const SectorType type = settings.sector_type;
  const uint8_t* subheader = type == SECTOR_MODE1 ? nullptr : kDataSubheader;
  const uint64_t chunks = (blocks + kChunkBlocks - 1) / kChunkBlocks;
  auto chunk_blocks = [&](uint64_t chunk) {
    return std::min(kChunkBlocks, blocks - chunk * kChunkBlocks);
  };
  auto read_chunk = [&](uint64_t chunk, uint8_t* into) {
    const std::size_t size = chunk_blocks(chunk) * DATA_BLOCK_SIZE;
    return input.read(into, size) == size;
  };
  auto write_chunk = [&](uint64_t chunk, const uint8_t* from) {
    return output.write(from, chunk_blocks(chunk) * RAW_SECTOR_SIZE);
  };
  auto show_written = [&](uint64_t chunk) {
    const uint64_t first = chunk * kChunkBlocks;
    const uint64_t n = chunk_blocks(chunk);
    for (uint64_t group = 0; group < n; group += kProgressBlocks)
      progress.update(first + std::min(group + kProgressBlocks, n), blocks);
  };
  std::atomic<uint64_t> next_sector{0};
  auto encode_share = [&](uint64_t chunk, std::size_t turn) {
    const uint64_t n = chunk_blocks(chunk);
    for (uint64_t first; (first = next_sector.fetch_add(kEncodeGroup)) < n;) {
      for (uint64_t i = first; i < std::min(first + kEncodeGroup, n); ++i)
        build_sector(out[turn].data() + i * RAW_SECTOR_SIZE, type,
                     static_cast<int32_t>(chunk * kChunkBlocks + i), subheader,
                     in[turn].data() + i * DATA_BLOCK_SIZE, true, false, settings.scramble);
    }
  };

  enum : int { kWriteFailed = 1 };

  if (chunks > 0 && !read_chunk(0, in[0].data()))
    fail_with("\nUnexpected error reading input file!\n");
  BackgroundJob transfer;
  for (uint64_t chunk = 0; chunk < chunks; ++chunk) {
    const std::size_t turn = chunk % 2;
    uint8_t* other_in = in[turn ^ 1].data();
    const uint8_t* other_out = out[turn ^ 1].data();
    next_sector = 0;
    transfer.start([&, chunk, turn, other_out]() -> int {
      if (chunk > 0 && !write_chunk(chunk - 1, other_out)) return kWriteFailed;
      encode_share(chunk, turn);
      return 0;
    });
    const bool read_failed = chunk + 1 < chunks && !read_chunk(chunk + 1, other_in);
    encode_share(chunk, turn);
    if (transfer.wait() == kWriteFailed) write_failed();
    if (chunk > 0) show_written(chunk - 1);
    if (read_failed || chunk + 1 == chunks) {
      if (!write_chunk(chunk, out[turn].data())) write_failed();
      show_written(chunk);
      if (read_failed) fail_with("\nUnexpected error reading input file!\n");
    }
  }
  out_text("Conversion completed!\n");
  auto lba = static_cast<int32_t>(blocks);

  if (settings.postgap) {
    out_text("Writing POSTGAP (150 blocks)...");
    for (uint32_t i = 0; i < RAW_IMAGE_POSTGAP_SECTORS; ++i) {
      uint8_t* sector = out[0].data();
      build_sector(sector, type, lba++, nullptr, nullptr, true, false, settings.scramble);
      if (!output.write(sector, RAW_SECTOR_SIZE)) write_failed();
    }
    out_text("\n");
  }
  if (!output.close()) write_failed();
}

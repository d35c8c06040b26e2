#include "iso9660/track_source.h"

#include <array>

uint64_t track_blocks(const VolumeLayout& layout) {
  return uint64_t{layout.volume_blocks} + TRACK_POSTGAP_BLOCKS;
}

void emit_track(const VolumeLayout& layout, const DirectoryNode& root, const std::string& label,
                BlockSink* sink, bool log) {
  emit_volume(layout, root, label, sink, log);
  const std::array<uint8_t, ISO_BLOCK_SIZE> zero_block{};
  for (uint32_t i = 0; i < TRACK_POSTGAP_BLOCKS; ++i)
    sink->append(zero_block.data(), zero_block.size());
}

// The on-the-fly track of the directory recording tool: the volume of a
// laid-out tree, block by block in ascending order, followed inside the same
// track by a postgap of zero blocks. Nothing of it is stored: the sink (a
// recorder's staging buffer) takes each piece as it is made.
#pragma once

#include <cstdint>
#include <string>

#include "iso9660/emit.h"

// Zero blocks after the volume, inside the track.
constexpr uint32_t TRACK_POSTGAP_BLOCKS = 150;

// Blocks of the track: the volume's V blocks and the postgap. The primary
// descriptor records V alone.
uint64_t track_blocks(const VolumeLayout& layout);

// The whole track into `sink`: emit_volume, then the postgap one zero block
// at a time. Fails as emit_volume does.
void emit_track(const VolumeLayout& layout, const DirectoryNode& root, const std::string& label,
                BlockSink* sink, bool log);

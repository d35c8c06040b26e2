// What a copy of a disc says about itself: the tags of a FLAC file (TITLE,
// ARTIST, ALBUM, TRACKNUMBER, TRACKTOTAL, ISRC, CATALOGNUMBER) from the
// disc's table of contents, catalog number, ISRC codes and texts.
#pragma once

#include <memory>
#include <vector>

#include "audio/flac_writer.h"
#include "drivers/cd_reader.h"
#include "layout/disc_layout.h"

// The disc's table of contents with everything the tags are made of: the
// catalog number and every track's ISRC where the disc has them, and its
// texts (disc_texts and track_texts: TITLE, PERFORMER) where the disc has
// them. Raises the drive's errors.
std::unique_ptr<DiscLayout> read_disc_metadata(CdReader& reader);

// The tags of the track at entry `entry` of the layout: TITLE and ARTIST of
// the track (ARTIST of the disc when the track has none), ALBUM, TRACKNUMBER,
// TRACKTOTAL, ISRC and CATALOGNUMBER; only those the disc has.
std::vector<AudioTag> track_tags(const DiscLayout& layout, unsigned entry);

// The tags of a copy of the whole disc (or of a span that is no one track):
// ALBUM, ARTIST, TRACKTOTAL and CATALOGNUMBER; only those the disc has.
std::vector<AudioTag> disc_tags(const DiscLayout& layout);

// What an audio file holds, from its first bytes: the container's magic, an
// Ogg stream's first packet, MP3 frame headers behind an ID3v2 tag.
#pragma once

#include <cstdint>

#include "audio/audio_file.h"

// The format of the file on descriptor `fd` of `length` bytes (read with
// pread); Unknown when its content names none of the front end's formats.
AudioFormat sniff_audio_format(int fd, uint64_t length);

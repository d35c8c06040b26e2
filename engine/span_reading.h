// Reading a span of a disc (first to last LBA, both included) batch by batch
// into a sink: audio as 2352-byte sectors with optional jitter correction
// (every read after the first overlaps the last one and is re-aligned on a
// reference sector), audio with subcode as 2448-byte sectors, or data as
// 2048, 2336, 2340 or 2352-byte sectors.
//
// Failures: a block size the mode cannot read raises "Internal bugcheck
// detected"; a failed read raises "Unable to read AUDIO/DATA sectors ...";
// an overlapping read in which the reference sector cannot be found prints
// "\nError: Unable to synchronize sector!\n" on standard error and throws
// ToolExit{1}; with `reanchor` (a reader whose later reads decide, as the
// secure reader's second pass does) that read is made again afresh after a
// REZERO UNIT instead: the reference may be a scratch's wrong bytes, which
// no later read shows again. Digital silence cannot anchor an overlap: when no block
// passed on is left to match (a silent run of a read or more, the last
// block of a span that reads keep landing early for), the next read follows
// a REZERO UNIT, after which a drive's first read lands where it was asked
// to, and starts without overlap. A signal that asks the program to stop
// (SIGINT, SIGTERM, SIGHUP) ends the read before its next batch, after the
// closing steps, with the "Interrupted by ..." error. The progress events
// are 0 to 2 for data and 3 to 5 for audio.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "drivers/cd_reader.h"

// Receives each batch: `count` whole blocks of `block_size` bytes in
// ascending LBA order, with no gaps or repeats.
using SpanSink = std::function<void(const uint8_t* blocks, uint16_t block_size, uint32_t count)>;

// Jitter correction of audio reads.
using JitterMode = uint8_t;
constexpr JitterMode JITTER_DRIVE_DEFAULT = 0;  // the drive's CAP_JITTER_CORRECT bit
constexpr JitterMode JITTER_OFF = 1;
constexpr JitterMode JITTER_ON = 2;

// Mode of read_span: audio; any other value reads data.
constexpr uint8_t SPAN_AUDIO = 0;
constexpr uint8_t SPAN_DATA = 1;

// Bytes of the batch buffer; a batch is as many whole blocks as fit.
constexpr uint32_t SPAN_BUFFER_SIZE = 65000;

void read_audio_span(CdReader& reader, uint16_t block_size, uint32_t first, uint32_t last,
                     JitterMode jitter, const SpanSink& sink, bool progress, bool reanchor = false);

void read_data_span(CdReader& reader, uint16_t block_size, uint32_t first, uint32_t last,
                    const SpanSink& sink, bool progress);

// Audio for SPAN_AUDIO, data otherwise (the jitter mode is not used for data).
void read_span(CdReader& reader, uint8_t mode, uint16_t block_size, uint32_t first, uint32_t last,
               JitterMode jitter, const SpanSink& sink, bool progress);

// read_span into an open file, each batch written as whole blocks; a short
// write raises "Unexpected failure writing file (disk full?)". Returns the
// bytes handed to the file (some may still be in its stdio buffer).
uint64_t read_span_to_file(CdReader& reader, std::FILE* file, uint8_t mode, uint16_t block_size,
                           uint32_t first, uint32_t last, JitterMode jitter, bool progress);

// The recording engine: turns a disc-at-once or a track-at-once job into the
// recorder operations of RecorderDriver, streaming image files in chunks of
// whole blocks of at most 65000 bytes with their generated pregaps and
// postgaps, and reports progress through the recording events.
//
// Every failure is raised as an MSGVEC record ('Unable to open file', an
// image file that ends early, or a recorder operation through its reporting
// wrapper); the engine never tries to close a track or a disc after one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_file.h"
#include "common/byte_stream.h"
#include "common/msgvec.h"
#include "drivers/recorder_driver.h"
#include "drivers/recording_events.h"
#include "layout/disc_layout.h"

// TrackAtOnceJob::flags (the disc-at-once job's bits are JOB_* in
// drivers/recorder_driver.h; beep and eject are the same bits in both).
constexpr uint8_t TAO_FINALIZE = 0x04;  // finalize after the track
constexpr uint8_t TAO_PROGRESS = 0x08;
constexpr uint8_t TAO_SESSION = 0x10;   // finalize the session only, leave the disc open
constexpr uint8_t TAO_TEST = 0x20;      // test recording
constexpr uint8_t TAO_OVERBURN = 0x40;  // record past the free blocks the recorder reports

// One data track whose blocks the caller produces through a BlockWriter.
struct TrackAtOnceJob {
  TrackEntry track;
  ImageFile file;  // not read by the track-at-once operations
  uint8_t speed = SPEED_1X;
  uint8_t flags = 0;
  // Set by begin_track_at_once: the disc's last track before the recording
  // (0 for a blank disc or a test recording).
  uint8_t tracks_before = 0;
};

// The console texts of the events (standard output); returns 1.
int console_event_callback(const RecordingEvent& event);

// Image files are read this many WRITEs' worth at a time, on a second thread
// one read ahead of the recorder: a job's buffer holds the gaps' blocks and
// two reads.
constexpr uint32_t WRITES_PER_READ = 8;
constexpr uint32_t IMAGE_READ_BYTES = MAX_TRANSFER_BYTES * WRITES_PER_READ;
constexpr uint32_t IMAGE_BUFFER_BYTES = MAX_TRANSFER_BYTES + 2 * IMAGE_READ_BYTES;

// An image file opened for reading its blocks: the file itself, or the
// decoder of an audio file that needs one (then `audio` is set).
struct ImageSource {
  FileSource file;
  std::unique_ptr<AudioFile> audio;
  ByteSource* source = nullptr;  // `file` or `audio`
};

// Opens an image file as the cue sheet found it, at its first data byte,
// into `opened`. Raises 'Unable to open file "%s"' (the name as the sheet
// writes it, with the system's reason; anything but a regular file is
// refused).
void open_image_source(const ImageFile& file, ImageSource* opened);

// Streams one image file with all its tracks (entries of `layout` from the
// file's first track on): per track the writing block
// length, the generated pregap, the file's blocks in chunks (blocks past the
// end of the file's data go as zeros within the chunk where it ends), the
// generated postgap. `buffer`, when given, is a buffer of at least
// IMAGE_BUFFER_BYTES used for every chunk and gap (else one is allocated for
// the file).
// Raises 'Unable to open file "%s"' (the name as the sheet writes it, with
// the system's reason; anything but a regular file is refused) and "Unexpected failure reading file
// (end-of-file?)" when a chunk finds no data left or the read fails.
void record_image_file(RecorderDriver& recorder, const DiscLayout& layout, const ImageFile& file,
                       bool progress, uint8_t* buffer = nullptr);

// Records a whole disc: test unit ready, rezero, the disc's last track (not
// for a test recording) and its free blocks, speed and test mode,
// BeginDiscAtOnce, every image file, EndDiscAtOnce, the read-back of the
// tracks (not for a test recording), then the closing event, the beep and
// the eject as the job asks. Returns 1. A recorder's refusal to write the
// disc is raised in plain words (explain_recording_refusal).
int record_disc_at_once(RecorderDriver& recorder, const DiscAtOnceJob& job);

// Readies the recorder for the track's blocks (test unit ready, the disc's
// last track into job.tracks_before unless it is a test recording, the free
// blocks, speed and test mode, block length, OPEN TRACK, each raising);
// returns OPEN TRACK's result.
ResultCode begin_track_at_once(RecorderDriver& recorder, TrackAtOnceJob& job);

// CLOSE TRACK, then as the job asks FINALIZE DISC and the read-back of the
// track (not for a test recording), the closing event, the beep and the
// eject (each raising).
void end_track_at_once(RecorderDriver& recorder, const TrackAtOnceJob& job);

// The disc checks of a recording (disc_checks.cpp).

// The number of the disc's last track, 0 for a blank disc; raises "'READ
// TOC' command failed ..." when the disc cannot be shown to be blank.
uint8_t last_track_on_disc(RecorderDriver& recorder);

// Where the recorder reports its free blocks, raises "<what> (MM:SS:FF) is
// longer than the blank disc (MM:SS:FF)" ("... than the space left on the
// disc" for a disc that holds tracks) when `blocks` do not fit; both are
// shown as absolute times, where they end counted from LBA 0. With
// `overburn` the sentence is a warning on standard error instead, and the
// recording goes on past the disc's end.
void check_free_blocks(RecorderDriver& recorder, uint32_t blocks, const char* what,
                       bool overburn = false);

// Fits the layout's numbering and first pregap to the recorder, before
// anything is sent: a first track number above 1 that the recorder does not
// keep is renumbered from 1 (with a warning on standard error when
// `warnings`), and audio before track 1 that the recorder cannot record
// raises "The CD-Recorder cannot record audio before track 1 (...)".
void fit_first_track(const RecorderDriver& recorder, DiscLayout* layout, bool warnings);

// What the recorder reports of the room for `blocks`: whether it reports
// its free blocks at all, whether they fit, and the sentence of
// check_free_blocks comparing the two.
struct Capacity {
  bool known = false;
  bool fits = true;
  std::string comparison;
};
Capacity disc_capacity(RecorderDriver& recorder, uint32_t blocks, const char* what);

// The recording tool's check of a layout against the disc, before anything
// is written: where the recorder reports its free blocks, a layout that
// fits goes without a word, a longer one raises the check_free_blocks
// sentence, or with `overburn` is recorded after a "WARNING! ..." on
// standard error (the drive refuses what lies past its own limit); where
// it reports none, the 74-minute warning of check_disc_length.
void check_layout_capacity(RecorderDriver& recorder, const DiscLayout& layout, bool confirm,
                           bool overburn);

// A track as it was sent: the LBA of its index 1, whether it is data, and
// its number (0: the number after the disc's tracks).
struct SentTrack {
  int64_t start;
  bool data;
  uint8_t number = 0;
};

// The tracks of a layout as they are sent (index 1 from the cuepoints).
std::vector<SentTrack> sent_tracks(const DiscLayout& layout);

// Reads the table of contents back and raises "The CD-Recorder reported
// success, but ..." unless the disc holds the sent tracks as the numbers
// after `tracks_before`, each of its kind (data or audio) and at its start
// (on a disc that held tracks, the starts count from the first one
// recorded), and nothing after them.
void check_recorded_tracks(RecorderDriver& recorder, uint8_t tracks_before,
                           const std::vector<SentTrack>& sent);

// A recording command that the recorder refused because of the disc (a
// closed or unrecordable disc, a block past its end) gets the reason in
// plain words as the record's second line instead of "Illegal command
// request"; any other record is left as it is.
void explain_recording_refusal(const RecorderDriver& recorder, MSGVEC* record);

// Two beeps with a pause of 300 ms after each, through the replaceable sleep.
void signal_recording_end();

// The staging buffer of a track-at-once recording: bytes are collected and
// sent as whole buffers of 65000 / block size blocks.
class BlockWriter {
 public:
  BlockWriter(uint16_t block_size, RecorderDriver& recorder);

  // Adds `length` bytes, sending every buffer that fills up on the way.
  void append(const uint8_t* bytes, std::size_t length);
  // Sends what is left, padded with zeros to a whole block; nothing when empty.
  void flush();

  uint16_t block_size() const { return block_size_; }
  uint16_t capacity() const { return capacity_; }
  uint16_t fill_level() const { return fill_level_; }

 private:
  RecorderDriver& recorder_;
  uint16_t block_size_;
  uint16_t blocks_per_flush_;
  uint16_t capacity_;  // blocks_per_flush_ * block_size_
  uint16_t fill_level_ = 0;
  std::vector<uint8_t> buffer_;
};

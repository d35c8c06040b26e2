// The in-memory description of a disc shared by the recording and reading
// roads: tracks with their types, flags, ISRC codes, pregaps and postgaps,
// the media catalog number, and a position-ordered list of cuepoints (every
// index of every track, ending with the lead-out).
//
// Positions are frame counts measured as LBAs (LBA 0 is absolute time
// 00:02:00); a cuepoint stores the absolute time LBA + 150 as minute, second,
// frame. A layout is a fixed-capacity record, zero-filled on creation.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_file.h"

// Capacities and limits.
constexpr unsigned MAX_TRACKS = 99;          // track numbers 1 to 99
constexpr unsigned MAX_TRACK_ENTRIES = 100;  // room for a lead-out entry after track 99
constexpr unsigned MAX_INDEX_NUMBER = 99;
constexpr unsigned MAX_CUEPOINTS = 500;  // lead-out cuepoint included
constexpr unsigned MAX_IMAGE_FILES = 100;
// 74 minutes: tools warn about longer layouts.
constexpr uint32_t MAX_DISC_FRAMES = 333000;
// The longest layout whose lead-out a cuepoint can still hold in two BCD
// digits of minutes: absolute time 99:59:74.
constexpr uint32_t MAX_ABSOLUTE_FRAMES = 99 * 4500 + 59 * 75 + 74;

// Track number of the lead-out (cuepoints and table-of-contents entries).
constexpr uint8_t LEADOUT_TRACK = 0xAA;

// DiscLayout::layout_flags
constexpr uint8_t LAYOUT_MCN = 0x01;  // catalog_number holds 13 digits

// TrackEntry::track_flags
constexpr uint8_t TRACK_DATA = 0x01;      // data track (control bit 4)
constexpr uint8_t TRACK_DCP = 0x02;       // digital copy permitted (control bit 2)
constexpr uint8_t TRACK_4CH = 0x04;       // four-channel audio (control bit 8)
constexpr uint8_t TRACK_PRE = 0x08;       // pre-emphasis (control bit 1)
constexpr uint8_t TRACK_INSERTED = 0x10;  // inserted by the source disc analysis
constexpr uint8_t TRACK_ISRC = 0x20;      // isrc holds a code
constexpr uint8_t TRACK_SCMS = 0x40;      // serial copy management (cue keyword "SCMS")

enum class TrackType : uint8_t { Audio = 0, Mode1 = 1, Mode2 = 2, Cdi = 3 };

enum class FileType : uint8_t { Wave = 1, Binary = 3 };

struct TrackEntry {
  uint32_t start = 0;       // LBA of index 1 from a table of contents; 0 when parsed
  uint32_t length = 0;      // parsed: frames the image file supplies
  uint32_t pregap = 0;      // generated pregap frames (first parsed track: 150 + PREGAP)
  uint32_t postgap = 0;     // generated postgap frames
  uint16_t block_size = 0;  // bytes per frame in the image file
  uint8_t read_from_disc = 0;
  uint8_t track_number = 0;  // binary 1..99, LEADOUT_TRACK for a lead-out entry
  uint8_t sector_mode = 0;   // 1 or 2 when detected on a data track
  TrackType track_type = TrackType::Audio;
  uint8_t track_flags = 0;
  std::array<char, 12> isrc{};  // no terminator; meaningful with TRACK_ISRC
  uint8_t session = 0;  // session number from a cue sheet's REM SESSION; 0 when none was given
};

// A text a cue sheet gives the disc or a track: a CD-TEXT or metadata
// command (PERFORMER, TITLE, SONGWRITER, ..., CDTEXTFILE) or a REM field
// (REM GENRE, REM DATE, REM REPLAYGAIN_TRACK_GAIN, ...), in sheet order.
struct SheetText {
  std::string keyword;  // upper case; for a REM field the word after REM
  std::string value;    // UTF-8, quotes removed and escaped quotes resolved
  bool rem = false;     // written as "REM keyword value"
};

struct CuePoint {
  uint8_t track = 0;   // BCD 01..99, or LEADOUT_TRACK
  uint8_t index = 0;   // BCD 00..99; the lead-out has 01
  uint8_t minute = 0;  // absolute time, binary values
  uint8_t second = 0;
  uint8_t frame = 0;
};

// Filled only by the source disc analysis; zero in parsed layouts.
struct SourceAnalysis {
  uint8_t audio_track_count = 0;
  uint8_t data_track_count = 0;
  uint32_t audio_pregap_start = 0;   // LBA where the first audio track's pregap begins
  uint32_t audio_pregap_length = 0;  // frames; 0 when there is none
};

struct DiscLayout {
  uint8_t first_track = 0;  // 1 from a disc, 0 when parsed
  uint8_t track_count = 0;
  uint8_t layout_flags = 0;
  uint32_t leadout_position = 0;          // LBA of the lead-out = total frames from LBA 0
  std::array<char, 13> catalog_number{};  // no terminator; meaningful with LAYOUT_MCN
  std::array<TrackEntry, MAX_TRACK_ENTRIES> tracks{};
  std::array<CuePoint, MAX_CUEPOINTS> cuepoints{};
  uint16_t cuepoint_count = 0;
  SourceAnalysis source_analysis{};
  // Texts of the disc (given before the first track) and of each track
  // entry; empty in layouts read from a disc.
  std::vector<SheetText> disc_texts;
  std::array<std::vector<SheetText>, MAX_TRACK_ENTRIES> track_texts;
};

// One image file named by a cue sheet.
struct ImageFile {
  std::string name;         // the name as written in the cue sheet, in upper case
  std::string path;         // the path that was opened; read the image through it
  std::string written;      // the name as the cue sheet writes it, for messages
  uint8_t first_track = 0;  // index into DiscLayout::tracks of its first track
  FileType file_type = FileType::Binary;
  uint8_t track_count = 0;   // tracks whose data come from this file
  uint32_t data_length = 0;  // image bytes: whole file (Binary), CD audio bytes (Wave)
  uint32_t data_offset = 0;  // offset of the first image byte in the file (0: decoded audio)
  // Wave: what the audio front end found the file to hold; read it through
  // AudioFile::open with this format.
  AudioFormat audio_format = AudioFormat::Unknown;
  // Frames of each of its tracks that the file holds, in track order. A
  // track may take its frames from two files: its index 0 at the end of one
  // and its index 1 at the start of the next. Empty: each track's length.
  std::vector<uint32_t> track_frames;
  bool first_track_continued = false;  // its first track began in the previous file
  bool last_track_goes_on = false;     // its last track goes on in the next file
};

// The cue sheet parser's result; owns its layout and file table.
struct CueSheetLayout {
  std::unique_ptr<DiscLayout> layout;
  std::vector<ImageFile> files;  // file_count entries, in cue sheet order
  uint16_t file_count = 0;
  uint16_t track_count = 0;
  uint16_t cuepoint_count = 0;     // lead-out included
  uint32_t total_image_bytes = 0;  // sum of the files' data lengths
  uint32_t total_frames = 0;       // = layout->leadout_position
  // One line (no line end) for each audio file converted to CD audio, in
  // cue sheet order, for the program to show (audio_conversion_warning).
  std::vector<std::string> warnings;
};

// A zero-filled layout.
std::unique_ptr<DiscLayout> create_disc_layout();

// Frames from cuepoint a to cuepoint b (b's absolute frames less a's), as an
// unsigned 32-bit value.
uint32_t cuepoint_distance(const CuePoint& a, const CuePoint& b);

// Absolute frames (minute * 4500 + second * 75 + frame) of a cuepoint.
uint32_t cuepoint_frames(const CuePoint& point);

// Writes a cuepoint: track and index in BCD, then the absolute time.
void fill_cuepoint(CuePoint* point, uint8_t track_bcd, uint8_t index_bcd, uint8_t minute,
                   uint8_t second, uint8_t frame);

// Numbers the layout's tracks from `first` on, in its tracks and cuepoints
// (the lead-out keeps its number).
void renumber_tracks(DiscLayout* layout, uint8_t first);

// Sets each parsed track's length from the cuepoints (the lead-out cuepoint
// must be the last in use): the frames from the track's first cuepoint to the
// next track's first cuepoint, less its pregap and postgap.
void compute_track_lengths(DiscLayout* layout);

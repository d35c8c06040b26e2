// The span extraction tool's work: settings from the command line, the
// checks, the drive, the span (MSF/LBA range or one track from the table of
// contents), the output file (WAV or binary, new or appended) and the read.
#pragma once

#include <cstdint>
#include <string>

#include "common/switches.h"
#include "engine/span_reading.h"

struct RipSpanSettings {
  std::string output;      // the one positional parameter
  uint32_t first_lba = 0;  // /START
  bool first_given = false;
  uint32_t last_lba = 0;  // /END
  bool last_given = false;
  uint16_t track = 0;          // /TRACK, 0: none
  bool address_given = false;  // /ID= or CDREADER_ID
  DeviceAddress address;
  bool append = false;                                                      // /APPEND
  bool logging = true;                                                      // cleared by /BATCH
  bool cdg = false;                                                         // /CDG
  bool data = false;                                                        // /DATA
  JitterMode jitter = JITTER_DRIVE_DEFAULT;                                 // /JC 2, /NOJC 1
  bool reset = false;                                                       // /RESET
  enum class Format { Chosen, Binary, Wav, Flac } format = Format::Chosen;  // /BIN, /WAV, /FLAC
  uint8_t speed_code = 255;                                                 // /SPEED, 255: maximum
  uint16_t block_length = 2352;                                             // /BLKLEN
  bool secure = false;                                                      // /SECURE
  unsigned retries = 20;                                                    // /RETRIES
  bool retries_given = false;
  int32_t offset = 0;  // /OFFSET, else CD_READ_OFFSET: the drive's read offset in samples
  bool offset_given = false;
  std::string accurip;  // /ACCURIP: a database entry file, as typed
};

// Parses the command line on top of the environment's settings
// (load_scsi_settings must have run: CDREADER_ID gives the default address;
// CD_READ_OFFSET the default /OFFSET, "Error: Illegal CD_READ_OFFSET value
// specified!\n" when it is not a number from -5000 to 5000). /SECURE,
// /RETRIES=n (0 to 1000), /OFFSET=n (-5000 to 5000) and /ACCURIP=file read
// audio only: with /DATA or /CDG "Error: /SECURE, /RETRIES, /OFFSET and
// /ACCURIP read audio only\n".
// Every refusal prints the tool's text and throws ToolExit{1} (a /BLKLEN
// that the mode does not read in: "Error: Illegal /BLKLEN value
// specified!\n", after the other checks); "/?" and an
// empty command line print the usage screen, wait for a key and throw
// ToolExit{1}. An output name ending in ".flac" (any case) chooses FLAC
// when no other format was asked for; FLAC holds audio only ("Error: A
// FLAC file holds audio only: /DATA and /CDG write binary or WAV files\n")
// and is never appended to ("Error: Cannot append to a FLAC file\n").
RipSpanSettings parse_rip_span_command_line(int argc, const char* const* argv);

// Installs the console texts of the reading events.
void install_rip_span_events();

// Runs the tool. The tool's own refusals print their text and throw
// ToolExit{1}; drive and file failures raise MSGVEC. The block length, the
// span (on the disc), the WAV size limit and the output (not a file of a
// disc on the bus) are checked before the output is made or emptied. A
// span that fails part-way, or that a signal ends before its next read,
// leaves what was written, with a WAV header that counts exactly the bytes
// in the file. An audio rip prints its report (audio_rip_report; with the
// disc's identifiers when it holds every audio track) when logging, or with
// /SECURE or /ACCURIP; a /ACCURIP file that cannot be read or parsed is
// refused before the output is made. Returns the exit status 0, or 1
// (after "Error: N suspicious positions ..." on standard error, with the
// output written) when a secure read left positions undecided.
int run_rip_span(const RipSpanSettings& settings);

// "/START=" or "/END=" values: MM:SS:FF (at least 00:02:00, at most
// 80:59:74) or an LBA; fewer than three numbers give the LBA of the first.
// Returns false when the text is no such value (the format error); prints
// `range_error` and throws ToolExit{1} for a time out of range.
bool parse_span_position(const std::string& value, const std::string& range_error, uint32_t* lba);

// True when a file name ends in ".flac", in any case, after at least one
// other character.
bool has_flac_extension(const std::string& name);

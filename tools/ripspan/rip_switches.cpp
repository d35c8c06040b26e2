// The span extraction tool's command line: switch table, value checks and
// the checks that follow the arguments.
#include <sstream>

#include "common/console.h"
#include "common/numbers.h"
#include "common/sector.h"
#include "common/text.h"
#include "common/timecode.h"
#include "tools/ripspan/rip_span.h"
#include "tools/shared/reader_choice.h"

namespace {

constexpr uint64_t MAX_LBA = 0xFFFFFFFF;
constexpr uint64_t MAX_SWITCH_NUMBER = 0xFFFF;  // the "%hu" values
constexpr unsigned MAX_MINUTES = 80;
constexpr unsigned MAX_SECONDS = 59;
constexpr unsigned MAX_FRAMES = 74;

// A "%hu" value read in full: digits only, at most 65535.
bool switch_number(const std::string& upper, const std::string& name, uint16_t* out) {
  std::string text;
  uint64_t value = 0;
  if (!switch_value(upper, name, &text) || !parse_decimal(text, MAX_SWITCH_NUMBER, &value))
    return false;
  *out = static_cast<uint16_t>(value);
  return true;
}

bool track_switch(const std::string& upper, uint16_t* track) {
  std::string text;
  uint64_t value = 0;
  if (!switch_value(upper, "/TRACK", &text) || text.empty()) return false;
  // Digits beyond the range are a number out of range, not a bad format.
  if (!parse_decimal(text, UINT64_MAX, &value)) {
    if (text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = UINT64_MAX;
  }
  if (value < 1 || value > 99) fail_with("Error: Illegal /TRACK number specified!\n");
  *track = static_cast<uint16_t>(value);
  return true;
}

SwitchRule position_switch(const std::string& name, const std::string& range_error, uint32_t* lba,
                           bool* given, const std::string& format_error) {
  return SwitchRule{name, true,
                    [name, range_error, lba, given](const std::string& upper) {
                      std::string value;
                      if (!switch_value(upper, name, &value)) return false;
                      if (!parse_span_position(value, range_error, lba)) return false;
                      *given = true;
                      return true;
                    },
                    format_error};
}

// Audio is read in 2352-byte blocks (/CDG reads 2448 whatever /BLKLEN
// says); data in 2048, 2336, 2340 or 2352.
bool block_length_readable(const RipSpanSettings& settings) {
  const uint16_t length = settings.block_length;
  if (!settings.data) return length == RAW_SECTOR_SIZE;
  return length == DATA_BLOCK_SIZE || length == 2336 || length == 2340 || length == RAW_SECTOR_SIZE;
}

}  // namespace

bool has_flac_extension(const std::string& name) {
  constexpr std::size_t LENGTH = 5;  // ".flac"
  return name.size() > LENGTH && upper_case(name.substr(name.size() - LENGTH)) == ".FLAC";
}

bool parse_span_position(const std::string& value, const std::string& range_error, uint32_t* lba) {
  std::vector<std::string> fields;
  std::stringstream stream(value);
  for (std::string field; std::getline(stream, field, ':');) fields.push_back(field);
  if (!value.empty() && value.back() == ':') return false;
  if (fields.empty() || fields.size() > 3) return false;
  uint64_t numbers[3] = {};
  for (std::size_t i = 0; i < fields.size(); ++i)
    if (!parse_decimal(fields[i], i == 0 && fields.size() < 3 ? MAX_LBA : UINT64_MAX, &numbers[i]))
      return false;
  if (fields.size() < 3) {
    *lba = static_cast<uint32_t>(numbers[0]);
    return true;
  }
  const uint64_t minutes = numbers[0], seconds = numbers[1], frames = numbers[2];
  if (minutes > MAX_MINUTES || seconds > MAX_SECONDS || frames > MAX_FRAMES ||
      (minutes == 0 && seconds < 2))
    fail_with(range_error);
  *lba = static_cast<uint32_t>(minutes * 60 * FRAMES_PER_SECOND + seconds * FRAMES_PER_SECOND +
                               frames - LBA_OFFSET_FRAMES);
  return true;
}

RipSpanSettings parse_rip_span_command_line(int argc, const char* const* argv) {
  RipSpanSettings settings;
  reader_address_from_environment(&settings.address_given, &settings.address);
  using Format = RipSpanSettings::Format;
  CommandLine rules;
  rules.tool_name = "RIPSPAN";
  rules.usage_key_pause = true;
  rules.usage_lines = {
      "Usage: RIPSPAN <imagefile> [/START=<start>] [/END=<end>] [/TRACK=n]\n",
      "         [/ID=ha:id:lun] [/APPEND] [/BATCH] [/CDG] [/DATA]\n",
      "         [/JC] [/NOJC] [/RESET] [/SPEED=n] [/BIN] [/WAV]\n",
      "imagefile - Output image data file\n",
      "/START    - Starting MSF/LBA (default is start of disc)\n",
      "/END      - Ending MSF/LBA (default is end of disc)\n",
      "/TRACK    - Copy specified track number (1 to 99)\n",
      "/ID       - SCSI ID of CDROM drive (default is first found)\n",
      "/APPEND   - Append data to existing file\n",
      "/BATCH    - Disable all logging messages\n",
      "/CDG      - Enable reading of CD+G subcodes\n",
      "/DATA     - Enable reading of raw (2352 byte) data sectors\n",
      "/JC       - Enable 'jitter' correction (audio only)\n",
      "/NOJC     - Disable 'jitter' correction (audio only)\n",
      "/RESET    - Reset device (workaround for firmware bugs)\n",
      "/SPEED=n  - Audio reading speed (default is maximum)\n",
      "/BIN      - Write output file in Intel binary format (default for data)\n",
      "/WAV      - Write output file in WAV format (default for audio)\n",
      "e.g. RIPSPAN /START=10:14:36 /END=13:55:11 /WAV TEST.WAV\n",
      "e.g. RIPSPAN /START=106232 /END=124443 /BIN TEST.BIN\n",
      "e.g. RIPSPAN /TRACK=5 /ID=0:3:0 /SPEED=4 /APPEND TRACK5.WAV\n",
  };
  RipSpanSettings& s = settings;
  rules.switches = {
      plain_switch("/APPEND", &s.append),
      plain_switch("/BATCH", &s.logging, false),
      plain_switch("/CDG", &s.cdg),
      plain_switch("/DATA", &s.data),
      plain_switch("/JC", [&s] { s.jitter = JITTER_ON; }),
      plain_switch("/NOJC", [&s] { s.jitter = JITTER_OFF; }),
      plain_switch("/RESET", &s.reset),
      plain_switch("/BIN", [&s] { s.format = Format::Binary; }),
      plain_switch("/WAV", [&s] { s.format = Format::Wav; }),
      plain_switch("/FLAC", [&s] { s.format = Format::Flac; }),
      // Matched by its first six characters, like the other value switches.
      SwitchRule{"/BLKLE", true,
                 [&s](const std::string& upper) {
                   return switch_number(upper, "/BLKLEN", &s.block_length);
                 },
                 "Error: Illegal /BLKLEN format!\n"},
      reading_speed_switch(&s.speed_code),
      SwitchRule{"/TRACK", true,
                 [&s](const std::string& upper) { return track_switch(upper, &s.track); },
                 "Error: Illegal /TRACK value format!\n"},
      position_switch("/START", "Error: Illegal MM:SS:FF value specified\n", &s.first_lba,
                      &s.first_given, "Error: Illegal /START value format!\n"),
      position_switch("/END", "Error: Illegal MM:SS:FF value specified!\n", &s.last_lba,
                      &s.last_given, "Error: Illegal /END value format!\n"),
      address_switch("/ID", &s.address, &s.address_given, "Error: Illegal /ID value format!\n"),
      plain_switch("/SECURE", &s.secure),
      retries_switch(&s.retries, &s.retries_given),
      read_offset_switch(&s.offset, &s.offset_given),
      SwitchRule{"/ACCURIP", true,
                 [&s](const std::string& typed) {
                   if (typed.size() <= 9 || typed[8] != '=') return false;
                   s.accurip = typed.substr(9);
                   return true;
                 },
                 "Error: Illegal /ACCURIP value format!\n", true},
  };
  rules.parameter_missing = {"Error: Output filename must be specified!\n"};
  const std::vector<std::string> parameters = parse_command_line(rules, argc, argv);
  settings.output = parameters.at(0);
  if (settings.first_given && settings.last_given && settings.first_lba > settings.last_lba)
    fail_with("Error: /START value is greater than /END value!\n");
  if (settings.data && settings.cdg) fail_with("Error: Cannot use both /DATA and /CDG\n");
  if ((settings.data || settings.cdg) && (settings.secure || settings.retries_given ||
                                          settings.offset_given || !settings.accurip.empty()))
    fail_with("Error: /SECURE, /RETRIES, /OFFSET and /ACCURIP read audio only\n");
  // The drive's offset of the environment applies to audio reads alone.
  if (!settings.offset_given && !settings.data && !settings.cdg)
    read_offset_from_environment(&settings.offset);
  if (!block_length_readable(settings)) fail_with("Error: Illegal /BLKLEN value specified!\n");
  if (settings.format == Format::Chosen && has_flac_extension(settings.output))
    settings.format = Format::Flac;
  if (settings.format == Format::Flac) {
    if (settings.data || settings.cdg)
      fail_with("Error: A FLAC file holds audio only: /DATA and /CDG write binary or WAV files\n");
    if (settings.append) fail_with("Error: Cannot append to a FLAC file\n");
  }
  return settings;
}

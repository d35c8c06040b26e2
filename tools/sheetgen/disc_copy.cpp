// sheetgen /COPY: the whole disc into one image file beside the cue sheet.
#include <memory>

#include "common/console.h"
#include "common/sector.h"
#include "common/text.h"
#include "engine/audio_rip.h"
#include "engine/disc_image.h"
#include "engine/rip_tags.h"
#include "tools/sheetgen/sheetgen.h"

namespace {

// How the copy reads the disc's audio: the one road of ripspan's audio,
// jitter-corrected on every drive (a drive that lands exactly costs two
// sectors of overlap a read) unless /SECURE proves it, corrected by the
// drive's read offset, with the checksums of what was read in `result`.
AudioSpanReader copy_audio_reader(const SheetGenSettings& settings, const DiscLayout& toc,
                                  AudioRipResult* result) {
  return [&settings, &toc, result](CdReader& reader, uint32_t first, uint32_t last,
                                   const SpanSink& sink, bool progress) {
    AudioRipOptions options;
    options.secure = settings.secure;
    options.retries = settings.retries;
    options.jitter = JITTER_ON;
    options.offset = settings.offset;
    options.progress = progress;
    *result = rip_audio(reader, toc, first, last, options, sink);
  };
}

}  // namespace

std::string copy_path(const SheetGenSettings& settings) {
  if (settings.copy.empty() || settings.copy.front() == '/') return settings.copy;
  const std::size_t slash = settings.cue_sheet.rfind('/');
  if (slash == std::string::npos) return settings.copy;
  return settings.cue_sheet.substr(0, slash + 1) + settings.copy;
}

RipFormat copy_format(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : upper_case(name.substr(dot));
  const bool named = dot != std::string::npos && dot != 0 && name[dot - 1] != '/';
  if (named && extension == ".BIN") return RipFormat::Binary;
  if (named && extension == ".WAV") return RipFormat::Wav;
  if (named && extension == ".FLAC") return RipFormat::Flac;
  fail_with("Error: /COPY file name must end in .bin, .wav or .flac\n");
}

std::size_t copy_disc(CdReader& reader, const DiscLayout& layout,
                      const SheetGenSettings& settings) {
  const RipFormat format = copy_format(settings.copy);
  if (format != RipFormat::Binary && layout.source_analysis.data_track_count > 0)
    fail_with("Error: A disc with data tracks can only be copied into a .bin file\n");
  const std::vector<ImageStretch> stretches = disc_image_stretches(reader, layout);
  if (stretches.empty())
    fail_with("Error: A disc of several sessions cannot be copied into one image file\n");
  const uint64_t bytes = uint64_t{RAW_SECTOR_SIZE} * layout.leadout_position;
  // The table of contents the checksums count by, with the tags' codes.
  const std::unique_ptr<DiscLayout> toc = read_disc_metadata(reader);
  const std::vector<AudioTag> tags =
      format == RipFormat::Flac ? disc_tags(*toc) : std::vector<AudioTag>{};
  reader.SetReadingSpeedNamed(settings.speed_code, true);
  RipOutput output(copy_path(settings), false, format, bytes, tags);
  AudioRipResult audio;
  try {
    read_disc_image(reader, stretches, copy_audio_reader(settings, *toc, &audio), output.sink(),
                    settings.logging);
  } catch (...) {
    output.finish_after_failure();
    throw;
  }
  output.finish();
  if (!audio.tracks.empty() && (settings.logging || settings.secure)) {
    std::string report = audio_rip_report(audio, *toc, settings.secure, settings.offset, nullptr);
    if (covers_every_audio_track(audio, *toc)) report += disc_identifier_report(*toc);
    out_text(report);
  }
  if (!audio.suspicious.empty())
    err_text(undecided_positions_text(audio.suspicious.size(), settings.retries));
  return audio.suspicious.size();
}

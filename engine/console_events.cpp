// The console texts of the recording and reading events.
#include <cstdio>

#include "common/console.h"
#include "engine/recording.h"

namespace {

unsigned long word(const RecordingEvent& event, unsigned i) { return event.args[i]; }

std::string event_text(const RecordingEvent& event) {
  switch (event.type) {
    case EVENT_READ_START:
    case EVENT_JITTER_READ_START:
      return format_text("Reading LBA %06lu to %06lu (%lu blocks)\n", word(event, 0),
                         word(event, 1),
                         static_cast<unsigned long>(event.args[1]) - event.args[0] + 1);
    case EVENT_READ_PROGRESS:
      return format_text("  LBA: %06lu to %06lu\r", word(event, 0), word(event, 1));
    case EVENT_JITTER_PROGRESS:
      return format_text("  LBA: %06lu to %06lu (Jitter: %d stereo samples)      \r",
                         word(event, 0), word(event, 1),
                         static_cast<int>(static_cast<int16_t>(event.args[2])));
    case EVENT_FILE_START:
      return format_text("Writing file \"%s\" (%lu blocks)\n", event.text ? event.text : "",
                         word(event, 0)) +
             " 0% completed.\r";
    case EVENT_TRACK_START:
      return format_text("Writing TRACK %02u (%lu blocks)\n", event.args[0], word(event, 1)) +
             " 0% completed.\r";
    case EVENT_FILE_PROGRESS:
    case EVENT_TRACK_PROGRESS: return format_text(" %u%% completed.\r", event.args[0]);
    case EVENT_FILE_END:
    case EVENT_TRACK_END: return " 100% completed.\n";
    case EVENT_RECORDING_DONE: return "CD successfully recorded!\n";
    case EVENT_PREGAP_START: return format_text("Writing pregap (%lu blocks)...", word(event, 0));
    case EVENT_POSTGAP_START: return format_text("Writing postgap (%lu blocks)...", word(event, 0));
    case EVENT_LEADIN_START: return "Writing leadin track...";
    case EVENT_LEADOUT_START: return "Writing leadout track...";
    case EVENT_FINALIZE_START:
      return format_text("\nFinalizing %s (writing leadin/leadout)...",
                         event.args[0] ? "SESSION" : "DISC");
    case EVENT_ANALYSIS_START: return "Analyzing disc layout... Please wait...\n";
    case EVENT_READ_END:
    case EVENT_JITTER_READ_END:
    case EVENT_PREGAP_END:
    case EVENT_POSTGAP_END:
    case EVENT_LEADIN_END:
    case EVENT_LEADOUT_END:
    case EVENT_FINALIZE_END: return "\n";
    default:  // 6, 25 and every type above 25
      return "";
  }
}

}  // namespace

int console_event_callback(const RecordingEvent& event) {
  const std::string text = event_text(event);
  if (!text.empty()) {
    out_text(text);
    std::fflush(stdout);
  }
  return 1;
}

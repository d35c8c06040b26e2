// Progress events of recording and reading: numbered events with up to eight
// 32-bit arguments, handed to the one process-wide callback that a tool
// installs. The recorder families send the lead-in, lead-out and finalize
// events themselves, so the mechanism lives with the drivers; the console
// texts are the engine's (console_event_callback in engine/recording.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>

// Event types. Each closing event (15, 17, 19, 21, 23) ends the line its
// opening event began.
enum RecordingEventType : uint16_t {
  EVENT_READ_START = 0,     // first LBA, last LBA
  EVENT_READ_PROGRESS = 1,  // LBA, LBA
  EVENT_READ_END = 2,
  EVENT_JITTER_READ_START = 3,  // first LBA, last LBA
  EVENT_JITTER_PROGRESS = 4,    // LBA, LBA, jitter (signed 16 bits)
  EVENT_JITTER_READ_END = 5,
  EVENT_DISC_AT_ONCE_START = 6,
  EVENT_RECORDING_DONE = 7,
  EVENT_FILE_START = 8,     // file name (see RecordingEvent::text), blocks
  EVENT_FILE_PROGRESS = 9,  // percent
  EVENT_FILE_END = 10,
  EVENT_TRACK_START = 11,     // track number, blocks
  EVENT_TRACK_PROGRESS = 12,  // percent
  EVENT_TRACK_END = 13,
  EVENT_PREGAP_START = 14,  // blocks
  EVENT_PREGAP_END = 15,
  EVENT_POSTGAP_START = 16,  // blocks
  EVENT_POSTGAP_END = 17,
  EVENT_LEADIN_START = 18,
  EVENT_LEADIN_END = 19,
  EVENT_LEADOUT_START = 20,
  EVENT_LEADOUT_END = 21,
  EVENT_FINALIZE_START = 22,  // session flag
  EVENT_FINALIZE_END = 23,
  EVENT_ANALYSIS_START = 24,
  EVENT_ANALYSIS_END = 25,
};

// What the callback receives: zero-filled, then the type, the count and the
// arguments in order. A file name (event 8) travels in `text`, which is null
// for every other event.
struct RecordingEvent {
  uint16_t type = 0;
  uint16_t arg_count = 0;
  std::array<uint32_t, 8> args{};
  const char* text = nullptr;
};

using EventCallback = std::function<int(const RecordingEvent&)>;

// Installs the one process-wide callback (replacing any other) / removes it.
void set_event_callback(EventCallback callback);
void clear_event_callback();

// Sends an event: 1 when no callback is installed, else what the callback
// returns. Arguments beyond eight are dropped.
int notify_event(uint16_t type, std::initializer_list<uint32_t> args = {});
// The same with a text argument (the file name of event 8) before the words.
int notify_text_event(uint16_t type, const char* text, std::initializer_list<uint32_t> args = {});

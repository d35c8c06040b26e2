#include "drivers/recording_events.h"

#include <utility>

namespace {

EventCallback& installed_callback() {
  static EventCallback callback;
  return callback;
}

}  // namespace

void set_event_callback(EventCallback callback) { installed_callback() = std::move(callback); }

void clear_event_callback() { installed_callback() = nullptr; }

int notify_event(uint16_t type, std::initializer_list<uint32_t> args) {
  return notify_text_event(type, nullptr, args);
}

int notify_text_event(uint16_t type, const char* text, std::initializer_list<uint32_t> args) {
  const EventCallback& callback = installed_callback();
  if (!callback) return 1;
  RecordingEvent event;
  event.type = type;
  event.text = text;
  for (uint32_t word : args) {
    if (event.arg_count == event.args.size()) break;
    event.args[event.arg_count++] = word;
  }
  return callback(event);
}

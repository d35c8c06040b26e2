#include "emulator/clock.h"

namespace {

uint64_t& now() {
  static uint64_t milliseconds = 0;
  return milliseconds;
}

}  // namespace

uint64_t emulated_clock_ms() { return now(); }

void advance_emulated_clock(unsigned milliseconds) { now() += milliseconds; }

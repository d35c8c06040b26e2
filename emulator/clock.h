// The emulated drives' clock: milliseconds of virtual time. It moves only
// when a program pauses while the emulated bus is in use (platform_sleep
// hands the pause to advance_emulated_clock), so that a drive that takes
// time, as one spinning up does, is seen to take it and nobody waits.
#pragma once

#include <cstdint>

// The virtual time now: the sum of every pause handed to the clock.
uint64_t emulated_clock_ms();

// Moves the clock on by `milliseconds`.
void advance_emulated_clock(unsigned milliseconds);

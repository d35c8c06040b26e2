// Blanking a rewritable disc before it is recorded again.
#pragma once

#include "drivers/recorder_driver.h"

// Blanks the disc in the recorder (RecorderDriver::BlankDisc); with
// `progress`, "Blanking the disc (FAST)... p%" (or FULL) rewritten in place
// and ended with a line end. Raises what the recorder raises.
void blank_disc(RecorderDriver& recorder, bool full, bool progress);

#include "engine/blanking.h"

#include <cstdio>

#include "common/console.h"

void blank_disc(RecorderDriver& recorder, bool full, bool progress) {
  const char* kind = full ? "FULL" : "FAST";
  if (progress) out_text(format_text("Blanking the disc (%s)...   0%%\r", kind));
  unsigned shown = 0;
  recorder.BlankDisc(full, [&](unsigned percent) {
    if (!progress || percent == shown || percent >= 100) return;
    shown = percent;
    out_text(format_text("Blanking the disc (%s)... %3u%%\r", kind, percent));
    std::fflush(stdout);
  });
  if (progress) out_text(format_text("Blanking the disc (%s)... 100%%\n", kind));
}

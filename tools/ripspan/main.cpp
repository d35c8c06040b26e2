// ripspan: copies a span of a disc into a WAV or binary file.
#include "common/console.h"
#include "scsi/settings.h"
#include "tools/ripspan/rip_span.h"
#include "tools/shared/drive_setup.h"

int main(int argc, char** argv) {
  return run_tool([&] {
    install_rip_span_events();
    install_drive_setup();
    load_scsi_settings();
    return run_rip_span(parse_rip_span_command_line(argc, argv));
  });
}

// cueburn: records discs from a cue sheet, disc-at-once or session-at-once.
#include "common/console.h"
#include "scsi/settings.h"
#include "tools/cueburn/cueburn.h"
#include "tools/shared/drive_setup.h"

int main(int argc, char** argv) {
  return run_tool([&] {
    install_drive_setup();
    load_scsi_settings();
    return run_cueburn(parse_cueburn_command_line(argc, argv));
  });
}

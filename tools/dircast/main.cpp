// dircast: records a directory tree as one ISO9660 data track, track at once.
#include "common/console.h"
#include "scsi/settings.h"
#include "tools/dircast/dircast.h"
#include "tools/shared/drive_setup.h"

int main(int argc, char** argv) {
  return run_tool([&] {
    install_drive_setup();
    load_scsi_settings();
    return run_dircast(parse_dircast_command_line(argc, argv));
  });
}

// discinfo: lists the table of contents of the disc in a CD drive.
#include "common/console.h"
#include "scsi/settings.h"
#include "tools/discinfo/disc_info.h"
#include "tools/shared/drive_setup.h"

int main(int argc, char** argv) {
  return run_tool([&] {
    install_drive_setup();
    load_scsi_settings();
    return run_disc_info(parse_disc_info_command_line(argc, argv));
  });
}

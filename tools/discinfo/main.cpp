// discinfo: lists the table of contents of the disc in a CD drive.
#include "common/console.h"
#include "drivers/disc_info.h"
#include "scsi/settings.h"

int main(int argc, char** argv) {
  return run_tool([&] {
    load_scsi_settings();
    return run_disc_info(parse_disc_info_command_line(argc, argv));
  });
}

// sheetgen: writes a cue sheet that describes the disc in a CD drive.
#include "common/console.h"
#include "engine/recording.h"
#include "scsi/settings.h"
#include "tools/shared/drive_setup.h"
#include "tools/sheetgen/sheetgen.h"

int main(int argc, char** argv) {
  return run_tool([&] {
    set_event_callback(console_event_callback);
    install_drive_setup();
    load_scsi_settings();
    const int status = run_sheet_gen(parse_sheet_gen_command_line(argc, argv));
    clear_event_callback();
    return status;
  });
}

// sectconv: turns an image of 2048-byte blocks into raw 2352-byte sectors.
#include "common/console.h"
#include "common/switches.h"
#include "tools/sectconv/raw_image.h"

int main(int argc, char** argv) {
  return run_tool([&] {
    RawImageSettings settings;
    bool mode2 = false;
    CommandLine rules;
    rules.tool_name = "SECTCONV";
    rules.usage_lines = {
        "Usage: SECTCONV <isofile> <rawfile> [/POSTGAP] [/SCRAMBLE]\n",
        "isofile   - ISO9660 input file (2048 byte sectors)\n",
        "rawfile   - RAW output file (2352 byte sectors)\n",
        "/MODE2    - Generate MODE2 sectors (default is MODE1)\n",
        "/POSTGAP  - Write 150 sector postgap to output file\n",
        "/SCRAMBLE - Scramble sectors\n",
    };
    rules.switches = {plain_switch("/MODE2", &mode2), plain_switch("/POSTGAP", &settings.postgap),
                      plain_switch("/SCRAMBLE", &settings.scramble)};
    rules.parameter_missing = {"Error: Input ISO filename must be specified!\n",
                               "Error: Output RAW filename must be specified!\n"};
    const std::vector<std::string> names = parse_command_line(rules, argc, argv);
    settings.input_name = names[0];
    settings.output_name = names[1];
    if (mode2) settings.sector_type = SECTOR_MODE2_FORM1;
    convert_image_file(settings);
    return 0;
  });
}

#include "common/console.h"
#include "iso9660/tool_switches.h"
#include "tools/dircast/dircast.h"
#include "tools/shared/recorder_choice.h"

DircastSettings parse_dircast_command_line(int argc, const char* const* argv) {
  DircastSettings settings;
  recorder_address_from_environment(&settings.address_given, &settings.address);
  CommandLine rules;
  rules.tool_name = "DIRCAST";
  rules.usage_lines = {
      "Usage: DIRCAST <pathname> [/ID=ha:id:lun] [/BATCH] [/NOCONFIRM]\n",
      "         [/NOFINALIZE] [/RECURSE] [/SESSION] [/SPEED=n] [/TEST]\n",
      "         [/VOLUME=label] [/HIDDEN] [/SYSTEM]\n",
      VOLUME_FORMAT_SYNOPSIS,
      "pathname    - Directory pathname (must end with '/')\n",
      "/ID         - SCSI ID of CD recorder (default is first found)\n",
      "/BATCH      - Disable all logging messages\n",
      "/NOCONFIRM  - Disable all confirmation prompts\n",
      "/NOFINALIZE - Disable session/disc finalization\n",
      "/RECURSE    - Recurse all subdirectories\n",
      "/SESSION    - Open new session after finalizing current session\n",
      "/SPEED=n    - Recording speed (default is maximum)\n",
      "/TEST       - Enable test recording mode\n",
      "/VOLUME     - Volume label (maximum 32 characters)\n",
      "/HIDDEN     - Process \"hidden\" files\n",
      "/SYSTEM     - Process \"system\" files\n",
  };
  const std::vector<std::string> extension_lines = volume_format_usage(12);
  rules.usage_lines.insert(rules.usage_lines.end(), extension_lines.begin(), extension_lines.end());
  rules.usage_lines.push_back("e.g. DIRCAST /DIR1/DIR2/ /ID=0:5:0\n");
  rules.usage_lines.push_back("e.g. DIRCAST // /RECURSE /VOLUME=MY_FILES\n");
  rules.switches = {
      address_switch("/ID", &settings.address, &settings.address_given,
                     "Error: Illegal /ID format!\n"),
      plain_switch("/BATCH",
                   [&settings] {
                     settings.logging = false;
                     settings.confirm = false;
                   }),
      plain_switch("/HIDDEN", &settings.include_hidden),
      plain_switch("/NOCONFIRM", &settings.confirm, false),
      plain_switch("/NOFINALIZE", &settings.finalize, false),
      plain_switch("/OVERBURN", &settings.overburn),
      plain_switch("/RECURSE", &settings.recurse),
      plain_switch("/SESSION", &settings.session),
      plain_switch("/SYSTEM", &settings.include_system),
      plain_switch("/TEST", &settings.test),
      recording_speed_switch(&settings.speed),
      volume_label_switch(&settings.label),
      verify_switch(&settings.verify),
      blank_switch(&settings.blank),
  };
  const std::vector<SwitchRule> extensions = volume_format_switches(&settings.format);
  rules.switches.insert(rules.switches.end(), extensions.begin(), extensions.end());
  rules.parameter_missing = {"Error: Filename must be specified!\n"};
  settings.source_path = parse_command_line(rules, argc, argv).at(0);
  check_volume_format(settings.format);
  return settings;
}

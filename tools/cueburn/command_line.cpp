#include <cstdio>

#include "common/console.h"
#include "common/text.h"
#include "tools/cueburn/cueburn.h"
#include "tools/shared/recorder_choice.h"

CueBurnSettings parse_cueburn_command_line(int argc, const char* const* argv) {
  CueBurnSettings settings;
  recorder_address_from_environment(&settings.address_given, &settings.address);
  CommandLine rules;
  rules.tool_name = "CUEBURN";
  rules.usage_lines = {
      "Usage: CUEBURN <cuefile> [/ID=ha:id:lun] [/BEEP] [/COPIES=n] [/EJECT]\n",
      "         [/NOCONFIRM] [/NOWARN] [/SESSION] [/SPEED=n] [/TEST]\n",
      "cuefile    - Cue sheet filename\n",
      "/ID        - SCSI ID of CD recorder (default is first found)\n",
      "/BEEP      - Issue an audible 'beep' when recording has finished\n",
      "/COPIES=n  - Number of discs to be recorded (default is 1)\n",
      "/EJECT     - Eject CD when recording has finished\n",
      "/NOCONFIRM - Disable all confirmation prompts\n",
      "/NOWARN    - Disable all warning messages\n",
      "/SESSION   - Enable session-at-once recording (default is disc-at-once)\n",
      "/SPEED=n   - Recording speed (default is maximum)\n",
      "/TEST      - Enable test recording mode\n",
  };
  rules.switches = {
      address_switch("/ID", &settings.address, &settings.address_given,
                     "Error: Illegal /ID format!\n"),
      checked_number_switch("/COPIES", &settings.copies, "Error: Illegal /COPIES format!\n",
                            [](uint16_t copies) {
                              if (copies == 0) fail_with("Error: Illegal copy count specified!\n");
                            }),
      plain_switch("/BEEP", &settings.beep),
      plain_switch("/EJECT", &settings.eject),
      plain_switch("/NOCDTEXT", &settings.cd_text, false),
      plain_switch("/NOCONFIRM", &settings.confirm, false),
      plain_switch("/NOWARN", &settings.warnings, false),
      plain_switch("/OVERBURN", &settings.overburn),
      plain_switch("/SESSION", &settings.session),
      recording_speed_switch(&settings.speed),
      plain_switch("/TEST", &settings.test),
      plain_switch("/TRANSPORT", &settings.transport),
      verify_switch(&settings.verify),
      blank_switch(&settings.blank),
  };
  // /BLANK=FAST or /BLANK=FULL alone blanks the disc and stops.
  bool blank_given = false;
  for (int i = 1; i < argc; ++i)
    if (argv[i] != nullptr && upper_case(argv[i]).rfind("/BLANK", 0) == 0) blank_given = true;
  const std::string missing = "Error: CUE SHEET filename must be specified!\n";
  rules.parameter_missing = {blank_given ? "" : missing};
  const std::vector<std::string> parameters = parse_command_line(rules, argc, argv);
  if (!parameters.empty()) settings.cue_sheet = parameters[0];
  if (settings.cue_sheet.empty() && settings.blank == BlankMode::None) fail_with(missing);
  return settings;
}

unsigned long image_megabytes(uint64_t total_bytes) {
  constexpr uint64_t MEGABYTE = 1048576;
  return static_cast<unsigned long>((total_bytes + MEGABYTE - 1) / MEGABYTE);
}

uint16_t recording_minutes(uint32_t total_frames, unsigned factor) {
  const uint64_t per_minute = 4500ull * factor;
  return static_cast<uint16_t>((total_frames + per_minute + 19999) / per_minute);
}

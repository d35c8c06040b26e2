#include "tools/shared/recording_options.h"

#include <algorithm>

#include "common/console.h"
#include "tools/shared/reader_choice.h"
#include "tools/shared/recorder_choice.h"

namespace {

// The factors of the speed codes 0 to 3.
constexpr uint16_t CODE_FACTORS[] = {1, 2, 4, 6};
constexpr uint8_t CODE_COUNT = 4;

}  // namespace

uint8_t clamp_speed_code(uint16_t speed, uint8_t max_write_speed) {
  return speed >= max_write_speed ? max_write_speed : static_cast<uint8_t>(speed);
}

unsigned speed_factor(uint8_t speed_code) {
  return speed_code < CODE_COUNT ? CODE_FACTORS[speed_code] : 1;
}

RecordingSpeed resolve_recording_speed(const RecorderDriver& recorder, uint16_t factor) {
  RecordingSpeed speed;
  const std::vector<uint8_t>& factors = recorder.writeSpeedFactors;
  if (!factors.empty()) {
    std::size_t pick = factors.size() - 1;
    if (factor != 0) {
      pick = 0;
      for (std::size_t i = 0; i < factors.size(); ++i)
        if (factors[i] <= factor) pick = i;
    }
    speed.speed = factors[pick];
    speed.factor = factors[pick];
    if (factor != 0 && factor != speed.factor)
      speed.note = format_text("Note: The CD-Recorder does not record at %ux: recording at %ux\n",
                               factor, speed.factor);
    return speed;
  }
  uint16_t code = 0xFF;  // the recorder's maximum
  if (factor != 0) {
    const uint16_t* found = std::find(CODE_FACTORS, CODE_FACTORS + CODE_COUNT, factor);
    if (found == CODE_FACTORS + CODE_COUNT)
      fail_with("Error: Illegal recording speed specified!\n");
    code = static_cast<uint16_t>(found - CODE_FACTORS);
  }
  speed.speed = clamp_speed_code(code, recorder.maxWriteSpeed);
  speed.factor = speed_factor(speed.speed);
  return speed;
}

std::string recorder_found_text(const RecorderDriver& recorder, const RecordingSpeed& speed) {
  std::string text = device_found_line(recorder);
  text.resize(text.size() - 2);  // its line end and the empty line
  if (!recorder.writeSpeedFactors.empty()) text += format_text(" at %ux", speed.factor);
  text += "\n";
  if (recorder.underrunProtection) text += "  Buffer underrun protection: on\n";
  return text + "\n";
}

SwitchRule verify_switch(VerifyChoice* choice) {
  return SwitchRule{"/VERIFY", true,
                    [choice](const std::string& upper) {
                      if (upper == "/VERIFY") {
                        choice->verify = true;
                        return true;
                      }
                      const std::string prefix = "/VERIFY=";
                      DeviceAddress address;
                      if (upper.compare(0, prefix.size(), prefix) != 0 ||
                          !parse_device_address(upper.substr(prefix.size()), 0xFFFF, &address))
                        return false;
                      choice->verify = true;
                      choice->address_given = true;
                      choice->address = address;
                      return true;
                    },
                    "Error: Illegal /VERIFY format!\n"};
}

CdReader& verifying_reader(const VerifyChoice& choice, RecorderDriver& recorder) {
  if (!choice.address_given) return recorder;
  return *choose_reader(true, choice.address);
}

SwitchRule blank_switch(BlankMode* mode) {
  return SwitchRule{"/BLANK", true,
                    [mode](const std::string& upper) {
                      if (upper == "/BLANK=FAST")
                        *mode = BlankMode::Fast;
                      else if (upper == "/BLANK=FULL")
                        *mode = BlankMode::Full;
                      else
                        return false;
                      return true;
                    },
                    "Error: Illegal /BLANK format!\n"};
}

void check_blanking(const RecorderDriver& recorder, BlankMode mode, bool test) {
  if (mode == BlankMode::None) return;
  if (!recorder.CanBlank()) fail_with("Error: CD-Recorder does not support blanking!\n");
  if (test) fail_with("Error: /BLANK erases the disc and cannot go with /TEST!\n");
}

#include "iso9660/tool_switches.h"

#include <algorithm>

#include "common/console.h"
#include "iso9660/level1_names.h"

SwitchRule volume_label_switch(std::string* label) {
  SwitchRule rule = text_switch("/VOLUME", label, "Error: Illegal /VOLUME format!\n");
  rule.apply = [scan = rule.apply, label](const std::string& upper) {
    if (!scan(upper)) return false;
    // The whole value, not only its first word: "/VOLUME=MY FILES" is refused.
    const std::string value = upper.substr(upper.find('=') + 1);
    if (value.size() > MAX_VOLUME_LABEL) fail_with("Error: Volume label is too long!\n");
    if (!std::all_of(value.begin(), value.end(), is_level1_character)) {
      fail_with(
          "Error: Illegal /VOLUME format!\nA volume label may hold only the letters A-Z, the "
          "digits 0-9 and "
          "'_'.\n");
    }
    return true;
  };
  return rule;
}

void check_source_path(const std::string& path) {
  if (path.empty() || path.back() != '/') fail_with("Error: Invalid pathname specification!\n");
}

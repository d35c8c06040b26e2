#include "iso9660/tool_switches.h"

#include "common/console.h"

SwitchRule volume_label_switch(std::string* label) {
  SwitchRule rule = text_switch("/VOLUME", label, "Error: Illegal /VOLUME format!\n");
  rule.apply = [scan = rule.apply, label](const std::string& upper) {
    if (!scan(upper)) return false;
    if (label->size() > MAX_VOLUME_LABEL) fail_with("Error: Volume label is too long!\n");
    return true;
  };
  return rule;
}

void check_source_path(const std::string& path) {
  if (path.empty() || path.back() != '/') fail_with("Error: Invalid pathname specification!\n");
}

#include "iso9660/tool_switches.h"

#include <algorithm>

#include "common/console.h"
#include "iso9660/level1_names.h"

SwitchRule volume_label_switch(std::string* label) {
  SwitchRule rule = text_switch("/VOLUME", label, "Error: Illegal /VOLUME format!\n");
  rule.apply = [scan = rule.apply](const std::string& upper) {
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

std::vector<SwitchRule> volume_format_switches(VolumeFormat* format) {
  SwitchRule load =
      number_switch("/BOOTLOAD", &format->boot_load_sectors, "Error: Illegal /BOOTLOAD format!\n");
  load.apply = [scan = load.apply, format](const std::string& upper) {
    return scan(upper) && format->boot_load_sectors != 0;
  };
  return {
      plain_switch("/JOLIET", &format->joliet),
      plain_switch("/ROCKRIDGE", &format->rock_ridge),
      plain_switch("/KEEPOWNERS", &format->keep_owners),
      plain_switch("/BOOTINFO", &format->boot_info),
      load,
      path_switch("/BOOT", &format->boot_path, "Error: Illegal /BOOT format!\n"),
  };
}

std::vector<std::string> volume_format_usage(std::size_t width) {
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"/JOLIET", "Add Joliet names (up to 64 Unicode characters)"},
      {"/ROCKRIDGE", "Add Rock Ridge names, modes, times, links, deep trees"},
      {"/KEEPOWNERS", "Keep owners and modes as they are (Rock Ridge only)"},
      {"/BOOT=path", "Boot image (path in the tree) for El Torito booting"},
      {"/BOOTLOAD=n", "512-byte sectors the BIOS loads (default is 4)"},
      {"/BOOTINFO", "Patch a boot information table into the boot image"},
  };
  std::vector<std::string> usage;
  for (const auto& [name, text] : lines)
    usage.push_back(name + std::string(width > name.size() ? width - name.size() : 1, ' ') + "- " +
                    text + "\n");
  return usage;
}

const char VOLUME_FORMAT_SYNOPSIS[] =
    "         [/JOLIET] [/ROCKRIDGE] [/KEEPOWNERS] [/BOOT=path] [/BOOTLOAD=n] [/BOOTINFO]\n";

void check_volume_format(const VolumeFormat& format) {
  if (format.keep_owners && !format.rock_ridge) fail_with("Error: /KEEPOWNERS needs /ROCKRIDGE!\n");
  if ((format.boot_load_sectors != 0 || format.boot_info) && !format.bootable())
    fail_with("Error: /BOOTLOAD and /BOOTINFO need /BOOT=path!\n");
}

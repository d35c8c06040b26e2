#include "tools/volbuild/volbuild.h"

#include <sys/stat.h>

#include "common/console.h"
#include "common/sector.h"
#include "common/switches.h"
#include "common/timecode.h"
#include "iso9660/emit.h"
#include "iso9660/image_sink.h"
#include "iso9660/layout.h"
#include "iso9660/tool_switches.h"
#include "iso9660/tree.h"

namespace {

std::vector<std::string> usage_lines() {
  std::vector<std::string> lines = {
      "Usage: VOLBUILD <pathname> <isofile> [/BATCH] [/RAW] [/RECURSE]\n",
      "         [/VOLUME=label] [/HIDDEN] [/SYSTEM]\n",
      VOLUME_FORMAT_SYNOPSIS,
      "pathname - Directory pathname (must end with '/')\n",
      "isofile  - Output ISO9660 image filename\n",
      "/BATCH   - Disable all logging messages\n",
      "/RAW     - Generate raw data sectors\n",
      "/RECURSE - Recurse all subdirectories\n",
      "/VOLUME  - Volume label (maximum 32 characters)\n",
      "/HIDDEN  - Process \"hidden\" files\n",
      "/SYSTEM  - Process \"system\" files\n",
  };
  const std::vector<std::string> extensions = volume_format_usage(13);
  lines.insert(lines.end(), extensions.begin(), extensions.end());
  lines.push_back("e.g. VOLBUILD /DIR1/DIR2/ TEST.ISO\n");
  lines.push_back("e.g. VOLBUILD /TEST/ TEST.ISO /RECURSE /VOLUME=MY_FILES\n");
  lines.push_back("e.g. VOLBUILD /TEST/ TEST.ISO /RECURSE /JOLIET /ROCKRIDGE\n");
  return lines;
}

}  // namespace

VolbuildSettings parse_volbuild_command_line(int argc, const char* const* argv) {
  VolbuildSettings settings;
  CommandLine rules;
  rules.tool_name = "VOLBUILD";
  rules.usage_lines = usage_lines();
  rules.switches = {
      plain_switch("/BATCH", &settings.logging, false),
      plain_switch("/HIDDEN", &settings.include_hidden),
      plain_switch("/RAW", &settings.raw),
      plain_switch("/RECURSE", &settings.recurse),
      plain_switch("/SYSTEM", &settings.include_system),
      volume_label_switch(&settings.label),
  };
  const std::vector<SwitchRule> extensions = volume_format_switches(&settings.format);
  rules.switches.insert(rules.switches.end(), extensions.begin(), extensions.end());
  rules.parameter_missing = {"Error: Filename must be specified!\n",
                             "Error: ISO filename must be specified!\n"};
  const std::vector<std::string> parameters = parse_command_line(rules, argc, argv);
  settings.source_path = parameters[0];
  settings.image_path = parameters[1];
  check_volume_format(settings.format);
  return settings;
}

int run_volbuild(const VolbuildSettings& settings) {
  check_source_path(settings.source_path);
  ScanOptions options;
  options.recurse = settings.recurse;
  options.include_hidden = settings.include_hidden;
  options.include_system = settings.include_system;
  options.format = settings.format;
  // An image being replaced inside the tree is left out of the volume: it is
  // about to be cut to nothing and rewritten.
  struct stat image {};
  if (stat(settings.image_path.c_str(), &image) == 0 && S_ISREG(image.st_mode)) {
    options.has_excluded_file = true;
    options.excluded_file = FileIdentity{image.st_dev, image.st_ino};
  }
  const std::unique_ptr<DirectoryNode> root = scan_tree(settings.source_path, options);
  const VolumeLayout layout = lay_out_volume(root.get());
  if (settings.raw && layout.volume_blocks > MAX_RAW_IMAGE_SECTORS) {
    fail_with(
        format_text("Error: Volume of %u blocks is too large for /RAW: raw sector addresses end at "
                    "99:59:74 (%u blocks)!\n",
                    layout.volume_blocks, static_cast<unsigned>(MAX_RAW_IMAGE_SECTORS)));
  }
  check_files_readable(*root);
  ImageFileSink sink(settings.image_path, settings.raw);
  try {
    emit_volume(layout, *root, settings.label, &sink, settings.logging);
    sink.finish();
  } catch (...) {
    err_text(format_text("Image file \"%s\" is incomplete.\n", settings.image_path.c_str()));
    throw;
  }
  return 0;
}

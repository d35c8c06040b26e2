// volbuild: builds an ISO9660 image file from a directory tree.
#include "common/console.h"
#include "tools/volbuild/volbuild.h"

int main(int argc, char** argv) {
  return run_tool([&] { return run_volbuild(parse_volbuild_command_line(argc, argv)); });
}

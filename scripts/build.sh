#!/usr/bin/env bash
# Configures and builds one build tree: build.sh <dir> [cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1; shift
. "$root/scripts/compiler_cache.sh"
# A tree configured with another compiler is configured afresh: CMake would
# otherwise drop the tree's settings with its cache and keep only the compiler.
for option in "$@"; do
  [[ $option == -DCMAKE_CXX_COMPILER=* ]] || continue
  wanted=$(command -v "${option#*=}" || echo "${option#*=}")
  cache="$root/$dir/CMakeCache.txt"
  if [ -f "$cache" ] && ! grep -qx "CMAKE_CXX_COMPILER:[A-Z]*=$wanted" "$cache"; then
    rm -rf "$cache" "$root/$dir/CMakeFiles"
  fi
done
cmake -S "$root" -B "$root/$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
ninja -C "$root/$dir" >/dev/null || ninja -C "$root/$dir"

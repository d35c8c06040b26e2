#!/usr/bin/env bash
# Builds the same directory trees with volbuild and with genisoimage, side by
# side, and prints the time of each and their ratio (volbuild / genisoimage;
# 1.0 or less means volbuild is at least as fast); then with /JOLIET
# /ROCKRIDGE against genisoimage -J -R, xorriso -as mkisofs -J -R and the
# time cat takes to read the tree's files.
#   volbuild_vs_genisoimage.sh [build-dir] [runs]
# Trees: 4,000 files in 40 folders (200 MB), and 20,000 small files. Both
# programs read the trees from the page cache (one untimed run first) and
# write their images into the same scratch folder; each time is the best of
# `runs` alternating runs (default 5).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-5}
volbuild=$build/bin/volbuild
[ -x "$volbuild" ] || { echo "no $volbuild: build the suite first" >&2; exit 1; }
command -v genisoimage >/dev/null || { echo "genisoimage is missing (scripts/setup.sh installs it)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/volbuild-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

. "$root/bench/trees.sh"

now() { date +%s.%N; }
# awk does the arithmetic: bc is not on every system.
calc() { awk "BEGIN { print $1 }"; }

# The best time of $runs runs of a command (after one untimed run).
best_of() {
  local best= t0 t1 elapsed i
  "$@" >/dev/null 2>&1
  for i in $(seq 1 "$runs"); do
    t0=$(now); "$@" >/dev/null 2>&1; t1=$(now)
    elapsed=$(calc "$t1 - $t0")
    if [ -z "$best" ] || [ "$(calc "$elapsed < $best")" = 1 ]; then best=$elapsed; fi
  done
  echo "$best"
}
blocks() { echo $(( $(stat -c %s "$1") / 2048 )); }
# Reads every file of a tree once: the floor no image builder can beat.
cat_tree() { find "$1" -type f -exec cat {} + >/dev/null; }

# Prints the best time of each program on one tree.
compare() {
  local name=$1 tree=$2 v g
  v=$(best_of "$volbuild" "$tree/" "$work/v.iso" /RECURSE /BATCH)
  g=$(best_of genisoimage -quiet -o "$work/g.iso" "$tree")
  printf '%-34s volbuild %7.3f s (%s blocks)  genisoimage %7.3f s (%s blocks)  ratio %.2f\n' \
    "$name" "$v" "$(blocks "$work/v.iso")" "$g" "$(blocks "$work/g.iso")" "$(calc "$v / $g")"
}

# The same with Joliet and Rock Ridge, against both other builders and the
# cat floor of the tree's files.
compare_extended() {
  local name=$1 tree=$2 v g x c
  v=$(best_of "$volbuild" "$tree/" "$work/v.iso" /RECURSE /BATCH /JOLIET /ROCKRIDGE)
  g=$(best_of genisoimage -quiet -J -R -o "$work/g.iso" "$tree")
  c=$(best_of cat_tree "$tree")
  printf '%-34s /JOLIET /ROCKRIDGE %7.3f s (%s blocks)  genisoimage -J -R %7.3f s (%s blocks)  ratio %.2f  cat %7.3f s  ratio %.2f\n' \
    "$name" "$v" "$(blocks "$work/v.iso")" "$g" "$(blocks "$work/g.iso")" "$(calc "$v / $g")" "$c" "$(calc "$v / $c")"
  if command -v xorriso >/dev/null; then
    x=$(best_of xorriso -as mkisofs -quiet -J -R -o "$work/x.iso" "$tree")
    printf '%-34s xorriso -as mkisofs -J -R %7.3f s (%s blocks)  ratio %.2f\n' \
      "" "$x" "$(blocks "$work/x.iso")" "$(calc "$v / $x")"
  fi
}

echo "making the trees in $work ..."
mkdir "$work/large" "$work/small"
make_large_tree "$work/large"
make_small_tree "$work/small"
compare "4,000 files in 40 folders, 200 MB" "$work/large"
compare "20,000 small files" "$work/small"
compare_extended "4,000 files in 40 folders, 200 MB" "$work/large"
compare_extended "20,000 small files" "$work/small"

#!/usr/bin/env bash
# Builds the same directory trees with volbuild and with genisoimage, side by
# side, and prints the time of each and their ratio (volbuild / genisoimage;
# 1.0 or less means volbuild is at least as fast).
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

# Prints the best time of $runs runs of each program on one tree.
compare() {
  local name=$1 tree=$2 best_v= best_g= t0 t1 elapsed i
  "$volbuild" "$tree/" "$work/v.iso" /RECURSE /BATCH
  genisoimage -quiet -o "$work/g.iso" "$tree" 2>/dev/null
  for i in $(seq 1 "$runs"); do
    t0=$(now); "$volbuild" "$tree/" "$work/v.iso" /RECURSE /BATCH; t1=$(now)
    elapsed=$(calc "$t1 - $t0")
    if [ -z "$best_v" ] || [ "$(calc "$elapsed < $best_v")" = 1 ]; then best_v=$elapsed; fi
    t0=$(now); genisoimage -quiet -o "$work/g.iso" "$tree" 2>/dev/null; t1=$(now)
    elapsed=$(calc "$t1 - $t0")
    if [ -z "$best_g" ] || [ "$(calc "$elapsed < $best_g")" = 1 ]; then best_g=$elapsed; fi
  done
  printf '%-34s volbuild %7.3f s (%s blocks)  genisoimage %7.3f s (%s blocks)  ratio %.2f\n' \
    "$name" "$best_v" "$(( $(stat -c %s "$work/v.iso") / 2048 ))" "$best_g" \
    "$(( $(stat -c %s "$work/g.iso") / 2048 ))" "$(calc "$best_v / $best_g")"
}

echo "making the trees in $work ..."
mkdir "$work/large" "$work/small"
make_large_tree "$work/large"
make_small_tree "$work/small"
compare "4,000 files in 40 folders, 200 MB" "$work/large"
compare "20,000 small files" "$work/small"

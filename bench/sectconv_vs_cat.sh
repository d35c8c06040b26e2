#!/usr/bin/env bash
# sectconv on a 200 MB image against cat of the same image into a file, run
# side by side (alternating, best of a few rounds each), and the ratio of
# their times.
#   bench/sectconv_vs_cat.sh [build-dir] [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
rounds=${2:-5}
if [ ! -x "$build/bin/sectconv" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCDM_BENCH=ON >/dev/null
  ninja -C "$build" sectconv >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/sectconv-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
blocks=$((200 * 1000 * 1000 / 2048))
head -c $((blocks * 2048)) /dev/urandom > "$work/in.iso"

. "$root/bench/timing.sh"

best_cat=0
best_conv=0
for _ in $(seq "$rounds"); do
  rm -f "$work/out.cat" "$work/out.bin"
  t=$(nanoseconds_to "$work/out.cat" cat "$work/in.iso")
  if [ "$best_cat" = 0 ] || [ "$t" -lt "$best_cat" ]; then best_cat=$t; fi
  rm -f "$work/out.cat"
  t=$(nanoseconds_to /dev/null "$build/bin/sectconv" "$work/in.iso" "$work/out.bin")
  if [ "$best_conv" = 0 ] || [ "$t" -lt "$best_conv" ]; then best_conv=$t; fi
  rm -f "$work/out.bin"
done
awk -v blocks="$blocks" -v c="$best_cat" -v s="$best_conv" 'BEGIN {
  printf "input      %d MB (%d blocks of 2048 bytes)\n", blocks * 2048 / 1e6, blocks
  printf "cat        %.3f s\n", c / 1e9
  printf "sectconv   %.3f s (%d MB written)\n", s / 1e9, blocks * 2352 / 1e6
  printf "ratio      %.2f (sectconv / cat; target 1.5 or less)\n", s / c
}'

#!/usr/bin/env bash
# sheetgen /SUBCODE=ALL on a 74-minute audio disc of 20 tracks in the
# emulated CD-ROM drive (every sector of the audio area read with its Q
# subchannel) beside cat of the disc's image to /dev/null, run side by side
# (alternating, best of a few rounds each), and the ratio of their times.
#   bench/sheetgen_vs_cat.sh [build-dir] [rounds]
# Needs about 800 MB in TMPDIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
rounds=${2:-3}
. "$root/bench/timing.sh"
build_program "$build" sheetgen
work=$(mktemp -d "${TMPDIR:-/tmp}/sheetgen-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
frames=333000
tracks=20
write_indexed_disc "$work" "$frames" "$tracks"

best_cat=0
best_sheet=0
for _ in $(seq "$rounds"); do
  t=$(nanoseconds cat "$work/disc.bin")
  if [ "$best_cat" = 0 ] || [ "$t" -lt "$best_cat" ]; then best_cat=$t; fi
  rm -f "$work/out.cue"
  t=$(EMULATED_SCSI_BUS="0:3:0=CD-ROM PX-12CS,medium=$work/disc.cue" \
      nanoseconds "$build/bin/sheetgen" "$work/out.cue" /SUBCODE=ALL /BATCH)
  if [ "$best_sheet" = 0 ] || [ "$t" -lt "$best_sheet" ]; then best_sheet=$t; fi
  indexes=$(grep -c 'INDEX' "$work/out.cue")
  [ "$indexes" = $((tracks * 3 - 1)) ] || { echo "sheetgen found $indexes indexes, not $((tracks * 3 - 1))" >&2; exit 1; }
done
awk -v frames="$frames" -v c="$best_cat" -v s="$best_sheet" 'BEGIN {
  printf "image      %d MB (%d frames of 2352 bytes)\n", frames * 2352 / 1e6, frames
  printf "cat        %.3f s\n", c / 1e9
  printf "sheetgen   %.3f s (/SUBCODE=ALL)\n", s / 1e9
  printf "ratio      %.2f (sheetgen / cat; target 3 or less)\n", s / c
}'

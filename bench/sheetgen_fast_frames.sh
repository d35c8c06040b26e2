#!/usr/bin/env bash
# sheetgen /SUBCODE=FAST beside /SUBCODE=ALL on a 74-minute audio disc of 20
# tracks (two-second pregaps, an index 2 a minute into each track) in the
# emulated CD-ROM drive: the sectors each reads, counted by the drive
# (read_count=), less those the analysis reads without a scan, as a share
# of the disc's frames, their times, and a check that the two sheets agree.
#   bench/sheetgen_fast_frames.sh [build-dir]
# Needs about 800 MB in TMPDIR.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
. "$root/bench/timing.sh"
build_program "$build" sheetgen
work=$(mktemp -d "${TMPDIR:-/tmp}/sheetgen-fast-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
frames=333000
tracks=20
write_indexed_disc "$work" "$frames" "$tracks"

declare -A read_by time_of
for mode in NONE ALL FAST; do
  time_of[$mode]=$(EMULATED_SCSI_BUS="0:3:0=CD-ROM PX-12CS,medium=$work/disc.cue,read_count=$work/$mode.count" \
    nanoseconds "$build/bin/sheetgen" "$work/$mode.cue" "/SUBCODE=$mode" /BATCH)
  read_by[$mode]=$(cat "$work/$mode.count")
done
cmp -s "$work/ALL.cue" "$work/FAST.cue" || { echo "the FAST sheet differs from the ALL sheet" >&2; diff "$work/ALL.cue" "$work/FAST.cue" >&2; exit 1; }
awk -v frames="$frames" -v n="${read_by[NONE]}" -v a="${read_by[ALL]}" -v f="${read_by[FAST]}" \
    -v ta="${time_of[ALL]}" -v tf="${time_of[FAST]}" 'BEGIN {
  printf "disc        %d frames, %d tracks; the analysis alone reads %d\n", frames, 20, n
  printf "/SUBCODE=ALL   %7d frames read by the scan (%.2f%%), %.2f s\n", a - n, 100 * (a - n) / frames, ta / 1e9
  printf "/SUBCODE=FAST  %7d frames read by the search (%.3f%%; target 5%% or less), %.2f s\n", f - n, 100 * (f - n) / frames, tf / 1e9
  printf "same sheet     yes\n"
}'

#!/usr/bin/env bash
# ripspan copying a 650 MB audio disc from the emulated CD-ROM drive into a
# WAV file with jitter correction on, beside cp of the disc's image file, run
# side by side (alternating, best of a few rounds each): once from a drive
# that lands every read exactly, once from one whose reads land up to 30
# stereo samples off. Prints the times and the ratios to cp.
#   bench/ripspan_vs_cp.sh [build-dir] [rounds]
# Needs about 2 GB in TMPDIR (the image, one copy, one WAV file).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
rounds=${2:-3}
if [ ! -x "$build/bin/ripspan" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCDM_BENCH=ON >/dev/null
  ninja -C "$build" ripspan >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/ripspan-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
frames=$((650 * 1000 * 1000 / 2352))
# Audio that is never digital silence, so that every batch has a reference.
head -c $((frames * 2352)) /dev/urandom > "$work/disc.bin"
printf 'FILE "disc.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' > "$work/disc.cue"

. "$root/bench/timing.sh"

# The best time of ripspan from a drive with the given extra bus items into
# the variable `best`, and of cp (run before each) into `best_cp`.
best_cp=0
rip_with() {
  local items=$1 t
  best=0
  for _ in $(seq "$rounds"); do
    rm -f "$work/copy.bin" "$work/out.wav"
    t=$(nanoseconds cp --reflink=never "$work/disc.bin" "$work/copy.bin")
    if [ "$best_cp" = 0 ] || [ "$t" -lt "$best_cp" ]; then best_cp=$t; fi
    rm -f "$work/copy.bin"
    t=$(EMULATED_SCSI_BUS="0:3:0=MYSTERY CDROM,medium=$work/disc.cue$items" \
        nanoseconds "$build/bin/ripspan" "$work/out.wav" /JC /BATCH)
    if [ "$best" = 0 ] || [ "$t" -lt "$best" ]; then best=$t; fi
    cmp -s <(tail -c +45 "$work/out.wav") "$work/disc.bin" || { echo "ripspan$items: the WAV samples differ from the image" >&2; exit 1; }
    rm -f "$work/out.wav"
  done
}
rip_with ""
exact=$best
rip_with ",jitter=30,seed=7"
jitter=$best
awk -v frames="$frames" -v c="$best_cp" -v e="$exact" -v j="$jitter" 'BEGIN {
  printf "image          %d MB (%d frames of 2352 bytes)\n", frames * 2352 / 1e6, frames
  printf "cp             %.3f s\n", c / 1e9
  printf "ripspan /JC    %.3f s   ratio %.2f (target 2 or less)\n", e / 1e9, e / c
  printf "  jitter 30    %.3f s   ratio %.2f (target 2.5 or less)\n", j / 1e9, j / c
}'

#!/usr/bin/env bash
# cueburn /NOCONFIRM of a 650 MB cue sheet (an audio file and a 2352-byte
# MODE1 file) to an emulated recorder, against cp of the same two files on
# the same file system, run side by side (alternating, best of a few rounds
# each): the ratio of their times and cueburn's peak resident memory.
#   bench/cueburn_vs_cp.sh [build-dir] [rounds]
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/mixed_album.sh"

. "$root/bench/timing.sh"

best_cp=0
best_burn=0
rss=0
for _ in $(seq "$rounds"); do
  rm -f "$work"/copy.* "$work"/burned.*
  mkdir -p "$work/copy.dir"
  t=$(nanoseconds cp "$work/data.bin" "$work/audio.bin" "$work/copy.dir")
  if [ "$best_cp" = 0 ] || [ "$t" -lt "$best_cp" ]; then best_cp=$t; fi
  rm -rf "$work/copy.dir"
  t=$(cd "$work" && EMULATED_SCSI_BUS="0:4:0=CDD2000,medium=$work/burned" \
      nanoseconds /usr/bin/time -v -o "$work/time.txt" "$build/bin/cueburn" disc.cue /NOCONFIRM)
  if [ "$best_burn" = 0 ] || [ "$t" -lt "$best_burn" ]; then best_burn=$t; fi
  kb=$(awk -F: '/Maximum resident/ {print $2 + 0}' "$work/time.txt")
  if [ "$kb" -gt "$rss" ]; then rss=$kb; fi
done
awk -v mb="$(( (audio_frames + data_frames) * 2352 / 1000000 ))" -v c="$best_cp" -v b="$best_burn" \
    -v rss="$rss" 'BEGIN {
  printf "input      %d MB (audio and MODE1/2352 files)\n", mb
  printf "cp         %.3f s\n", c / 1e9
  printf "cueburn    %.3f s, peak resident %.1f MB\n", b / 1e9, rss / 1024
  printf "ratio      %.2f (cueburn / cp; target 1.5 or less, resident under 64 MB)\n", b / c
}'

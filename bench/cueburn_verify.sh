#!/usr/bin/env bash
# cueburn /NOCONFIRM /VERIFY of a 650 MB cue sheet (a 2352-byte MODE1 file
# and an audio file) to an emulated MMC recorder, against cueburn without
# /VERIFY followed by cmp of the recorded image with the two files, run side
# by side (alternating, best of a few rounds each): the ratio of the times.
#   bench/cueburn_verify.sh [build-dir] [rounds]
set -euo pipefail
shopt -s inherit_errexit
source "$(dirname "$0")/mixed_album.sh"
bus="0:4:0=MMC CD-RW DRIVE,capacity=80,medium=$work/burned"
# The audio follows the data and its 150-block generated pregap.
audio_at=$(( (data_frames + 150) * 2352 ))

. "$root/bench/timing.sh"

burn() { (cd "$work" && EMULATED_SCSI_BUS="$bus" "$build/bin/cueburn" disc.cue /NOCONFIRM "$@"); }
burn_and_cmp() {
  burn
  cmp -n $((data_frames * 2352)) "$work/data.bin" "$work/burned.bin"
  cmp -n $((audio_frames * 2352)) "$work/audio.bin" "$work/burned.bin" 0 "$audio_at"
}

best_plain=0
best_verify=0
for _ in $(seq "$rounds"); do
  rm -f "$work"/burned.*
  t=$(nanoseconds burn_and_cmp)
  if [ "$best_plain" = 0 ] || [ "$t" -lt "$best_plain" ]; then best_plain=$t; fi
  rm -f "$work"/burned.*
  t=$(nanoseconds burn /VERIFY)
  if [ "$best_verify" = 0 ] || [ "$t" -lt "$best_verify" ]; then best_verify=$t; fi
done
awk -v mb="$(( (audio_frames + data_frames) * 2352 / 1000000 ))" -v p="$best_plain" \
    -v v="$best_verify" 'BEGIN {
  printf "input            %d MB (MODE1/2352 and audio files)\n", mb
  printf "cueburn + cmp    %.3f s\n", p / 1e9
  printf "cueburn /VERIFY  %.3f s\n", v / 1e9
  printf "ratio            %.2f (/VERIFY against cueburn and cmp; target 1.1 or less)\n", v / p
}'

#!/usr/bin/env bash
# ripspan copying a 650 MB audio disc from the emulated CD-ROM drive into a
# FLAC file beside the same copy into a WAV file (alternating, best of a
# few rounds each), with jitter correction on, and the ratio of their
# times; the FLAC file is decoded by flac -d and compared with the image.
# The audio is music-like (a few tones and a little noise, as sox makes
# it), so that the encoder works as it does on a real disc.
#   bench/ripspan_flac_vs_wav.sh [build-dir] [rounds]
# Needs about 2.5 GB in TMPDIR (the image, the WAV and FLAC files, the decoded copy).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
rounds=${2:-3}
. "$root/bench/timing.sh"
build_program "$build" ripspan
work=$(mktemp -d "${TMPDIR:-/tmp}/ripspan-flac-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
seconds=3684  # 650 MB of CD audio
sox -q -n -r 44100 -b 16 -c 2 -e signed -t raw "$work/disc.bin" \
  synth "$seconds" sine 220 sine 331 synth pinknoise amod 0.3 vol 0.5
frames=$(($(stat -c %s "$work/disc.bin") / 2352))
truncate -s $((frames * 2352)) "$work/disc.bin"
printf 'FILE "disc.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' > "$work/disc.cue"
bus="0:3:0=MYSTERY CDROM,medium=$work/disc.cue"

best_wav=""
best_flac=""
for _ in $(seq "$rounds"); do
  rm -f "$work/out.wav" "$work/out.flac"
  t=$(EMULATED_SCSI_BUS=$bus timed "$build/bin/ripspan" "$work/out.wav" /JC /BATCH)
  best_wav=$(best_times "$best_wav" "$t")
  rm -f "$work/out.wav"
  t=$(EMULATED_SCSI_BUS=$bus timed "$build/bin/ripspan" "$work/out.flac" /JC /BATCH)
  best_flac=$(best_times "$best_flac" "$t")
done
flac -d -f -s --force-raw-format --endian=little --sign=signed -o "$work/decoded.raw" "$work/out.flac"
cmp -s "$work/decoded.raw" "$work/disc.bin" || { echo "the FLAC file does not decode to the disc" >&2; exit 1; }
flac_size=$(stat -c %s "$work/out.flac")
awk -v frames="$frames" -v w="$best_wav" -v f="$best_flac" -v size="$flac_size" 'BEGIN {
  split(w, a, " "); split(f, b, " ")
  printf "image         %d MB (%d frames of 2352 bytes)\n", frames * 2352 / 1e6, frames
  printf "ripspan WAV   %.2f s elapsed, %.2f s CPU\n", a[1], a[2]
  printf "ripspan FLAC  %.2f s elapsed, %.2f s CPU (file %d MB, %.0f%% of the audio)\n", b[1], b[2], size / 1e6, 100 * size / (frames * 2352)
  printf "ratio         %.2f elapsed (FLAC / WAV; target 1.25 or less)\n", b[1] / a[1]
}'

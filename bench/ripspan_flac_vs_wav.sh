#!/usr/bin/env bash
# ripspan copying a 650 MB audio disc from the emulated CD-ROM drive into a
# FLAC file beside the same copy into a WAV file (alternating, best of a
# few rounds each), with jitter correction on, and the ratio of their
# times; the FLAC file is decoded by flac -d and compared with the image.
# The audio is music-like (a few tones and a little noise, as sox makes
# it), so that the encoder works as it does on a real disc.
#
# Two pairings: the drive handing over its image at memory speed (no drive
# is that fast: what is left is the encoder's own CPU time against a copy),
# and the drive taking a millisecond of real time for every command (bus
# item latency=1), still several times the pace of the fastest real drive
# (52x, 7.8 MB/s): there the encoding thread runs beside the reads.
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

# Best "elapsed cpu" of the WAV and of the FLAC copies, alternating, from
# the drive at bus item $1: prints "wav-elapsed wav-cpu flac-elapsed flac-cpu".
pairing() {
  local drive=$1 best_wav="" best_flac="" t
  for _ in $(seq "$rounds"); do
    rm -f "$work/out.wav" "$work/out.flac"
    t=$(EMULATED_SCSI_BUS=$drive timed "$build/bin/ripspan" "$work/out.wav" /JC /BATCH)
    best_wav=$(best_times "$best_wav" "$t")
    rm -f "$work/out.wav"
    t=$(EMULATED_SCSI_BUS=$drive timed "$build/bin/ripspan" "$work/out.flac" /JC /BATCH)
    best_flac=$(best_times "$best_flac" "$t")
  done
  echo "$best_wav $best_flac"
}
memory=$(pairing "$bus")
paced=$(pairing "$bus,latency=1")
flac -d -f -s --force-raw-format --endian=little --sign=signed -o "$work/decoded.raw" "$work/out.flac"
cmp -s "$work/decoded.raw" "$work/disc.bin" || { echo "the FLAC file does not decode to the disc" >&2; exit 1; }
flac_size=$(stat -c %s "$work/out.flac")
awk -v frames="$frames" -v m="$memory" -v p="$paced" -v size="$flac_size" '
function report(name, times,   t, rate) {
  split(times, t, " ")
  rate = frames * 2352 / t[1]
  printf "drive at %s: %.1f MB/s, %.0f times a 52x drive\n", name, rate / 1e6, rate / (52 * 75 * 2352)
  printf "  ripspan WAV   %.2f s elapsed, %.2f s CPU\n", t[1], t[2]
  printf "  ripspan FLAC  %.2f s elapsed, %.2f s CPU\n", t[3], t[4]
  printf "  ratio         %.2f elapsed (FLAC / WAV; target 1.25 or less)\n", t[3] / t[1]
}
BEGIN {
  printf "image         %d MB (%d frames of 2352 bytes); FLAC file %d MB, %.0f%% of the audio\n", frames * 2352 / 1e6, frames, size / 1e6, 100 * size / (frames * 2352)
  report("memory speed", m)
  report("latency=1", p)
}'

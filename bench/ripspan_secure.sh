#!/usr/bin/env bash
# ripspan /SECURE copying a 650 MB audio disc from the emulated MMC CD-ROM
# drive, whose 1 MiB read cache hands back a sector's earlier read until
# other reads flush it: the sectors the drive delivered (counted by the
# drive itself, read_count=) for each sector of the copy, once from a clean
# disc, once from one with 20 scratched sectors (which read wrong, with C2
# pointers, three reads in four). Both copies must equal the image.
#   bench/ripspan_secure.sh [build-dir]
# Targets: 2.05 sectors read per sector delivered on the clean disc (two
# passes are 2.0), 2.10 on the scratched one. Exits 1 when one is missed.
# Needs about 1.4 GB in TMPDIR (the image and one copy).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bin/ripspan" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCDM_BENCH=ON >/dev/null
  ninja -C "$build" ripspan >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/ripspan-secure.XXXXXX")
trap 'rm -rf "$work"' EXIT
frames=$((650 * 1000 * 1000 / 2352))
head -c $((frames * 2352)) /dev/urandom > "$work/disc.bin"
printf 'FILE "disc.bin" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n' > "$work/disc.cue"

# Sectors read per sector delivered by a secure copy from a drive with the
# given extra bus items, into `ratio`.
secure_copy() {
  local items=$1 status=0 reads
  rm -f "$work/out.bin" "$work/count"
  EMULATED_SCSI_BUS="0:3:0=MMC CD-ROM DRIVE,medium=$work/disc.cue,cache=1,read_count=$work/count$items" \
    "$build/bin/ripspan" "$work/out.bin" /BIN /BATCH /SECURE >/dev/null || status=$?
  [ "$status" = 0 ] || { echo "ripspan /SECURE$items ended with status $status" >&2; exit 1; }
  cmp -s "$work/out.bin" "$work/disc.bin" || { echo "ripspan /SECURE$items: the copy differs from the image" >&2; exit 1; }
  reads=$(cat "$work/count")
  ratio=$(awk -v r="$reads" -v f="$frames" 'BEGIN { printf "%.4f", r / f }')
}
secure_copy ""
clean=$ratio
secure_copy ",scratch=$((frames / 2))-$((frames / 2 + 19))"
scratched=$ratio
awk -v frames="$frames" -v c="$clean" -v s="$scratched" 'BEGIN {
  printf "disc              %d MB (%d frames of 2352 bytes)\n", frames * 2352 / 1e6, frames
  printf "clean             %.4f sectors read per sector (target 2.05 or less)\n", c
  printf "20 scratched      %.4f sectors read per sector (target 2.10 or less)\n", s
  exit (c > 2.05 || s > 2.10) ? 1 : 0
}'

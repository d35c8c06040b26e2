#!/usr/bin/env bash
# dircast /BATCH of the 200 MB tree (4,000 files in 40 folders) to an
# emulated recorder, against volbuild /BATCH of the same tree into an image
# file on the same file system, run side by side (alternating, best of a few
# rounds each): the ratio of their times (also against volbuild /RAW, which
# encodes and writes 2352-byte sectors as the emulated recorder does), and
# dircast's peak resident memory for that tree and for one a quarter its size
# (flat: the volume is never stored).
#   bench/dircast_vs_volbuild.sh [build-dir] [rounds]
set -euo pipefail
shopt -s inherit_errexit
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
rounds=${2:-3}
if [ ! -x "$build/bin/dircast" ] || [ ! -x "$build/bin/volbuild" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  ninja -C "$build" dircast volbuild >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/dircast-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

. "$root/bench/timing.sh"
. "$root/bench/trees.sh"

mkdir "$work/large" "$work/quarter"
make_large_tree "$work/large"
make_large_tree "$work/quarter" 50e6
export SOURCE_DATE_EPOCH=1000000000

# Peak resident kilobytes of one dircast of tree $1.
cast_rss() {
  rm -f "$work"/burned.*
  EMULATED_SCSI_BUS="0:4:0=CDD2000,medium=$work/burned" \
    /usr/bin/time -v -o "$work/time.txt" "$build/bin/dircast" "$1/" /RECURSE /BATCH
  awk -F: '/Maximum resident/ {print $2 + 0}' "$work/time.txt"
}

best_vol=
best_cast=
best_raw=
"$build/bin/volbuild" "$work/large/" "$work/v.iso" /RECURSE /BATCH  # page cache
for _ in $(seq "$rounds"); do
  rm -f "$work/v.iso"
  best_vol=$(best_times "$best_vol" "$(timed "$build/bin/volbuild" "$work/large/" "$work/v.iso" /RECURSE /BATCH)")
  rm -f "$work/r.iso"
  best_raw=$(best_times "$best_raw" "$(timed "$build/bin/volbuild" "$work/large/" "$work/r.iso" /RECURSE /BATCH /RAW)")
  rm -f "$work"/burned.*
  best_cast=$(best_times "$best_cast" "$(EMULATED_SCSI_BUS="0:4:0=CDD2000,medium=$work/burned" \
      timed "$build/bin/dircast" "$work/large/" /RECURSE /BATCH)")
done
blocks=$(( $(stat -c %s "$work/v.iso") / 2048 ))
[ "$(stat -c %s "$work/burned.bin")" = $(( (blocks + 150) * 2352 )) ] || {
  echo "dircast recorded $(stat -c %s "$work/burned.bin") bytes, not $(( (blocks + 150) * 2352 ))" >&2
  exit 1
}
rss_large=$(cast_rss "$work/large")
rss_quarter=$(cast_rss "$work/quarter")
awk -v blocks="$blocks" -v v="$best_vol" -v c="$best_cast" -v r="$best_raw" -v rl="$rss_large" -v rq="$rss_quarter" 'BEGIN {
  split(v, vt, " "); split(c, ct, " "); split(r, rt, " ")
  printf "tree       4,000 files in 40 folders, 200 MB (%d blocks)\n", blocks
  printf "volbuild   %.2f s elapsed, %.2f s cpu (image file)\n", vt[1], vt[2]
  printf "dircast    %.2f s elapsed, %.2f s cpu (emulated CDD2000, track of %d blocks)\n", ct[1], ct[2], blocks + 150
  printf "ratio      %.2f elapsed, %.2f cpu (dircast / volbuild; target 1.2 or less)\n", ct[1] / vt[1], ct[2] / vt[2]
  printf "volbuild   %.2f s elapsed, %.2f s cpu with /RAW (2352-byte sectors, as the recorder stores)\n", rt[1], rt[2]
  printf "ratio      %.2f elapsed, %.2f cpu (dircast / volbuild /RAW)\n", ct[1] / rt[1], ct[2] / rt[2]
  printf "resident   %.1f MB for 200 MB, %.1f MB for 50 MB of files\n", rl / 1024, rq / 1024
}'

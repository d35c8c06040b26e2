#!/usr/bin/env bash
# Builds the suite and runs its main job on a small generated sample.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# Only what the programs need: the tests' packages and the test binaries
# wait for scripts/test.sh.
"$root/scripts/setup.sh" build
"$root/scripts/build.sh" build -DBUILD_TESTING=OFF
bin=$root/build/bin
work=$root/build/demo
rm -rf "$work"; mkdir -p "$work"
echo "== sample image: 300 blocks of 2048 bytes"
head -c $((300 * 2048)) /dev/urandom > "$work/sample.iso"
echo "== sectconv sample.iso sample.bin /POSTGAP"
"$bin/sectconv" "$work/sample.iso" "$work/sample.bin" /POSTGAP
ls -l "$work/sample.bin"

echo "== sample disc: sample.bin as a MODE1 data track, three audio tracks with a catalog number and ISRC codes"
head -c $((1500 * 2352)) /dev/urandom > "$work/audio.bin"
cat > "$work/sample.cue" <<'CUE'
CATALOG 0123456789012
FILE "sample.bin" BINARY
  TRACK 01 MODE1/2352
    INDEX 01 00:00:00
FILE "audio.bin" BINARY
  TRACK 02 AUDIO
    ISRC USABC9600001
    INDEX 00 00:00:00
    INDEX 01 00:02:00
  TRACK 03 AUDIO
    FLAGS DCP
    ISRC GBXYZ9700002
    INDEX 01 00:07:00
  TRACK 04 AUDIO
    FLAGS PRE
    INDEX 00 00:14:00
    INDEX 01 00:15:00
CUE
cat "$work/sample.cue"
echo "== cueburn sample.cue /NOCONFIRM on an emulated CDD2000 recorder at 0:4:0 (its disc: burned.*)"
bus="0:4:0=CDD2000,medium=$work/burned"
EMULATED_SCSI_BUS="$bus" "$bin/cueburn" "$work/sample.cue" /NOCONFIRM
echo "== discinfo /MODE /MCN /ISRC of the recorded disc, in the same recorder"
EMULATED_SCSI_BUS="$bus" "$bin/discinfo" /MODE /MCN /ISRC
echo "== the recorded disc as a cue sheet and one image (any cue sheet reader takes it)"
cat "$work/burned.cue"

#!/usr/bin/env bash
# Builds the suite and runs its main job on a small generated sample.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh" build
bin=$root/build/bin
work=$root/build/demo
rm -rf "$work"; mkdir -p "$work"
echo "== sample image: 300 blocks of 2048 bytes"
head -c $((300 * 2048)) /dev/urandom > "$work/sample.iso"
echo "== sectconv sample.iso sample.bin /POSTGAP"
"$bin/sectconv" "$work/sample.iso" "$work/sample.bin" /POSTGAP
ls -l "$work/sample.bin"

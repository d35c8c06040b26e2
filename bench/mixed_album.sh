# Sourced by the cueburn benchmarks: the Release build of cueburn in
# $build (argument 1, default build-bench) and, in a scratch folder $work
# (removed on exit), a 650 MB sheet disc.cue of a 2352-byte MODE1 file
# data.bin ($data_frames frames) and an audio file audio.bin
# ($audio_frames frames); $rounds from argument 2 (default 3).
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-bench}")
rounds=${2:-3}
if [ ! -x "$build/bin/cueburn" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  ninja -C "$build" cueburn >/dev/null
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/cueburn-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
data_frames=76000
audio_frames=200000
head -c $((data_frames * 2352)) /dev/urandom > "$work/data.bin"
head -c $((audio_frames * 2352)) /dev/urandom > "$work/audio.bin"
cat > "$work/disc.cue" <<'CUE'
FILE data.bin BINARY
  TRACK 01 MODE1/2352
    INDEX 01 00:00:00
FILE audio.bin BINARY
  TRACK 02 AUDIO
    PREGAP 00:02:00
    INDEX 01 00:00:00
CUE

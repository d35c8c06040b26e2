#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer, UBSan) in
# build-fuzz/ and runs each for a bounded time: fuzz.sh [seconds per target].
# The corpus grows in build-fuzz/corpus/<target>/, seeded from the fixtures;
# a crashing input is kept as build-fuzz/artifacts/<target>-crash-*.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
"$root/scripts/setup.sh" build fuzz audio
build="$root/build-fuzz"
. "$root/scripts/compiler_cache.sh"
# -O1 with line tables: libFuzzer's advice, and a build a third shorter
# than -O2 with full debug information.
cmake -S "$root" -B "$build" -G Ninja "${launcher[@]}" -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DCDM_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
targets="fuzz_cue_sheet fuzz_wav_header fuzz_audio_file fuzz_emulated_bus fuzz_emulated_commands
  fuzz_drive_answers"
ninja -C "$build" -j2 $targets >/dev/null || ninja -C "$build" -j1 $targets

# Runs one target into its log; its lines of report go to $build/$target.report.
run_target() {
  local target=$1 dict=$2; shift 2
  local corpus="$build/corpus/$target" log="$build/$target.log" report="$build/$target.report"
  mkdir -p "$corpus" "$build/artifacts"
  local status=0
  (cd "$build" && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$root/fuzz/lsan.supp" "$build/fuzz/$target" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -dict="$dict" \
      -artifact_prefix="$build/artifacts/$target-" "$corpus" "$@") >"$log" 2>&1 || status=$?
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  if [ "$status" -ne 0 ]; then
    { tail -n 40 "$log"; echo "$target: FAILED after $runs executions (log: $log)"; } >"$report"
    return 1
  fi
  echo "$target: $runs executions, no crash" >"$report"
}

# The audio front end's seeds: a short file of every format, made by the
# Debian encoders (setup.sh installs them).
seeds="$build/seeds/audio"
if [ ! -s "$seeds/song.wv" ]; then
  mkdir -p "$seeds"
  (cd "$seeds" &&
    sox -n -r 44100 -b 16 -c 2 song.wav synth 0.2 whitenoise sine 1000 vol 0.4 &&
    sox -n -r 22050 -b 8 -c 1 mono.wav synth 0.1 sine 300 &&
    sox song.wav -b 24 hires.flac rate 48000 && sox song.wav song.aiff &&
    flac -s -f song.wav -o song.flac && lame --quiet --add-id3v2 song.wav song.mp3 &&
    oggenc -Q song.wav -o song.ogg && opusenc --quiet song.wav song.opus &&
    wavpack -q -y song.wav -o song.wv)
fi

# Each target with its dictionary and seed folders.
fuzz_one() {
  case $1 in
    fuzz_cue_sheet) run_target "$1" "$root/fuzz/cue_sheet.dict" "$root/tests/fixtures/cue/good" \
      "$root/tests/fixtures/cue/bad" "$root/tests/fixtures/cue/styles" ;;
    fuzz_wav_header) run_target "$1" "$root/fuzz/wav_header.dict" "$root/tests/fixtures/wav" ;;
    fuzz_audio_file) run_target "$1" "$root/fuzz/audio_file.dict" "$seeds" "$root/tests/fixtures/wav" \
      "$root/tests/fixtures/audio" ;;
    fuzz_emulated_bus) run_target "$1" "$root/fuzz/emulated_bus.dict" "$root/tests/fixtures/emulated_bus" ;;
    fuzz_emulated_commands) run_target "$1" "$root/fuzz/emulated_commands.dict" \
      "$root/tests/fixtures/emulated_commands" ;;
    fuzz_drive_answers) run_target "$1" "$root/fuzz/drive_answers.dict" \
      "$root/tests/fixtures/drive_answers" ;;
    *) echo "$1: FAILED: no dictionary or seeds named for it in $0" >"$build/$1.report" ;;
  esac
}

# As many targets at once as the machine has processors, each for its
# whole time; the reports in the targets' order.
parallel=$(nproc)
for target in $targets; do
  rm -f "$build/$target.report"
  echo "== fuzzing $target for $seconds s"
  fuzz_one "$target" &
  while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n || true; done
done
wait
failed=0
for target in $targets; do
  report="$build/$target.report"
  if [ -s "$report" ]; then cat "$report"; else echo "$target: no report (the run did not end)"; fi
  grep -q ' executions, no crash$' "$report" 2>/dev/null || failed=1
done
exit $failed

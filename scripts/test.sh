#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then the same tests
# built with AddressSanitizer and UndefinedBehaviorSanitizer; between them the
# fuzz targets run for a short bounded time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
jobs=$(nproc)
# Tests that were skipped, each with the reason it gave (GTEST_SKIP).
report_skipped() {
  awk '/^\[ RUN      \]/ { name = $4 }
       / Skipped$/ { getline reason; print "Skipped: " name ": " reason }' \
    "$1/Testing/Temporary/LastTest.log" 2>/dev/null || true
}
echo "== build"
# CDM_WERROR=ON (as CI sets it) makes every warning of the normal build an error.
"$root/scripts/build.sh" build -DBUILD_TESTING=ON -DCDM_WERROR="${CDM_WERROR:-OFF}"
echo "== tests"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"
report_skipped "$root/build"
echo "== fuzzing (20 s a target)"
"$root/scripts/fuzz.sh" 20
echo "== tests with AddressSanitizer and UndefinedBehaviorSanitizer"
# Built with clang, which compiles the instrumented tests in half the time
# GCC takes; the fuzz targets are clang's too.
"$root/scripts/build.sh" build-sanitize -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
  -DCDM_SANITIZE=ON -DBUILD_TESTING=ON
# (grep reads all of nm's output: with -q, nm would end on a closed pipe.)
if ! nm "$root/build-sanitize/bin/cueburn" | grep __asan_init >/dev/null; then
  echo "The sanitizer build's programs are not instrumented (build-sanitize/CMakeCache.txt)" >&2
  exit 1
fi
# Of the virtual machine tests (label vm) one runs here: the others take the
# same path through the kernel and the same backend.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-sanitize" --output-on-failure -j "$jobs" -LE vm
report_skipped "$root/build-sanitize"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir "$root/build-sanitize" --output-on-failure -L vm \
  -R 'QemuDrive.EmulatedDriveAnswersAsQemuDriveDoes|LinePattern'
report_skipped "$root/build-sanitize"
echo "All tests passed."

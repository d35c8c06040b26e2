# Sourced by the comparison scripts: the time one command takes, and the
# build of the program timed.

# Writes back what earlier runs left in the page cache, so that no timed run
# pays for another's write-back (the machine's kernel threads do it while
# the next command runs otherwise). Every timed command starts with it.
settle() { sync; }

# Nanoseconds that one command takes; its standard output goes to file $1.
nanoseconds_to() {
  local out=$1 start end
  shift
  settle
  start=$(date +%s%N)
  "$@" > "$out"
  end=$(date +%s%N)
  echo $((end - start))
}

# Nanoseconds that one command takes, its standard output dropped.
nanoseconds() { nanoseconds_to /dev/null "$@"; }

# Runs one command under /usr/bin/time; prints "elapsed cpu" in seconds
# (cpu: user + system, which a loaded machine disturbs less).
timed() {
  local times
  times=$(mktemp)
  settle
  /usr/bin/time -f "%e %U %S" -o "$times" "$@" >/dev/null
  awk '{ printf "%s %.2f\n", $1, $2 + $3 }' "$times"
  rm -f "$times"
}
# Keeps the smaller of each: best "elapsed cpu" so far ($1, may be empty)
# and a new pair ($2).
best_times() { awk -v a="$1" -v b="$2" 'BEGIN { split(a, x, " "); split(b, y, " ");
  if (a == "") { print b; exit }
  printf "%s %s\n", (y[1] < x[1] ? y[1] : x[1]), (y[2] < x[2] ? y[2] : x[2]) }'; }
# Builds program $2 in build folder $1 (Release, benchmarks on) unless it is
# there already.
build_program() {
  local build=$1 program=$2 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  if [ ! -x "$build/bin/$program" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCDM_BENCH=ON >/dev/null
    ninja -C "$build" "$program" >/dev/null
  fi
}

# Writes $1/disc.bin ($2 frames of random audio) and $1/disc.cue: $3
# tracks of equal length, each after the first with a two-second pregap,
# and an index 2 a minute into each.
write_indexed_disc() {
  local work=$1 frames=$2 tracks=$3 t start
  head -c $((frames * 2352)) /dev/urandom > "$work/disc.bin"
  msf() { printf '%02d:%02d:%02d' $(($1 / 4500)) $(($1 / 75 % 60)) $(($1 % 75)); }
  {
    echo 'FILE "disc.bin" BINARY'
    for t in $(seq 1 "$tracks"); do
      start=$(((t - 1) * frames / tracks))
      printf '  TRACK %02d AUDIO\n' "$t"
      if [ "$t" -gt 1 ]; then
        echo "    INDEX 00 $(msf "$start")"
        start=$((start + 150))
      fi
      echo "    INDEX 01 $(msf "$start")"
      echo "    INDEX 02 $(msf $((start + 4500)))"
    done
  } > "$work/disc.cue"
}

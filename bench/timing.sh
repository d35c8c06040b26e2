# Sourced by the comparison scripts: the wall-clock time of one command, and
# the build of the program timed.

# Nanoseconds that one command takes; its standard output goes to file $1.
nanoseconds_to() {
  local out=$1 start end
  shift
  start=$(date +%s%N)
  "$@" > "$out"
  end=$(date +%s%N)
  echo $((end - start))
}

# Nanoseconds that one command takes, its standard output dropped.
nanoseconds() { nanoseconds_to /dev/null "$@"; }

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

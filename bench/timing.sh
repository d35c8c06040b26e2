# Sourced by the comparison scripts: the wall-clock time of one command.

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

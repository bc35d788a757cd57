# SPDX-License-Identifier: Apache-2.0
# Helpers of the benchmark scripts, sourced: the programs they run are
# checked before anything starts, and a program that does not come up
# fails the benchmark instead of hanging it.

# Stops the benchmark with a message (status 2).
bench_fail() {
  echo "$(basename "$0" .sh): $*" >&2
  exit 2
}

# The absolute path of the program at PATH; fails the benchmark when no
# executable file stands there (a folder of that name included).
program_at() {
  [ -f "$1" ] && [ -x "$1" ] || bench_fail "no program at $1 (build it first)"
  echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
}

# Sets LOADER, DEVSIM and THIRD from the script's arguments after the
# first: three program paths, or a build folder (default build) in which
# THIRD stands at the path given first.
bench_programs() {
  local third=$1 build
  shift
  if [ $# -eq 3 ]; then
    LOADER=$(program_at "$1")
    DEVSIM=$(program_at "$2")
    THIRD=$(program_at "$3")
  else
    build=$(cd "${1:-build}" 2>/dev/null && pwd) || bench_fail "no build folder ${1:-build}"
    LOADER=$(program_at "$build/zvloader")
    DEVSIM=$(program_at "$build/tools/zvdevsim/zvdevsim")
    THIRD=$(program_at "$build/$third")
  fi
}

# Waits, at most 10 s, for TEXT in FILE, written by the process PID; fails
# the benchmark when the process ends first or the time is up.
wait_for() {
  local _
  for _ in $(seq 1000); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    kill -0 "$3" 2>/dev/null || { cat "$1" >&2 2>/dev/null; bench_fail "$1: the program ended before \"$2\""; }
    sleep 0.01
  done
  bench_fail "$1: no \"$2\" within 10 s"
}

# Wall-clock seconds of one run of "$@" (the arguments after WANT) in
# ELAPSED, its output in run.out; fails the benchmark unless the run ends
# with the exit status WANT.
timed() {
  local want=$1 t0 t1 status
  shift
  t0=$(date +%s.%N)
  set +e
  "$@" > run.out 2>&1
  status=$?
  set -e
  t1=$(date +%s.%N)
  [ "$status" -eq "$want" ] || { cat run.out >&2; bench_fail "$1 exited with $status"; }
  ELAPSED=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
}

# The smaller of two times; an empty second one stands for none yet.
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# Fails the benchmark where date cannot give nanoseconds.
need_nanoseconds() {
  case $(date +%N) in *N*|'') bench_fail "date +%N is not supported here" ;; esac
}

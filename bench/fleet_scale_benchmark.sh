#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# zvfleet's cost per device as the site grows: 64, 256 and 1,024
# simulated devices from 127.0.1.1 on, each updated with a logo file by
# zvfleet -j 64 --report, and per device zvfleet's own CPU time (its
# utime + stime, not its children's) and the bytes it wrote (wchar of
# /proc/PID/io), both read once it has ended and before it is reaped; a
# size below 1,024 devices is run again until 1,024 were updated in all
# (ZV_BENCH_DEVICE_RUNS), so that its CPU time spans enough clock ticks.
# Goals: the figures per device stay within 25 % of each other across the
# sizes, and at 1,024 devices zvfleet's own CPU stays under 2 s.  The
# devices are served by one zvdevsim -n N where it serves a range of
# addresses, else by one zvdevsim per device (then only sizes up to 64 are
# run).  Needs root (port 69 on 127.0.x.y) and a free port 9029; best in
# a network namespace of its own:
#   unshare -n bash -c 'ip link set lo up; bench/fleet_scale_benchmark.sh build'
#   bench/fleet_scale_benchmark.sh [BUILD_DIR]     (default build)
#   bench/fleet_scale_benchmark.sh ZVLOADER ZVDEVSIM ZVFLEET
# ZV_BENCH_SIZES overrides the sizes ("64 256 1024"); ZV_BENCH_TMP the folder
# of the run folders (/dev/shm where there is one); ZV_BENCH_SEPARATE_MAX the
# largest size served by one zvdevsim per device (64).
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/programs.sh
. "$HERE/programs.sh"
bench_programs zvfleet "$@"
FLEET=$THIRD
SIZES=${ZV_BENCH_SIZES:-64 256 1024}
JOBS=64
# The run folders lie in memory where the machine has a tmpfs: on a disk's
# file system, creating a file costs what that file system's bookkeeping
# of the files deleted before it costs (the earlier runs' logs), which
# varies from run to run by more than the spread judged here.
if [ -z "${ZV_BENCH_TMP:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then ZV_BENCH_TMP=/dev/shm; fi
WORK=$(mktemp -d -p "${ZV_BENCH_TMP:-${TMPDIR:-/tmp}}")
sims=()
trap 'for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$WORK"' EXIT
cd "$WORK"

head -c 2000 /dev/urandom > logo.bin
"$LOADER" -NE -T L -K bench-k1 -f logo.bin > /dev/null || true
[ -f logo.enc ] || bench_fail "the build of logo.enc failed"

# The I-th address from 127.0.1.1 on.
address() { echo "127.0.$(((257 + $1) / 256)).$(((257 + $1) % 256))"; }

ranged=false
# Its help read whole first: grep -q ending the pipe early would fail it
# under pipefail (the program's write refused) and leave the range unseen.
devsim_help=$("$DEVSIM" --help 2>&1 || true)
grep -q -- '^  -n N' <<< "$devsim_help" && ranged=true

start_devices() {
  sims=()
  if $ranged; then
    "$DEVSIM" -q -a 127.0.1.1 -n "$1" -t 120 > devices.log 2>&1 &
    sims+=($!)
    wait_for devices.log listening "${sims[0]}"
    return
  fi
  for i in $(seq 0 $(($1 - 1))); do
    "$DEVSIM" -q -a "$(address "$i")" -t 120 > "device$i.log" 2>&1 &
    sims+=($!)
  done
  for i in $(seq 0 $(($1 - 1))); do wait_for "device$i.log" listening "${sims[$i]}"; done
}

stop_devices() {
  for p in "${sims[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  sims=()
}

# Runs zvfleet and prints "CPU_SECONDS BYTES_WRITTEN STATUS" of its own,
# read from /proc while it is a zombie (waited for without reaping).
measure() {
  python3 - "$@" <<'PY'
import os, subprocess, sys
p = subprocess.Popen(sys.argv[1:], stdout=open("run.out", "w"), stderr=subprocess.STDOUT)
os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOWAIT)
stat = open(f"/proc/{p.pid}/stat").read().rsplit(")", 1)[1].split()
cpu = (int(stat[11]) + int(stat[12])) / os.sysconf("SC_CLK_TCK")
io = dict(line.split(": ") for line in open(f"/proc/{p.pid}/io").read().splitlines())
print(f"{cpu:.2f} {int(io['wchar'])} {p.wait()}")
PY
}

# A size smaller than DEVICE_RUNS is run again until as many devices were
# updated in all: the CPU time comes in clock ticks, and a run of 64
# devices takes only a few of them.
DEVICE_RUNS=${ZV_BENCH_DEVICE_RUNS:-1024}
printf '%8s  %5s  %8s  %12s  %14s  %14s\n' devices runs "cpu s" "bytes" "cpu ms/device" "bytes/device"
results=()
for n in $SIZES; do
  if ! $ranged && [ "$n" -gt "${ZV_BENCH_SEPARATE_MAX:-64}" ]; then
    echo "$n devices: left out (this zvdevsim serves one address a process; -n N is needed)"
    continue
  fi
  for i in $(seq 0 $((n - 1))); do echo "$(address "$i"),,logo.enc"; done > "site$n.csv"
  runs=$(( (DEVICE_RUNS + n - 1) / n ))
  cpu_all=0 bytes_all=0
  for run in $(seq "$runs"); do
    start_devices "$n"
    rm -rf "logs$n"
    read -r cpu bytes status < <(timeout 600 bash -c "$(declare -f measure); measure \"$FLEET\" --loader \"$LOADER\" -j $JOBS -o logs$n --progress lines --report r$n.json site$n.csv")
    stop_devices
    [ "$status" = 0 ] || { tail -5 run.out >&2; bench_fail "$n devices: zvfleet ended with status $status"; }
    cpu_all=$(awk -v a="$cpu_all" -v b="$cpu" 'BEGIN { print a + b }')
    bytes_all=$((bytes_all + bytes))
  done
  printf '%8d  %5d  %8.2f  %12d  %14.2f  %14d\n' "$n" "$runs" "$cpu_all" "$bytes_all" \
    "$(awk -v c="$cpu_all" -v n="$((n * runs))" 'BEGIN { print 1000 * c / n }')" \
    $((bytes_all / (n * runs)))
  results+=("$((n * runs)) $cpu_all $bytes_all $n $cpu")
done

# Judged: the spread of the per-device figures, and the CPU at 1,024.
printf '%s\n' "${results[@]}" | awk -v jobs=$JOBS '
  { c = $2 / $1; b = $3 / $1; if (NR == 1 || c < cmin) cmin = c; if (c > cmax) cmax = c
    if (NR == 1 || b < bmin) bmin = b; if (b > bmax) bmax = b; if ($4 == 1024) big = $5 }
  END {
    ok = 1
    if (NR > 1 && bmax > 1.25 * bmin) { print "bytes per device spread beyond 25 %"; ok = 0 }
    if (NR > 1 && cmax > 1.25 * cmin) { print "CPU per device spread beyond 25 %"; ok = 0 }
    if (big != "" && big >= 2) { print "1,024 devices: zvfleet own CPU " big " s, not under 2 s"; ok = 0 }
    print ok ? "goals met" : "goals missed"; exit !ok }' || exit 1

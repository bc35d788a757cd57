#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the libFuzzer harnesses (clang, ASan + UBSan) and runs each one for
# a short time over a scratch copy of its seed corpus, after replaying the
# saved regression inputs.  Prints seconds, executions and coverage per
# harness; fails when any harness finds a crash, a leak, a time-out or a
# broken invariant.  Installs clang and its runtimes when they are missing.
#   bash scripts/fuzz-smoke.sh [SECONDS per harness, default 20]
set -euo pipefail
seconds=${1:-20}
cd "$(dirname "$0")/.."
build=$(realpath -m build-fuzz)
bash scripts/install-deps.sh build fuzz

echo "== fuzz build in $build"
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz

harnesses="fuzz_command_line fuzz_hex_loader fuzz_hex_verdict fuzz_update_reader fuzz_builder
           fuzz_transfer fuzz_inspect fuzz_site_list fuzz_tool_output fuzz_device"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
printf '%-20s %8s %12s %8s %8s  %s\n' harness seconds executions cov ft result
for h in $harnesses; do
  exe=$build/fuzz/$h
  log=$scratch/$h.log
  mkdir -p "$scratch/$h" "$build/fuzz-artifacts/$h"
  cp -R "fuzz/corpus/$h/." "$scratch/$h/"
  result=ok
  # Saved regression inputs must all pass before the fuzzing run.
  if [ -d "fuzz/regressions/$h" ] && [ -n "$(ls -A "fuzz/regressions/$h")" ]; then
    if ! "$exe" -runs=1 "fuzz/regressions/$h"/* > "$scratch/$h.replay" 2>&1; then
      result="REGRESSION (see $build/fuzz-artifacts/$h/replay.log)"
      cp "$scratch/$h.replay" "$build/fuzz-artifacts/$h/replay.log"
    fi
  fi
  dict=()
  [ -f "fuzz/$h.dict" ] && dict=(-dict="fuzz/$h.dict")
  start=$(date +%s)
  if ! "$exe" "$scratch/$h" "${dict[@]}" -max_total_time="$seconds" -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$build/fuzz-artifacts/$h/" > "$log" 2>&1; then
    result="CRASH (log $build/fuzz-artifacts/$h/fuzz.log)"
    cp "$log" "$build/fuzz-artifacts/$h/fuzz.log"
  fi
  elapsed=$(($(date +%s) - start))
  # A run that crashes at once prints no statistics: leave them empty.
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$( (grep -Eo 'cov: [0-9]+' "$log" || true) | tail -n 1 | cut -d' ' -f2)
  ft=$( (grep -Eo 'ft: [0-9]+' "$log" || true) | tail -n 1 | cut -d' ' -f2)
  printf '%-20s %8s %12s %8s %8s  %s\n' "$h" "$elapsed" "${execs:--}" \
    "${cov:--}" "${ft:--}" "$result"
  [ "$result" = ok ] || failed=1
done
if [ "$failed" -ne 0 ]; then
  echo "fuzz-smoke: FAILED; crashing inputs are in $build/fuzz-artifacts/" >&2
  exit 1
fi
echo "fuzz-smoke: all harnesses ran clean"

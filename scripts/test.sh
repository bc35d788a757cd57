#!/usr/bin/env bash
# Builds and runs the whole test suite, installing what it needs:
#   1. the native build: unit, loopback and whole-program tests, and the
#      long tests that wait out a 45-second resend;
#   2. the same tests built with AddressSanitizer and UndefinedBehavior-
#      Sanitizer (the long ones left out);
#   3. the Windows build, cross-compiled with MinGW-w64, and the whole
#      suite run under Wine;
#   4. a short run of every fuzzer over its seed corpus.
# ZV_QUICK=1 runs stage 1 without the long tests only.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build test

# Each ctest run's output is kept, for the closing count of all stages.
results=$(mktemp)
trap 'rm -f "$results"' EXIT
counted() { "$@" | tee -a "$results"; }

echo "== native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_BUILD_TESTS=ON > /dev/null
cmake --build build -j2
if [ "${ZV_QUICK:-0}" = 1 ]; then
  (cd build && ctest -j2 -LE long --output-on-failure --no-tests=error)
  exit 0
fi
counted bash -c 'cd build && ctest -j2 --output-on-failure --no-tests=error'

echo "== sanitizer build and tests"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON -DZV_BUILD_TESTS=ON > /dev/null
cmake --build build-asan -j2
counted bash -c 'cd build-asan && ctest -j2 -LE long --output-on-failure --no-tests=error'

echo "== Windows build, tests under Wine"
counted bash .ci/windows.sh build-win

if [ -f scripts/fuzz-smoke.sh ]; then
  echo "== fuzzers, short run"
  bash scripts/fuzz-smoke.sh 15 build-fuzz
fi

# One closing line over the native, sanitizer and Windows runs.
awk '/tests passed, [0-9]+ tests failed out of/ {
       total += $NF; failed += $4 }
     END { printf "%d passed, %d failed\n", total - failed, failed }' "$results"

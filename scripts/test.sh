#!/usr/bin/env bash
# Builds and runs the whole test suite: the native build (unit, loopback,
# whole-program and the long resend tests).  Installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build test

echo "== native build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_BUILD_TESTS=ON > /dev/null
cmake --build build -j2
(cd build && ctest -j2 --output-on-failure --no-tests=error)

#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the tool, its companions and the test suite, and runs the whole
# native suite, the long test that waits out a 45-second resend included.
# Installs what it needs (Debian packages, only those missing).
#   ZV_QUICK=1 bash scripts/test.sh    leaves the long test out
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build test

# Operating-system conditionals belong to the platform layer only.
if grep -rnE '(_WIN32|_MSC_VER|__MINGW|__linux|__unix|__APPLE__)' \
     --include='*.cc' --include='*.h' app image crypto net monitor tools tests fuzz bench; then
  echo "test: an operating-system conditional outside platform/ (above)" >&2
  exit 1
fi

cmake --preset native > /dev/null
cmake --build --preset native
if [ "${ZV_QUICK:-0}" = 1 ]; then
  ctest --preset native -LE long
else
  ctest --preset native
fi

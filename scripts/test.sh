#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the tool, its companions and the test suite, and runs the native
# suite on every core.  Installs what it needs (Debian packages, only those
# missing).  Where Chromium and tidy are installed (bash scripts/install-deps.sh
# browser) it then runs the browser test of zvfleet's report pages (the
# page of 1,024 devices, a minute's real run, only with ZV_BROWSER_BIG=1,
# as .ci/run sets it), and says so where they are not.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build test

# Operating-system conditionals belong to the platform layer only.
if grep -rnE '(_WIN32|_MSC_VER|__MINGW|__linux|__unix|__APPLE__)' \
     --include='*.cc' --include='*.h' app base image crypto net monitor tools tests fuzz bench; then
  echo "test: an operating-system conditional outside platform/ (above)" >&2
  exit 1
fi

cmake --preset native > /dev/null
cmake --build --preset native
jobs=$(nproc 2>/dev/null || echo 2)
ctest --preset native -j "$jobs"
if command -v chromium > /dev/null && command -v tidy > /dev/null; then
  bash tests/browser/run.sh build
else
  echo "test: the browser test of the report pages is skipped: Chromium or tidy is missing" \
       "(bash scripts/install-deps.sh browser installs them)"
fi

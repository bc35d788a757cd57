#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Windows build and tests: cross-compiles the tool and its tests with
# Debian's MinGW-w64 and runs the test suite under wine.
#   bash .ci/windows.sh [BUILD_DIR]      (default: build-win)
# Installs g++-mingw-w64-x86-64 and wine when they are missing (needs root).
# The wine prefix lives in the build directory; one wine server serves the
# whole test run and is stopped at its end, also on failure.  As root the
# tests run in a private network namespace (loopback only), so that the
# fixed ports of the whole-program tests (69 and 9029) cannot meet another
# run on this machine; ZV_WIN_NETNS=0 turns that off.
set -euo pipefail

SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SCRIPT="$SOURCE_DIR/.ci/windows.sh"
# No case waits out a time-out in real time: the long waits run in
# process, on a virtual clock.
CTEST_TIME_LIMIT="${ZV_WIN_CTEST_TIME_LIMIT:-720}"   # seconds, whole suite
TEST_TIME_LIMIT="${ZV_WIN_TEST_TIME_LIMIT:-120}"     # seconds, one test

log() { printf '== windows: %s\n' "$*"; }

stop_wine() {
  wineserver -k >/dev/null 2>&1 || true
  timeout 30 wineserver -w >/dev/null 2>&1 || true
}

# The test run: one persistent wine server, a prepared prefix, ctest.
run_tests() {
  export WINEPREFIX="$BUILD_DIR/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="   # no Mono / Gecko set-up
  unset DISPLAY WAYLAND_DISPLAY                # console programs only
  mkdir -p "$WINEPREFIX"                       # wineserver starts only in it
  trap stop_wine EXIT
  trap 'exit 130' INT TERM
  stop_wine                                    # one left from an earlier run
  log "wine server for $WINEPREFIX"
  wineserver -p >/dev/null 2>&1 </dev/null     # persistent until -k
  # The prefix's background services start here, detached from any output:
  # started later by a test they would hold its output pipe open.
  if ! timeout 180 wineboot -i >/dev/null 2>&1 </dev/null; then
    log "wineboot failed"
    return 1
  fi
  log "ctest (limit ${CTEST_TIME_LIMIT}s, ${TEST_TIME_LIMIT}s per test)"
  cd "$BUILD_DIR"
  timeout --kill-after=10 "$CTEST_TIME_LIMIT" \
    ctest --output-on-failure --no-tests=error --timeout "$TEST_TIME_LIMIT" </dev/null
}

# Internal: the test run inside the private network namespace.
if [ "${1:-}" = "--tests-in-netns" ]; then
  BUILD_DIR="$2"
  ip link set lo up
  run_tests
  exit
fi

BUILD_DIR="${1:-build-win}"

# --- tools -----------------------------------------------------------------
missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  missing+=(g++-mingw-w64-x86-64)
command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1 &&
  command -v wineboot >/dev/null 2>&1 || missing+=(wine wine64)
command -v cmake >/dev/null 2>&1 || missing+=(cmake)
command -v make >/dev/null 2>&1 || missing+=(make)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
# The companions' JSON reader: header-only, taken from the host's copy.
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
command -v ip >/dev/null 2>&1 || missing+=(iproute2)   # loopback in the netns
if [ "${#missing[@]}" -gt 0 ]; then
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # The package lists are fetched only when the install cannot do without.
  if ! apt-get install -y --no-install-recommends "${missing[@]}"; then
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
  fi
fi

mkdir -p "$BUILD_DIR"
BUILD_DIR="$(cd "$BUILD_DIR" && pwd)"

# --- build ---------------------------------------------------------------------
log "configure $SOURCE_DIR -> $BUILD_DIR"
(cd "$SOURCE_DIR" && cmake --preset windows -B "$BUILD_DIR" \
   -DZV_NLOHMANN_JSON_INCLUDE=/usr/include)
log "build"
cmake --build "$BUILD_DIR" -j2

# The shipped programs must need nothing but the system's own DLLs.
for TOOL in "$BUILD_DIR/zvloader.exe" "$BUILD_DIR/zvfleet.exe" "$BUILD_DIR/tools/zvinspect/zvinspect.exe"; do
  [ -f "$TOOL" ] || { log "no $TOOL"; exit 1; }
  name="$(basename "$TOOL")"
  dlls="$(x86_64-w64-mingw32-objdump -p "$TOOL" | sed -n 's/^[[:space:]]*DLL Name: //p')"
  log "$name imports: $(echo $dlls)"
  foreign="$(echo "$dlls" | grep -viE '^(kernel32|ws2_32|iphlpapi|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\.dll$' || true)"
  if [ -n "$foreign" ]; then
    log "$name needs DLLs that Windows does not ship: $(echo $foreign)"
    exit 1
  fi
done

# --- tests -----------------------------------------------------------------------
if [ "${ZV_WIN_NETNS:-1}" != 0 ] && [ "$(id -u)" = 0 ] &&
   command -v unshare >/dev/null 2>&1 && command -v ip >/dev/null 2>&1 &&
   unshare -n true 2>/dev/null; then
  log "tests in a private network namespace"
  exec unshare -n bash "$SCRIPT" --tests-in-netns "$BUILD_DIR"
fi
run_tests

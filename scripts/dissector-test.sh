#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the Wireshark dissector (contrib/wireshark/zvloader.lua) on real
# traffic: zvloader uploads to the simulated device over loopback in a
# private network namespace while tcpdump captures, then tshark decodes
# the capture with the dissector and every datagram's fields must be those
# in contrib/wireshark/dissector-test.expected.  The runs: main.enc with
# its model query, idata block, image and clearing; logo.enc built and sent
# with -EA; a wrong password (NACK 4); a plain logo refused for its version
# (NACK 8); a model query answered with 24 bytes; debug datagrams, one with
# a zero byte inside.  Nothing on port 69 may decode as TFTP.
#   bash scripts/dissector-test.sh [BUILD_DIR]   (default build-release,
#                                                  built when missing)
#   ZV_UPDATE_GOLDEN=1 ... writes the expected fields anew, for review
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
EXPECTED="$ROOT/contrib/wireshark/dissector-test.expected"
DISSECTOR="$ROOT/contrib/wireshark/zvloader.lua"

log() { printf '== dissector: %s\n' "$*"; }

if [ "${1:-}" != "--in-netns" ]; then
  bash scripts/install-deps.sh build packaging
  BUILD="${1:-build-release}"
  if [ ! -x "$BUILD/zvloader" ]; then
    cmake --preset release > /dev/null
    cmake --build --preset release --target zvloader zvdevsim
  fi
  BUILD="$(cd "$BUILD" && pwd)"
  # Port 69 and capturing need root, or root in a user namespace.
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare -n bash "$0" --in-netns "$BUILD"
  fi
  exec unshare -rn bash "$0" --in-netns "$BUILD"
fi

BUILD="$2"
ip link set lo up
# zvloader stands at the top of a build tree; the simulator in its tools/
# folder there.
ZVLOADER="$BUILD/zvloader"
ZVDEVSIM="$(find "$BUILD/tools" -name zvdevsim -type f -perm -u+x | head -1)"
[ -n "$ZVDEVSIM" ] || { log "no zvdevsim in $BUILD/tools"; exit 1; }
WORK="$(mktemp -d)"
capture_pid=""
cleanup() {
  [ -n "$capture_pid" ] && kill "$capture_pid" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK"

# Waits until FILE holds a line matching PATTERN (at most 10 s).
wait_for() {
  local file="$1" pattern="$2"
  for _ in $(seq 200); do
    grep -q "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  log "no '$pattern' in $file"
  cat "$file" >&2 || true
  return 1
}

tcpdump -i lo -U -n -w capture.pcap udp 2> tcpdump.log &
capture_pid=$!
wait_for tcpdump.log "listening on"

# One upload: the simulator with the arguments before --, then zvloader
# with those after it.  The simulator ends by itself after its commits, or
# is stopped when the tool has ended the run with a refusal.
upload() {
  local device_args=()
  while [ "$1" != "--" ]; do device_args+=("$1"); shift; done
  shift
  "$ZVDEVSIM" -a 127.0.0.1 "${device_args[@]}" -t 0 > device.log &
  local device=$!
  wait_for device.log listening
  local status=0
  "$ZVLOADER" "$@" > tool.log 2>&1 || status=$?
  log "zvloader $* -> status $status"
  if ! grep -q '^end ' device.log; then
    kill "$device" 2>/dev/null || true
  fi
  wait "$device" 2>/dev/null || true
}

"$ZVLOADER" -NE -T M -M 1 -K Zelva-K1 -f "$ROOT/samples/firmware.hex" > /dev/null || true
"$ZVLOADER" -NE -T L -EA -K Zelva-K1 -f "$ROOT/samples/logo.bin" > /dev/null || true
[ -f main.enc ] && [ -f logo.enc ] || { log "the update files were not built"; exit 1; }

upload -m 1 -P set-pw -K Zelva-K1 -c 2 -dbg "zelvaUnit: update session opened" \
  -dbg-hex 41420043 -- -IP 127.0.0.1 -P set-pw -f main.enc
upload -P set-pw -K Zelva-K1 -EA -c 1 -- -IP 127.0.0.1 -P set-pw -EA -f logo.enc
upload -m 1 -P other-pw -c 1 -- -IP 127.0.0.1 -P set-pw -f main.enc
upload -P set-pw -at 1:nack:8 -c 1 -- -IP 127.0.0.1 -P set-pw -NE -T L -f "$ROOT/samples/logo.bin"
upload -m 1 -P set-pw -at 1:len:24 -c 1 -- -IP 127.0.0.1 -P set-pw -f main.enc

# A last datagram marks the end: once tcpdump has written it, it has
# written everything before it.
echo end > /dev/udp/127.0.0.1/9
for _ in $(seq 200); do
  [ -n "$(tcpdump -r capture.pcap -n 'udp dst port 9' 2>/dev/null)" ] && break
  sleep 0.05
done
kill -INT "$capture_pid"
wait "$capture_pid" 2>/dev/null || true
capture_pid=""

decode() {
  tshark -r capture.pcap -X "lua_script:$DISSECTOR" "$@" 2> tshark.log
}

{
  echo "# update datagrams: direction (0 request, 1 reply), length, command, count,"
  echo "# commit code, flags, page, password, wConst, commit first, end, CRC, model,"
  echo "# NACK code, byte 1 of an ACK, clearing; then the info column"
  decode -Y zvupdate -T fields -E separator='|' -E occurrence=f \
    -e zvupdate.direction -e zvupdate.length -e zvupdate.command -e zvupdate.count \
    -e zvupdate.commit_code -e zvupdate.flags -e zvupdate.page -e zvupdate.password \
    -e zvupdate.wconst -e zvupdate.commit.first -e zvupdate.commit.end \
    -e zvupdate.commit.crc -e zvupdate.model -e zvupdate.nack_code -e zvupdate.ack_byte1 \
    -e zvupdate.clearing \
    -e _ws.col.Info
  echo "# debug datagrams: length, text, text length; the info column"
  decode -Y zvdebug -T fields -E separator='|' -e zvdebug.datagram_length -e zvdebug.text \
    -e zvdebug.length -e _ws.col.Info
  echo "# datagrams on port 69 that are not decoded as the update protocol, or as TFTP"
  decode -Y 'udp.port == 69 && (!zvupdate || tftp)' -T fields -e frame.number
} > decoded.txt
if grep -v '^Running as user' tshark.log | grep -q .; then
  log "tshark reported:"
  cat tshark.log >&2
  exit 1
fi

if [ "${ZV_UPDATE_GOLDEN:-0}" = 1 ]; then
  cp decoded.txt "$EXPECTED"
  log "wrote $EXPECTED ($(wc -l < "$EXPECTED") lines): review it"
  exit 0
fi
if ! diff -u "$EXPECTED" decoded.txt; then
  log "the decoded fields differ from $EXPECTED (above)"
  exit 1
fi
log "$(grep -vc '^#' decoded.txt) datagrams decoded as expected"

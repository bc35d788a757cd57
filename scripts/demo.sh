#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds zvloader and the device simulator, builds main.enc from the sample
# firmware, and uploads it to the simulator on 127.0.0.1 port 69, showing
# the tool's own console output.  Port 69 is a privileged port: run as
# root, or the script runs the upload in a private network namespace.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh build

cmake --preset release > /dev/null
cmake --build --preset release --target zvloader zvdevsim

demo=build-release/demo
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

echo "== building main.enc from samples/firmware.hex (model 1)"
../zvloader -NE -T M -M 1 -K demo-key -f ../../samples/firmware.hex || true
ls -l main.enc

run_update() {
  ../tools/zvdevsim/zvdevsim -a 127.0.0.1 -m 1 -P demo-pw -c 2 -t 30 -dump device \
    -dbg "zelvaUnit: update session opened" > device.log &
  local sim=$!
  for _ in $(seq 100); do grep -q listening device.log && break; sleep 0.05; done
  echo "== zvloader -IP 127.0.0.1 -P demo-pw -f main.enc"
  local status=0
  ../zvloader -IP 127.0.0.1 -P demo-pw -f main.enc || status=$?
  echo "== zvloader ended with status $status (1 after every update run)"
  wait "$sim" || true
  echo "== the simulated device received:"
  grep -E '^(getmodel|commit|end)' device.log
}

if [ "$(id -u)" -eq 0 ]; then
  run_update
else
  export -f run_update
  unshare -rn bash -c 'ip link set lo up 2>/dev/null || true; run_update'
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs the release tarball's static programs on an older Debian (11,
# bullseye, glibc 2.31, by default) in a throwaway root made with
# mmdebstrap from Debian's packages: each program starts and prints its
# usage, zvloader builds main.enc from the sample firmware there exactly
# as on this machine, and uploads it to zvdevsim, both inside that root,
# over loopback in a private network namespace.
#   bash scripts/check-old-debian.sh [SUITE]     (default bullseye)
# Builds the tarball first when it is missing (scripts/package.sh tarball).
# Needs root; the root's image is kept in build-oldroot/ for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
SUITE="${1:-bullseye}"
log() { printf '== old debian: %s\n' "$*"; }

[ "$(id -u)" -eq 0 ] || { log "needs root (chroot, network namespace)"; exit 2; }
bash scripts/install-deps.sh build packaging

tarball="$(ls build-tarball/zvloader-*-static.tar.gz 2>/dev/null | head -1 || true)"
if [ -z "$tarball" ]; then
  bash scripts/package.sh tarball
  tarball="$(ls build-tarball/zvloader-*-static.tar.gz | head -1)"
fi

mkdir -p build-oldroot
image="build-oldroot/$SUITE.tar"
if [ ! -f "$image" ]; then
  log "making a $SUITE root (mmdebstrap, minbase)"
  mmdebstrap --variant=minbase --include=iproute2 "$SUITE" "build-oldroot/$SUITE.part.tar"
  mv "build-oldroot/$SUITE.part.tar" "$image"
fi

chroot_dir="$(mktemp -d)"
cleanup() { rm -rf "$chroot_dir"; }
trap cleanup EXIT
tar -xf "$image" -C "$chroot_dir"
mkdir -p "$chroot_dir/opt/zvloader" "$chroot_dir/work"
tar -xzf "$tarball" -C "$chroot_dir/opt/zvloader" --strip-components=1
cp samples/firmware.hex "$chroot_dir/work/"
log "$(chroot "$chroot_dir" sh -c '. /etc/os-release; echo "$PRETTY_NAME"'), $(chroot "$chroot_dir" ldd --version | head -1)"

# Each program starts: zvloader's usage text, the companions' -h.
for program in zvloader zvfleet zvinspect zvdevsim; do
  args=(-h)
  [ "$program" != zvloader ] || args=()
  status=0
  out="$(chroot "$chroot_dir" "/opt/zvloader/bin/$program" "${args[@]}" 2>&1 < /dev/null)" || status=$?
  log "$program ${args[*]} starts: status $status, first line: $(head -1 <<< "$out")"
  grep -qi 'usage' <<< "$out" || { log "$program printed no usage"; exit 1; }
done

# The same update file as on this machine.
(cd "$chroot_dir/work" && chroot "$chroot_dir" sh -c \
  'cd /work && /opt/zvloader/bin/zvloader -NE -T M -M 1 -K Zelva-K1 -f firmware.hex' > /dev/null) || true
here="$(mktemp -d)"
(cd "$here" && "$ROOT/build-tarball/zvloader" -NE -T M -M 1 -K Zelva-K1 -f "$ROOT/samples/firmware.hex" > /dev/null) || true
if ! cmp "$chroot_dir/work/main.enc" "$here/main.enc"; then
  rm -rf "$here"
  log "main.enc built on $SUITE differs from this machine's"
  exit 1
fi
rm -rf "$here"
log "main.enc built on $SUITE is the same as here ($(stat -c %s "$chroot_dir/work/main.enc") bytes)"

# An upload inside the old root, over its own loopback.
cat > "$chroot_dir/work/upload.sh" <<'EOF'
set -eu
ip link set lo up
cd /work
/opt/zvloader/bin/zvdevsim -m 1 -P set-pw -K Zelva-K1 -c 2 -t 0 > device.log &
device=$!
i=0
until grep -q listening device.log; do
  i=$((i + 1)); [ "$i" -lt 200 ] || { echo "no device"; exit 1; }
  sleep 0.05
done
status=0
/opt/zvloader/bin/zvloader -IP 127.0.0.1 -P set-pw -f main.enc > tool.log || status=$?
wait "$device" || true
echo "zvloader status $status; $(grep -c 'commit code .* ok' device.log) commits accepted; $(tail -1 tool.log)"
grep -q 'File Transfered' tool.log
EOF
result="$(unshare -n chroot "$chroot_dir" sh /work/upload.sh)" || { log "upload failed: $result"; exit 1; }
log "upload on $SUITE: $result"
log "the static programs run on $SUITE"

#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages that a task of this project needs, only the
# ones missing, without recommended packages.
#   bash scripts/install-deps.sh build|test|fuzz ...
#     build: compiler and CMake (the tool and the simulator)
#     test:  GoogleTest and OpenSSL's headers (a test-only comparison)
#     fuzz:  clang with its sanitizer and libFuzzer runtimes
set -euo pipefail

packages=()
for group in "$@"; do
  case "$group" in
    build) packages+=(g++ make cmake) ;;
    test) packages+=(googletest libssl-dev) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    *) echo "install-deps: unknown group $group" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

echo "== installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! $sudo apt-get install -y --no-install-recommends "${missing[@]}"; then
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the Debian packages that a task of this project needs, only the
# ones missing, without recommended packages.
#   bash scripts/install-deps.sh build|test|bench|fuzz|packaging|windows|ansible|browser ...
#     build: compiler and CMake (the tool and the simulator), nlohmann-json
#            (the companions read JSON with it; header-only)
#     test:  GoogleTest's sources, and ip for the tests that run in a
#            network namespace of their own
#     bench: the openssl program, against which the build benchmark times
#            the tool's DES-CBC (bench/build_benchmark.sh)
#     fuzz:  clang with its sanitizer and libFuzzer runtimes
#     packaging: what the packages and their checks need: the Debian
#            package tools (file, dpkg-dev: dpkg-shlibdeps, dpkg-buildflags),
#            lintian, scdoc and man for the manual pages, bash-completion,
#            tcpdump and tshark for the dissector test, mmdebstrap for the
#            check on an older Debian
#     windows: the MinGW-w64 cross compiler (the release zip)
#     ansible: ansible-core, whose ansible-playbook checks the playbook of
#            contrib/ansible against this machine
#     browser: headless Chromium and tidy, which open and validate zvfleet's
#            report pages (tests/browser/run.sh); on a bare Debian 12 about
#            153 packages, 190 MB to fetch and 680 MB on disk
# The package lists are fetched first when they are missing or more than
# a day old, so that a fresh machine installs without an error.
set -euo pipefail

packages=()
for group in "$@"; do
  case "$group" in
    build) packages+=(g++ make cmake nlohmann-json3-dev) ;;
    test) packages+=(googletest iproute2) ;;
    bench) packages+=(openssl) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    packaging) packages+=(file dpkg-dev fakeroot lintian scdoc groff-base man-db gzip
                          bash-completion tcpdump tshark iproute2 mmdebstrap
                          debian-archive-keyring unzip) ;;
    windows) packages+=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 binutils) ;;
    ansible) packages+=(ansible-core iproute2) ;;
    browser) packages+=(chromium tidy python3) ;;
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
# The folder's time is that of the last update that changed a list (the
# lists themselves carry the archive's times).
lists=/var/lib/apt/lists
if [ -z "$(find "$lists" -maxdepth 1 -name '*_Packages*' 2>/dev/null | head -1)" ] ||
   [ -z "$(find "$lists" -maxdepth 0 -mmin -1440 2>/dev/null)" ]; then
  echo "== the package lists are missing or older than a day: apt-get update"
  $sudo apt-get -o DPkg::Lock::Timeout=600 update
fi
# Other installs on this machine may hold the lock for a while.
$sudo apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}"

#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the release packages and checks them:
#   deb      build-deb/zvloader_VERSION-1_amd64.deb, built with the flags of
#            dpkg-buildflags (hardening=+all); lintian must report no error
#            and no warning; its manual pages must set without a roff
#            warning (man --warnings), and zvloader's page must quote the
#            tool's usage text exactly
#   tarball  build-tarball/zvloader-VERSION-linux-x86_64-static.tar.gz,
#            statically linked programs (scripts/check-old-debian.sh runs
#            them on an older Debian)
#   zip      build-win-release/zvloader-VERSION-windows-x86_64.zip, the
#            MinGW-w64 cross build without the tests
#   bash scripts/package.sh [deb] [tarball] [zip]    (default: all three)
# Installs what it needs (install-deps.sh build packaging [windows]).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$(pwd)"
kinds=("$@")
[ "${#kinds[@]}" -gt 0 ] || kinds=(deb tarball zip)

log() { printf '== package: %s\n' "$*"; }
fail() { log "$*" >&2; exit 1; }

groups=(build packaging)
for kind in "${kinds[@]}"; do
  case "$kind" in
    deb | tarball) ;;
    zip) groups+=(windows) ;;
    *) echo "package: unknown kind $kind (deb, tarball, zip)" >&2; exit 2 ;;
  esac
done
bash scripts/install-deps.sh "${groups[@]}"

version="$(sed -n 's/^project(ZVloader VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
[ -n "$version" ] || fail "no version in CMakeLists.txt"

# Every page must set without a warning; zvloader's must hold the usage
# text exactly as the tool prints it.
check_man_pages() {
  local dir="$1" tool="$2" page warnings
  for page in zvloader zvfleet zvinspect zvdevsim; do
    [ -f "$dir/$page.1" ] || fail "no manual page $dir/$page.1"
    warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$dir/$page.1" 2>&1 >/dev/null)"
    [ -z "$warnings" ] || fail "$page.1: roff warnings: $warnings"
  done
  local usage expected
  usage="$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$dir/zvloader.1" 2>/dev/null |
           sed -n '/^ *usage: zelvaUnit Loader ZVloader$/,/^ *-f <FileName>/p' | sed 's/^ \{11\}//')"
  expected="$("$tool" 2>&1 || true)"
  [ "$usage" = "$expected" ] || fail "zvloader.1 does not quote the usage text:
$usage
--- the tool prints:
$expected"
  log "manual pages set without warnings; zvloader.1 quotes the usage text"
}

# Each program's completion loads into bash-completion and offers its
# options; zvloader's also the file type letters after -T.
check_completions() {
  local got
  got="$(bash -c '
    source /usr/share/bash-completion/bash_completion
    for f in contrib/bash-completion/*; do source "$f" || exit 1; done
    complete_line() {
      COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
      COMPREPLY=(); "_${1}"; echo "$* -> ${COMPREPLY[*]}"
    }
    complete_line zvloader -N
    complete_line zvloader -T ""
    complete_line zvfleet --pro
    complete_line zvinspect --ex
    complete_line zvdevsim -dbg-s' 2>&1)"
  local expected="zvloader -N -> -NE
zvloader -T  -> M L H
zvfleet --pro -> --progress
zvinspect --ex -> --extract
zvdevsim -dbg-s -> -dbg-start"
  [ "$got" = "$expected" ] || fail "bash completion: got
$got
--- expected
$expected"
  log "bash completion of the four programs"
}

build_deb() {
  log "Debian package"
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  local cppflags cxxflags ldflags
  cppflags="$(dpkg-buildflags --get CPPFLAGS)"
  cxxflags="$(dpkg-buildflags --get CXXFLAGS)"
  ldflags="$(dpkg-buildflags --get LDFLAGS)"
  log "CPPFLAGS $cppflags; CXXFLAGS $cxxflags; LDFLAGS $ldflags"
  cmake --preset package-deb -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" > /dev/null
  cmake --build --preset package-deb
  (cd build-deb && rm -f ./*.deb && cpack > cpack.log) || { cat build-deb/cpack.log; fail "cpack failed"; }
  local deb
  deb="$(ls build-deb/zvloader_*.deb)"
  log "$deb"
  # The whole control file: CPack writes its fields in alphabetical order,
  # so Architecture, Depends, Description and Maintainer come before Package.
  dpkg-deb --info "$deb" control

  local changelog_version
  changelog_version="$(sed -n '1s/^zvloader (\([^)]*\)).*/\1/p' cmake/debian/changelog)"
  [ "$changelog_version" = "$version-1" ] ||
    fail "cmake/debian/changelog's first entry is $changelog_version, the package $version-1"
  [ -n "$(dpkg-deb -f "$deb" Depends)" ] || fail "no Depends line (dpkg-shlibdeps)"
  local listing path
  listing="$(dpkg-deb -c "$deb" | awk '{ print $6 }')"
  for path in ./usr/bin/zvloader ./usr/bin/zvfleet ./usr/bin/zvinspect ./usr/bin/zvdevsim \
              ./usr/share/man/man1/zvloader.1.gz ./usr/share/man/man1/zvfleet.1.gz \
              ./usr/share/man/man1/zvinspect.1.gz ./usr/share/man/man1/zvdevsim.1.gz \
              ./usr/share/bash-completion/completions/zvloader \
              ./usr/share/bash-completion/completions/zvfleet \
              ./usr/share/bash-completion/completions/zvinspect \
              ./usr/share/bash-completion/completions/zvdevsim \
              ./usr/share/doc/zvloader/copyright ./usr/share/doc/zvloader/changelog.Debian.gz \
              ./usr/share/doc/zvloader/NOTICE \
              ./usr/lib/x86_64-linux-gnu/wireshark/plugins/zvloader.lua; do
    grep -qxF "$path" <<< "$listing" || fail "$deb holds no $path"
  done

  # Hardening, seen in the built program: full RELRO with BIND_NOW, PIE,
  # the stack protector and fortified calls.
  local program=build-deb/zvloader dynamic symbols
  dynamic="$(readelf -d -W "$program")"
  symbols="$(readelf --dyn-syms -W "$program")"
  grep -q 'BIND_NOW' <<< "$dynamic" || fail "$program: no BIND_NOW"
  grep -q 'Flags:.*PIE' <<< "$dynamic" || fail "$program: not PIE"
  grep -q '__stack_chk_fail' <<< "$symbols" || fail "$program: no stack protector"
  grep -q '_chk@' <<< "$symbols" || fail "$program: no fortified calls"
  log "$program: BIND_NOW, PIE, stack protector, fortified calls"

  log "lintian (errors and warnings fail; the informational tags are listed)"
  lintian --fail-on error,warning --display-info "$deb"
  log "lintian: no error, no warning; overridden: $(grep -v '^#' cmake/debian/lintian-overrides |
      sed -n 's/^zvloader: //p' | tr '\n' ' ')(cmake/debian/lintian-overrides)"
  check_man_pages build-deb/generated/man build-deb/zvloader
  check_completions
}

build_tarball() {
  log "static tarball"
  cmake --preset package-tarball > /dev/null
  cmake --build --preset package-tarball
  (cd build-tarball && rm -f ./*.tar.gz && cpack > cpack.log) ||
    { cat build-tarball/cpack.log; fail "cpack failed"; }
  local tarball listing program
  tarball="$(ls build-tarball/zvloader-*-static.tar.gz)"
  log "$tarball"
  listing="$(tar -tzf "$tarball")"
  echo "$listing" | sed 's/^/   /'
  for program in zvloader zvfleet zvinspect zvdevsim; do
    grep -q "/bin/$program\$" <<< "$listing" || fail "$tarball holds no bin/$program"
  done
  grep -q '/share/doc/zvloader/LICENSE$' <<< "$listing" || fail "$tarball holds no LICENSE"
  local unpacked
  unpacked="$(mktemp -d)"
  tar -xzf "$tarball" -C "$unpacked" --strip-components=1
  for program in zvloader zvfleet zvinspect zvdevsim; do
    file -b "$unpacked/bin/$program" | grep -q 'statically linked' ||
      { rm -rf "$unpacked"; fail "bin/$program is not statically linked"; }
  done
  rm -rf "$unpacked"
  log "the four programs are statically linked"
  check_man_pages build-tarball/generated/man build-tarball/zvloader
}

build_zip() {
  log "Windows zip"
  cmake --preset release-win > /dev/null
  cmake --build --preset release-win
  (cd build-win-release && rm -f ./*.zip && cpack > cpack.log) ||
    { cat build-win-release/cpack.log; fail "cpack failed"; }
  local zip listing name
  zip="$(ls build-win-release/zvloader-*-windows-x86_64.zip)"
  log "$zip"
  unzip -l "$zip"
  listing="$(unzip -Z1 "$zip")"
  for name in zvloader.exe zvfleet.exe zvinspect.exe zvdevsim.exe LICENSE.txt NOTICE.txt \
              README.txt zvloader.txt zvfleet.txt zvinspect.txt zvdevsim.txt zvloader.lua; do
    grep -qxF "$name" <<< "$listing" || fail "$zip holds no $name"
  done
  local unpacked
  unpacked="$(mktemp -d)"
  unzip -q "$zip" -d "$unpacked"
  for name in README.txt LICENSE.txt zvloader.txt; do
    # Every line ends in CR LF: no LF without its CR.
    if tr -d '\r' < "$unpacked/$name" | cmp -s - "$unpacked/$name" ||
       grep -q $'[^\r]$' "$unpacked/$name"; then
      rm -rf "$unpacked"
      fail "$name has lines without CR LF"
    fi
  done
  for name in zvloader zvfleet zvinspect zvdevsim; do
    strings -el "$unpacked/$name.exe" | grep -qx "$version ([0-9a-f]*)\|$version (unknown)" ||
      { rm -rf "$unpacked"; fail "$name.exe carries no version resource of $version"; }
    log "$name.exe: $(strings -el "$unpacked/$name.exe" | grep -A1 -x FileDescription | tail -1)," \
        "FileVersion $(strings -el "$unpacked/$name.exe" | grep -A1 -x FileVersion | tail -1)"
  done
  rm -rf "$unpacked"
}

for kind in "${kinds[@]}"; do
  "build_$kind"
done
log "done: ${kinds[*]}"

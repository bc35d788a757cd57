#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks contrib/ansible/site-update.yml against this machine: five sites
# (connection local) with simulated devices on loopback.  east (a canary,
# its options set for its group as a JSON text) and west (options per
# host, a list) are updated; north's device refuses the password (exit
# status 1) and south's devices are updated but not back online, since
# this namespace answers no echo request (--confirm-online, options of its
# group as plain text: exit status 4): both are marked failed with their
# reports fetched.  lost's list is refused (exit status 2, no report): its
# stale report, here and on the workstation, is removed and not taken for
# this run's.  zvfleet --summary then reads the four reports.  Runs in a
# private network namespace of its own.  Needs the native build (bash
# scripts/test.sh).
#   bash scripts/ansible-test.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh ansible
build=$(cd "${1:-build}" && pwd)
for program in zvfleet zvloader tools/zvdevsim/zvdevsim; do
  [ -x "$build/$program" ] || { echo "ansible-test: no $build/$program (build first)" >&2; exit 2; }
done

if [ "${ZV_IN_NAMESPACE:-0}" != 1 ]; then
  exec unshare -n env ZV_IN_NAMESPACE=1 bash "$0" "$build"
fi
ip link set lo up

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

cd "$work"
"$build/zvloader" -NE -T L -K Zelva-K1 -f "$OLDPWD/samples/logo.bin" > /dev/null || true
[ -s logo.enc ] || { echo "ansible-test: no logo.enc" >&2; exit 1; }
mkdir -p east west north south lost reports run-lost
printf '127.0.0.151,pw,logo.enc\n127.0.0.152,pw,logo.enc\n' > east/site.csv
printf '127.0.0.161,pw,logo.enc\n127.0.0.162,pw,logo.enc\n' > west/site.csv
printf '127.0.0.171,not-it,logo.enc\n' > north/site.csv
printf '127.0.0.181,pw,logo.enc\n127.0.0.182,pw,logo.enc\n' > south/site.csv
printf '127.0.0.191,pw,missing.enc\n' > lost/site.csv
# Yesterday's reports: all well.
for site in south lost; do
  printf '{"devices": [], "updated": 1, "not_updated": 0}\n' > "reports/$site.json"
done
cp reports/lost.json run-lost/report.json
for address in 127.0.0.151 127.0.0.152 127.0.0.161 127.0.0.162 127.0.0.171 127.0.0.181 127.0.0.182; do
  "$build/tools/zvdevsim/zvdevsim" -a "$address" -q -P pw -c 1 -t 120 > "dev-$address.out" 2>&1 &
  pids+=($!)
done
echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all  # no device comes back online

cat > inventory.ini <<INI
[canary_sites]
east zvfleet_site_list=$work/east/site.csv zvfleet_dir=$work/run-east
[checked_sites]
south zvfleet_site_list=$work/south/site.csv zvfleet_dir=$work/run-south
[zvfleet_sites]
west zvfleet_site_list=$work/west/site.csv zvfleet_dir=$work/run-west zvfleet_options='["--max-failures", "1"]'
north zvfleet_site_list=$work/north/site.csv zvfleet_dir=$work/run-north
lost zvfleet_site_list=$work/lost/site.csv zvfleet_dir=$work/run-lost
[zvfleet_sites:children]
canary_sites
checked_sites
[canary_sites:vars]
zvfleet_options='["--canary", "1"]'
[checked_sites:vars]
zvfleet_options=--confirm-online 1 -j 2
[zvfleet_sites:vars]
ansible_connection=local
ansible_python_interpreter=/usr/bin/python3
zvfleet_bin=$build/zvfleet
zvfleet_files='["$work/logo.enc"]'
zvfleet_reports=$work/reports
INI

export LC_ALL=C.UTF-8 ANSIBLE_FORKS=1 ANSIBLE_NOCOLOR=1 ANSIBLE_LOCAL_TEMP=$work/.ansible-local \
  ANSIBLE_REMOTE_TEMP=$work/.ansible-remote ANSIBLE_RETRY_FILES_ENABLED=0
status=0
ansible-playbook -v -i inventory.ini "$OLDPWD/contrib/ansible/site-update.yml" > playbook.out 2>&1 ||
  status=$?
fail() { echo "ansible-test: $*" >&2; cat playbook.out >&2; exit 1; }
# ansible-playbook's status 2: a host failed (north, south and lost, as
# they should).
[ "$status" = 2 ] || fail "ansible-playbook ended $status, not 2 (north, south and lost failed)"
for site in east west; do
  grep -Eq "^$site +: ok=[0-9]+ +changed=[0-9]+ +unreachable=0 +failed=0" playbook.out ||
    fail "$site failed"
done
for site in north south lost; do
  grep -Eq "^$site +: .* failed=1" playbook.out || fail "$site was not marked failed"
done
# Options of a group (a JSON text, plain text) and of a host (a list).
grep -q '^changed: \[east\] => .*"cmd": \["[^"]*zvfleet", "--canary", "1", "--progress"' playbook.out ||
  fail "east did not run with its group's --canary 1"
grep -q '^changed: \[south\] => .*"cmd": \["[^"]*zvfleet", "--confirm-online", "1", "-j", "2", "--progress"' \
  playbook.out || fail "south did not run with its group's --confirm-online 1 -j 2"
grep -q '^changed: \[west\] => .*"cmd": \["[^"]*zvfleet", "--max-failures", "1", "--progress"' playbook.out ||
  fail "west did not run with its own --max-failures 1"
grep -q 'zvfleet ended with exit status 4' playbook.out || fail "south did not end with status 4"
grep -q 'zvfleet ended with exit status 2: it wrote no report' playbook.out ||
  fail "lost did not end with status 2 and no report"
for site in east west north south; do [ -s "reports/$site.json" ] || fail "no report of $site fetched"; done
grep -q '"not_back_online": 2' reports/south.json || fail "south's report is not this run's"
[ ! -e reports/lost.json ] && [ ! -e run-lost/report.json ] || fail "lost's stale report was kept"

summary_status=0
"$build/zvfleet" --summary reports/east.json reports/west.json reports/north.json reports/south.json \
  > summary.out || summary_status=$?
cat summary.out
[ "$summary_status" = 1 ] || fail "zvfleet --summary ended $summary_status, not 1"
grep -q '^Summary: 4 reports, 4 site lists: 7 devices, 6 updated, 1 not updated; 2 not back online$' summary.out ||
  fail "the summary's totals are wrong"
grep -Eq '^reports/north.json +127.0.0.171 +logo.enc +wrong password; nothing sent$' summary.out ||
  fail "north's wrong password is not in the summary"
for pid in "${pids[@]:0:4}"; do wait "$pid" || fail "a device of east or west was not updated"; done
echo "ansible-test: the playbook updated two sites, marked three failed, fetched every report written and removed the stale one"

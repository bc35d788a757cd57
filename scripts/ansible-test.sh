#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks contrib/ansible/site-update.yml against this machine: two sites
# (connection local), each with two simulated devices on loopback, one
# with a canary; the playbook copies each list and file, runs zvfleet and
# fetches each report, and zvfleet --summary reads them.  A third site
# whose device refuses the file shows that its report is fetched all the
# same and the site is marked failed.  Runs in a private network
# namespace of its own.  Needs the native build (bash scripts/test.sh).
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
mkdir -p east west north
printf '127.0.0.151,pw,logo.enc\n127.0.0.152,pw,logo.enc\n' > east/site.csv
printf '127.0.0.161,pw,logo.enc\n127.0.0.162,pw,logo.enc\n' > west/site.csv
printf '127.0.0.171,not-it,logo.enc\n' > north/site.csv
for address in 127.0.0.151 127.0.0.152 127.0.0.161 127.0.0.162 127.0.0.171; do
  "$build/tools/zvdevsim/zvdevsim" -a "$address" -q -P pw -c 1 -t 120 > "dev-$address.out" 2>&1 &
  pids+=($!)
done

cat > inventory.ini <<INI
[zvfleet_sites]
east zvfleet_site_list=$work/east/site.csv zvfleet_dir=$work/run-east zvfleet_options='["--canary", "1"]'
west zvfleet_site_list=$work/west/site.csv zvfleet_dir=$work/run-west zvfleet_options='["--max-failures", "1"]'
north zvfleet_site_list=$work/north/site.csv zvfleet_dir=$work/run-north
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
ansible-playbook -i inventory.ini "$OLDPWD/contrib/ansible/site-update.yml" > playbook.out 2>&1 ||
  status=$?
fail() { echo "ansible-test: $*" >&2; cat playbook.out >&2; exit 1; }
# ansible-playbook's status 2: a host failed (north, as it should).
[ "$status" = 2 ] || fail "ansible-playbook ended $status, not 2 (north failed)"
grep -Eq '^east +: ok=[0-9]+ +changed=[0-9]+ +unreachable=0 +failed=0' playbook.out || fail "east failed"
grep -Eq '^west +: ok=[0-9]+ +changed=[0-9]+ +unreachable=0 +failed=0' playbook.out || fail "west failed"
grep -Eq '^north +: .* failed=1' playbook.out || fail "north was not marked failed"
for site in east west north; do [ -s "reports/$site.json" ] || fail "no report of $site fetched"; done

summary_status=0
"$build/zvfleet" --summary reports/east.json reports/west.json reports/north.json > summary.out ||
  summary_status=$?
cat summary.out
[ "$summary_status" = 1 ] || fail "zvfleet --summary ended $summary_status, not 1"
grep -q '^Summary: 3 reports, 5 devices, 4 updated, 1 not updated$' summary.out ||
  fail "the summary's totals are wrong"
grep -Eq '^reports/north.json +127.0.0.171 +logo.enc +wrong password$' summary.out ||
  fail "north's wrong password is not in the summary"
for pid in "${pids[@]:0:4}"; do wait "$pid" || fail "a device of east or west was not updated"; done
echo "ansible-test: the playbook updated two sites, marked the third failed and fetched all reports"

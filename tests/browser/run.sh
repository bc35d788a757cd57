#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The browser test of zvfleet's report pages: pages of recorded runs (one
# device whose debug line holds markup; a site with a canary, a retry and
# an emergency stop, both kept by the in-process fleet case report_pages;
# one page of two reports, --summary --html; a hostile report whose
# logs lie outside its run folder; and, with ZV_BROWSER_BIG=1
# (.ci/run sets it), a preflight of 1,024 devices against the simulator,
# a real run of about a minute in a private network namespace) are
# checked by tidy, then opened in headless
# Chromium with JavaScript on.  The page's own self-test (#selftest) writes
# what it renders into the DOM: device rows and bars, totals, a sort both
# ways, a filter, scripts and event handlers in the page, the hostile line
# shown as text, and any error the page raised.  A screenshot of each page
# stays in BUILD/browser.  Exit 77 (skipped) when Chromium is missing.
#   bash tests/browser/run.sh [BUILD]
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
if ! command -v chromium > /dev/null || ! command -v tidy > /dev/null; then
  echo "browser test: skipped, Chromium or tidy is not installed (bash scripts/install-deps.sh browser)"
  exit 77
fi
out=$build/browser
rm -rf "$out"
mkdir -p "$out"

ZV_KEEP_PAGES=$out "$build/tests/fleet_cases" --gtest_filter='*report_pages*' > "$out/fleet_cases.log"

# 1,024 devices: one simulator answers at every address.
big_page() {
big=$out/big
mkdir -p "$big"
python3 - "$big/site.csv" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    f.write("address,password,file\n")
    for i in range(1, 1025):
        f.write(f"127.1.{i // 256}.{i % 256},pw,main.enc\n")
PY
(cd "$big" && "$build/zvloader" -NE -T M -M 1 -K browser-key -f "$src/samples/firmware.hex" > /dev/null || true)
run_big() {
  ip link set lo up
  "$build/tools/zvdevsim/zvdevsim" -a 0.0.0.0 -m 1 -P pw -t 300 > "$big/device.log" 2>&1 &
  local sim=$!
  for _ in $(seq 100); do grep -q listening "$big/device.log" && break; sleep 0.05; done
  local status=0
  (cd "$big" && "$build/zvfleet" --preflight -j 128 --stall 20 --progress lines \
    --report big.json --html "$out/report_pages-big.html" site.csv > zvfleet.out 2>&1) || status=$?
  kill "$sim" 2> /dev/null || true
  [ "$status" -eq 6 ] || { echo "browser test: the 1,024-device preflight ended $status"; tail "$big/zvfleet.out"; exit 1; }
}
export -f run_big
export build big out
unshare -n bash -c run_big
}
if [ "${ZV_BROWSER_BIG:-0}" = 1 ]; then big_page; fi

failed=0
check() {  # PAGE ROWS BARS MARKS TOTALS-TEXT HOSTILE
  local page=$out/$1
  local size
  size=$(stat -c %s "$page")
  if [ "$size" -ge $((2 * 1024 * 1024)) ]; then
    echo "FAIL $1: $size bytes, not under 2 MB"; failed=1
  fi
  # tidy: 0 clean, 1 warnings, 2 errors; an HTML5 page with inline SVG passes with no error.
  local rc=0
  tidy -q -e "$page" > "$out/$1.tidy" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "FAIL $1: tidy finds fault with it"; head "$out/$1.tidy"; failed=1
  fi
  local profile
  profile=$(mktemp -d)
  local flags=(--headless --no-sandbox --disable-gpu --disable-quic --no-first-run
    --disable-background-networking --disable-component-update --disable-sync
    --user-data-dir="$profile")
  timeout 120 chromium "${flags[@]}" --virtual-time-budget=5000 --dump-dom "file://$page#selftest" \
    > "$out/$1.dom" 2> "$out/$1.chromium.log" || true
  timeout 120 chromium "${flags[@]}" --window-size=1280,1600 --screenshot="$out/${1%.html}.png" \
    "file://$page" >> "$out/$1.chromium.log" 2>&1 || true
  rm -rf "$profile"
  python3 - "$out/$1.dom" "$2" "$3" "$4" "$5" "$6" <<'PY' || failed=1
import html, json, re, sys
dom, rows, bars, marks, totals, hostile = sys.argv[1:]
text = open(dom, encoding="utf-8", errors="replace").read()
m = re.search(r'<pre id="selftest">(.*?)</pre>', text, re.S)
name = dom.rsplit("/", 1)[-1]
if not m:
    sys.exit(f"FAIL {name}: the page's self-test wrote nothing (a script error?)")
got = json.loads(html.unescape(m.group(1)))
want = {"rows": int(rows), "bars": int(bars), "marks": int(marks), "sorted": True,
        "sortedBack": True, "filtered": 1, "scripts": 1, "handlers": 0, "errors": [],
        "hostileShown": hostile == "yes"}
bad = [f"{k}: {got.get(k)!r}, not {v!r}" for k, v in want.items() if got.get(k) != v]
if not any(totals in t for t in got.get("totals", [])):
    bad.append(f"totals: {got.get('totals')!r}, not {totals!r}")
if bad:
    sys.exit(f"FAIL {name}: " + "; ".join(bad))
print(f"ok   {name}: {got['rows']} rows, {got['bars']} bars, {got['marks']} marks, sort, filter, no error")
PY
}
check report_pages-one.html 1 1 0 "1 devices: 1 updated, 0 not updated" yes
check report_pages-site.html 6 6 3 "6 devices: 2 updated, 4 not updated" no
check report_pages-both.html 7 7 3 "6 devices: 2 updated, 4 not updated" yes
# A hostile report: no byte of a file outside its run folder in the page.
check report_pages-hostile.html 8 8 1 "8 devices: 0 updated, 8 not updated" no
dom=$out/report_pages-hostile.html.dom
if grep -q OUTSIDE "$dom" || [ "$(grep -o 'log not shown' "$dom" | wc -l)" -ne 7 ]; then
  echo "FAIL report_pages-hostile.html: an outside file in the page, or a log shown"; failed=1
fi
if [ "${ZV_BROWSER_BIG:-0}" = 1 ]; then
  check report_pages-big.html 1024 1024 0 "1024 devices: 1024 would be updated, 0 would not" no
fi
echo "screenshots: $out/*.png"
exit $failed

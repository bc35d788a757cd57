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

ZV_KEEP_PAGES=$out "$build/tests/fleet_cases" --gtest_filter='*report_pages*:*report_triage*' > "$out/fleet_cases.log"

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
check() {  # PAGE ROWS BARS MARKS HEADLINE HOSTILE COMMAND(yes|no)
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
    --hide-scrollbars --user-data-dir="$profile")
  # The self-test runs at a phone's width, 390 px: headless Chromium keeps
  # a window at least 500 px wide, so the page stands in a frame of 390 px
  # in a page of the test's own, to which its self-test posts what it found.
  phone() {  # PAGE-URL HEIGHT
    printf '%s\n' '<!DOCTYPE html><html><head><meta charset="utf-8"><title>390 px</title>' \
      '<style>body{margin:0;background:#888}iframe{border:0;display:block;background:#fff}</style></head><body>' \
      "<iframe src=\"$1\" width=\"390\" height=\"$2\"></iframe><script>" \
      "window.addEventListener('message',function(e){var p=document.createElement('pre');" \
      "p.id='selftest';p.textContent=e.data;document.body.appendChild(p);});</script></body></html>"
  }
  phone "$1#selftest" 844 > "$out/phone-$1"
  phone "$1" 2400 > "$out/phone-shot-$1"
  timeout 120 chromium "${flags[@]}" --window-size=500,844 --virtual-time-budget=5000 \
    --dump-dom "file://$out/phone-$1" > "$out/$1.dom" 2> "$out/$1.chromium.log" || true
  timeout 120 chromium "${flags[@]}" --window-size=1366,1600 --screenshot="$out/${1%.html}-1366.png" \
    "file://$page" >> "$out/$1.chromium.log" 2>&1 || true
  timeout 120 chromium "${flags[@]}" --window-size=500,2400 --screenshot="$out/${1%.html}-390.png" \
    "file://$out/phone-shot-$1" >> "$out/$1.chromium.log" 2>&1 || true
  rm -rf "$profile"
  python3 - "$out/$1.dom" "$2" "$3" "$4" "$5" "$6" "$7" <<'PY' || failed=1
import html, json, re, sys
dom, rows, bars, marks, headline, hostile, command = sys.argv[1:]
text = open(dom, encoding="utf-8", errors="replace").read()
m = re.search(r'<pre id="selftest">(.*?)</pre>', text, re.S)
name = dom.rsplit("/", 1)[-1]
if not m:
    sys.exit(f"FAIL {name}: the page's self-test wrote nothing (a script error?)")
got = json.loads(html.unescape(m.group(1)))
want = {"rows": int(rows), "bars": int(bars), "marks": int(marks), "sorted": True,
        "sortedBack": True, "filtered": 1, "scripts": 1, "handlers": 0, "errors": [],
        "hostileShown": hostile == "yes", "wide": [], "failureAboveTimeline": True,
        "causesWithoutLines": 0}
bad = [f"{k}: {got.get(k)!r}, not {v!r}" for k, v in want.items() if got.get(k) != v]
# Nothing scrolls sideways at 390 px but the table in its own box.
if got.get("scrollWidth", 1e9) > got.get("viewport", 0):
    bad.append(f"the page is {got.get('scrollWidth')} px wide in a {got.get('viewport')} px viewport")
if not any(headline in t for t in got.get("totals", [])):
    bad.append(f"headline: {got.get('totals')!r}, not {headline!r}")
commands = got.get("commands", [])
if (command == "yes") != any(c.startswith("zvfleet ") for c in commands):
    bad.append(f"the command that continues the run: {commands!r}")
if not got.get("causes"):
    bad.append("no cause listed")
if bad:
    sys.exit(f"FAIL {name}: " + "; ".join(bad))
print(f"ok   {name}: {got['rows']} rows, {got['bars']} bars, {got['marks']} marks, "
      f"{len(got['causes'])} causes, {got['attention']} need attention, {got['scrollWidth']} px wide "
      "at 390, sort, filter, no error")
PY
}
check report_pages-one.html 1 1 0 "The device was updated." yes no
check report_pages-site.html 6 6 3 "4 of 6 devices need attention" no yes
check report_pages-both.html 7 0 0 "2 site lists, 7 devices: 7 updated, 0 need attention" yes no
check report_triage-site.html 64 64 1 "54 of 64 devices need attention" no yes
# A hostile report: no byte of a file outside its run folder in the page.
check report_pages-hostile.html 9 0 0 "9 devices: 0 updated, 9 need attention" no yes
dom=$out/report_pages-hostile.html
if grep -q OUTSIDE "$dom" || [ "$(grep -o 'log not shown' "$dom" | wc -l)" -ne 8 ]; then
  echo "FAIL report_pages-hostile.html: an outside file in the page, or a log shown"; failed=1
fi
if [ "${ZV_BROWSER_BIG:-0}" = 1 ]; then
  check report_pages-big.html 1024 1 0 "All 1024 devices answered with model and password." no yes
fi
echo "screenshots: $out/*.png"
exit $failed

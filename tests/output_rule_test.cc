// SPDX-License-Identifier: Apache-2.0
// The companions' one rule for what they write, as whole programs: every option that names an
// output (zvinspect --extract; zvfleet --report, --html and --summary --html) is tried against
// every file that its run reads, the run's other output, /dev/stdout, /dev/null, a symbolic link, a
// FIFO, a missing folder and (not as root) a read-only one.  Each is refused with exit status 2
// before anything is written or sent: the target unchanged, no log folder made.  A page of a report
// whose logs lead out through links (or whose run folder is reached through one), or are a FIFO or
// a 2 GB file, ends and shows none of them but the big log's end; a help on a full device ends
// with exit status 2.  Run through a POSIX shell, skipped where there is none.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "tests/support/case_file.h"
#include "tests/support/programs.h"

namespace {

// OUT in each command stands for the target; the inputs and outputs of the command follow it.
const char SCRIPT[] = R"SH(
I="$1 -K Zelva-K1 logo.enc"; F="$2 --stall 1 -o logs"; n=0
cp "$3/samples/logo.bin" . && "$4" -NE -T L -K Zelva-K1 -f logo.bin > /dev/null
printf '127.0.0.1,,logo.enc\n' > s.csv; printf '{}' > r.json; printf 'kept' > keep.txt
ln -s keep.txt link.json; mkfifo fifo.json; mkdir ro; chmod 555 ro
targets="/dev/stdout /dev/null link.json fifo.json none/x.json"
[ "$(id -u)" = 0 ] || targets="$targets ro/x.json"
sums() { cksum logo.enc logo.bin s.csv r.json keep.txt rep.json 2>/dev/null; }
try() {  # command with OUT, then its own files as targets
  cmd=$1; shift
  for t in "$@" $targets; do
    before=$(sums); c=$(echo "$cmd" | sed "s|OUT|$t|g")
    $c > out.txt 2>&1; s=$?; n=$((n + 1))
    [ $s = 2 ] || echo "FAIL ($s): $c: $(cat out.txt)"
    [ "$before" = "$(sums)" ] || echo "FAIL (a file changed): $c"
    [ -L link.json ] && [ -p fifo.json ] && [ -L /dev/stdout ] || echo "FAIL (replaced): $c"
    [ ! -e logs ] && [ ! -e none ] && [ -z "$(ls ro)" ] || echo "FAIL (wrote): $c"
  done
}
try "$I --extract OUT" logo.enc
try "$I --against logo.bin --extract OUT" logo.bin
try "$F --report OUT s.csv" s.csv
try "$F --resume r.json --report OUT s.csv" r.json
try "$F --report rep.json --html OUT s.csv" s.csv logo.enc rep.json ./rep.json
try "$F --resume r.json --report rep.json --html OUT s.csv" r.json
try "$2 --summary --html OUT r.json" r.json ./r.json
echo "tried $n"
# A report whose logs lead out through a link, or are a FIFO or a 2 GB
# file: the page ends, with no byte from outside and the huge log's end.
mkdir -p run/x && echo OUTSIDE > secret.txt && ln -s ../../secret.txt run/x/a.log
ln -s .. run/x/up; mkfifo run/x/b.log; truncate -s 2000000000 run/x/c.log; echo TAIL >> run/x/c.log
row() { printf '{"address":"10.0.0.%s","line":%s,"file":"f","result":"no answer","left":"","attempts":1,"duration_s":1,"line_sha256":"%064d","updated_at":null,"updated_in":null,"online":null,"online_after_s":null,"exit_status":1,"log_file":"%s"}' $1 $1 $1 "$2"; }
printf '{"zvfleet_report":2,"run":{"id":"%032d","started":"s","workstation":"w","zvfleet_version":"v","ended":true,"folder":"run/x"},"resumed_from":null,"site_list":"x","site_list_sha256":"%064d","line_salt":"%032d","devices":[%s,%s,%s,%s],"updated":0,"not_updated":4,"not_back_online":0,"not_confirmed_online":0}' 1 1 1 \
  "$(row 1 run/x/a.log)" "$(row 2 run/x/up/x/b.log)" "$(row 3 run/x/b.log)" "$(row 4 run/x/c.log)" > h.json
timeout 20 $2 --summary --html h.html h.json > /dev/null; echo "hostile page $? $(grep -c 'log not shown' h.html) $(grep -c OUTSIDE h.html) $(grep -c TAIL h.html)"
# A run folder reached through a link: its logs are not shown.
ln -s run r && echo INSIDE > run/x/d.log
sed 's|"folder":"run/x"|"folder":"r/x"|; s|run/x/a.log|r/x/d.log|' h.json > h2.json
timeout 20 $2 --summary --html h2.html h2.json > /dev/null; echo "linked folder $? $(grep -c INSIDE h2.html)"
# A help or version that cannot be written ends with the status of results that cannot be.
$1 --help > /dev/full; a=$?; $2 --version > /dev/full; echo "full output $a $?"
)SH";

TEST(OutputRule, EveryOutputOptionAgainstEveryInputAndNonFile) {
  ScratchDir scratch;
  writeFile("rule.sh", Bytes(SCRIPT, SCRIPT + sizeof(SCRIPT) - 1));
  PlatChild shell;
  if (!startProgram({"/bin/sh", "-c", "exit 0"}, "sh.out", &shell) || finishProgram(shell) != 0)
    GTEST_SKIP() << "no POSIX shell here";
  ASSERT_TRUE(startProgram({"/bin/sh", "rule.sh", ZV_INSPECT, ZV_FLEET, ZV_SOURCE_DIR, ZV_LOADER},
                           "rule.out", &shell));
  EXPECT_EQ(0, finishProgram(shell));
  std::string out = readOutput("rule.out");
  EXPECT_EQ(std::string::npos, out.find("FAIL")) << out;
  size_t nAt = out.find("tried ");
  ASSERT_NE(std::string::npos, nAt) << out;
  EXPECT_LE(40, atoi(out.c_str() + nAt + 6)) << out;
  EXPECT_NE(std::string::npos, out.find("hostile page 1 3 0 1")) << out;
  EXPECT_NE(std::string::npos, out.find("linked folder 1 0")) << out;
  EXPECT_NE(std::string::npos, out.find("full output 2 2")) << out;
}

}  // namespace

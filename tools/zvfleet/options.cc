// SPDX-License-Identifier: Apache-2.0
// zvfleet's command line (see options.h).
#include "tools/zvfleet/options.h"

#include <string.h>

#include "base/console.h"
#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/common/decimal.h"
#include "tools/common/option_scan.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/online_check.h"

#define MAX_JOBS 128
#define MAX_STALL_SECONDS 86400
#define MAX_RETRIES 100

static const char s_szUsage[] =
    "usage: zvfleet [options] SITE.csv\n"
    "Updates every device of a site list with zvloader, several at once, with\n"
    "each device's progress on screen, its output and debug messages in a log\n"
    "of its own, and a table of results at the end.\n"
    "SITE.csv: one device a line, address,password,file[,options]; a header\n"
    "line beginning with \"address\" and # comments may stand in it.  Files\n"
    "are found from the list's folder; options are those of the tool for a\n"
    "plain file (-NE -T M|L|H -M N) and -EA.  Fields with commas or quotes\n"
    "are quoted (\"a,b\" and \"\" for a quote).\n"
    "  -j N            devices updated at once, 1 to 128 (default 16)\n"
    "  -o DIR          the site's folder (default zvfleet-logs): its lock, one\n"
    "                  run at a time, and a folder per run, DIR/run-N, with a\n"
    "                  log per device, site.log for senders that are not on\n"
    "                  the list, and the copies of the files\n"
    "  --stall S       a device whose tool gets no request acknowledged for S\n"
    "                  seconds is stopped (default 150)\n"
    "  --retries N     run again, up to N times, devices that did not answer,\n"
    "                  made no progress, met a receive error or whose commit\n"
    "                  is unconfirmed (default 0)\n"
    "  --report FILE   write the results to FILE, .csv or .json, rewritten\n"
    "                  as devices start, reach a phase that changes what\n"
    "                  they hold, and end\n"
    "  --progress table|lines\n"
    "                  a live table, or one line per event (default: the\n"
    "                  table on a terminal, lines otherwise)\n"
    "  --loader PATH   the zvloader program (default: the one beside zvfleet)\n"
    "  --canary N      update the first N devices that this run updates alone,\n"
    "                  and the others only when all N were updated (default:\n"
    "                  none)\n"
    "  --max-failures K\n"
    "                  after K devices failed no new device starts; the running\n"
    "                  ones finish (default: no limit)\n"
    "  --max-failure-rate P\n"
    "                  the same once more than P percent of the devices finished\n"
    "                  so far failed, counted from 10 finished on (default: no\n"
    "                  limit)\n"
    "Two refusals of one file for a cause that may lie in it (bad CRC at the\n"
    "commit, bad version) stop its other devices while no device has accepted\n"
    "it; a wrong model never stops a file.  With\n"
    "--confirm-online a device not back online counts as failed for --canary,\n"
    "--max-failures and --max-failure-rate.\n"
    "  --resume REPORT run only the devices that REPORT (the .json report of an\n"
    "                  earlier run of this list) does not show updated; the\n"
    "                  list may have changed only in the lines of the others\n"
    "                  (passwords included)\n"
    "  --confirm-online S\n"
    "                  after a device was updated, send it ICMP echo requests,\n"
    "                  about one a second, until it answers or S seconds (1 to\n"
    "                  3600) have passed; \"back online\" needs it silent once\n"
    "                  (restarting), then answering (default: no check)\n"
    "  --dry-run       check the list and print the plan of the run (files,\n"
    "                  devices, requests and bytes, waves, rules); send nothing\n"
    "  --preflight     write nothing to any device: ask each one for its model\n"
    "                  with its listed password (the model query that every\n"
    "                  upload begins with, and nothing after it), -j at once,\n"
    "                  each bounded by --stall; the results say whether each\n"
    "                  answered, its model, whether it fits its file and took\n"
    "                  the password, and name the list line to mend (not with\n"
    "                  --canary, --max-failures, --max-failure-rate, --resume\n"
    "                  or --confirm-online)\n"
    "  --html FILE     write a report page too: one self-contained HTML file\n"
    "                  drawn from the JSON report (--report FILE.json): the\n"
    "                  run's identity and totals, a timeline of every device,\n"
    "                  the results table (sortable, filterable) and each\n"
    "                  device's log\n"
    "  -h, --help      this text\n"
    "  -V, --version   the version and the build's commit\n"
    "zvfleet --summary [--html FILE] REPORT.json...  prints the state of the\n"
    "sites (and with --html a page of the reports): each\n"
    "device as the latest report of its site list tells it (exit status 0\n"
    "when every device was updated, 1 otherwise, 4 when one is not back\n"
    "online, 2 when a report cannot be read or is cut or edited).\n"
    "Ctrl+C or SIGTERM stops the running devices, starts no more, and ends\n"
    "with the results of all.\n"
    "Exit status: 0 when every device was updated, 1 otherwise, 2 for a bad\n"
    "command line, site list or log folder, or a log folder or debug port in\n"
    "use by another zvfleet (then nothing is started) and when the results\n"
    "cannot be written to standard output, 3 when interrupted, 4 when every\n"
    "device was updated but one or more were not (confirmed) back online, 5\n"
    "when the report could not be written.  A dry run exits 0 when a run would\n"
    "start.  A preflight exits 6 when every device would be updated, 1 when\n"
    "one or more would not (2, 3 and 5 as a run).\n";

// A whole decimal number from ulMin to ulMax.
static int readNumber(const char *pszText, uint32_t ulMin, uint32_t ulMax, uint32_t *pulValue) {
  return readDecimal(pszText, ulMax, pulValue) && *pulValue >= ulMin;
}

// The extension of the report decides its form: 1 for .csv and .json.
static int reportNameAccepted(const char *pszPath) {
  const char *pDot = strrchr(pszPath, '.');
  return pDot != NULL && (strcmp(pDot, ".csv") == 0 || strcmp(pDot, ".json") == 0);
}

static int refuse(const char *pszWhat, const char *pszValue) {
  errorPrintf("zvfleet: %s%s (zvfleet -h lists the options)\n", pszWhat,
                pszValue);
  return 0;
}

enum { OPT_JOBS = 1, OPT_LOG_DIR, OPT_STALL, OPT_RETRIES, OPT_REPORT, OPT_PROGRESS, OPT_LOADER,
       OPT_DRY_RUN, OPT_CANARY, OPT_MAX_FAILURES, OPT_MAX_RATE, OPT_RESUME, OPT_CONFIRM, OPT_HELP,
       OPT_VERSION, OPT_PREFLIGHT, OPT_HTML };

static const ScanOption s_aOptions[] = {
    {"-j", 1, OPT_JOBS},          {"-o", 1, OPT_LOG_DIR},       {"--stall", 1, OPT_STALL},
    {"--retries", 1, OPT_RETRIES}, {"--report", 1, OPT_REPORT},  {"--progress", 1, OPT_PROGRESS},
    {"--loader", 1, OPT_LOADER},  {"-h", 0, OPT_HELP},          {"--help", 0, OPT_HELP},
    {"-V", 0, OPT_VERSION},       {"--version", 0, OPT_VERSION},
    {"--dry-run", 0, OPT_DRY_RUN}, {"--canary", 1, OPT_CANARY},
    {"--max-failures", 1, OPT_MAX_FAILURES}, {"--max-failure-rate", 1, OPT_MAX_RATE},
    {"--resume", 1, OPT_RESUME},  {"--confirm-online", 1, OPT_CONFIRM},
    {"--preflight", 0, OPT_PREFLIGHT}, {"--html", 1, OPT_HTML},
};

// Applies one option and its value.
static int applyOption(int nId, const char *pszValue) {
  uint32_t n = 0;
  switch (nId) {
    case OPT_JOBS:
      if (!readNumber(pszValue, 1, MAX_JOBS, &n)) return refuse("-j takes 1 to 128, not ", pszValue);
      g_fleet.nJobs = (int)n;
      return 1;
    case OPT_LOG_DIR:
      if (*pszValue == '\0') return refuse("-o takes a folder", "");
      g_fleet.pszLogDir = pszValue;
      return 1;
    case OPT_STALL:
      if (!readNumber(pszValue, 1, MAX_STALL_SECONDS, &n))
        return refuse("--stall takes 1 to 86400 seconds, not ", pszValue);
      g_fleet.ulStallSeconds = n;
      return 1;
    case OPT_RETRIES:
      if (!readNumber(pszValue, 0, MAX_RETRIES, &n))
        return refuse("--retries takes 0 to 100, not ", pszValue);
      g_fleet.nRetries = (int)n;
      return 1;
    case OPT_REPORT:
      if (!reportNameAccepted(pszValue))
        return refuse("the report must be a .csv or .json file: ", pszValue);
      g_fleet.pszReport = pszValue;
      return 1;
    case OPT_PROGRESS:
      if (strcmp(pszValue, "table") == 0) g_fleet.nProgress = PROGRESS_TABLE;
      else if (strcmp(pszValue, "lines") == 0) g_fleet.nProgress = PROGRESS_LINES;
      else return refuse("--progress takes table or lines, not ", pszValue);
      return 1;
    case OPT_CANARY:
      if (!readNumber(pszValue, 1, FLEET_MAX_DEVICES, &n))
        return refuse("--canary takes 1 to 1024 devices, not ", pszValue);
      g_fleet.nCanary = (int)n;
      return 1;
    case OPT_MAX_FAILURES:
      if (!readNumber(pszValue, 1, FLEET_MAX_DEVICES, &n))
        return refuse("--max-failures takes 1 to 1024, not ", pszValue);
      g_fleet.nMaxFailures = (int)n;
      return 1;
    case OPT_MAX_RATE:
      if (!readNumber(pszValue, 0, 99, &n))
        return refuse("--max-failure-rate takes 0 to 99 percent, not ", pszValue);
      g_fleet.nMaxFailureRate = (int)n;
      return 1;
    case OPT_CONFIRM:
      if (!readNumber(pszValue, 1, MAX_CONFIRM_SECONDS, &n))
        return refuse("--confirm-online takes 1 to 3600 seconds, not ", pszValue);
      g_fleet.ulConfirmSeconds = n;
      return 1;
    case OPT_RESUME:
      g_fleet.pszResume = pszValue;
      return 1;
    case OPT_HTML:
      if (*pszValue == '\0') return refuse("--html takes a file", "");
      g_fleet.pszHtml = pszValue;
      return 1;
    default:  // --loader
      if (strlen(pszValue) >= sizeof(g_fleet.szLoader))
        return refuse("the loader's path is too long", "");
      strcpy(g_fleet.szLoader, pszValue);
      return 1;
  }
}

int parseFleetOptions(int argc, char **argv) {
  g_fleet.nJobs = 16;
  g_fleet.pszLogDir = "zvfleet-logs";
  g_fleet.ulStallSeconds = 150;
  g_fleet.nMaxFailureRate = -1;
  OptionScanner scan;
  startOptionScan(&scan, argc, argv, s_aOptions, (int)(sizeof(s_aOptions) / sizeof(s_aOptions[0])));
  const char *pszArg, *pszValue;
  int nId;
  while ((nId = nextOption(&scan, &pszArg, &pszValue)) != SCAN_END) {
    if (nId == OPT_HELP || (nId == SCAN_OPERAND && platIsHelpSwitch(pszArg))) {
      consoleWrite(s_szUsage, (int)strlen(s_szUsage));
      return -1;
    }
    if (nId == OPT_VERSION) {
      printVersion("zvfleet");
      return -1;
    }
    if (nId == OPT_DRY_RUN) {
      g_fleet.bDryRun = 1;
    } else if (nId == OPT_PREFLIGHT) {
      g_fleet.bPreflight = 1;
    } else if (nId == SCAN_OPERAND) {
      if (g_fleet.pszList != NULL) return refuse("one site list only: ", pszArg);
      g_fleet.pszList = pszArg;
    } else if (nId == SCAN_UNKNOWN) {
      return refuse("unknown option ", pszArg);
    } else if (nId == SCAN_NO_VALUE) {
      return refuse("no value after ", pszArg);
    } else if (!applyOption(nId, pszValue)) {
      return 0;
    }
  }
  if (g_fleet.pszList == NULL) return refuse("no site list given", "");
  const char *pszDot = g_fleet.pszReport != NULL ? strrchr(g_fleet.pszReport, '.') : NULL;
  if (g_fleet.pszHtml != NULL && (pszDot == NULL || strcmp(pszDot, ".json") != 0))
    return refuse("--html draws its page from the JSON report: give --report FILE.json", "");
  if (g_fleet.bPreflight && (g_fleet.nCanary > 0 || g_fleet.nMaxFailures > 0 ||
                             g_fleet.nMaxFailureRate >= 0 || g_fleet.pszResume != NULL ||
                             g_fleet.ulConfirmSeconds > 0))
    return refuse("--preflight updates nothing: it takes no --canary, --max-failures, "
                  "--max-failure-rate, --resume or --confirm-online", "");
  if (g_fleet.bPreflight && !platProgramBeside("zvfleet", g_fleet.szSelf, sizeof(g_fleet.szSelf)))
    return refuse("cannot tell where zvfleet itself is, for its preflight", "");
  if (g_fleet.pszReport != NULL && (strcmp(g_fleet.pszReport, g_fleet.pszList) == 0 ||
                                     platSameFile(g_fleet.pszReport, g_fleet.pszList)))
    return refuse("the report would overwrite the site list: ", g_fleet.pszReport);
  if (g_fleet.szLoader[0] == '\0' &&
      !platProgramBeside("zvloader", g_fleet.szLoader, sizeof(g_fleet.szLoader)))
    return refuse("cannot tell where zvloader is: give --loader", "");
  return 1;
}

// SPDX-License-Identifier: Apache-2.0
// zvfleet's command line (see options.h).
#include "tools/zvfleet/options.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/common/option_table.h"
#include "tools/common/output_path.h"
#include "tools/zvfleet/fleet.h"

// The extension of the report decides its form: true for .csv and .json.
static bool reportNameAccepted(const char *pszPath) {
  const char *pDot = strrchr(pszPath, '.');
  return pDot != NULL && (strcmp(pDot, ".csv") == 0 || strcmp(pDot, ".json") == 0);
}

enum { OPT_JOBS = 1, OPT_LOG_DIR, OPT_STALL, OPT_RETRIES, OPT_REPORT, OPT_PROGRESS, OPT_LOADER,
       OPT_DRY_RUN, OPT_CANARY, OPT_MAX_FAILURES, OPT_MAX_RATE, OPT_RESUME, OPT_CONFIRM,
       OPT_PREFLIGHT, OPT_HTML, OPT_NO_DEBUG_PORT };

static const CliOption s_aOptions[] = {
    {OPT_JOBS, "-j", CLI_NUMBER, "N", 1, 128, "16", NULL, NULL, "devices updated at once"},
    {OPT_LOG_DIR, "-o", CLI_TEXT, "DIR", 1, 0, "zvfleet-logs", NULL, "a folder",
     "the site's folder: its lock, one run at a time, and a folder per run, DIR/run-N, with a "
     "log per device, site.log for senders that are not on the list, and the copies of the "
     "files"},
    {OPT_STALL, "--stall", CLI_NUMBER, "S", 1, 86400, "150", NULL, "seconds",
     "a device whose tool gets no request acknowledged for S seconds is stopped"},
    {OPT_RETRIES, "--retries", CLI_NUMBER, "N", 0, 100, "0", NULL, NULL,
     "run again, up to N times, devices that did not answer, made no progress, met a receive "
     "error or whose commit is unconfirmed"},
    {OPT_REPORT, "--report", CLI_TEXT, "FILE", 0, 0, NULL, NULL, "a .csv or .json file",
     "write the results to FILE, .csv or .json, rewritten as devices start, reach a phase that "
     "changes what they hold, and end"},
    {OPT_PROGRESS, "--progress", CLI_CHOICE, "table|lines", 0, 0, NULL,
     "the table on a terminal, lines otherwise", NULL,
     "a live table, or one line per event"},
    {OPT_LOADER, "--loader", CLI_TEXT, "PATH", 1, sizeof(g_fleet.szLoader) - 1, NULL,
     "the one beside zvfleet", NULL, "the zvloader program"},
    {OPT_CANARY, "--canary", CLI_NUMBER, "N", 1, FLEET_MAX_DEVICES, NULL, "none", "devices",
     "update the first N devices that this run updates alone, and the others only when all N "
     "were updated"},
    {OPT_MAX_FAILURES, "--max-failures", CLI_NUMBER, "K", 1, FLEET_MAX_DEVICES, NULL, "no limit",
     NULL, "after K devices failed no new device starts; the running ones finish"},
    {OPT_MAX_RATE, "--max-failure-rate", CLI_NUMBER, "P", 0, 99, NULL, "no limit", "percent",
     "the same once more than P percent of the devices finished so far failed, counted from 10 "
     "finished on"},
    {OPT_RESUME, "--resume", CLI_TEXT, "REPORT", 0, 0, NULL, NULL, NULL,
     "run only the devices that REPORT (the .json report of an earlier run of this list) does "
     "not show updated; the list may have changed only in the lines of the others (passwords "
     "included)"},
    {OPT_CONFIRM, "--confirm-online", CLI_NUMBER, "S", 1, 3600, NULL, "no check", "seconds",
     "after a device was updated, send it ICMP echo requests, about one a second, until it "
     "answers or S seconds have passed; \"back online\" needs it silent once (restarting), then "
     "answering"},
    {OPT_DRY_RUN, "--dry-run", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL,
     "check the list and print the plan of the run (files, devices, requests and bytes, waves, "
     "rules); send nothing"},
    {OPT_PREFLIGHT, "--preflight", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL,
     "write nothing to any device: ask each one for its model with its listed password (the "
     "model query that every upload begins with, and nothing after it), -j at once, each "
     "bounded by --stall; the results say whether each answered, its model, whether it fits "
     "its file and took the password, and name the list line to mend (not with --canary, "
     "--max-failures, --max-failure-rate, --resume or --confirm-online)"},
    {OPT_NO_DEBUG_PORT, "--no-debug-port", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL,
     "run even when another program holds the debug port: the devices' debug lines are then "
     "not filed (without it such a run is refused, nothing sent)"},
    {OPT_HTML, "--html", CLI_TEXT, "FILE", 1, 0, NULL, NULL, "a file",
     "write a report page too: one self-contained HTML file drawn from the JSON report "
     "(--report FILE.json): the run's identity and totals, a timeline of every device, the "
     "results table (sortable, filterable) and each device's log"},
};

const CliProgram g_fleetCommandLine = {
    "zvfleet",
    "[options] SITE.csv",
    "--summary [--html FILE] REPORT.json...",
    "site list",
    "Updates every device of a site list with zvloader, several at once, with\n"
    "each device's progress on screen, its output and debug messages in a log\n"
    "of its own, and a table of results at the end.\n"
    "SITE.csv: one device a line, address,password,file[,options]; a header\n"
    "line beginning with \"address\" and # comments may stand in it.  Files\n"
    "are found from the list's folder; options are those of the tool for a\n"
    "plain file (-NE -T M|L|H -M N) and -EA.  Fields with commas or quotes\n"
    "are quoted (\"a,b\" and \"\" for a quote).\n",
    s_aOptions,
    (int)(sizeof(s_aOptions) / sizeof(s_aOptions[0])),
    "Two refusals of one file for a cause that may lie in it (bad CRC at the\n"
    "commit, bad version) stop its other devices while no device has accepted\n"
    "it; a wrong model never stops a file.  With --confirm-online a device\n"
    "not back online counts as failed for --canary, --max-failures and\n"
    "--max-failure-rate.\n"
    "zvfleet --summary [--html FILE] REPORT.json...  prints the state of the\n"
    "sites (and with --html a page of the reports): each device as the\n"
    "latest report of its site list tells it (exit status 0\n"
    "when every device was updated, 1 otherwise, 4 when one is not back\n"
    "online, 2 when a report cannot be read or is cut or edited).\n"
    "Ctrl+C, SIGTERM or SIGHUP stops the running devices, starts no more, and\n"
    "ends with the results of all.\n"
    "Exit status: 0 when every device was updated, 1 otherwise, 2 for a bad\n"
    "command line, site list, log folder or report to resume, a log folder in\n"
    "use by another zvfleet, a debug port held by another program, or no ICMP\n"
    "echo for --confirm-online (then nothing is started), and when the results\n"
    "cannot be written to standard output, 3 when interrupted, 4 when every\n"
    "device was updated but one or more were not (confirmed) back online, 5\n"
    "when the report could not be written.  A dry run exits 0 when a run would\n"
    "start.  A preflight exits 6 when every device answered with its model\n"
    "and password, 1 when one or more did not (2, 3 and 5 as a run).\n",
    2,
};

// Applies one option and its value.
static bool applyOption(void *, int nId, const char *pszValue, uint32_t n) {
  switch (nId) {
    case OPT_JOBS: g_fleet.nJobs = (int)n; return true;
    case OPT_LOG_DIR: g_fleet.pszLogDir = pszValue; return true;
    case OPT_STALL: g_fleet.ulStallSeconds = n; return true;
    case OPT_RETRIES: g_fleet.nRetries = (int)n; return true;
    case OPT_REPORT:
      g_fleet.pszReport = pszValue;
      return reportNameAccepted(pszValue);
    case OPT_PROGRESS: g_fleet.nProgress = n == 0 ? PROGRESS_TABLE : PROGRESS_LINES; return true;
    case OPT_CANARY: g_fleet.nCanary = (int)n; return true;
    case OPT_MAX_FAILURES: g_fleet.nMaxFailures = (int)n; return true;
    case OPT_MAX_RATE: g_fleet.nMaxFailureRate = (int)n; return true;
    case OPT_CONFIRM: g_fleet.ulConfirmSeconds = n; return true;
    case OPT_RESUME: g_fleet.pszResume = pszValue; return true;
    case OPT_HTML: g_fleet.pszHtml = pszValue; return true;
    case OPT_DRY_RUN: g_fleet.bDryRun = true; return true;
    case OPT_PREFLIGHT: g_fleet.bPreflight = true; return true;
    case OPT_NO_DEBUG_PORT: g_fleet.bNoDebugPort = true; return true;
    default: strcpy(g_fleet.szLoader, pszValue); return true;  // --loader, of a length checked
  }
}

static int refuse(const char *pszWhat, const char *pszValue) {
  return cliUsageError(&g_fleetCommandLine, "%s%s", pszWhat, pszValue);
}

int parseFleetOptions(int argc, char **argv) {
  g_fleet.nMaxFailureRate = -1;
  g_fleet.apszArgs = argv;
  g_fleet.nArgs = argc;
  int nParsed = cliParse(&g_fleetCommandLine, argc, argv, applyOption, NULL, &g_fleet.pszList);
  if (nParsed != CLI_RUN) return nParsed;
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
  if (g_fleet.szLoader[0] == '\0' &&
      !platProgramBeside("zvloader", g_fleet.szLoader, sizeof(g_fleet.szLoader)))
    return refuse("cannot tell where zvloader is: give --loader", "");
  return CLI_RUN;
}

// One refusal of the rule's, or none.
static bool outputAllowed(const char *pszWhat, const char *pszPath) {
  const char *pszWhy = outputRuleCheck(pszPath, pszWhat);
  if (pszWhy == NULL) return true;
  errorPrintf("zvfleet: %s %s: %s; nothing was started\n", pszWhat, pszPath, pszWhy);
  return false;
}

bool checkFleetOutputs(void) {
  static char s_szSpace[OUTPUT_PATH_SIZE];
  outputRuleReset();
  outputRuleReads(g_fleet.pszList, "the site list");
  outputRuleReads(g_fleet.szLoader, "zvloader");
  if (g_fleet.pszResume != NULL) outputRuleReads(g_fleet.pszResume, "the --resume report");
  for (int i = 0; i < g_nDevices; i++) outputRuleReads(g_aDevices[i].szPath, "an update file");
  if (g_fleet.pszReport != NULL) {
    if (!outputAllowed("--report", g_fleet.pszReport)) return false;
    // The room held beside the report is written too.
    snprintf(s_szSpace, sizeof(s_szSpace), "%s.space", g_fleet.pszReport);
    if (!outputAllowed("--report's room", s_szSpace)) return false;
  }
  return g_fleet.pszHtml == NULL || outputAllowed("--html", g_fleet.pszHtml);
}

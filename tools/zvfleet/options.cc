// SPDX-License-Identifier: Apache-2.0
// zvfleet's command line (see options.h).
#include "tools/zvfleet/options.h"

#include <stdlib.h>
#include <string.h>

#include "app/console.h"
#include "tools/zvfleet/fleet.h"

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
    "  -o DIR          folder of the logs, one per device and site.log for\n"
    "                  senders that are not on the list (default zvfleet-logs)\n"
    "  --stall S       a device whose tool gets no request acknowledged for S\n"
    "                  seconds is stopped (default 150)\n"
    "  --retries N     run again, up to N times, devices that did not answer,\n"
    "                  made no progress, met a receive error or whose commit\n"
    "                  is unconfirmed (default 0)\n"
    "  --report FILE   write the results to FILE, .csv or .json, rewritten\n"
    "                  whenever a device ends\n"
    "  --progress table|lines\n"
    "                  a live table, or one line per event (default: the\n"
    "                  table on a terminal, lines otherwise)\n"
    "  --loader PATH   the zvloader program (default: the one beside zvfleet)\n"
    "  -h              this text\n"
    "Ctrl+C or SIGTERM stops the running devices, starts no more, and ends\n"
    "with the results of all.\n"
    "Exit status: 0 when every device was updated, 1 otherwise, 2 for a bad\n"
    "command line, site list or log folder (then nothing is started), 3 when\n"
    "interrupted.\n";

// A whole decimal number from nMin to nMax.
static int readNumber(const char *pszText, long nMin, long nMax, long *pnValue) {
  if (*pszText < '0' || *pszText > '9' || strlen(pszText) > 9) return 0;
  char *pEnd = NULL;
  long n = strtol(pszText, &pEnd, 10);
  if (*pEnd != '\0' || n < nMin || n > nMax) return 0;
  *pnValue = n;
  return 1;
}

// The extension of the report decides its form: 1 for .csv and .json.
static int reportNameAccepted(const char *pszPath) {
  const char *pDot = strrchr(pszPath, '.');
  return pDot != NULL && (strcmp(pDot, ".csv") == 0 || strcmp(pDot, ".json") == 0);
}

static int refuse(const char *pszWhat, const char *pszValue) {
  consolePrintf("zvfleet: %s%s (zvfleet -h lists the options)\n", pszWhat,
                pszValue);
  return 0;
}

// Applies the option at argv[*pi] and the value after it.
static int applyOption(int argc, char **argv, int *pi) {
  const char *pszName = argv[*pi];
  static const char *const apszValued[] = {"-j", "-o", "--stall", "--retries",
                                          "--report", "--progress", "--loader"};
  int bValued = 0;
  for (const char *pszValued : apszValued)
    if (strcmp(pszName, pszValued) == 0) bValued = 1;
  if (!bValued) return refuse("unknown option ", pszName);
  if (*pi + 1 >= argc) return refuse("no value after ", pszName);
  const char *pszValue = argv[++*pi];
  long n = 0;
  if (strcmp(pszName, "-j") == 0) {
    if (!readNumber(pszValue, 1, MAX_JOBS, &n))
      return refuse("-j takes 1 to 128, not ", pszValue);
    g_fleet.nJobs = (int)n;
  } else if (strcmp(pszName, "-o") == 0) {
    if (*pszValue == '\0') return refuse("-o takes a folder", "");
    g_fleet.pszLogDir = pszValue;
  } else if (strcmp(pszName, "--stall") == 0) {
    if (!readNumber(pszValue, 1, MAX_STALL_SECONDS, &n))
      return refuse("--stall takes 1 to 86400 seconds, not ", pszValue);
    g_fleet.ulStallSeconds = (unsigned long)n;
  } else if (strcmp(pszName, "--retries") == 0) {
    if (!readNumber(pszValue, 0, MAX_RETRIES, &n))
      return refuse("--retries takes 0 to 100, not ", pszValue);
    g_fleet.nRetries = (int)n;
  } else if (strcmp(pszName, "--report") == 0) {
    if (!reportNameAccepted(pszValue))
      return refuse("the report must be a .csv or .json file: ", pszValue);
    g_fleet.pszReport = pszValue;
  } else if (strcmp(pszName, "--progress") == 0) {
    if (strcmp(pszValue, "table") == 0) g_fleet.nProgress = PROGRESS_TABLE;
    else if (strcmp(pszValue, "lines") == 0) g_fleet.nProgress = PROGRESS_LINES;
    else return refuse("--progress takes table or lines, not ", pszValue);
  } else {
    if (strlen(pszValue) >= sizeof(g_fleet.szLoader))
      return refuse("the loader's path is too long", "");
    strcpy(g_fleet.szLoader, pszValue);
  }
  return 1;
}

int parseFleetOptions(int argc, char **argv) {
  g_fleet.nJobs = 16;
  g_fleet.pszLogDir = "zvfleet-logs";
  g_fleet.ulStallSeconds = 150;
  for (int i = 0; i < argc; i++) {
    if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      consoleWrite(s_szUsage, (int)strlen(s_szUsage));
      return -1;
    }
    if (argv[i][0] != '-') {
      if (g_fleet.pszList != NULL) return refuse("one site list only: ", argv[i]);
      g_fleet.pszList = argv[i];
    } else if (!applyOption(argc, argv, &i)) {
      return 0;
    }
  }
  if (g_fleet.pszList == NULL) return refuse("no site list given", "");
  if (g_fleet.pszReport != NULL && strcmp(g_fleet.pszReport, g_fleet.pszList) == 0)
    return refuse("the report would overwrite the site list: ", g_fleet.pszReport);
  if (g_fleet.szLoader[0] == '\0' &&
      !platProgramBeside("zvloader", g_fleet.szLoader, sizeof(g_fleet.szLoader)))
    return refuse("cannot tell where zvloader is: give --loader", "");
  return 1;
}

// SPDX-License-Identifier: Apache-2.0
// The lock of the site folder and the folder of each run (see
// site_folder.h).
#include "tools/zvfleet/site_folder.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/common/output_path.h"
#include "tools/zvfleet/fleet.h"

#define MAX_RUNS 100000

static char s_szLock[FLEET_PATH_SIZE];
static char s_szRun[FLEET_PATH_SIZE];
static char s_szStart[24];
static bool s_bTaken;

const char *runFolder(void) { return s_szRun; }

static void startText(void) {
  PlatDateTime now;
  platLocalDateTime(&now);
  snprintf(s_szStart, sizeof(s_szStart), "%04d-%02d-%02d %02d:%02d:%02d", now.nYear, now.nMonth,
           now.nDay, now.nHour, now.nMinute, now.nSecond);
}

int holderText(char *pszText, int nSize) {
  char szWorkstation[128];
  platHostName(szWorkstation, sizeof(szWorkstation));
  int n = snprintf(pszText, (size_t)nSize, "pid %lu\nworkstation %s\nstart %s\nlist %s\nrun %s\n",
                   platProcessId(), szWorkstation, s_szStart, g_fleet.pszList, s_szRun);
  return n < nSize ? n : 0;
}

// The value of the line "KEY value", cut to fit.
static void holderField(const char *pszText, const char *pszKey, char *pszValue, int nSize) {
  pszValue[0] = '\0';
  size_t nKey = strlen(pszKey);
  for (const char *p = pszText; *p != '\0';) {
    const char *pEnd = strchr(p, '\n');
    size_t nLine = pEnd != NULL ? (size_t)(pEnd - p) : strlen(p);
    if (nLine > nKey && strncmp(p, pszKey, nKey) == 0 && p[nKey] == ' ') {
      int nValue = std::min((int)(nLine - nKey - 1), nSize - 1);
      memcpy(pszValue, p + nKey + 1, (size_t)nValue);
      pszValue[nValue] = '\0';
      return;
    }
    p += nLine + (pEnd != NULL);
  }
}

bool readHolder(const char *pszPath, FleetHolder *pHolder) {
  memset(pHolder, 0, sizeof(*pHolder));
  FILE *pFile = fopen(pszPath, "rb");
  if (pFile == NULL) return false;
  char szText[2048];
  size_t n = fread(szText, 1, sizeof(szText) - 1, pFile);
  fclose(pFile);
  szText[n] = '\0';
  char szPid[24];
  holderField(szText, "pid", szPid, sizeof(szPid));
  holderField(szText, "workstation", pHolder->szWorkstation, sizeof(pHolder->szWorkstation));
  holderField(szText, "start", pHolder->szStart, sizeof(pHolder->szStart));
  holderField(szText, "list", pHolder->szList, sizeof(pHolder->szList));
  holderField(szText, "run", pHolder->szRun, sizeof(pHolder->szRun));
  char *pEnd;
  pHolder->ulPid = strtoul(szPid, &pEnd, 10);
  return szPid[0] >= '0' && szPid[0] <= '9' && *pEnd == '\0' && pHolder->ulPid > 0;
}

bool holderLives(const FleetHolder *pHolder) {
  char szWorkstation[128];
  platHostName(szWorkstation, sizeof(szWorkstation));
  if (strcmp(szWorkstation, pHolder->szWorkstation) != 0) return true;
  // A lock with this process's own id was left by an earlier process that
  // had it: that one has ended.
  return pHolder->ulPid != platProcessId() && platProcessAlive(pHolder->ulPid);
}

// Creates the lock, which must not exist.  False when another made it
// first or it cannot be written.
static bool createLock(void) {
  FILE *pLock = platCreateNewFile(s_szLock);
  if (pLock == NULL) return false;
  fclose(pLock);
  char szText[1536];
  int n = holderText(szText, sizeof(szText));
  if (n > 0 && platAppendToFile(s_szLock, szText, n)) return true;
  platRemoveFile(s_szLock);
  return false;
}

// Writes the lock anew, in one step: a new file replaces it.
static bool replaceLock(void) {
  char szText[1536];
  int n = holderText(szText, sizeof(szText));
  return n > 0 && outputRuleSave(s_szLock, szText, (size_t)n) == OUTPUT_OK;
}

// Takes over a lock whose process no longer runs.
static bool takeOver(const FleetHolder *pOld) {
  if (!replaceLock()) return false;
  errorPrintf("zvfleet: %s was left by zvfleet pid %lu (started %s, list %s), which no longer "
              "runs: taken over (that run's logs stay in %s)\n",
              s_szLock, pOld->ulPid, pOld->szStart, pOld->szList,
              pOld->szRun[0] != '\0' ? pOld->szRun : "its folder");
  return true;
}

static void refuseHeld(const FleetHolder *pHolder) {
  char szWorkstation[128];
  platHostName(szWorkstation, sizeof(szWorkstation));
  if (strcmp(szWorkstation, pHolder->szWorkstation) != 0)
    errorPrintf("zvfleet: the log folder %s is held by zvfleet pid %lu on the workstation %s "
                "(started %s, list %s), which cannot be asked from here whether it still runs; "
                "nothing was started (once that run has ended, remove %s)\n",
                g_fleet.pszLogDir, pHolder->ulPid, pHolder->szWorkstation, pHolder->szStart,
                pHolder->szList, s_szLock);
  else
    errorPrintf("zvfleet: the log folder %s is in use by another zvfleet (pid %lu, started %s, "
                "list %s); nothing was started: one run per site folder at a time\n",
                g_fleet.pszLogDir, pHolder->ulPid, pHolder->szStart, pHolder->szList);
}

// The first run-N not taken, made.  Its name fits: takeSiteFolder left
// room for it.
static bool makeRunFolder(void) {
  for (int i = 1; i <= MAX_RUNS; i++) {
    snprintf(s_szRun, sizeof(s_szRun), "%s/run-%d", g_fleet.pszLogDir, i);
    if (platPathKind(s_szRun) != PLAT_PATH_NONE) continue;
    if (platMakeDirectory(s_szRun)) return true;
    break;
  }
  errorPrintf("zvfleet: cannot make a folder for this run in %s\n", g_fleet.pszLogDir);
  return false;
}

bool takeSiteFolder(void) {
  s_bTaken = false;
  s_szRun[0] = '\0';
  startText();
  const char *pszDir = g_fleet.pszLogDir;
  // A name that leaves room for the run's folder, run-N, too.
  int n = snprintf(s_szLock, sizeof(s_szLock), "%s/%s", pszDir, SITE_LOCK_NAME);
  if (n >= (int)sizeof(s_szLock) - 16) {
    errorPrintf("zvfleet: the folder's name is too long: %s\n", pszDir);
    return false;
  }
  if (!platMakeDirectory(pszDir)) {
    errorPrintf("zvfleet: cannot make the folder %s for the logs\n", pszDir);
    return false;
  }
  if (!createLock()) {
    FleetHolder holder;
    if (platPathKind(s_szLock) == PLAT_PATH_NONE) {
      errorPrintf("zvfleet: cannot write in the folder %s for the logs\n", pszDir);
      return false;
    }
    if (!readHolder(s_szLock, &holder)) {
      // Being written this moment, or damaged: not taken either way.
      errorPrintf("zvfleet: the log folder %s holds a lock that names no process (%s); nothing "
                  "was started (if no zvfleet runs with this folder, remove it)\n",
                  pszDir, s_szLock);
      return false;
    }
    if (holderLives(&holder)) {
      refuseHeld(&holder);
      return false;
    }
    if (!takeOver(&holder)) {
      errorPrintf("zvfleet: cannot take over the lock %s\n", s_szLock);
      return false;
    }
  }
  s_bTaken = true;
  // The lock names the run's folder too.
  if (makeRunFolder()) {
    if (replaceLock()) return true;
    errorPrintf("zvfleet: cannot write the lock %s\n", s_szLock);
  }
  releaseSiteFolder();
  return false;
}

void abandonRunFolder(void) {
  char szPath[FLEET_PATH_SIZE + 16];
  const char *const apszNames[] = {"site.log", "journal.jsonl", "journal.jsonl.space"};
  for (const char *pszName : apszNames)
    if (snprintf(szPath, sizeof(szPath), "%s/%s", s_szRun, pszName) < (int)sizeof(szPath) &&
        platPathKind(szPath) == PLAT_PATH_FILE)
      platRemoveFile(szPath);
  if (s_szRun[0] != '\0') platRemoveDirectory(s_szRun);
}

void releaseSiteFolder(void) {
  if (!s_bTaken) return;
  s_bTaken = false;
  FleetHolder holder;
  // Only a lock of this run's.
  if (readHolder(s_szLock, &holder) && holder.ulPid == platProcessId()) platRemoveFile(s_szLock);
}

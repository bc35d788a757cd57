// SPDX-License-Identifier: Apache-2.0
// The logs of a run (see device_log.h).
#include "tools/zvfleet/device_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

static char s_szSiteLog[FLEET_PATH_SIZE];

int prepareLogs(void) {
  const char *pszDir = g_fleet.pszLogDir;
  if (!platMakeDirectory(pszDir)) {
    consolePrintf("zvfleet: cannot make the folder %s for the logs\n", pszDir);
    return 0;
  }
  int n = snprintf(s_szSiteLog, sizeof(s_szSiteLog), "%s/site.log", pszDir);
  for (int i = 0; i < g_nDevices && n > 0 && n < FLEET_PATH_SIZE; i++)
    n = snprintf(g_aDevices[i].szLog, FLEET_PATH_SIZE, "%s/%s.log", pszDir,
                 g_aDevices[i].szAddress);
  if (n <= 0 || n >= FLEET_PATH_SIZE) {
    consolePrintf("zvfleet: the folder's name is too long: %s\n", pszDir);
    return 0;
  }
  return 1;
}

void logAppend(FleetDevice *pDev, const char *pText, int nLength) {
  char szLine[1024];  // the longest: a debug line with escapes
  int bRunning = pDev->nState == STATE_RUNNING || pDev->nState == STATE_STOPPING;
  int nLead = bRunning && pDev->nPartial > 0 ? 1 : 0;
  if (nLead + nLength > (int)sizeof(szLine)) nLength = (int)sizeof(szLine) - nLead;
  szLine[0] = '\n';
  memcpy(szLine + nLead, pText, (size_t)nLength);
  if (!platAppendToFile(pDev->szLog, szLine, nLead + nLength)) return;
  if (bRunning) pDev->lOwn += nLead + nLength;
}

void logNote(FleetDevice *pDev, const char *pszFormat, ...) {
  char szNote[FLEET_LINE_SIZE];
  PlatTime now;
  platLocalTime(&now);
  int n = snprintf(szNote, sizeof(szNote), FLEET_NOTE "%02d %02d:%02d:%02d ", now.nDay,
                   now.nHour, now.nMinute, now.nSecond);
  va_list args;
  va_start(args, pszFormat);
  int nText = vsnprintf(szNote + n, sizeof(szNote) - (size_t)n - 1, pszFormat, args);
  va_end(args);
  if (nText < 0) nText = 0;
  n += nText;
  if (n > (int)sizeof(szNote) - 2) n = (int)sizeof(szNote) - 2;
  szNote[n++] = '\n';
  logAppend(pDev, szNote, n);
}

void siteLogAppend(const char *pText, int nLength) {
  platAppendToFile(s_szSiteLog, pText, nLength);
}

// SPDX-License-Identifier: Apache-2.0
// Resuming a rollout (see resume.h).  The report read is one that zvfleet
// wrote: one device an object on a line of its own.
#include "tools/zvfleet/resume.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/console.h"
#include "image/input_file.h"
#include "tools/common/cli.h"
#include "tools/common/sha256.h"
#include "tools/zvfleet/checked_files.h"
#include "tools/zvfleet/results.h"

#define REPORT_LINE_SIZE 4096

int digestSiteList(void) {
  long lSize = 0;
  if (!fileDigest(g_fleet.pszList, &lSize, g_fleet.szListSha256)) return 0;
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    Sha256 sha;
    sha256Begin(&sha);
    sha256Add(&sha, pDev->szAddress, strlen(pDev->szAddress) + 1);
    sha256Add(&sha, pDev->szFile, strlen(pDev->szFile) + 1);
    sha256Add(&sha, pDev->szSha256, strlen(pDev->szSha256) + 1);
    const char *pszOption = pDev->szExtras;
    for (int j = 0; j < pDev->nExtras; j++, pszOption += strlen(pszOption) + 1)
      sha256Add(&sha, pszOption, strlen(pszOption) + 1);
    uint8_t abDigest[SHA256_SIZE];
    sha256End(&sha, abDigest);
    for (int j = 0; j < SHA256_SIZE; j++) snprintf(pDev->szLineSha256 + 2 * j, 3, "%02x", abDigest[j]);
  }
  return 1;
}

void stampUpdate(FleetDevice *pDev) {
  PlatDateTime now;
  platLocalDateTime(&now);
  int n = snprintf(pDev->szUpdatedAt, sizeof(pDev->szUpdatedAt), "%04d-%02d-%02d %02d:%02d:%02d",
                   now.nYear, now.nMonth, now.nDay, now.nHour, now.nMinute, now.nSecond);
  if (n <= 0 || n >= (int)sizeof(pDev->szUpdatedAt)) pDev->szUpdatedAt[0] = '\0';
}

int reportField(const char *pszLine, const char *pszKey, int bEscapes, char *pszValue, int nSize) {
  char szKey[48];
  snprintf(szKey, sizeof(szKey), "\"%s\": ", pszKey);
  const char *p = strstr(pszLine, szKey);
  if (p == NULL) return 0;
  p += strlen(szKey);
  int bString = *p == '"';
  if (bString) p++;
  int n = 0;
  while (*p != '\0' && (bString ? *p != '"' : (*p != ',' && *p != '}' && *p != '\n'))) {
    if (*p == '\\' && (!bEscapes || p[1] == '\0')) return 0;
    int nTake = *p == '\\' ? 2 : 1;  // an escape kept as it stands
    if (n + nTake >= nSize) return 0;
    for (int i = 0; i < nTake; i++) pszValue[n++] = *p++;
  }
  if (bString && *p != '"') return 0;
  pszValue[n] = '\0';
  return 1;
}

static int jsonField(const char *pszLine, const char *pszKey, char *pszValue, int nSize) {
  return reportField(pszLine, pszKey, 0, pszValue, nSize);
}

static FleetDevice *deviceAt(const char *pszAddress) {
  for (int i = 0; i < g_nDevices; i++)
    if (strcmp(g_aDevices[i].szAddress, pszAddress) == 0) return &g_aDevices[i];
  return NULL;
}

static int refuse(const char *pszReport, int nLine, const char *pszWhy) {
  if (nLine > 0)
    errorPrintf("zvfleet: %s line %d: %s; nothing was started\n", pszReport, nLine, pszWhy);
  else
    errorPrintf("zvfleet: %s: %s; nothing was started\n", pszReport, pszWhy);
  return 0;
}

// Takes one device's row: an updated device of an unchanged line is not
// run again.  Returns 1, or 0 after a message.
static int takeRow(const char *pszReport, int nLine, const char *pszRow) {
  char szAddress[FLEET_ADDRESS_SIZE], szResult[FLEET_LINE_SIZE + 32], szLine[65], szAt[24],
      szNumber[32];
  if (!jsonField(pszRow, "address", szAddress, sizeof(szAddress)))
    return refuse(pszReport, nLine, "a device without its address");
  // Updated, back online or not: sending the file again would not bring
  // it back.
  if (!jsonField(pszRow, "result", szResult, sizeof(szResult)) || !resultSaysUpdated(szResult))
    return 1;  // not updated: run again
  FleetDevice *pDev = deviceAt(szAddress);
  if (!jsonField(pszRow, "line_sha256", szLine, sizeof(szLine)) ||
      !jsonField(pszRow, "updated_at", szAt, sizeof(szAt)))
    return refuse(pszReport, nLine, "an updated device without its line's SHA-256 and time");
  if (pDev == NULL || strcmp(pDev->szLineSha256, szLine) != 0) {
    char szWhy[112];
    snprintf(szWhy, sizeof(szWhy), "%s was updated from a line (or a file) that the list no longer has",
             szAddress);
    return refuse(pszReport, nLine, szWhy);
  }
  pDev->bEarlier = 1;
  pDev->nResult = RESULT_UPDATED;
  pDev->nStage = STAGE_NONE;
  snprintf(pDev->szUpdatedAt, sizeof(pDev->szUpdatedAt), "%s", szAt);
  if (jsonField(pszRow, "attempts", szNumber, sizeof(szNumber)))
    pDev->nAttempts = (int)strtol(szNumber, NULL, 10) & 0xFFFF;
  if (jsonField(pszRow, "exit_status", szNumber, sizeof(szNumber)) && strcmp(szNumber, "null") != 0)
    pDev->nExitStatus = (int)strtol(szNumber, NULL, 10) & 0xFF;
  if (jsonField(pszRow, "duration_s", szNumber, sizeof(szNumber))) {
    double d = strtod(szNumber, NULL);
    pDev->ulRunMs = d > 0 && d < 1e7 ? (unsigned long)(d * 1000.0 + 0.5) : 0;
  }
  return 1;
}

int applyResume(const char *pszReport) {
  const char *pDot = strrchr(pszReport, '.');
  if (pDot == NULL || strcmp(pDot, ".json") != 0)
    return refuse(pszReport, 0, "--resume reads a JSON report (--report FILE.json)");
  FILE *pFile = openInputFile(pszReport);
  if (pFile == NULL) return refuse(pszReport, 0, "cannot be opened");
  static char s_szLine[REPORT_LINE_SIZE];
  char szValue[FLEET_PATH_SIZE];
  int nLine = 0, bListSha = 0, bListSame = 0, bOk = 1, nRows = 0;
  while (bOk && fgets(s_szLine, sizeof(s_szLine), pFile) != NULL) {
    nLine++;
    if (strlen(s_szLine) == sizeof(s_szLine) - 1 && strchr(s_szLine, '\n') == NULL) {
      bOk = refuse(pszReport, nLine, "a line too long for a report of zvfleet's");
    } else if (strncmp(s_szLine, "  \"site_list_sha256\": ", 22) == 0) {
      bListSha = jsonField(s_szLine, "site_list_sha256", szValue, sizeof(szValue));
      bListSame = bListSha && strcmp(szValue, g_fleet.szListSha256) == 0;
    } else if (strncmp(s_szLine, "    {\"address\": ", 16) == 0) {
      if (!bListSha) bOk = refuse(pszReport, nLine, "no site list SHA-256 before the devices");
      else bOk = takeRow(pszReport, nLine, s_szLine);
      nRows++;
    }
  }
  int bReadError = ferror(pFile);
  fclose(pFile);
  if (bOk && bReadError) bOk = refuse(pszReport, 0, "cannot be read");
  if (bOk && nRows == 0) bOk = refuse(pszReport, 0, "not a report of zvfleet's (no device in it)");
  if (!bOk) {
    for (int i = 0; i < g_nDevices; i++) g_aDevices[i].bEarlier = 0;
    return 0;
  }
  int nEarlier = 0;
  for (int i = 0; i < g_nDevices; i++) nEarlier += g_aDevices[i].bEarlier;
  consolePrintf("zvfleet: resuming %s: %d device%s updated before, %d to run%s\n", pszReport,
                nEarlier, nEarlier == 1 ? "" : "s", g_nDevices - nEarlier,
                bListSame ? "" : " (the site list changed; the updated devices' lines did not)");
  return 1;
}

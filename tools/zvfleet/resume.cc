// SPDX-License-Identifier: Apache-2.0
// Resuming a rollout (see resume.h).
#include "tools/zvfleet/resume.h"

#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "tools/common/cli.h"
#include "tools/common/fixed_text.h"
#include "tools/common/sha256.h"
#include "tools/zvfleet/checked_files.h"
#include "tools/zvfleet/record.h"
#include "tools/zvfleet/report_read.h"
#include "tools/zvfleet/journal.h"

// The salted SHA-256 of the device's whole line: salt, address, password,
// file as written, the file's SHA-256, options, each ended by a zero; as
// hex in pszSha (65 bytes).
static void lineSha256(const FleetDevice *pDev, const char *pszSalt, char *pszSha) {
  Sha256 sha;
  sha256Begin(&sha);
  const char *apszFields[] = {pszSalt, pDev->szAddress, pDev->szPassword, pDev->szFile,
                              pDev->szSha256};
  for (const char *pszField : apszFields) sha256Add(&sha, pszField, strlen(pszField) + 1);
  const char *pszOption = pDev->szExtras;
  for (int j = 0; j < pDev->nExtras; j++, pszOption += strlen(pszOption) + 1)
    sha256Add(&sha, pszOption, strlen(pszOption) + 1);
  uint8_t abDigest[SHA256_SIZE];
  sha256End(&sha, abDigest);
  hexText(abDigest, SHA256_SIZE, pszSha);
}

bool digestSiteList(void) {
  long lSize = 0;
  if (!fileDigest(g_fleet.pszList, &lSize, g_fleet.szListSha256)) return false;
  for (int i = 0; i < g_nDevices; i++)
    lineSha256(&g_aDevices[i], g_fleet.szSalt, g_aDevices[i].szLineSha256);
  return true;
}

static FleetDevice *deviceAt(const char *pszAddress) {
  for (int i = 0; i < g_nDevices; i++)
    if (strcmp(g_aDevices[i].szAddress, pszAddress) == 0) return &g_aDevices[i];
  return NULL;
}

static bool refuse(const char *pszReport, const char *pszWhy) {
  errorPrintf("zvfleet: %s %s; nothing was started\n", pszReport, pszWhy);
  return false;
}

static ReportRow s_aRows[FLEET_MAX_DEVICES];

bool applyResume(const char *pszReport) {
  ReportHead head;
  char szWhy[1200];
  if (!readRunRecord(pszReport, &head, s_aRows, FLEET_MAX_DEVICES, szWhy, sizeof(szWhy)))
    return refuse(pszReport, szWhy);
  // Each updated device must stand in the list exactly as it was updated:
  // its whole line, password included.
  int nUpdated = 0, nSame = 0;
  const ReportRow *pChanged = NULL;
  for (int i = 0; i < head.nRows; i++) {
    const ReportRow *pRow = &s_aRows[i];
    if (!pRow->bUpdated) continue;
    nUpdated++;
    const FleetDevice *pDev = deviceAt(pRow->szAddress);
    char szSha[65] = "";
    if (pDev != NULL) lineSha256(pDev, head.szSalt, szSha);
    if (strcmp(szSha, pRow->szLineSha256) == 0)
      nSame++;
    else if (pChanged == NULL)
      pChanged = pRow;
  }
  bool bListSame = strcmp(head.szListSha256, g_fleet.szListSha256) == 0;
  if (nUpdated == 0 && !bListSame) {
    snprintf(szWhy, sizeof(szWhy), "is a report of another site list (%s, SHA-256 %.12s...)",
             head.szList, head.szListSha256);
    return refuse(pszReport, szWhy);
  }
  if (nUpdated > 0 && nSame == 0) {
    snprintf(szWhy, sizeof(szWhy),
             "is a report of another site list (%s): none of its %d updated devices stands in %s "
             "as it was updated (address, password, file and options)",
             head.szList, nUpdated, g_fleet.pszList);
    return refuse(pszReport, szWhy);
  }
  if (pChanged != NULL) {
    snprintf(szWhy, sizeof(szWhy),
             "says %s was updated from a line that %s no longer has (its address, password, file "
             "or options changed)",
             pChanged->szAddress, g_fleet.pszList);
    return refuse(pszReport, szWhy);
  }
  // What the earlier run learnt is kept: its attempts and time, and
  // whether an updated device was back online.
  for (int i = 0; i < head.nRows; i++) {
    const ReportRow *pRow = &s_aRows[i];
    FleetDevice *pDev = deviceAt(pRow->szAddress);
    if (pDev == NULL) continue;
    pDev->nEarlierAttempts = (int)pRow->lAttempts;
    pDev->ulEarlierRunMs = pRow->ulRunMs;
    if (pRow->bUpdated)
      recordCarried(pDev, pRow->nExitStatus, pRow->nOnline, pRow->ulOnlineAfterMs, pRow->szUpdatedAt,
                    pRow->szUpdatedIn[0] != '\0' ? pRow->szUpdatedIn : head.szRunId);
  }
  snprintf(g_fleet.szResumedFrom, sizeof(g_fleet.szResumedFrom), "%s", head.szRunId);
  // The journal as the report names it, from the report's folder.
  char szJournal[FLEET_PATH_SIZE * 2], szNotRead[600];
  if (head.szJournal[0] != '\0' &&
      reportNamedFile(pszReport, &head, head.szJournal, szJournal, sizeof(szJournal), szNotRead,
                      sizeof(szNotRead)))
    removeKilledJournalRoom(szJournal);
  int nRecheck = 0;
  for (int i = 0; i < g_nDevices; i++)
    nRecheck += g_aDevices[i].bEarlier && g_aDevices[i].nOnline != ONLINE_NONE &&
                g_aDevices[i].nOnline != ONLINE_BACK;
  char szRecheck[96] = "";
  if (nRecheck > 0)
    snprintf(szRecheck, sizeof(szRecheck), "; %d of them not confirmed back online%s", nRecheck,
             g_fleet.ulConfirmSeconds > 0 ? ", checked again" : "");
  consolePrintf("zvfleet: resuming %s: %d device%s updated before%s, %d to run%s\n", pszReport,
                nUpdated, nUpdated == 1 ? "" : "s", szRecheck, g_nDevices - nUpdated,
                bListSame ? "" : " (the site list changed; the updated devices' lines did not)");
  return true;
}

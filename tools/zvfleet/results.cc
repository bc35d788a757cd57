// SPDX-License-Identifier: Apache-2.0
// The results table and the reports (see results.h).
#include "tools/zvfleet/results.h"

#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "image/output_file.h"
#include "tools/common/cli.h"
#include "tools/common/json.h"

#define FILE_COLUMN_MAX 32

void resultText(const FleetDevice *pDev, char *pszText, int nSize) {
  static const char *const apszResults[] = {
      "not run",      "updated",      "wrong password",
      "wrong model",  "refused: bad CRC", "refused: bad version",
      "no answer",    "failed",       "no progress",
      "unconfirmed: update it again", "interrupted", "not started"};
  int nResult = pDev->nResult >= RESULT_NONE && pDev->nResult <= RESULT_NOT_STARTED
                    ? pDev->nResult
                    : RESULT_FAILED;
  if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_CHECKING)
    snprintf(pszText, (size_t)nSize, "updated, not yet answering");
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_BACK)
    snprintf(pszText, (size_t)nSize, "updated, back online after %.1f s",
             pDev->ulOnlineAfterMs / 1000.0);
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_NOT_BACK)
    snprintf(pszText, (size_t)nSize, "updated, not back online within %lu s",
             g_fleet.ulConfirmSeconds);
  else if (nResult == RESULT_UPDATED && pDev->nOnline == ONLINE_INTERRUPTED)
    snprintf(pszText, (size_t)nSize, "updated, not back online before the interruption");
  else if (nResult == RESULT_NOT_STARTED && pDev->szHeld[0] != '\0')
    snprintf(pszText, (size_t)nSize, "not started (%s)", pDev->szHeld);
  else if (nResult == RESULT_INTERRUPTED && pDev->szHeld[0] != '\0')
    snprintf(pszText, (size_t)nSize, "stopped (%s)", pDev->szHeld);
  else if (nResult != RESULT_FAILED)
    snprintf(pszText, (size_t)nSize, "%s", apszResults[nResult]);
  else if (pDev->out.szLastLine[0] != '\0')
    snprintf(pszText, (size_t)nSize, "failed: %s", pDev->out.szLastLine);
  else
    snprintf(pszText, (size_t)nSize, "failed: the tool printed nothing");
}

int resultSaysUpdated(const char *pszResult) {
  return strcmp(pszResult, "updated") == 0 || strncmp(pszResult, "updated, ", 9) == 0;
}

// The report's "online" field, by ONLINE_*.
static const char *const s_apszOnline[] = {"", "checking", "back", "not back", "interrupted"};

int onlineFieldNotBack(const char *pszOnline) {
  return strcmp(pszOnline, s_apszOnline[ONLINE_NOT_BACK]) == 0 ||
         strcmp(pszOnline, s_apszOnline[ONLINE_INTERRUPTED]) == 0;
}

int updatedAndBack(const FleetDevice *pDev) {
  return pDev->nResult == RESULT_UPDATED && pDev->nOnline != ONLINE_NOT_BACK &&
         pDev->nOnline != ONLINE_INTERRUPTED;
}

const char *stageText(const FleetDevice *pDev) {
  static const char *const apszStages[] = {
      "",
      "nothing sent",
      "model refused",
      "stopped in the idata pages",
      "stopped in the image pages (new idata committed, image not committed: update it again)",
      "stopped after the old idata was cleared (image not committed: update it again before "
      "it restarts)",
      "sent in part, not committed (the old file stands)",
      "committed but not confirmed"};
  if (pDev->nResult == RESULT_UPDATED) return "";
  return pDev->nStage > STAGE_NONE && pDev->nStage <= STAGE_UNCONFIRMED ? apszStages[pDev->nStage]
                                                                       : apszStages[STAGE_NOTHING_SENT];
}

// The result with what it leaves on the device, for the console.
static void rowResultText(const FleetDevice *pDev, char *pszText, int nSize) {
  resultText(pDev, pszText, nSize);
  if (pDev->bEarlier)
    snprintf(pszText, (size_t)nSize, "updated in an earlier run, %s", pDev->szUpdatedAt);
  const char *pszStage = stageText(pDev);
  size_t n = strlen(pszText);
  if (*pszStage != '\0' && n + 2 < (size_t)nSize)
    snprintf(pszText + n, (size_t)nSize - n, "; %s", pszStage);
  n = strlen(pszText);
  if (pDev->bLogFailed && n + 2 < (size_t)nSize)
    snprintf(pszText + n, (size_t)nSize - n, " (log incomplete)");
}

// The exit status as text: "-" when the tool had none of its own.
static void statusText(const FleetDevice *pDev, char *pszText, int nSize, const char *pszNone) {
  if (pDev->nExitStatus < 0)
    snprintf(pszText, (size_t)nSize, "%s", pszNone);
  else
    snprintf(pszText, (size_t)nSize, "%d", pDev->nExitStatus);
}

void printResults(void) {
  int nUpdated = 0, nFileWidth = 4;
  for (int i = 0; i < g_nDevices; i++) {
    int nLength = (int)strlen(g_aDevices[i].szFile);
    if (nLength > nFileWidth) nFileWidth = nLength < FILE_COLUMN_MAX ? nLength : FILE_COLUMN_MAX;
    if (g_aDevices[i].nResult == RESULT_UPDATED) nUpdated++;
  }
  char szOnline[96] = "";
  if (g_fleet.ulConfirmSeconds > 0) {
    int nBack = 0, nNotBack = 0;
    for (int i = 0; i < g_nDevices; i++) {
      nBack += g_aDevices[i].nOnline == ONLINE_BACK;
      nNotBack += g_aDevices[i].nResult == RESULT_UPDATED && !updatedAndBack(&g_aDevices[i]);
    }
    snprintf(szOnline, sizeof(szOnline), "; %d back online, %d not back online", nBack, nNotBack);
  }
  consolePrintf("Results: %d device%s, %d updated, %d not updated%s\n", g_nDevices,
                g_nDevices == 1 ? "" : "s", nUpdated, g_nDevices - nUpdated, szOnline);
  consolePrintf("%-15s  %-*s  %4s  %8s  %8s  %s\n", "address", nFileWidth, "file", "exit",
                "attempts", "duration", "result");
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    char szStatus[16], szResult[FLEET_LINE_SIZE + 256], szDuration[32];
    statusText(pDev, szStatus, sizeof(szStatus), "-");
    rowResultText(pDev, szResult, sizeof(szResult));
    snprintf(szDuration, sizeof(szDuration), "%.1f s", pDev->ulRunMs / 1000.0);
    // A long file name keeps its end, which tells files apart.
    const char *pszFile = pDev->szFile;
    int nLength = (int)strlen(pszFile);
    const char *pszCut = nLength > nFileWidth ? "..." : "";
    if (nLength > nFileWidth) pszFile += nLength - nFileWidth + 3;
    consolePrintf("%-15s  %s%-*s  %4s  %8d  %8s  %s\n", pDev->szAddress, pszCut,
                  nFileWidth - (int)strlen(pszCut), pszFile, szStatus, pDev->nAttempts,
                  szDuration, szResult);
  }
}

// A CSV field, quoted when it holds a comma, a quote or a line end.
static void putCsvField(FILE *pFile, const char *pszText) {
  if (strpbrk(pszText, ",\"\r\n") == NULL) {
    fputs(pszText, pFile);
    return;
  }
  fputc('"', pFile);
  for (const char *p = pszText; *p != '\0'; p++) {
    if (*p == '"') fputc('"', pFile);
    fputc(*p, pFile);
  }
  fputc('"', pFile);
}

// A JSON string, whatever bytes the text holds.
static void putJsonString(FILE *pFile, const char *pszText) {
  char szJson[JSON_STRING_SIZE(FLEET_LINE_SIZE + 32)];
  fputs(jsonString(pszText, szJson, sizeof(szJson)) > 0 ? szJson : "\"\"", pFile);
}

static void writeCsv(FILE *pFile) {
  fputs("address,file,size,sha256,result,left,exit_status,attempts,duration_s,log\n", pFile);
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    char szResult[FLEET_LINE_SIZE + 32], szStatus[16];
    resultText(pDev, szResult, sizeof(szResult));
    statusText(pDev, szStatus, sizeof(szStatus), "");
    fprintf(pFile, "%s,", pDev->szAddress);
    putCsvField(pFile, pDev->szFile);
    fprintf(pFile, ",%ld,%s,", pDev->lFileSize, pDev->szSha256);
    putCsvField(pFile, szResult);
    fputc(',', pFile);
    putCsvField(pFile, stageText(pDev));
    fprintf(pFile, ",%s,%d,%.1f,%s\n", szStatus, pDev->nAttempts, pDev->ulRunMs / 1000.0,
            pDev->bLogFailed ? "incomplete" : "complete");
  }
}

static void writeJson(FILE *pFile) {
  int nUpdated = 0, nNotBack = 0;
  fputs("{\n  \"site_list\": ", pFile);
  putJsonString(pFile, g_fleet.pszList);
  fprintf(pFile, ",\n  \"site_list_sha256\": \"%s\",\n  \"devices\": [\n", g_fleet.szListSha256);
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    char szResult[FLEET_LINE_SIZE + 32], szStatus[16];
    resultText(pDev, szResult, sizeof(szResult));
    statusText(pDev, szStatus, sizeof(szStatus), "null");
    if (pDev->nResult == RESULT_UPDATED) nUpdated++;
    if (pDev->nResult == RESULT_UPDATED && !updatedAndBack(pDev)) nNotBack++;
    fprintf(pFile, "    {\"address\": \"%s\", \"file\": ", pDev->szAddress);
    putJsonString(pFile, pDev->szFile);
    fprintf(pFile, ", \"size\": %ld, \"sha256\": \"%s\", \"result\": ", pDev->lFileSize,
            pDev->szSha256);
    putJsonString(pFile, szResult);
    fputs(", \"left\": ", pFile);
    putJsonString(pFile, stageText(pDev));
    fprintf(pFile,
            ", \"exit_status\": %s, \"attempts\": %d, \"duration_s\": %.1f, \"log\": \"%s\", "
            "\"line_sha256\": \"%s\", \"updated_at\": ",
            szStatus, pDev->nAttempts, pDev->ulRunMs / 1000.0,
            pDev->bLogFailed ? "incomplete" : "complete", pDev->szLineSha256);
    if (pDev->nResult == RESULT_UPDATED && pDev->szUpdatedAt[0] != '\0')
      fprintf(pFile, "\"%s\"", pDev->szUpdatedAt);
    else
      fputs("null", pFile);
    int nOnline = pDev->nOnline > ONLINE_NONE && pDev->nOnline <= ONLINE_INTERRUPTED ? pDev->nOnline
                                                                                   : ONLINE_NONE;
    if (nOnline == ONLINE_NONE)
      fputs(", \"online\": null", pFile);
    else
      fprintf(pFile, ", \"online\": \"%s\"", s_apszOnline[nOnline]);
    fputs(", \"online_after_s\": ", pFile);
    if (nOnline == ONLINE_BACK)
      fprintf(pFile, "%.1f", pDev->ulOnlineAfterMs / 1000.0);
    else
      fputs("null", pFile);
    fprintf(pFile, ", \"earlier_run\": %s}%s\n", pDev->bEarlier ? "true" : "false",
            i + 1 < g_nDevices ? "," : "");
  }
  fprintf(pFile, "  ],\n  \"updated\": %d,\n  \"not_updated\": %d,\n  \"not_back_online\": %d\n}\n",
          nUpdated, g_nDevices - nUpdated, nNotBack);
}

int writeReport(const char *pszPath) {
  // Made whole beside the report and moved over it: a run that ends at any
  // moment leaves the last whole report.
  OutputFile out;
  int bOk = openOutputFile(&out, pszPath) == OUTPUT_OK;
  if (bOk) {
    const char *pDot = strrchr(pszPath, '.');
    if (pDot != NULL && strcmp(pDot, ".json") == 0)
      writeJson(out.pFile);
    else
      writeCsv(out.pFile);
    bOk = finishOutputFile(&out) == OUTPUT_OK;
  }
  if (!bOk) errorPrintf("zvfleet: cannot write the report %s\n", pszPath);
  return bOk;
}

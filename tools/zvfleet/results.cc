// SPDX-License-Identifier: Apache-2.0
// The results table and the reports (see results.h).
#include "tools/zvfleet/results.h"

#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "tools/common/json.h"

#define FILE_COLUMN_MAX 32

void resultText(const FleetDevice *pDev, char *pszText, int nSize) {
  static const char *const apszResults[] = {
      "not run", "updated", "wrong password", "wrong model", "refused: bad CRC",
      "refused: bad version", "no answer", "failed"};
  int nResult = pDev->nResult >= RESULT_NONE && pDev->nResult <= RESULT_FAILED
                    ? pDev->nResult
                    : RESULT_FAILED;
  if (nResult != RESULT_FAILED)
    snprintf(pszText, (size_t)nSize, "%s", apszResults[nResult]);
  else if (pDev->szLastLine[0] != '\0')
    snprintf(pszText, (size_t)nSize, "failed: %s", pDev->szLastLine);
  else
    snprintf(pszText, (size_t)nSize, "failed: the tool printed nothing");
}

// The exit status as text: "-" when the tool had none of its own.
static void statusText(const FleetDevice *pDev, char *pszText, int nSize, const char *pszNone) {
  if (pDev->nExitStatus < 0)
    snprintf(pszText, (size_t)nSize, "%s", pszNone);
  else
    snprintf(pszText, (size_t)nSize, "%d", pDev->nExitStatus);
}

int openReport(const char *pszPath) {
  FILE *pFile = fopen(pszPath, "wb");
  if (pFile == NULL || fclose(pFile) != 0) {
    consolePrintf("zvfleet: cannot write the report %s\n", pszPath);
    return 0;
  }
  return 1;
}

void printResults(void) {
  int nUpdated = 0, nFileWidth = 4;
  for (int i = 0; i < g_nDevices; i++) {
    int nLength = (int)strlen(g_aDevices[i].szFile);
    if (nLength > nFileWidth) nFileWidth = nLength < FILE_COLUMN_MAX ? nLength : FILE_COLUMN_MAX;
    if (g_aDevices[i].nResult == RESULT_UPDATED) nUpdated++;
  }
  consolePrintf("Results: %d device%s, %d updated, %d not updated\n", g_nDevices,
                g_nDevices == 1 ? "" : "s", nUpdated, g_nDevices - nUpdated);
  consolePrintf("%-15s  %-*s  %4s  %8s  %8s  %s\n", "address", nFileWidth, "file", "exit",
                "attempts", "duration", "result");
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    char szStatus[16], szResult[FLEET_LINE_SIZE + 32], szDuration[32];
    statusText(pDev, szStatus, sizeof(szStatus), "-");
    resultText(pDev, szResult, sizeof(szResult));
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
  fputs("address,file,result,exit_status,attempts,duration_s\n", pFile);
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    char szResult[FLEET_LINE_SIZE + 32], szStatus[16];
    resultText(pDev, szResult, sizeof(szResult));
    statusText(pDev, szStatus, sizeof(szStatus), "");
    fprintf(pFile, "%s,", pDev->szAddress);
    putCsvField(pFile, pDev->szFile);
    fputc(',', pFile);
    putCsvField(pFile, szResult);
    fprintf(pFile, ",%s,%d,%.1f\n", szStatus, pDev->nAttempts, pDev->ulRunMs / 1000.0);
  }
}

static void writeJson(FILE *pFile) {
  int nUpdated = 0;
  fputs("{\n  \"devices\": [\n", pFile);
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    char szResult[FLEET_LINE_SIZE + 32], szStatus[16];
    resultText(pDev, szResult, sizeof(szResult));
    statusText(pDev, szStatus, sizeof(szStatus), "null");
    if (pDev->nResult == RESULT_UPDATED) nUpdated++;
    fprintf(pFile, "    {\"address\": \"%s\", \"file\": ", pDev->szAddress);
    putJsonString(pFile, pDev->szFile);
    fputs(", \"result\": ", pFile);
    putJsonString(pFile, szResult);
    fprintf(pFile, ", \"exit_status\": %s, \"attempts\": %d, \"duration_s\": %.1f}%s\n", szStatus,
            pDev->nAttempts, pDev->ulRunMs / 1000.0, i + 1 < g_nDevices ? "," : "");
  }
  fprintf(pFile, "  ],\n  \"updated\": %d,\n  \"not_updated\": %d\n}\n", nUpdated,
          g_nDevices - nUpdated);
}

int writeReport(const char *pszPath) {
  FILE *pFile = fopen(pszPath, "wb");
  if (pFile != NULL) {
    const char *pDot = strrchr(pszPath, '.');
    if (pDot != NULL && strcmp(pDot, ".json") == 0)
      writeJson(pFile);
    else
      writeCsv(pFile);
  }
  if (pFile == NULL || ferror(pFile) || fclose(pFile) != 0) {
    consolePrintf("zvfleet: cannot write the report %s\n", pszPath);
    return 0;
  }
  return 1;
}

// SPDX-License-Identifier: Apache-2.0
// The reports' formats, written and read (see report_format.h).
#include "tools/zvfleet/report_format.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "image/output_file.h"
#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/common/json.h"
#include "tools/common/json_read.h"
#include "tools/zvfleet/counts.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/tool_output.h"
#include "zv_version.h"

using nlohmann::json;

// The report's "online" names, by ONLINE_* ("": null).
static const char *const s_apszOnline[] = {"",           "checking",  "back",
                                           "not back",   "unfinished", "no restart"};

// The report's "state" names, by STATE_* (a device being stopped still runs).
static const char *const s_apszStates[] = {"waiting", "running", "running", "checking", "done"};

// The device as its row tells it: one whose tool runs is "interrupted",
// and what it holds is unknown (a kill of zvfleet would leave it so, and
// its tool may be ahead of the lines read); one being checked is not
// confirmed back online; attempts and time count the earlier runs' too.
static void rowView(const FleetDevice *pDev, FleetDevice *pRow) {
  memcpy(pRow, pDev, sizeof(*pRow));
  if (pDev->nState == STATE_RUNNING || pDev->nState == STATE_STOPPING) {
    pRow->nResult = RESULT_INTERRUPTED;
    pRow->nStage = g_fleet.bPreflight ? STAGE_NOTHING_SENT : STAGE_UNKNOWN;  // a query writes nothing
    pRow->nExitStatus = -1;
  }
  if (pDev->nState == STATE_CHECKING) pRow->nOnline = ONLINE_UNFINISHED;
  pRow->nAttempts += pDev->nEarlierAttempts;
  pRow->ulRunMs += pDev->ulEarlierRunMs;
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

static void writeCsv(FILE *pFile) {
  static FleetDevice s_row;
  fputs("address,file,size,sha256,result,left,exit_status,attempts,duration_s,log\n", pFile);
  for (int i = 0; i < g_nDevices; i++) {
    rowView(&g_aDevices[i], &s_row);
    char szResult[FLEET_LINE_SIZE + 64], szStatus[16];
    resultText(&s_row, szResult, sizeof(szResult));
    statusText(&s_row, szStatus, sizeof(szStatus), "");
    fprintf(pFile, "%s,", s_row.szAddress);
    putCsvField(pFile, s_row.szFile);
    fprintf(pFile, ",%ld,%s,", s_row.lFileSize, s_row.szSha256);
    putCsvField(pFile, szResult);
    fputc(',', pFile);
    putCsvField(pFile, stageText(&s_row));
    fprintf(pFile, ",%s,%d,%.1f,%s\n", szStatus, s_row.nAttempts, s_row.ulRunMs / 1000.0,
            s_row.bLogFailed ? "incomplete" : "complete");
  }
}

// JSON text built in a fixed buffer; one that does not fit is marked cut.
struct JsonText {
  char *p;
  int nSize, n;
  bool bCut;
};

static void put(JsonText *pOut, const char *pszFormat, ...) ZV_PRINTF(2, 3);
static void put(JsonText *pOut, const char *pszFormat, ...) {
  if (pOut->bCut) return;
  va_list args;
  va_start(args, pszFormat);
  int n = vsnprintf(pOut->p + pOut->n, (size_t)(pOut->nSize - pOut->n), pszFormat, args);
  va_end(args);
  if (n < 0 || n >= pOut->nSize - pOut->n)
    pOut->bCut = true;
  else
    pOut->n += n;
}

// A JSON string, whatever bytes the text holds; null for "" with bNull.
static void putString(JsonText *pOut, const char *pszText, bool bNull = false) {
  if (bNull && *pszText == '\0') return put(pOut, "null");
  if (pOut->bCut) return;
  int n = jsonString(pszText, pOut->p + pOut->n, pOut->nSize - pOut->n);
  if (n <= 0)
    pOut->bCut = true;
  else
    pOut->n += n;
}

// The name of a timeline event: TIMELINE_ATTEMPT ... TIMELINE_CHECKED, or a
// phase.
static const char *timelineName(int nKind) {
  static const char *const apszKinds[] = {"attempt", "ended", "retry", "stopping", "online check",
                                          "checked"};
  return nKind >= 0 ? phaseName(nKind) : apszKinds[-nKind - 1];
}

static void putRow(JsonText *pOut, const FleetDevice *pDev) {
  char szResult[FLEET_LINE_SIZE + 64], szStatus[16];
  resultText(pDev, szResult, sizeof(szResult));
  statusText(pDev, szStatus, sizeof(szStatus), "null");
  bool bUpdated = pDev->nResult == RESULT_UPDATED;
  put(pOut, "{\"address\": \"%s\", \"line\": %d, \"file\": ", pDev->szAddress, pDev->nLine);
  putString(pOut, pDev->szFile);
  put(pOut, ", \"size\": %ld, \"sha256\": \"%s\", \"result\": ", pDev->lFileSize, pDev->szSha256);
  putString(pOut, szResult);
  put(pOut, ", \"left\": ");
  putString(pOut, stageText(pDev));
  put(pOut, ", \"state\": \"%s\"", s_apszStates[pDev->nState]);
  if (pDev->nState == STATE_RUNNING || pDev->nState == STATE_STOPPING)
    put(pOut, ", \"phase\": \"%s\"", phaseName(pDev->out.nPhase));
  put(pOut,
      ", \"exit_status\": %s, \"attempts\": %d, \"duration_s\": %.1f, \"log\": \"%s\", "
      "\"line_sha256\": \"%s\", \"updated_at\": ",
      szStatus, pDev->nAttempts, pDev->ulRunMs / 1000.0,
      pDev->bLogFailed ? "incomplete" : "complete", pDev->szLineSha256);
  putString(pOut, bUpdated ? pDev->szUpdatedAt : "", true);
  put(pOut, ", \"updated_in\": ");
  putString(pOut, bUpdated ? pDev->szUpdatedIn : "", true);
  put(pOut, ", \"online\": ");
  putString(pOut, s_apszOnline[pDev->nOnline], true);
  if (pDev->nOnline == ONLINE_BACK)
    put(pOut, ", \"online_after_s\": %.1f", pDev->ulOnlineAfterMs / 1000.0);
  else
    put(pOut, ", \"online_after_s\": null");
  put(pOut, ", \"earlier_run\": %s, \"log_file\": ", pDev->bEarlier ? "true" : "false");
  putString(pOut, pDev->szLog);
  put(pOut, ", \"timeline\": [");
  for (int i = 0; i < pDev->nTimeline; i++)
    put(pOut, "%s[%lu, \"%s\"]", i > 0 ? ", " : "", pDev->aTimeline[i].ulAt,
        timelineName(pDev->aTimeline[i].nKind));
  put(pOut, "]");
  if (g_fleet.bPreflight && pDev->out.nModel >= 0)
    put(pOut, ", \"model\": %d", pDev->out.nModel);
  else if (g_fleet.bPreflight)
    put(pOut, ", \"model\": null");
  put(pOut, "}");
}

int deviceRowJson(const FleetDevice *pDev, char *pszOut, int nSize) {
  static FleetDevice s_row;
  rowView(pDev, &s_row);
  JsonText out = {pszOut, nSize, 0, false};
  putRow(&out, &s_row);
  return out.bCut ? 0 : out.n;
}

int reportHeadJson(bool bEnded, const char *pszBetween, char *pszOut, int nSize) {
  JsonText out = {pszOut, nSize, 0, false};
  put(&out, "\"zvfleet_report\": %d,%s\"run\": {\"id\": \"%s\", \"started\": \"%s\", "
            "\"workstation\": ",
      REPORT_FORMAT, pszBetween, g_fleet.szRunId, g_fleet.szStarted);
  putString(&out, g_fleet.szWorkstation);
  put(&out, ", \"zvfleet_version\": \"%s\", \"ended\": %s", ZV_VERSION, bEnded ? "true" : "false");
  if (bEnded && platInterrupted()) put(&out, ", \"interrupted\": true");
  put(&out, "},%s\"resumed_from\": ", pszBetween);
  putString(&out, g_fleet.szResumedFrom, true);
  if (g_fleet.bPreflight) put(&out, ",%s\"preflight\": true", pszBetween);
  put(&out, ",%s\"site_list\": ", pszBetween);
  putString(&out, g_fleet.pszList);
  put(&out, ",%s\"site_list_sha256\": \"%s\",%s\"line_salt\": \"%s\",%s\"journal\": ", pszBetween,
      g_fleet.szListSha256, pszBetween, g_fleet.szSalt, pszBetween);
  putString(&out, g_fleet.szJournal, true);
  return out.bCut ? 0 : out.n;
}

static char s_szText[REPORT_ROW_SIZE];

static void writeJson(FILE *pFile, bool bEnded) {
  fputs("{\n  ", pFile);
  if (reportHeadJson(bEnded, "\n  ", s_szText, sizeof(s_szText)) > 0) fputs(s_szText, pFile);
  fputs(",\n  \"devices\": [\n", pFile);
  for (int i = 0; i < g_nDevices; i++) {
    fputs("    ", pFile);
    if (deviceRowJson(&g_aDevices[i], s_szText, sizeof(s_szText)) > 0) fputs(s_szText, pFile);
    fputs(i + 1 < g_nDevices ? ",\n" : "\n", pFile);
  }
  fputs("  ],\n  \"marks\": [", pFile);
  for (int i = 0; i < g_fleet.nMarks; i++) {
    JsonText out = {s_szText, (int)sizeof(s_szText), 0, false};
    put(&out, "%s[%lu, ", i > 0 ? ", " : "", g_fleet.aMarks[i].ulAt);
    putString(&out, g_fleet.aMarks[i].szText);
    put(&out, "]");
    fputs(s_szText, pFile);
  }
  RecordCounts counts;
  recordCounts(&counts);
  // Counted as the rows tell them: a device being checked is not confirmed.
  int nNotConfirmed = 0;
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    int nOnline = pDev->nState == STATE_CHECKING ? ONLINE_UNFINISHED : pDev->nOnline;
    nNotConfirmed += pDev->nResult == RESULT_UPDATED &&
                     (nOnline == ONLINE_UNFINISHED || nOnline == ONLINE_NO_RESTART);
  }
  fprintf(pFile,
          "],\n  \"updated\": %d,\n  \"not_updated\": %d,\n  \"not_back_online\": %d,\n"
          "  \"not_confirmed_online\": %d",
          counts.nUpdated, g_nDevices - counts.nUpdated, counts.nNotBack, nNotConfirmed);
  if (g_fleet.bPreflight)
    fprintf(pFile, ",\n  \"would_be_updated\": %d,\n  \"not_asked\": %d", counts.nReady,
            counts.nNotAsked);
  fputs("\n}\n", pFile);
}

// --- the room held for the report ---------------------------------------------------

// The most bytes a report of this list can take: a row's texts escaped.
static long reportBound(void) {
  long lBound = 4096 + 6L * (long)(strlen(g_fleet.pszList) + strlen(g_fleet.szJournal));
  for (int i = 0; i < g_nDevices; i++)
    lBound += 1024 + 6L * ((long)strlen(g_aDevices[i].szFile) + FLEET_LINE_SIZE + 64 +
                           (long)sizeof(g_aDevices[i].szHeld) +
                           (long)strlen(g_aDevices[i].szLog));
  return lBound;
}


long lastReportSize(void) { return g_run.lReportSize; }

// The room file's name; false when it does not fit.
static bool spacePath(const char *pszPath, char *pszSpace, int nSize) {
  return snprintf(pszSpace, (size_t)nSize, "%s.space", pszPath) < nSize;
}

bool reserveReportSpace(const char *pszPath) {
  // Taken once: the final report is written into it.
  long lBytes = reportBound();
  char szSpace[OUTPUT_PATH_SIZE];
  if (spacePath(pszPath, szSpace, sizeof(szSpace)) && platReserveFile(szSpace, lBytes)) {
    g_run.bReportRoom = true;
    return true;
  }
  errorPrintf("zvfleet: cannot hold room for the report %s (%ld bytes beside it); nothing was "
              "started\n",
              pszPath, lBytes);
  return false;
}

void releaseReportSpace(const char *pszPath) {
  if (!g_run.bReportRoom) return;
  char szSpace[OUTPUT_PATH_SIZE];
  if (spacePath(pszPath, szSpace, sizeof(szSpace))) remove(szSpace);
  g_run.bReportRoom = false;
}

void removeStaleSpace(const char *pszPath) {
  char szSpace[OUTPUT_PATH_SIZE];
  if (spacePath(pszPath, szSpace, sizeof(szSpace)) && platPathKind(szSpace) == PLAT_PATH_FILE)
    platRemoveFile(szSpace);
}

bool writeReport(const char *pszPath, bool bEnded, bool bQuiet) {
  // Made whole beside the report and moved over it: a run that ends at any
  // moment leaves the last whole report.
  OutputFile out;
  bool bOk = openOutputFile(&out, pszPath) == OUTPUT_OK;
  if (bOk) {
    const char *pDot = strrchr(pszPath, '.');
    if (pDot != NULL && strcmp(pDot, ".json") == 0)
      writeJson(out.pFile, bEnded);
    else
      writeCsv(out.pFile);
    g_run.lReportSize = ftell(out.pFile);
    bOk = finishOutputFile(&out) == OUTPUT_OK;
  }
  if (!bOk && !bQuiet) errorPrintf("zvfleet: cannot write the report %s\n", pszPath);
  return bOk;
}

// --- reading -------------------------------------------------------------------------------

static bool isHex(const char *pszText, size_t nLength) {
  if (strlen(pszText) != nLength) return false;
  for (size_t i = 0; i < nLength; i++)
    if (strchr("0123456789abcdef", pszText[i]) == NULL) return false;
  return true;
}

static bool why(char *pszWhy, int nSize, const char *pszText) {
  snprintf(pszWhy, (size_t)nSize, "%s", pszText);
  return false;
}

bool readReportRow(const json &device, int nRow, ReportRow *pRow, char *pszWhy, int nWhySize) {
  char szOnline[16];
  long lLine = 0, lStatus = 0;
  double dDuration = 0, dAfter = 0;
  int bNull = 0;
  memset(pRow, 0, sizeof(*pRow));
  const char *pszField =
      !jsonText(device, "address", pRow->szAddress, sizeof(pRow->szAddress)) ? "address"
      : !jsonWhole(device, "line", 1, 1000000, &lLine)                       ? "line"
      : !jsonText(device, "file", pRow->szFile, sizeof(pRow->szFile))        ? "file"
      : !jsonText(device, "result", pRow->szResult, sizeof(pRow->szResult))  ? "result"
      : !jsonText(device, "left", pRow->szLeft, sizeof(pRow->szLeft))        ? "left"
      : !jsonWhole(device, "attempts", 0, 1000000, &pRow->lAttempts)         ? "attempts"
      : !jsonNumberOrNull(device, "duration_s", 0, 1e7, &dDuration, &bNull) || bNull
          ? "duration_s"
      : !jsonText(device, "line_sha256", pRow->szLineSha256, sizeof(pRow->szLineSha256)) ||
              !isHex(pRow->szLineSha256, 64)
          ? "line_sha256"
      : !jsonTextOrNull(device, "updated_at", pRow->szUpdatedAt, sizeof(pRow->szUpdatedAt))
          ? "updated_at"
      : !jsonTextOrNull(device, "updated_in", pRow->szUpdatedIn, sizeof(pRow->szUpdatedIn))
          ? "updated_in"
      : !jsonTextOrNull(device, "online", szOnline, sizeof(szOnline)) ? "online"
      : !jsonNumberOrNull(device, "online_after_s", 0, 1e7, &dAfter, &bNull) ? "online_after_s"
      : !device.contains("exit_status") ||
              (!device["exit_status"].is_null() && !jsonWhole(device, "exit_status", 0, 255, &lStatus))
          ? "exit_status"
          : NULL;
  if (pszField != NULL) {
    snprintf(pszWhy, (size_t)nWhySize, "device %d: no valid \"%s\"", nRow + 1, pszField);
    return false;
  }
  pRow->nOnline = -1;
  for (int i = ONLINE_NONE; i <= ONLINE_NO_RESTART; i++)
    if (strcmp(szOnline, s_apszOnline[i]) == 0) pRow->nOnline = i;
  if (pRow->nOnline < 0) {
    snprintf(pszWhy, (size_t)nWhySize, "device %d: an unknown \"online\"", nRow + 1);
    return false;
  }
  if (pRow->nOnline == ONLINE_CHECKING) pRow->nOnline = ONLINE_UNFINISHED;
  pRow->bUpdated = resultSaysUpdated(pRow->szResult);
  pRow->nExitStatus = device["exit_status"].is_null() ? -1 : (int)lStatus;
  pRow->ulRunMs = (unsigned long)(dDuration * 1000.0 + 0.5);
  pRow->ulOnlineAfterMs = (unsigned long)(dAfter * 1000.0 + 0.5);
  return true;
}

void countRow(const ReportRow *pRow, int *pnUpdated, int *pnNotBack, int *pnNotConfirmed) {
  *pnUpdated += pRow->bUpdated;
  *pnNotBack += pRow->bUpdated && pRow->nOnline == ONLINE_NOT_BACK;
  *pnNotConfirmed += pRow->bUpdated && (pRow->nOnline == ONLINE_UNFINISHED ||
                                        pRow->nOnline == ONLINE_NO_RESTART);
}

bool readReport(const char *pszPath, ReportHead *pHead, ReportRow *aRows, int nMaxRows,
                char *pszWhy, int nWhySize) {
  static json s_report;  // kept between reads: its room is used again
  memset(pHead, 0, sizeof(*pHead));
  if (!readJsonFile(pszPath, &s_report, pszWhy, nWhySize)) return false;
  long lFormat = 0;
  if (!s_report.is_object() || !s_report.contains("devices"))
    return why(pszWhy, nWhySize, "is not a report of zvfleet's (no \"devices\")");
  if (!jsonWhole(s_report, "zvfleet_report", 1, 1000, &lFormat) || lFormat != REPORT_FORMAT)
    return why(pszWhy, nWhySize,
               "is a report of another zvfleet (no \"zvfleet_report\": 2, run identity and "
               "salted line hashes): run the site again without --resume");
  if (s_report.contains("preflight"))
    return why(pszWhy, nWhySize, "is a preflight's report: it tells what a run would find, "
                                 "and updated nothing");
  const json &run = s_report["run"];
  long lUpdated = 0, lNotUpdated = 0, lNotBack = 0, lNotConfirmed = 0;
  const char *pszField =
      !jsonText(run, "id", pHead->szRunId, sizeof(pHead->szRunId)) || !isHex(pHead->szRunId, 32)
          ? "run\": {\"id"
      : !jsonText(run, "started", pHead->szStarted, sizeof(pHead->szStarted)) ? "run\": {\"started"
      : !jsonText(run, "workstation", pHead->szWorkstation, sizeof(pHead->szWorkstation))
          ? "run\": {\"workstation"
      : !jsonText(run, "zvfleet_version", pHead->szVersion, sizeof(pHead->szVersion))
          ? "run\": {\"zvfleet_version"
      : !jsonFlag(run, "ended", &pHead->bEnded) ? "run\": {\"ended"
      : !jsonTextOrNull(s_report, "resumed_from", pHead->szResumedFrom,
                        sizeof(pHead->szResumedFrom))
          ? "resumed_from"
      : !jsonText(s_report, "site_list", pHead->szList, sizeof(pHead->szList)) ? "site_list"
      : s_report.contains("journal") &&
              !jsonTextOrNull(s_report, "journal", pHead->szJournal, sizeof(pHead->szJournal))
          ? "journal"
      : !jsonText(s_report, "site_list_sha256", pHead->szListSha256,
                  sizeof(pHead->szListSha256)) ||
              !isHex(pHead->szListSha256, 64)
          ? "site_list_sha256"
      : !jsonText(s_report, "line_salt", pHead->szSalt, sizeof(pHead->szSalt)) ||
              !isHex(pHead->szSalt, 32)
          ? "line_salt"
      : !s_report["devices"].is_array()                                   ? "devices"
      : !jsonWhole(s_report, "updated", 0, FLEET_MAX_DEVICES, &lUpdated) ? "updated"
      : !jsonWhole(s_report, "not_updated", 0, FLEET_MAX_DEVICES, &lNotUpdated) ? "not_updated"
      : !jsonWhole(s_report, "not_back_online", 0, FLEET_MAX_DEVICES, &lNotBack)
          ? "not_back_online"
      : !jsonWhole(s_report, "not_confirmed_online", 0, FLEET_MAX_DEVICES, &lNotConfirmed)
          ? "not_confirmed_online"
          : NULL;
  if (pszField != NULL) {
    snprintf(pszWhy, (size_t)nWhySize, "is not a whole report of zvfleet's (no valid \"%s\")",
             pszField);
    return false;
  }
  const json &devices = s_report["devices"];
  if (devices.empty()) return why(pszWhy, nWhySize, "holds no device");
  if (devices.size() > (size_t)nMaxRows) return why(pszWhy, nWhySize, "holds too many devices");
  int nUpdated = 0, nNotBack = 0, nNotConfirmed = 0;
  for (size_t i = 0; i < devices.size(); i++) {
    ReportRow *pRow = &aRows[i];
    if (!readReportRow(devices[i], (int)i, pRow, pszWhy, nWhySize)) return false;
    for (size_t j = 0; j < i; j++)
      if (strcmp(aRows[j].szAddress, pRow->szAddress) == 0) {
        snprintf(pszWhy, (size_t)nWhySize, "names %s twice", pRow->szAddress);
        return false;
      }
    countRow(pRow, &nUpdated, &nNotBack, &nNotConfirmed);
  }
  pHead->nRows = (int)devices.size();
  if (lUpdated != nUpdated || lNotUpdated != pHead->nRows - nUpdated || lNotBack != nNotBack ||
      lNotConfirmed != nNotConfirmed) {
    snprintf(pszWhy, (size_t)nWhySize,
             "is cut or was edited: its totals (%ld updated, %ld not updated, %ld not back "
             "online, %ld not confirmed) disagree with its %d rows (%d, %d, %d, %d)",
             lUpdated, lNotUpdated, lNotBack, lNotConfirmed, pHead->nRows, nUpdated,
             pHead->nRows - nUpdated, nNotBack, nNotConfirmed);
    return false;
  }
  pHead->nUpdated = nUpdated;
  pHead->nNotBack = nNotBack;
  pHead->nNotConfirmed = nNotConfirmed;
  return true;
}

// SPDX-License-Identifier: Apache-2.0
// The reports' formats, written (see report_format.h).
#include "tools/zvfleet/report_format.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "image/output_file.h"
#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/common/json.h"
#include "tools/common/output_path.h"
#include "tools/zvfleet/counts.h"
#include "tools/zvfleet/report_read.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/site_folder.h"
#include "tools/zvfleet/tool_output.h"
#include "zv_version.h"

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
    pRow->nExitStatus = EXIT_STATUS_NONE;
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
  // A preflight's rows say so, with the model each device named.
  fprintf(pFile, "address,file,size,sha256,result,left,exit_status,attempts,duration_s,log%s\n",
          g_fleet.bPreflight ? ",model,run" : "");
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
    fprintf(pFile, ",%s,%d,%.1f,%s", szStatus, s_row.nAttempts, s_row.ulRunMs / 1000.0,
            s_row.bLogFailed ? "incomplete" : "complete");
    if (g_fleet.bPreflight && s_row.out.nModel >= 0)
      fprintf(pFile, ",%d,preflight", s_row.out.nModel);
    else if (g_fleet.bPreflight)
      fputs(",,preflight", pFile);
    fputc('\n', pFile);
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

// A file of the run's folder as a path from the report's folder, when
// that folder lies below the report's; else as zvfleet wrote it.
// The run's folder as a path from the report's folder ("" without a
// report, or when it lies elsewhere).
// Found once a run (for the report and run folder it names then): every
// row and journal line names its log with it, and the lookup asks the file
// system about each of the run folder's ancestors.
static void runFolderText(char *pszOut, int nSize) {
  *pszOut = '\0';
  if (g_fleet.pszReport == NULL) return;
  const char *pszRunFolder = runFolder();
  if (!g_run.bRunFolderKnown || strcmp(g_run.szRunFolderOf, pszRunFolder) != 0) {
    runFolderFromReport(g_fleet.pszReport, pszRunFolder, g_run.szRunFolderText,
                        sizeof(g_run.szRunFolderText));
    // A run folder too long to keep is looked up each time.
    g_run.bRunFolderKnown = snprintf(g_run.szRunFolderOf, sizeof(g_run.szRunFolderOf), "%s",
                                     pszRunFolder) < (int)sizeof(g_run.szRunFolderOf);
  }
  snprintf(pszOut, (size_t)nSize, "%s", g_run.szRunFolderText);
}

static void putRunFile(JsonText *pOut, const char *pszPath) {
  char szRunFolder[FLEET_PATH_SIZE], szPath[FLEET_PATH_SIZE * 2];
  runFolderText(szRunFolder, sizeof(szRunFolder));
  const char *pszName = strrchr(pszPath, '/');
  if (*pszPath == '\0' || *szRunFolder == '\0' || pszName == NULL ||
      snprintf(szPath, sizeof(szPath), "%s%s", szRunFolder, pszName) >= (int)sizeof(szPath))
    return putString(pOut, pszPath, true);
  putString(pOut, szPath);
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
  putString(pOut, onlineWord(pDev->nOnline), true);
  if (pDev->nOnline == ONLINE_BACK)
    put(pOut, ", \"online_after_s\": %.1f", pDev->ulOnlineAfterMs / 1000.0);
  else
    put(pOut, ", \"online_after_s\": null");
  put(pOut, ", \"earlier_run\": %s, \"log_file\": ", pDev->bEarlier ? "true" : "false");
  putRunFile(pOut, pDev->szLog);
  put(pOut, ", \"timeline\": [");
  for (int i = 0; i < pDev->nTimeline; i++)
    put(pOut, "%s[%lu, \"%s\"]", i > 0 ? ", " : "", pDev->aTimeline[i].ulAt,
        timelineWord(pDev->aTimeline[i].nKind));
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
  // The run's folder as a path from the report's folder; how long it has
  // run, and its arguments: a page rebuilds from them the command that
  // continues it.
  char szRunFolder[FLEET_PATH_SIZE];
  runFolderText(szRunFolder, sizeof(szRunFolder));
  put(&out, ", \"folder\": ");
  putString(&out, szRunFolder, true);
  put(&out, ", \"elapsed_s\": %.1f, \"command\": [",
      (platMilliseconds() - g_fleet.ulRunStartMs) / 1000.0);
  for (int i = 0; i < g_fleet.nArgs; i++) {
    if (i > 0) put(&out, ", ");
    putString(&out, g_fleet.apszArgs[i]);
  }
  put(&out, "]");
  put(&out, "},%s\"resumed_from\": ", pszBetween);
  putString(&out, g_fleet.szResumedFrom, true);
  if (g_fleet.bPreflight) put(&out, ",%s\"preflight\": true", pszBetween);
  put(&out, ",%s\"site_list\": ", pszBetween);
  putString(&out, g_fleet.pszList);
  put(&out, ",%s\"site_list_sha256\": \"%s\",%s\"line_salt\": \"%s\",%s\"journal\": ", pszBetween,
      g_fleet.szListSha256, pszBetween, g_fleet.szSalt, pszBetween);
  putRunFile(&out, g_fleet.szJournal);
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
  for (int i = 0; i < g_fleet.nArgs; i++) lBound += 8 + 6L * (long)strlen(g_fleet.apszArgs[i]);
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
  // The room this run made itself (checked by the output rule as it was
  // taken) goes back to the disk.
  if (spacePath(pszPath, szSpace, sizeof(szSpace))) platRemoveFile(szSpace);
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
  bool bOk = outputRuleOpen(&out, pszPath) == OUTPUT_OK;
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

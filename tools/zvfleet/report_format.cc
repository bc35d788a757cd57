// SPDX-License-Identifier: Apache-2.0
// The reports' formats, written (see report_format.h).
#include "tools/zvfleet/report_format.h"

#include <stdio.h>
#include <string.h>

#include "image/output_file.h"
#include "tools/common/cli.h"
#include "tools/common/output_path.h"
#include "tools/common/json.h"
#include "tools/zvfleet/record.h"
#include "tools/zvfleet/report_read.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/site_folder.h"
#include "tools/zvfleet/tool_output.h"
#include "zv_version.h"

// The report's "state" names, by STATE_* (a device being stopped still runs).
static const char *const s_apszStates[] = {"waiting", "running", "running", "checking", "done"};

// The device as its row tells it: one whose tool runs is "interrupted"
// with what it holds now (a kill of zvfleet would leave it so), one being
// checked is not confirmed back online; attempts and time count the
// earlier runs' too.
static void rowView(const FleetDevice *pDev, FleetDevice *pRow) {
  memcpy(pRow, pDev, sizeof(*pRow));
  if (pDev->nState == STATE_RUNNING || pDev->nState == STATE_STOPPING) {
    pRow->nResult = RESULT_INTERRUPTED;
    pRow->nStage = pDev->nWrittenStage;
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

// A JSON string, whatever bytes the text holds.
static void putJsonString(FILE *pFile, const char *pszText) {
  char szJson[JSON_STRING_SIZE(FLEET_LINE_SIZE + 64)];
  fputs(jsonString(pszText, szJson, sizeof(szJson)) > 0 ? szJson : "\"\"", pFile);
}

// A JSON string, null for "".
static void putJsonStringOrNull(FILE *pFile, const char *pszText) {
  if (*pszText == '\0')
    fputs("null", pFile);
  else
    putJsonString(pFile, pszText);
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

// The device's timeline: [ms from the run's start, what began], ...
static void putTimeline(FILE *pFile, const FleetDevice *pDev) {
  fputs(", \"timeline\": [", pFile);
  for (int i = 0; i < pDev->nTimeline; i++)
    fprintf(pFile, "%s[%lu, \"%s\"]", i > 0 ? ", " : "", pDev->aTimeline[i].ulAt,
            timelineWord(pDev->aTimeline[i].nKind));
  fputc(']', pFile);
}

// The device's log: from the report's folder, in the run's folder, when
// that lies below the report's; else as zvfleet wrote it.
static void putLogFile(FILE *pFile, const char *pszRunFolder, const char *pszLog) {
  char szLog[FLEET_PATH_SIZE * 2];
  const char *pszName = strrchr(pszLog, '/');
  if (*pszRunFolder == '\0' || pszName == NULL) {
    putJsonString(pFile, pszLog);
    return;
  }
  snprintf(szLog, sizeof(szLog), "%s%s", pszRunFolder, pszName);
  putJsonString(pFile, szLog);
}

static void writeJson(FILE *pFile, bool bEnded) {
  static FleetDevice s_row;
  fprintf(pFile, "{\n  \"zvfleet_report\": %d,\n  \"run\": {\"id\": \"%s\", \"started\": \"%s\", "
                 "\"workstation\": ",
          REPORT_FORMAT, g_fleet.szRunId, g_fleet.szStarted);
  putJsonString(pFile, g_fleet.szWorkstation);
  // The run's folder and its logs as paths from the report's folder.
  char szRunFolder[FLEET_PATH_SIZE];
  runFolderFromReport(g_fleet.pszReport, runFolder(), szRunFolder, sizeof(szRunFolder));
  fprintf(pFile, ", \"zvfleet_version\": \"%s\", \"ended\": %s, \"folder\": ", ZV_VERSION,
          bEnded ? "true" : "false");
  putJsonStringOrNull(pFile, szRunFolder);
  // How long it has run, and its arguments: a page rebuilds from them
  // the command that continues it.
  fprintf(pFile, ", \"elapsed_s\": %.1f, \"command\": [",
          (platMilliseconds() - g_fleet.ulRunStartMs) / 1000.0);
  for (int i = 0; i < g_fleet.nArgs; i++) {
    if (i > 0) fputs(", ", pFile);
    putJsonString(pFile, g_fleet.apszArgs[i]);
  }
  fputs("]},\n  \"resumed_from\": ", pFile);
  putJsonStringOrNull(pFile, g_fleet.szResumedFrom);
  if (g_fleet.bPreflight) fputs(",\n  \"preflight\": true", pFile);
  fputs(",\n  \"site_list\": ", pFile);
  putJsonString(pFile, g_fleet.pszList);
  fprintf(pFile, ",\n  \"site_list_sha256\": \"%s\",\n  \"line_salt\": \"%s\",\n  \"devices\": [\n",
          g_fleet.szListSha256, g_fleet.szSalt);
  int nUpdated = 0, nNotBack = 0, nNotConfirmed = 0;
  for (int i = 0; i < g_nDevices; i++) {
    rowView(&g_aDevices[i], &s_row);
    const FleetDevice *pDev = &s_row;
    char szResult[FLEET_LINE_SIZE + 64], szStatus[16];
    resultText(pDev, szResult, sizeof(szResult));
    statusText(pDev, szStatus, sizeof(szStatus), "null");
    bool bUpdated = pDev->nResult == RESULT_UPDATED;
    nUpdated += bUpdated;
    nNotBack += bUpdated && pDev->nOnline == ONLINE_NOT_BACK;
    nNotConfirmed += bUpdated && (pDev->nOnline == ONLINE_UNFINISHED ||
                                  pDev->nOnline == ONLINE_NO_RESTART);
    fprintf(pFile, "    {\"address\": \"%s\", \"line\": %d, \"file\": ", pDev->szAddress,
            pDev->nLine);
    putJsonString(pFile, pDev->szFile);
    fprintf(pFile, ", \"size\": %ld, \"sha256\": \"%s\", \"result\": ", pDev->lFileSize,
            pDev->szSha256);
    putJsonString(pFile, szResult);
    fputs(", \"left\": ", pFile);
    putJsonString(pFile, stageText(pDev));
    fprintf(pFile, ", \"state\": \"%s\"", s_apszStates[pDev->nState]);
    if (pDev->nState == STATE_RUNNING || pDev->nState == STATE_STOPPING)
      fprintf(pFile, ", \"phase\": \"%s\"", phaseName(pDev->out.nPhase));
    fprintf(pFile,
            ", \"exit_status\": %s, \"attempts\": %d, \"duration_s\": %.1f, \"log\": \"%s\", "
            "\"line_sha256\": \"%s\", \"updated_at\": ",
            szStatus, pDev->nAttempts, pDev->ulRunMs / 1000.0,
            pDev->bLogFailed ? "incomplete" : "complete", pDev->szLineSha256);
    putJsonStringOrNull(pFile, bUpdated ? pDev->szUpdatedAt : "");
    fputs(", \"updated_in\": ", pFile);
    putJsonStringOrNull(pFile, bUpdated ? pDev->szUpdatedIn : "");
    fputs(", \"online\": ", pFile);
    putJsonStringOrNull(pFile, onlineWord(pDev->nOnline));
    fputs(", \"online_after_s\": ", pFile);
    if (pDev->nOnline == ONLINE_BACK)
      fprintf(pFile, "%.1f", pDev->ulOnlineAfterMs / 1000.0);
    else
      fputs("null", pFile);
    fprintf(pFile, ", \"earlier_run\": %s, \"log_file\": ", pDev->bEarlier ? "true" : "false");
    putLogFile(pFile, szRunFolder, pDev->szLog);
    putTimeline(pFile, pDev);
    if (g_fleet.bPreflight) {
      if (pDev->out.nModel >= 0)
        fprintf(pFile, ", \"model\": %d", pDev->out.nModel);
      else
        fputs(", \"model\": null", pFile);
    }
    fprintf(pFile, "}%s\n", i + 1 < g_nDevices ? "," : "");
  }
  fputs("  ],\n  \"marks\": [", pFile);
  for (int i = 0; i < g_fleet.nMarks; i++) {
    fprintf(pFile, "%s[%lu, ", i > 0 ? ", " : "", g_fleet.aMarks[i].ulAt);
    putJsonString(pFile, g_fleet.aMarks[i].szText);
    fputc(']', pFile);
  }
  fprintf(pFile,
          "],\n  \"updated\": %d,\n  \"not_updated\": %d,\n  \"not_back_online\": %d,\n"
          "  \"not_confirmed_online\": %d",
          nUpdated, g_nDevices - nUpdated, nNotBack, nNotConfirmed);
  if (g_fleet.bPreflight) {
    RecordCounts counts;
    recordCounts(&counts);
    fprintf(pFile, ",\n  \"would_be_updated\": %d", counts.nReady);
  }
  fputs("\n}\n", pFile);
}

// --- the room held for the report ---------------------------------------------------

// The most bytes a report of this list can take: a row's texts escaped.
static long reportBound(void) {
  long lBound = 4096 + 6L * (long)strlen(g_fleet.pszList);
  for (int i = 0; i < g_fleet.nArgs; i++) lBound += 8 + 6L * (long)strlen(g_fleet.apszArgs[i]);
  for (int i = 0; i < g_nDevices; i++)
    lBound += 1024 + 6L * ((long)strlen(g_aDevices[i].szFile) + FLEET_LINE_SIZE + 64 +
                           (long)sizeof(g_aDevices[i].szHeld));
  return lBound;
}

static long s_lReportSize;  // of the report last written
static bool s_bReserved;

// The room file's name; false when it does not fit.
static bool spacePath(const char *pszPath, char *pszSpace, int nSize) {
  return snprintf(pszSpace, (size_t)nSize, "%s.space", pszPath) < nSize;
}

// Makes the room file of lBytes.  Returns whether it was made.
static bool makeSpace(const char *pszPath, long lBytes) {
  char szSpace[OUTPUT_PATH_SIZE];
  if (!spacePath(pszPath, szSpace, sizeof(szSpace))) return false;
  OutputFile out;
  if (outputRuleOpen(&out, szSpace) != OUTPUT_OK) return false;
  static const char s_abZeros[8192] = {};
  for (long l = 0; l < lBytes && !out.bFailed; l += (long)sizeof(s_abZeros)) {
    size_t n = lBytes - l < (long)sizeof(s_abZeros) ? (size_t)(lBytes - l) : sizeof(s_abZeros);
    writeOutputFile(&out, s_abZeros, n);
  }
  return finishOutputFile(&out) == OUTPUT_OK;
}

bool reserveReportSpace(const char *pszPath) {
  // The report and its room hold twice the bound together: a new version
  // is made in the room before the old one goes.  The first room is the
  // whole of it, the first report not counted.
  s_lReportSize = 0;
  long lBytes = 2 * reportBound();
  if (makeSpace(pszPath, lBytes)) {
    s_bReserved = true;
    return true;
  }
  errorPrintf("zvfleet: cannot hold room for the report %s (%ld bytes beside it); nothing was "
              "started\n",
              pszPath, lBytes);
  return false;
}

void releaseReportSpace(const char *pszPath) {
  if (!s_bReserved) return;
  char szSpace[OUTPUT_PATH_SIZE];
  if (spacePath(pszPath, szSpace, sizeof(szSpace))) remove(szSpace);
  s_bReserved = false;
}

bool writeReport(const char *pszPath, bool bEnded) {
  bool bReserved = s_bReserved;
  releaseReportSpace(pszPath);
  // Made whole beside the report and moved over it: a run that ends at any
  // moment leaves the last whole report.
  OutputFile out;
  bool bOk = outputRuleOpen(&out, pszPath) == OUTPUT_OK;
  long lSize = 0;
  if (bOk) {
    const char *pDot = strrchr(pszPath, '.');
    if (pDot != NULL && strcmp(pDot, ".json") == 0)
      writeJson(out.pFile, bEnded);
    else
      writeCsv(out.pFile);
    lSize = ftell(out.pFile);
    bOk = finishOutputFile(&out) == OUTPUT_OK;
  }
  if (bOk) s_lReportSize = lSize;
  if (bReserved && !bEnded) {
    if (makeSpace(pszPath, 2 * reportBound() - s_lReportSize))
      s_bReserved = true;
    else
      bOk = false;  // the next version might find no room
  }
  if (!bOk) errorPrintf("zvfleet: cannot write the report %s\n", pszPath);
  return bOk;
}

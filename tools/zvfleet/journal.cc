// SPDX-License-Identifier: Apache-2.0
// The run's journal (see journal.h).
#include "tools/zvfleet/journal.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/common/json.h"
#include "tools/common/json_read.h"
#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/progress.h"
#include "tools/zvfleet/report_format.h"
#include "tools/zvfleet/site_folder.h"

using nlohmann::json;

// Lines a running device may still add once the disk is full (phases, a
// stop, its end, its check), at most this many bytes each.
#define JOURNAL_LINES_LEFT 16
#define JOURNAL_LINE_MAX 4096
#define JOURNAL_READ_MAX (1L << 30)  // a journal beyond it is not read

static char s_szLine[REPORT_ROW_SIZE + 64];

// Appends the line (s_szLine, n bytes and its end).  A first failure gives
// the room back to the disk, cuts the logs and tries once more.
static bool appendLine(int n) {
  if (g_run.bJournalFailed || g_fleet.szJournal[0] == '\0') return !g_run.bJournalFailed;
  s_szLine[n++] = '\n';
  if (platAppendToFile(g_fleet.szJournal, s_szLine, n)) {
    g_run.lJournalBytes += n;
    return true;
  }
  if (g_run.bJournalRoom) {
    platRemoveFile(g_run.szJournalRoom);
    g_run.bJournalRoom = false;
    g_run.bDiskFull = true;
    cutLogs();
    progressMessage("zvfleet: the disk is full: the logs are cut, no device starts any more; the "
                    "running ones end as they would and the record is kept");
    if (platAppendToFile(g_fleet.szJournal, s_szLine, n)) {
      g_run.lJournalBytes += n;
      return true;
    }
  }
  g_run.bJournalFailed = true;
  errorPrintf("zvfleet: cannot write the journal %s\n", g_fleet.szJournal);
  return false;
}

bool journalDevice(const FleetDevice *pDev) {
  int n = snprintf(s_szLine, sizeof(s_szLine), "{\"device\": %d, \"row\": ", (int)(pDev - g_aDevices));
  int nRow = deviceRowJson(pDev, s_szLine + n, (int)sizeof(s_szLine) - n - 2);
  if (nRow == 0) return !g_run.bJournalFailed;  // never: the row's room holds its bound
  n += nRow;
  s_szLine[n++] = '}';
  return appendLine(n);
}

bool journalMark(const RunMark *pMark) {
  char szText[JSON_STRING_SIZE(sizeof(pMark->szText))];
  if (jsonString(pMark->szText, szText, sizeof(szText)) <= 0) szText[0] = '\0';
  int n = snprintf(s_szLine, sizeof(s_szLine), "{\"mark\": [%lu, %s]}", pMark->ulAt, szText);
  return appendLine(n);
}

bool journalBegin(void) {
  g_run.bJournalRoom = g_run.bDiskFull = g_run.bJournalFailed = false;
  g_run.lJournalBytes = 0;
  int n = snprintf(g_fleet.szJournal, sizeof(g_fleet.szJournal), "%s/%s", runFolder(), JOURNAL_NAME);
  snprintf(g_run.szJournalRoom, sizeof(g_run.szJournalRoom), "%s.space", g_fleet.szJournal);
  if (n >= (int)sizeof(g_fleet.szJournal) - 8) {
    g_fleet.szJournal[0] = '\0';
    errorPrintf("zvfleet: the folder's name is too long: %s\n", runFolder());
    return false;
  }
  n = snprintf(s_szLine, sizeof(s_szLine), "{");
  int nHead = reportHeadJson(false, " ", s_szLine + n, (int)sizeof(s_szLine) - n - 32);
  n += nHead;
  n += snprintf(s_szLine + n, sizeof(s_szLine) - (size_t)n, ", \"devices\": %d}", g_nDevices);
  bool bOk = nHead > 0 && appendLine(n);
  for (int i = 0; i < g_nDevices && bOk; i++) bOk = journalDevice(&g_aDevices[i]);
  long lRoom = 65536L + (long)g_fleet.nJobs * JOURNAL_LINES_LEFT * JOURNAL_LINE_MAX;
  if (bOk && platReserveFile(g_run.szJournalRoom, lRoom)) {
    g_run.bJournalRoom = true;
    return true;
  }
  if (bOk) errorPrintf("zvfleet: cannot hold room for the journal %s (%ld bytes beside it)\n",
                       g_fleet.szJournal, lRoom);
  return false;
}

bool journalEnd(void) {
  int n = snprintf(s_szLine, sizeof(s_szLine), "{\"ended\": true}");
  if (g_run.bJournalRoom) platRemoveFile(g_run.szJournalRoom);
  g_run.bJournalRoom = false;
  return appendLine(n);
}

long journalBytes(void) { return g_run.lJournalBytes; }

void removeKilledJournalRoom(const char *pszJournal) {
  // Only a journal of this site folder's, named as zvfleet names it: a
  // report's text never makes zvfleet remove anything else.
  char szRoom[FLEET_PATH_SIZE + 16];
  size_t nDir = strlen(g_fleet.pszLogDir), nName = strlen(pszJournal);
  if (strncmp(pszJournal, g_fleet.pszLogDir, nDir) != 0 ||
      strncmp(pszJournal + nDir, "/run-", 5) != 0 || strstr(pszJournal, "..") != NULL ||
      nName < sizeof(JOURNAL_NAME) ||
      strcmp(pszJournal + nName - (sizeof(JOURNAL_NAME) - 1), JOURNAL_NAME) != 0 ||
      snprintf(szRoom, sizeof(szRoom), "%s.space", pszJournal) >= (int)sizeof(szRoom))
    return;
  if (platPathKind(szRoom) == PLAT_PATH_FILE) platRemoveFile(szRoom);
}

bool journalDiskFull(void) { return g_run.bDiskFull; }

// --- reading -------------------------------------------------------------------------------

static bool why(char *pszWhy, int nWhySize, const char *pszFormat, ...) ZV_PRINTF(3, 4);
static bool why(char *pszWhy, int nWhySize, const char *pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(pszWhy, (size_t)nWhySize, pszFormat, args);
  va_end(args);
  return false;
}

// The next whole line of the file (without its end); false at the end or
// for a last line that no line end closes (cut by a kill).
static bool nextLine(FILE *pFile, std::string *pLine, long *plRead) {
  pLine->clear();
  for (int c; (c = getc(pFile)) != EOF;) {
    if (++*plRead > JOURNAL_READ_MAX) return false;
    if (c == '\n') return true;
    pLine->push_back((char)c);
  }
  return false;
}

bool readJournal(const char *pszPath, ReportHead *pHead, ReportRow *aRows, char *pszWhy,
                 int nWhySize) {
  PlatPathKind kind = platPathKind(pszPath);
  FILE *pFile = kind == PLAT_PATH_FILE || kind == PLAT_PATH_READONLY ? fopen(pszPath, "rb") : NULL;
  if (pFile == NULL)
    return why(pszWhy, nWhySize, "names the journal %s, which cannot be read", pszPath);
  static ReportRow s_row;
  std::string line;
  json object;
  long lRead = 0;
  int nLine = 0;
  bool bOk = true, bEnded = false;
  char szWhy[512] = "", szRow[256];
  while (bOk && nextLine(pFile, &line, &lRead)) {
    nLine++;
    object = json::parse(line, nullptr, false);
    if (!object.is_object()) {
      bOk = why(szWhy, sizeof(szWhy), "whose line %d is no JSON object", nLine);
    } else if (nLine == 1) {
      char szRunId[REPORT_ID_SIZE] = "";
      const json &run = object.contains("run") ? object["run"] : json();
      long lDevices = 0;
      if (!jsonText(run, "id", szRunId, sizeof(szRunId)) || strcmp(szRunId, pHead->szRunId) != 0 ||
          !jsonWhole(object, "devices", 1, FLEET_MAX_DEVICES, &lDevices) ||
          lDevices != pHead->nRows)
        bOk = why(szWhy, sizeof(szWhy), "which is not the journal of this report's run");
    } else if (object.contains("device")) {
      long lDevice = -1;
      if (!jsonWhole(object, "device", 0, pHead->nRows - 1, &lDevice) || !object.contains("row"))
        bOk = why(szWhy, sizeof(szWhy), "whose line %d names no device of the run", nLine);
      else if (!readReportRow(object["row"], (int)lDevice, &s_row, szRow, sizeof(szRow)))
        bOk = why(szWhy, sizeof(szWhy), "whose line %d is not read (%s)", nLine, szRow);
      else if (strcmp(s_row.szAddress, aRows[lDevice].szAddress) != 0)
        bOk = why(szWhy, sizeof(szWhy), "whose line %d names another device than the report",
                   nLine);
      else
        aRows[lDevice] = s_row;
    } else {
      bEnded = bEnded || object.contains("ended");
    }
  }
  fclose(pFile);
  if (lRead > JOURNAL_READ_MAX) bOk = why(szWhy, sizeof(szWhy), "which is too long to be read");
  if (!bOk) return why(pszWhy, nWhySize, "names the journal %s, %s", pszPath, szWhy);
  pHead->bEnded = bEnded;
  return true;
}

bool readRunRecord(const char *pszReport, ReportHead *pHead, ReportRow *aRows, int nMaxRows,
                   char *pszWhy, int nWhySize) {
  if (!readReport(pszReport, false, pHead, aRows, nMaxRows, pszWhy, nWhySize)) return false;
  if (pHead->bEnded || pHead->szJournal[0] == '\0') return true;
  // Only a journal inside the run folder that the report names is read.
  char szPath[FLEET_PATH_SIZE * 2], szWhy[600];
  if (!reportNamedFile(pszReport, pHead, pHead->szJournal, szPath, sizeof(szPath), szWhy,
                       sizeof(szWhy)))
    return why(pszWhy, nWhySize, "names the journal %s, which is not read: %s", pHead->szJournal,
               szWhy);
  return readJournal(szPath, pHead, aRows, pszWhy, nWhySize);
}

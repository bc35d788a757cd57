// SPDX-License-Identifier: Apache-2.0
// The JSON report read back, and the files it names (see report_read.h).
#include "tools/zvfleet/report_read.h"

#include <stdio.h>
#include <string.h>

#include "tools/common/json_read.h"
#include "tools/common/output_path.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/tool_output.h"

using nlohmann::json;

// The report's "online" words, by ONLINE_* ("": null).
static const char *const s_apszOnline[] = {"",           "checking",  "back",
                                           "not back",   "unfinished", "no restart"};

// The timeline's words of its own kinds, TIMELINE_ATTEMPT (-1) down to
// TIMELINE_CHECKED (-6); a phase is named by phaseName.
static const char *const s_apszKinds[] = {"attempt", "ended", "retry", "stopping", "online check",
                                          "checked"};
#define KINDS (int)(sizeof(s_apszKinds) / sizeof(s_apszKinds[0]))

const char *onlineWord(int nOnline) { return s_apszOnline[nOnline]; }

const char *timelineWord(int nKind) { return nKind >= 0 ? phaseName(nKind) : s_apszKinds[-nKind - 1]; }

// The kind that a timeline's word names; false for a word of no kind.
static bool timelineKind(const char *pszWord, int *pnKind) {
  for (int n = -KINDS; n <= PHASE_COMMIT; n++)
    if (strcmp(pszWord, timelineWord(n)) == 0) {
      *pnKind = n;
      return true;
    }
  return false;
}

// A moment: [a whole number of ms, a text]; the text into pszText.
static bool moment(const json &value, unsigned long *pulAt, char *pszText, int nSize) {
  if (!value.is_array() || value.size() != 2 || !value[0].is_number_unsigned() ||
      value[0].get<unsigned long long>() > 1000000000ULL || !value[1].is_string())
    return false;
  const std::string &text = value[1].get_ref<const std::string &>();
  if (text.size() >= (size_t)nSize || text.find('\0') != std::string::npos) return false;
  *pulAt = (unsigned long)value[0].get<unsigned long long>();
  memcpy(pszText, text.c_str(), text.size() + 1);
  return true;
}

// The member, or null when the object has none.
static const json &optional(const json &object, const char *pszKey) {
  static const json s_null;
  auto at = object.find(pszKey);
  return at == object.end() ? s_null : *at;
}

// The device's timeline, when it has one: known words in time order.
static bool readTimeline(const json &device, ReportRow *pRow) {
  const json &timeline = optional(device, "timeline");
  if (timeline.is_null()) return true;
  if (!timeline.is_array() || timeline.size() > FLEET_TIMELINE_SIZE) return false;
  for (const json &event : timeline) {
    char szWord[16];
    TimelineEvent *pEvent = &pRow->aTimeline[pRow->nTimeline];
    if (!moment(event, &pEvent->ulAt, szWord, sizeof(szWord)) ||
        !timelineKind(szWord, &pEvent->nKind) ||
        (pRow->nTimeline > 0 && pEvent->ulAt < pEvent[-1].ulAt))
      return false;
    pRow->nTimeline++;
  }
  return true;
}

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
  long lStatus = 0;
  double dDuration = 0, dAfter = 0;
  int bNull = 0;
  memset(pRow, 0, sizeof(*pRow));
  pRow->lSize = -1;  // when the report does not tell it
  const char *pszField =
      !jsonText(device, "address", pRow->szAddress, sizeof(pRow->szAddress)) ? "address"
      : !jsonWhole(device, "line", 1, 1000000, &pRow->lLine)                     ? "line"
      : !jsonText(device, "file", pRow->szFile, sizeof(pRow->szFile))        ? "file"
      : !optional(device, "size").is_null() && !jsonWhole(device, "size", 0, 0x7FFFFFFF, &pRow->lSize)
          ? "size"
      : !optional(device, "sha256").is_null() &&
              !jsonText(device, "sha256", pRow->szSha256, sizeof(pRow->szSha256))
          ? "sha256"
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
      : !optional(device, "log_file").is_null() &&
              !jsonText(device, "log_file", pRow->szLogFile, sizeof(pRow->szLogFile))
          ? "log_file"
      : !readTimeline(device, pRow) ? "timeline"
                                    : NULL;
  if (pszField != NULL) {
    snprintf(pszWhy, (size_t)nWhySize, "device %d: no valid \"%s\"", nRow + 1, pszField);
    return false;
  }
  pRow->nOnline = -1;
  for (int i = ONLINE_NONE; i <= ONLINE_NO_RESTART; i++)
    if (strcmp(szOnline, onlineWord(i)) == 0) pRow->nOnline = i;
  if (pRow->nOnline < 0) {
    snprintf(pszWhy, (size_t)nWhySize, "device %d: an unknown \"online\"", nRow + 1);
    return false;
  }
  if (pRow->nOnline == ONLINE_CHECKING) pRow->nOnline = ONLINE_UNFINISHED;
  pRow->bUpdated = resultSaysUpdated(pRow->szResult);
  pRow->bReady = resultSaysReady(pRow->szResult);
  pRow->nExitStatus = device["exit_status"].is_null() ? EXIT_STATUS_NONE : (int)lStatus;
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

// The run's arguments, when it names them: strings of no NUL, together
// within the room.
static bool readArgs(const json &run, ReportHead *pHead) {
  const json &command = optional(run, "command");
  pHead->nArgs = -1;
  if (command.is_null()) return true;
  if (!command.is_array()) return false;
  size_t nAt = 0;
  for (const json &arg : command) {
    if (!arg.is_string()) return false;
    const std::string &text = arg.get_ref<const std::string &>();
    if (text.find('\0') != std::string::npos || nAt + text.size() + 1 > sizeof(pHead->szArgs))
      return false;
    memcpy(pHead->szArgs + nAt, text.c_str(), text.size() + 1);
    nAt += text.size() + 1;
  }
  pHead->nArgs = (int)command.size();
  return true;
}

// The run's moments, when it has them.
static bool readMarks(const json &report, ReportHead *pHead) {
  const json &marks = optional(report, "marks");
  if (marks.is_null()) return true;
  if (!marks.is_array() || marks.size() > REPORT_MARKS) return false;
  for (const json &mark : marks) {
    RunMark *pMark = &pHead->aMarks[pHead->nMarks++];
    if (!moment(mark, &pMark->ulAt, pMark->szText, sizeof(pMark->szText))) return false;
  }
  return true;
}

bool readReport(const char *pszPath, bool bPreflight, ReportHead *pHead, ReportRow *aRows,
                int nMaxRows, char *pszWhy, int nWhySize) {
  static json s_report;  // kept between reads: its room is used again
  memset(pHead, 0, sizeof(*pHead));
  if (!readJsonFile(pszPath, &s_report, pszWhy, nWhySize)) return false;
  long lFormat = 0;
  if (!s_report.is_object() || !s_report.contains("devices"))
    return why(pszWhy, nWhySize, "is not a report of zvfleet's (no \"devices\")");
  if (!jsonWhole(s_report, "zvfleet_report", REPORT_FORMAT, REPORT_FORMAT, &lFormat))
    return why(pszWhy, nWhySize,
               "is a report of another zvfleet (no \"zvfleet_report\": 2, run identity and "
               "salted line hashes): run the site again without --resume");
  pHead->bPreflight = s_report.contains("preflight");
  if (pHead->bPreflight && !(bPreflight && s_report["preflight"].is_boolean() &&
                             s_report["preflight"].get<bool>()))
    return why(pszWhy, nWhySize, "is a preflight's report: it tells what a run would find, "
                                 "and updated nothing");
  const json &run = s_report["run"];
  long lUpdated = 0, lNotUpdated = 0, lNotBack = 0, lNotConfirmed = 0;
  double dElapsed = 0;
  int bNoElapsed = 1;
  const char *pszField =
      !jsonText(run, "id", pHead->szRunId, sizeof(pHead->szRunId)) || !isHex(pHead->szRunId, 32)
          ? "run\": {\"id"
      : !jsonText(run, "started", pHead->szStarted, sizeof(pHead->szStarted)) ? "run\": {\"started"
      : !jsonText(run, "workstation", pHead->szWorkstation, sizeof(pHead->szWorkstation))
          ? "run\": {\"workstation"
      : !jsonText(run, "zvfleet_version", pHead->szVersion, sizeof(pHead->szVersion))
          ? "run\": {\"zvfleet_version"
      : !jsonFlag(run, "ended", &pHead->bEnded) ? "run\": {\"ended"
      : !optional(run, "folder").is_null() &&
              !jsonText(run, "folder", pHead->szRunFolder, sizeof(pHead->szRunFolder))
          ? "run\": {\"folder"
      : !optional(run, "elapsed_s").is_null() &&
              !jsonNumberOrNull(run, "elapsed_s", 0, 1e7, &dElapsed, &bNoElapsed)
          ? "run\": {\"elapsed_s"
      : !readArgs(run, pHead) ? "run\": {\"command"
      : !optional(s_report, "journal").is_null() &&
              !jsonText(s_report, "journal", pHead->szJournal, sizeof(pHead->szJournal))
          ? "journal"
      : !jsonTextOrNull(s_report, "resumed_from", pHead->szResumedFrom,
                        sizeof(pHead->szResumedFrom))
          ? "resumed_from"
      : !jsonText(s_report, "site_list", pHead->szList, sizeof(pHead->szList)) ? "site_list"
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
      : !readMarks(s_report, pHead) ? "marks"
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
  long lReady = 0;
  for (int i = 0; i < pHead->nRows; i++) pHead->nReady += aRows[i].bReady;
  if (pHead->bPreflight &&
      (!jsonWhole(s_report, "would_be_updated", 0, FLEET_MAX_DEVICES, &lReady) ||
       lReady != pHead->nReady)) {
    snprintf(pszWhy, (size_t)nWhySize,
             "is cut or was edited: its \"would_be_updated\" disagrees with its %d rows (%d)",
             pHead->nRows, pHead->nReady);
    return false;
  }
  pHead->lElapsedMs = bNoElapsed ? -1 : (long)(dElapsed * 1000.0 + 0.5);
  return true;
}

// --- the files that a report names -------------------------------------------------


// The report's folder, "." when its path names none; false when it does
// not fit.
static bool reportFolder(const char *pszReport, char *pszFolder, int nSize) {
  int n = (int)pathFolderLength(pszReport);
  if (n == 0) return snprintf(pszFolder, (size_t)nSize, ".") < nSize;
  return snprintf(pszFolder, (size_t)nSize, "%.*s", n, pszReport) < nSize;
}

// A path that stays below its folder by its words alone: relative, with
// names that are neither empty, "." nor "..", and no drive or stream (":").
static bool plainBelow(const char *pszPath) {
  if (*pszPath == '\0' || strchr(pszPath, ':') != NULL) return false;
  for (const char *p = pszPath;;) {
    int n = 0;
    while (p[n] != '\0' && !isPathSeparator(p[n])) n++;
    if (n == 0 || (n == 1 && p[0] == '.') || (n == 2 && p[0] == '.' && p[1] == '.')) return false;
    if (p[n] == '\0') return true;
    p += n + 1;
  }
}

void runFolderFromReport(const char *pszReport, const char *pszRunFolder, char *pszOut,
                         int nSize) {
  char szFolder[FLEET_PATH_SIZE], szAncestor[FLEET_PATH_SIZE];
  *pszOut = '\0';
  if (!reportFolder(pszReport, szFolder, sizeof(szFolder))) return;
  // The run folder's ancestors, nearest first, ending with ".": the one
  // that is the report's folder gives the way down (an absolute path's
  // rest below "." is not plain, so it gives none).
  for (int k = (int)strlen(pszRunFolder) - 1; k >= -1; k--) {
    const char *pszRest = pszRunFolder + k + 1;
    if (k == -1)
      snprintf(szAncestor, sizeof(szAncestor), ".");
    else if (!isPathSeparator(pszRunFolder[k]) ||
             snprintf(szAncestor, sizeof(szAncestor), "%.*s", k > 0 ? k : 1, pszRunFolder) >=
                 (int)sizeof(szAncestor))
      continue;
    if (!platSameFile(szAncestor, szFolder)) continue;
    if (plainBelow(pszRest)) snprintf(pszOut, (size_t)nSize, "%s", pszRest);
    return;
  }
}

static bool notOpened(char *pszWhy, int nSize, const char *pszText) {
  snprintf(pszWhy, (size_t)nSize, "%s", pszText);
  return false;
}

bool reportNamedFile(const char *pszReport, const ReportHead *pHead, const char *pszNamed,
                     char *pszPath, int nSize, char *pszWhy, int nWhySize) {
  char szFolder[FLEET_PATH_SIZE];
  size_t nRun = strlen(pHead->szRunFolder);
  if (nRun == 0) return notOpened(pszWhy, nWhySize, "the report names no run folder beside it");
  if (!plainBelow(pszNamed))
    return notOpened(pszWhy, nWhySize, "its path leaves the report's folder");
  if (strncmp(pszNamed, pHead->szRunFolder, nRun) != 0 || !isPathSeparator(pszNamed[nRun]))
    return notOpened(pszWhy, nWhySize, "it is not in the run's folder");
  // The report's folder ends with a separator, or is "." (then left out).
  if (!reportFolder(pszReport, szFolder, sizeof(szFolder)))
    return notOpened(pszWhy, nWhySize, "its path is too long");
  bool bHere = strcmp(szFolder, ".") == 0;
  if (snprintf(pszPath, (size_t)nSize, "%s%s", bHere ? "" : szFolder, pszNamed) >= nSize)
    return notOpened(pszWhy, nWhySize, "its path is too long");
  // Each name from the report's folder down: none a link that could lead out.
  int nFrom = bHere ? 0 : (int)strlen(szFolder);
  for (int n = nFrom + 1; n <= (int)strlen(pszPath); n++) {
    if (pszPath[n] != '\0' && !isPathSeparator(pszPath[n])) continue;
    char c = pszPath[n];
    pszPath[n] = '\0';
    bool bLink = platIsLink(pszPath) != 0;
    pszPath[n] = c;
    if (bLink) return notOpened(pszWhy, nWhySize, "it is reached through a link");
  }
  switch (platPathKind(pszPath)) {
    case PLAT_PATH_NONE: return notOpened(pszWhy, nWhySize, "it is not there");
    case PLAT_PATH_OTHER: return notOpened(pszWhy, nWhySize, "it is not a regular file");
    default: return true;
  }
}

// SPDX-License-Identifier: Apache-2.0
// The report page's reading of a site (see html_parts.h): each device's
// outcome, cause and next step in words, the headline that says what
// happened in one sentence, the counts by cause with their devices and
// the list lines to mend, worst first, and the command that continues
// the run, rebuilt from the arguments that the report records.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "tools/common/fixed_text.h"
#include "tools/zvfleet/html_parts.h"

#define CAUSE_SIZE 320
#define CAUSES_MAX 48       // distinct causes drawn; the rest as one
#define CAUSE_DEVICES 10    // addresses named per cause; the rest counted
#define ROWS_MAX 8192       // of a summary's site

static bool startsWith(const char *pszText, const char *pszStart) {
  return strncmp(pszText, pszStart, strlen(pszStart)) == 0;
}

int rowOutcome(const ReportRow *pRow) {
  if (pRow->bReady) return OUTCOME_DONE;
  if (pRow->bUpdated)
    return pRow->nOnline == ONLINE_NONE || pRow->nOnline == ONLINE_BACK ? OUTCOME_DONE
                                                                         : OUTCOME_DOUBT;
  if (startsWith(pRow->szResult, "unconfirmed")) return OUTCOME_DOUBT;
  bool bUntouched = pRow->szLeft[0] == '\0' || strcmp(pRow->szLeft, "nothing sent") == 0;
  if (bUntouched && (startsWith(pRow->szResult, "not started") ||
                     startsWith(pRow->szResult, "interrupted") ||
                     startsWith(pRow->szResult, "stopped")))
    return OUTCOME_NOT_REACHED;
  return OUTCOME_FAILED;
}

const char *outcomeWord(int nOutcome, bool bPreflight) {
  static const char *const apszRun[] = {"failed", "in doubt", "not reached", "updated"};
  // A model query tells no more than that the model and the password
  // answered: the key and the image are checked only by an update.
  static const char *const apszPreflight[] = {"not ready", "in doubt", "not asked",
                                              "model and password answered"};
  return (bPreflight ? apszPreflight : apszRun)[nOutcome];
}

void putOutcomeMark(int nOutcome, bool bPreflight) {
  pagePrintf("<span class=\"o o%d\">%s</span>", nOutcome, outcomeWord(nOutcome, bPreflight));
}

const char *devicesText(int nDevices, char *pszText, int nSize) {
  snprintf(pszText, (size_t)nSize, "%d device%s", nDevices, nDevices == 1 ? "" : "s");
  return pszText;
}

// The result's own words: cut before a colon (but "refused: WHY"), an
// opening bracket, a time (" after ", " within ") or a semicolon.
static void resultCause(const char *pszResult, char *pszCause, int nSize) {
  snprintf(pszCause, (size_t)nSize, "%s", pszResult);
  const char *apszCuts[] = {" (", " after ", " within ", ";"};
  for (const char *pszCut : apszCuts) {
    char *p = strstr(pszCause, pszCut);
    if (p != NULL) *p = '\0';
  }
  char *pColon = strchr(pszCause, ':');
  if (pColon != NULL && !startsWith(pszCause, "refused:")) *pColon = '\0';
}

void rowCause(const PageRow *pRow, char *pszCause, int nSize) {
  const ReportRow *p = pRow->pRow;
  if (p->bUpdated && p->szUpdatedIn[0] != '\0' && strcmp(p->szUpdatedIn, pRow->pHead->szRunId) != 0 &&
      rowOutcome(p) == OUTCOME_DONE) {
    snprintf(pszCause, (size_t)nSize, "updated in an earlier run");
    return;
  }
  resultCause(p->szResult, pszCause, nSize);
  // What a device holds tells apart devices of one cause.
  if (p->szLeft[0] != '\0' && strcmp(p->szLeft, "nothing sent") != 0)
    textAppend(pszCause, nSize, "; %s", p->szLeft);
}

void rowNextStep(const ReportRow *pRow, bool bPreflight, bool bEach, char *pszStep, int nSize) {
  const char *pszThen = bPreflight ? "then run the preflight again" : "then resume the run";
  const char *pszResult = pRow->szResult;
  char szLine[32] = "each device's line";  // of a cause's devices
  if (!bEach) snprintf(szLine, sizeof(szLine), "line %ld", pRow->lLine);
  *pszStep = '\0';
  if (strstr(pRow->szLeft, "before it restarts") != NULL)
    snprintf(pszStep, (size_t)nSize,
             "update it again before it restarts (its old idata is cleared): resume the run now");
  else if (strstr(pRow->szLeft, "update it again") != NULL || startsWith(pszResult, "unconfirmed"))
    snprintf(pszStep, (size_t)nSize, "update it again: resume the run");
  else if (startsWith(pszResult, "wrong password"))
    snprintf(pszStep, (size_t)nSize, "mend the password on %s of the list, %s", szLine, pszThen);
  else if (startsWith(pszResult, "wrong model"))
    snprintf(pszStep, (size_t)nSize,
             "mend the file on %s of the list (one for the device's model), %s", szLine,
             pszThen);
  else if (startsWith(pszResult, "refused"))
    snprintf(pszStep, (size_t)nSize,
             "check the update file of %s (the device refused it: %s), %s", szLine,
             pszResult + strlen("refused: "), pszThen);
  else if (startsWith(pszResult, "no answer"))
    snprintf(pszStep, (size_t)nSize,
             "check the device is powered and on the network at its address (%s), %s",
             szLine, pszThen);
  else if (startsWith(pszResult, "no progress"))
    snprintf(pszStep, (size_t)nSize,
             "check the device's network link (it stopped answering during the update), %s",
             pszThen);
  else if (startsWith(pszResult, "failed"))
    snprintf(pszStep, (size_t)nSize, "read its log (the tool's last line is its result), %s",
             pszThen);
  else if (pRow->bUpdated && pRow->nOnline == ONLINE_NOT_BACK)
    snprintf(pszStep, (size_t)nSize,
             "check the device is powered: it was updated and did not come back online");
  else if (pRow->bUpdated && rowOutcome(pRow) == OUTCOME_DOUBT)
    snprintf(pszStep, (size_t)nSize,
             "check the device answers on the network: it was updated, its return not confirmed");
  else if (rowOutcome(pRow) == OUTCOME_NOT_REACHED)
    snprintf(pszStep, (size_t)nSize, "%s", bPreflight ? "run the preflight again" : "resume the run");
}

// --- the causes ------------------------------------------------------------------

struct Cause {
  char szText[CAUSE_SIZE];
  int nOutcome;
  bool bUrgent;  // a device that must be updated before it restarts
  int nRows;
  int nFirst;    // its first row in s_anByCause
};

static Cause s_aCauses[CAUSES_MAX];
static int s_anCauseOf[ROWS_MAX];   // by row: its cause as found
static int s_anByCause[ROWS_MAX];   // rows, cause after cause, in list order

static int causeRank(const Cause *p) { return p->nOutcome * 2 + (p->bUrgent ? 0 : 1); }

static int compareCauses(const void *a, const void *b) {
  const Cause *pA = (const Cause *)a, *pB = (const Cause *)b;
  if (causeRank(pA) != causeRank(pB)) return causeRank(pA) - causeRank(pB);
  if (pA->nRows != pB->nRows) return pB->nRows - pA->nRows;
  return pA->nFirst - pB->nFirst;  // in the order found: qsort need not keep it
}

// Groups the site's rows by cause, worst and largest first.
static int gatherCauses(const PageSite *pSite) {
  int nCauses = 0, nRows = std::min(pSite->nRows, ROWS_MAX);
  for (int i = 0; i < nRows; i++) {
    char szCause[CAUSE_SIZE];
    const ReportRow *pRow = pSite->aRows[i].pRow;
    rowCause(&pSite->aRows[i], szCause, sizeof(szCause));
    int c = 0;
    while (c < nCauses && strcmp(s_aCauses[c].szText, szCause) != 0) c++;
    if (c == nCauses && nCauses == CAUSES_MAX) {  // the last holds the rest
      c = nCauses - 1;
      snprintf(s_aCauses[c].szText, sizeof(s_aCauses[c].szText), "other causes");
    }
    if (c == nCauses) {
      memset(&s_aCauses[c], 0, sizeof(s_aCauses[c]));
      snprintf(s_aCauses[c].szText, sizeof(s_aCauses[c].szText), "%s", szCause);
      s_aCauses[c].nOutcome = rowOutcome(pRow);
      s_aCauses[c].nFirst = c;  // until sorted: its place of discovery
      nCauses++;
    }
    Cause *pCause = &s_aCauses[c];
    if (rowOutcome(pRow) < pCause->nOutcome) pCause->nOutcome = rowOutcome(pRow);
    pCause->bUrgent = pCause->bUrgent || strstr(pRow->szLeft, "before it restarts") != NULL;
    pCause->nRows++;
    s_anCauseOf[i] = c;
  }
  qsort(s_aCauses, (size_t)nCauses, sizeof(Cause), compareCauses);
  int anSorted[CAUSES_MAX];
  for (int c = 0; c < nCauses; c++) anSorted[s_aCauses[c].nFirst] = c;
  int nAt = 0;
  for (int c = 0; c < nCauses; c++) {
    s_aCauses[c].nFirst = nAt;
    for (int i = 0; i < nRows; i++)
      if (anSorted[s_anCauseOf[i]] == c) s_anByCause[nAt++] = i;
  }
  return nCauses;
}

static int compareLines(const void *a, const void *b) {
  long x = *(const long *)a, y = *(const long *)b;
  return x < y ? -1 : x > y;
}

// The cause's list lines, in runs: "line 7", "lines 7, 31, 40-49".
static void putLines(const PageSite *pSite, const Cause *pCause) {
  static long s_alLines[ROWS_MAX];
  for (int k = 0; k < pCause->nRows; k++)
    s_alLines[k] = pSite->aRows[s_anByCause[pCause->nFirst + k]].pRow->lLine;
  qsort(s_alLines, (size_t)pCause->nRows, sizeof(long), compareLines);
  pagePut(pCause->nRows == 1 ? "line " : "lines ");
  for (int k = 0; k < pCause->nRows;) {
    int e = k;
    while (e + 1 < pCause->nRows && s_alLines[e + 1] <= s_alLines[e] + 1) e++;
    pagePrintf("%s%ld", k > 0 ? ", " : "", s_alLines[k]);
    if (s_alLines[e] != s_alLines[k]) pagePrintf("&#8211;%ld", s_alLines[e]);
    k = e + 1;
  }
}

static void putCause(const PageSite *pSite, const Cause *pCause) {
  bool bPreflight = pSite->pLatest->bPreflight;
  char szCount[32], szStep[CAUSE_SIZE];
  pagePrintf("<li class=\"cause\" data-outcome=\"%d\">", pCause->nOutcome);
  // The outcome's colour and word, then the cause when it says more.
  putOutcomeMark(pCause->nOutcome, bPreflight);
  if (strcmp(pCause->szText, outcomeWord(pCause->nOutcome, bPreflight)) != 0) {
    pagePut(": <strong>");
    pageText(pCause->szText);
    pagePut("</strong>");
  }
  pagePrintf(", %s; ", devicesText(pCause->nRows, szCount, sizeof(szCount)));
  putLines(pSite, pCause);
  if (pCause->nOutcome != OUTCOME_DONE) {
    pagePut("<br><span class=\"addresses\">");
    int nShown = pCause->nRows < CAUSE_DEVICES ? pCause->nRows : CAUSE_DEVICES;
    for (int k = 0; k < nShown; k++) {
      if (k > 0) pagePut(", ");
      pageText(pSite->aRows[s_anByCause[pCause->nFirst + k]].pRow->szAddress);
    }
    if (nShown < pCause->nRows) pagePrintf(" and %d more", pCause->nRows - nShown);
    pagePut("</span>");
    // The step of its first device, as the others of its cause take theirs.
    rowNextStep(pSite->aRows[s_anByCause[pCause->nFirst]].pRow, bPreflight, pCause->nRows > 1,
                szStep, sizeof(szStep));
    if (szStep[0] != '\0') {
      pagePut("<br>next: ");
      pageText(szStep);
    }
  }
  pagePut("</li>\n");
}

// --- the command that continues the run -----------------------------------------

// The argument as a POSIX shell takes it back: quoted unless plain.
static void putShellWord(const char *pszWord) {
  bool bPlain = *pszWord != '\0';
  for (const char *p = pszWord; *p != '\0'; p++)
    bPlain = bPlain && (strchr("_@%+=:,./-", *p) != NULL || (*p >= '0' && *p <= '9') ||
                        (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z'));
  // A word breaks only where it is longer than the line.
  pagePut(" <span class=\"w\">");
  if (bPlain) {
    pageText(pszWord);
    pagePut("</span>");
    return;
  }
  pagePut("&#39;");
  for (const char *p = pszWord; *p != '\0'; p++) {
    if (*p == '\'')
      pagePut("&#39;\\&#39;&#39;");
    else
      pageEscaped(p, 1, false);
  }
  pagePut("&#39;</span>");
}

// The name of the next run's output: "site.json" gives "site-2.json",
// "site-2.json" "site-3.json".
static void nextName(const char *pszName, char *pszNext, int nSize) {
  const char *pszDot = strrchr(pszName, '.');
  const char *pszSlash = strrchr(pszName, '/');
  if (pszDot == NULL || (pszSlash != NULL && pszDot < pszSlash)) pszDot = pszName + strlen(pszName);
  const char *pszDigits = pszDot;
  while (pszDigits > pszName && pszDigits[-1] >= '0' && pszDigits[-1] <= '9') pszDigits--;
  long lNumber = 1;
  int nStem = (int)(pszDot - pszName);
  if (pszDigits < pszDot && pszDigits - 1 > pszName && pszDigits[-1] == '-' && pszDot - pszDigits < 6) {
    lNumber = strtol(pszDigits, NULL, 10);
    nStem = (int)(pszDigits - 1 - pszName);
  }
  snprintf(pszNext, (size_t)nSize, "%.*s-%ld%s", nStem, pszName, lNumber + 1, pszDot);
}

static bool isOption(const char *pszArg, const char *pszName) { return strcmp(pszArg, pszName) == 0; }

// zvfleet and the run's arguments: a run's with --resume of its report
// first (any earlier --resume left out), a preflight's without
// --preflight; the report and the page under the next names, so that the
// new run writes over none of its inputs.
static void putCommand(const ReportHead *pHead, const char *pszReport) {
  const char *apszArgs[REPORT_ARGS_SIZE];  // each at least its NUL
  int nArgs = 0;
  for (const char *p = pHead->szArgs; nArgs < pHead->nArgs; p += strlen(p) + 1) apszArgs[nArgs++] = p;
  const char *pszOwn = NULL;  // the report as the run named it
  for (int i = 0; i + 1 < nArgs; i++)
    if (isOption(apszArgs[i], "--report")) pszOwn = apszArgs[i + 1];
  pagePut("zvfleet");
  if (!pHead->bPreflight) {
    pagePut(" --resume");
    putShellWord(pszOwn != NULL ? pszOwn : pszReport);
  }
  for (int i = 0; i < nArgs; i++) {
    char szNext[FLEET_PATH_SIZE];
    const char *pszArg = apszArgs[i];
    if (isOption(pszArg, "--preflight")) continue;
    if (isOption(pszArg, "--resume") && i + 1 < nArgs) {
      i++;
      continue;
    }
    putShellWord(pszArg);
    if ((isOption(pszArg, "--report") || isOption(pszArg, "--html")) && i + 1 < nArgs) {
      nextName(apszArgs[++i], szNext, sizeof(szNext));
      putShellWord(szNext);
    }
  }
}

static void putContinue(const PageSite *pSite, int nId, int nNeed) {
  const ReportHead *pHead = pSite->pLatest;
  if (nNeed == 0 && !pHead->bPreflight) {
    pagePut("<p class=\"next\">Nothing is left to do for these devices.</p>\n");
    return;
  }
  if (pHead->bPreflight)
    pagePrintf("<p class=\"next\">%s, the update of this site list (from the folder where the "
               "preflight ran):</p>\n",
               nNeed == 0 ? "Every device answered as the update needs" : "When the lines are mended");
  else
    pagePut("<p class=\"next\">Then continue the run: only the devices not updated are run "
            "again (from the folder where the run started):</p>\n");
  pagePrintf("<div class=\"command\"><pre><code id=\"command-%d\">", nId);
  if (pHead->nArgs >= 0) {
    putCommand(pHead, pSite->pszLatest);
    pagePrintf("</code></pre><button type=\"button\" class=\"copy\" data-for=\"command-%d\">"
               "Copy</button></div>\n",
               nId);
    return;
  }
  // A report of a zvfleet that did not record its arguments.
  pagePut(pHead->bPreflight ? "zvfleet" : "zvfleet --resume");
  if (!pHead->bPreflight) putShellWord(pSite->pszLatest);
  putShellWord(pHead->szList);
  pagePrintf("</code></pre><button type=\"button\" class=\"copy\" data-for=\"command-%d\">Copy"
             "</button></div>\n<p>This report does not record the run's options: add them "
             "(-o, --report, -j ...) as the run had them.</p>\n",
             nId);
}

// --- the headline ---------------------------------------------------------------

static bool interrupted(const ReportHead *pHead) {
  if (!pHead->bEnded) return true;
  for (int i = 0; i < pHead->nMarks; i++)
    if (startsWith(pHead->aMarks[i].szText, "interrupted")) return true;
  return false;
}

static void putSentence(const PageSite *pSite, const int *anOutcomes) {
  const ReportHead *pHead = pSite->pLatest;
  bool bPreflight = pHead->bPreflight;
  char szAll[32];
  int nNeed = pSite->nRows - anOutcomes[OUTCOME_DONE];
  devicesText(pSite->nRows, szAll, sizeof(szAll));
  pagePut("<p class=\"headline\">");
  if (interrupted(pHead)) pagePut(bPreflight ? "Preflight interrupted. " : "Interrupted. ");
  else if (bPreflight) pagePut("Preflight: nothing was written to any device. ");
  if (nNeed == 0 && pSite->nRows == 1)
    pagePrintf("The device %s.",
               bPreflight ? "answered with its model and password" : "was updated");
  else if (nNeed == 0)
    pagePrintf("All %s %s.", szAll, bPreflight ? "answered with model and password" : "updated");
  else
    pagePrintf("%d of %s %s attention", nNeed, szAll, nNeed == 1 ? "needs" : "need");
  bool bFirst = true;
  for (int o = 0; o < OUTCOME_DONE && nNeed > 0; o++) {
    if (anOutcomes[o] == 0) continue;
    pagePrintf("%s%d %s", bFirst ? ": " : ", ", anOutcomes[o], outcomeWord(o, bPreflight));
    bFirst = false;
  }
  if (nNeed > 0)
    pagePrintf("; %d %s.", anOutcomes[OUTCOME_DONE], outcomeWord(OUTCOME_DONE, bPreflight));
  pagePut("</p>\n");
  // A rollout stopped by its rules says why.
  for (int i = 0; i < pHead->nMarks; i++)
    if (strstr(pHead->aMarks[i].szText, "stop") != NULL &&
        !startsWith(pHead->aMarks[i].szText, "interrupted")) {
      pagePut("<p class=\"stopped\">The rollout stopped: ");
      pageText(pHead->aMarks[i].szText);
      pagePut(".</p>\n");
      break;
    }
}

void putHeadline(const PageSite *pSite) {
  int anOutcomes[OUTCOMES] = {0, 0, 0, 0};
  bool bChecked = false;  // an online check ran
  int nNotBack = 0, nNotConfirmed = 0;
  for (int i = 0; i < pSite->nRows; i++) {
    const ReportRow *pRow = pSite->aRows[i].pRow;
    anOutcomes[rowOutcome(pRow)]++;
    bChecked = bChecked || pRow->nOnline != ONLINE_NONE;
    nNotBack += pRow->bUpdated && pRow->nOnline == ONLINE_NOT_BACK;
    nNotConfirmed += pRow->bUpdated && pRow->nOnline != ONLINE_NOT_BACK &&
                     pRow->nOnline != ONLINE_NONE && pRow->nOnline != ONLINE_BACK;
  }
  putSentence(pSite, anOutcomes);
  pagePut("<p class=\"note\">Outcomes: ");
  for (int o = 0; o < OUTCOMES; o++) {
    putOutcomeMark(o, pSite->pLatest->bPreflight);
    pagePut(o + 1 < OUTCOMES ? ", " : ".</p>\n");
  }
  if (bChecked)
    pagePrintf("<p>Online check: %d not back online, %d not confirmed back online.</p>\n",
               nNotBack, nNotConfirmed);
}

void putCauses(const PageSite *pSite, int nId) {
  int nNeed = 0;
  for (int i = 0; i < pSite->nRows; i++) nNeed += rowOutcome(pSite->aRows[i].pRow) != OUTCOME_DONE;
  int nCauses = gatherCauses(pSite);
  pagePrintf("<h3>By cause</h3>\n<ul class=\"causes\" id=\"causes-%d\">\n", nId);
  for (int c = 0; c < nCauses; c++) putCause(pSite, &s_aCauses[c]);
  pagePut("</ul>\n");
  putContinue(pSite, nId, nNeed);
}

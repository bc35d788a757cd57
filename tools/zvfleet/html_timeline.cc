// SPDX-License-Identifier: Apache-2.0
// The report page's timeline (see html_parts.h), inline SVG that scales to
// the page's width.  Up to TIMELINE_LABELLED devices: one bar per device,
// coloured by phase and named in words, its address beside the mark of
// its outcome, each retry labelled.  More: one lane per outcome, labelled
// with its count, showing how many of its devices ran at each moment, so
// that 1,024 devices stay a picture of a few lanes.  The run's marks
// (waves, stops, an interruption) are lines with their words, anchored so
// that no word leaves the picture.
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "tools/zvfleet/html_parts.h"

#define TIMELINE_WIDTH 960
#define TIMELINE_LEFT 130  // room for the addresses and the lanes' words
#define TIMELINE_LABELLED 64
#define LANE_HEIGHT 40
#define CHAR_WIDTH 6.2  // of the timeline's words, about

// Phases and waits by the timeline's kinds (TIMELINE_* and phases): a
// bar's colour; null where the bar ends ("ended", "checked").
static const char *segmentClass(int nKind) {
  static const char *const apszPhases[] = {"p-starting", "p-model-query", "p-idata",
                                           "p-image",    "p-clearing",    "p-commit"};
  switch (nKind) {
    case TIMELINE_ATTEMPT: return "p-starting";
    case TIMELINE_RETRY: return "p-retry";
    case TIMELINE_STOPPING: return "p-stopping";
    case TIMELINE_CHECK: return "p-online-check";
    case TIMELINE_ENDED:
    case TIMELINE_CHECKED: return NULL;
    default: return apszPhases[nKind];
  }
}

// The run's last moment: of the devices' timelines and of its marks.
static double timelineEnd(const ReportHead *pHead, const ReportRow *aRows) {
  double dEnd = 1000;
  for (int i = 0; i < pHead->nRows; i++)
    for (int k = 0; k < aRows[i].nTimeline; k++)
      if (aRows[i].aTimeline[k].ulAt > dEnd) dEnd = aRows[i].aTimeline[k].ulAt;
  for (int i = 0; i < pHead->nMarks; i++)
    if (pHead->aMarks[i].ulAt > dEnd) dEnd = pHead->aMarks[i].ulAt;
  return dEnd;
}

static void putDeviceBar(const ReportRow *pRow, int y, int nRow, double dScale, double dEnd) {
  pagePut("<g class=\"bar\"><title>");
  pageText(pRow->szAddress);
  pagePut(": ");
  pageText(pRow->szResult);
  pagePrintf("</title><rect class=\"o%d\" x=\"0\" y=\"%d\" width=\"8\" height=\"%d\"/>"
             "<text x=\"12\" y=\"%d\">",
             rowOutcome(pRow), y, nRow - 2, y + nRow - 4);
  pageText(pRow->szAddress);
  pagePut("</text>");
  for (int k = 0; k < pRow->nTimeline; k++) {
    const TimelineEvent *pEvent = &pRow->aTimeline[k];
    const char *pszClass = segmentClass(pEvent->nKind);
    if (pszClass == NULL) continue;
    double dFrom = pEvent->ulAt;
    // A device still running at the report's moment: to its end.
    double dTo = k + 1 < pRow->nTimeline ? pRow->aTimeline[k + 1].ulAt : dEnd;
    double dWidth = (dTo - dFrom) * dScale;
    pagePrintf("<rect class=\"%s\" x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\"><title>",
               pszClass, TIMELINE_LEFT + dFrom * dScale, y, dWidth < 1 ? 1.0 : dWidth, nRow - 2);
    pageText(timelineWord(pEvent->nKind));
    pagePrintf(" at %.1f s</title></rect>", dFrom / 1000.0);
  }
  // Words over the bars: each retry, where the next attempt begins.
  for (int k = 0; k < pRow->nTimeline; k++)
    if (pRow->aTimeline[k].nKind == TIMELINE_RETRY)
      pagePrintf("<text x=\"%.1f\" y=\"%d\">retry</text>",
                 TIMELINE_LEFT + pRow->aTimeline[k].ulAt * dScale + 2, y + nRow - 4);
  pagePut("</g>\n");
}

static int compareMoments(const void *a, const void *b) {
  long x = *(const long *)a, y = *(const long *)b;
  return x < y ? -1 : x > y;
}

// A lane of one outcome: how many of its devices ran at each moment (a
// device runs from its first event to its last, or to the run's end).
static void putLane(const ReportHead *pHead, const ReportRow *aRows, int nOutcome, int y,
                    double dScale, double dEnd) {
  static long s_alMoments[2 * FLEET_MAX_DEVICES];  // starts as 2t+1, ends as 2t
  int nMoments = 0, nDevices = 0;
  for (int i = 0; i < pHead->nRows && i < FLEET_MAX_DEVICES; i++) {
    const ReportRow *pRow = &aRows[i];
    if (rowOutcome(pRow) != nOutcome) continue;
    nDevices++;
    if (pRow->nTimeline == 0) continue;
    const TimelineEvent *pLast = &pRow->aTimeline[pRow->nTimeline - 1];
    bool bEnded = pLast->nKind == TIMELINE_ENDED || pLast->nKind == TIMELINE_CHECKED;
    s_alMoments[nMoments++] = 2L * (long)pRow->aTimeline[0].ulAt + 1;
    s_alMoments[nMoments++] = 2L * (long)(bEnded ? pLast->ulAt : (unsigned long)dEnd);
  }
  if (nDevices == 0) return;
  qsort(s_alMoments, (size_t)nMoments, sizeof(long), compareMoments);
  int nMost = 0;
  for (int k = 0, n = 0; k < nMoments; k++) {
    n += s_alMoments[k] & 1 ? 1 : -1;
    if (n > nMost) nMost = n;
  }
  char szCount[32];
  pagePrintf("<g class=\"bar lane\"><rect class=\"o%d\" x=\"0\" y=\"%d\" width=\"8\" height=\"%d\"/>"
             "<text x=\"12\" y=\"%d\">%s</text><text x=\"12\" y=\"%d\">%s</text>"
             "<text x=\"12\" y=\"%d\">%d at most at once</text>",
             nOutcome, y, LANE_HEIGHT - 4, y + 11, outcomeWord(nOutcome, pHead->bPreflight),
             y + 23, devicesText(nDevices, szCount, sizeof(szCount)), y + 35, nMost);
  int yBase = y + LANE_HEIGHT - 4;
  pagePrintf("<path class=\"a%d\" d=\"M%d %d", nOutcome, TIMELINE_LEFT, yBase);
  for (int k = 0, n = 0; k < nMoments; k++) {
    double x = TIMELINE_LEFT + (double)(s_alMoments[k] / 2) * dScale;
    n += s_alMoments[k] & 1 ? 1 : -1;
    pagePrintf("H%.1fV%.1f", x, yBase - (double)n * (LANE_HEIGHT - 6) / (nMost > 0 ? nMost : 1));
  }
  pagePrintf("H%d Z\"/></g>\n", TIMELINE_WIDTH - 10);
}

// A mark's words, on the side of its line where they fit.
static void putMark(const RunMark *pMark, double x, int yText, int y1, int y2) {
  double dWidth = (double)(strlen(pMark->szText) + 8) * CHAR_WIDTH;
  bool bLeft = x + 3 + dWidth > TIMELINE_WIDTH && x - 3 - dWidth >= 0;
  double xText = bLeft ? x - 3 : x + 3;
  if (!bLeft && xText + dWidth > TIMELINE_WIDTH) xText = TIMELINE_WIDTH - dWidth;  // a long text
  xText = std::max(xText, 0.0);
  pagePrintf("<g class=\"run-mark\"><line class=\"mark\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\"/>"
             "<text x=\"%.1f\" y=\"%d\"%s>%.1f s: ",
             x, y1, x, y2, xText, yText, bLeft ? " text-anchor=\"end\"" : "",
             pMark->ulAt / 1000.0);
  pageText(pMark->szText);
  pagePut("</text></g>\n");
}

void putTimeline(const ReportHead *pHead, const ReportRow *aRows, int nId) {
  int nRows = pHead->nRows;
  bool bBars = nRows <= TIMELINE_LABELLED;
  int nLanes = 0;
  for (int o = 0; o < OUTCOMES && !bBars; o++) {
    bool bAny = false;
    for (int i = 0; i < nRows && !bAny; i++) bAny = rowOutcome(&aRows[i]) == o;
    nLanes += bAny;
  }
  int nRow = bBars ? 16 : LANE_HEIGHT + 6;
  double dEnd = timelineEnd(pHead, aRows);
  double dScale = (TIMELINE_WIDTH - TIMELINE_LEFT - 10) / dEnd;
  int nMarks = pHead->nMarks;
  int nTop = 20 + 14 * nMarks;
  int nHeight = nTop + (bBars ? nRows : nLanes) * nRow + 6;
  pagePrintf("<h3>Timeline</h3>\n<p class=\"note\">%s</p>\n<svg class=\"timeline\" "
             "id=\"timeline-%d\" viewBox=\"0 0 %d %d\" role=\"img\" aria-label=\"%s\">\n",
             bBars ? "One bar per device, coloured by phase; the mark before its address tells "
                     "its outcome."
                   : "One lane per outcome: how many of its devices ran at each moment.",
             nId, TIMELINE_WIDTH, nHeight,
             bBars ? "One bar per device over time" : "Devices running over time, by outcome");
  pagePrintf("<text x=\"%d\" y=\"12\">0 s</text><text x=\"%d\" y=\"12\" text-anchor=\"end\">"
             "%.1f s</text>\n",
             TIMELINE_LEFT, TIMELINE_WIDTH - 10, dEnd / 1000.0);
  int y = nTop;
  for (int i = 0; bBars && i < nRows; i++, y += nRow) putDeviceBar(&aRows[i], y, nRow, dScale, dEnd);
  for (int o = 0; !bBars && o < OUTCOMES; o++) {
    bool bAny = false;
    for (int i = 0; i < nRows && !bAny; i++) bAny = rowOutcome(&aRows[i]) == o;
    if (!bAny) continue;
    putLane(pHead, aRows, o, y, dScale, dEnd);
    y += nRow;
  }
  for (int i = 0; i < nMarks; i++)
    putMark(&pHead->aMarks[i], TIMELINE_LEFT + pHead->aMarks[i].ulAt * dScale, 28 + 14 * i,
            16 + 14 * i, nHeight - 4);
  pagePut("</svg>\n");
  // The phases' colours in words, as text that wraps on a phone.
  if (!bBars) return;
  static const int anLegend[] = {TIMELINE_ATTEMPT, PHASE_MODEL_QUERY, PHASE_IDATA,
                                 PHASE_IMAGE,      PHASE_CLEARING,    PHASE_COMMIT,
                                 TIMELINE_STOPPING, TIMELINE_RETRY,   TIMELINE_CHECK};
  pagePut("<p class=\"legend\">Phases: ");
  for (int i = 0; i < (int)(sizeof(anLegend) / sizeof(anLegend[0])); i++)
    pagePrintf("<span class=\"k %s\">%s</span> ", segmentClass(anLegend[i]),
               i == 0 ? "starting" : timelineWord(anLegend[i]));
  pagePut("</p>\n");
}

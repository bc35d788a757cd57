// SPDX-License-Identifier: Apache-2.0
// The report page (see html_page.h).  A report is read by zvfleet's one
// reader (report_read.h): one that it refuses is not drawn but named with
// the reason.  A log is embedded only when the reader finds it a regular
// file inside the report's run folder.  The embedded logs share a budget,
// so that a page of 1,024 devices stays small: each log keeps its end when
// it is cut, and says where it is whole.
#include "tools/zvfleet/html_page.h"

#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "tools/common/cli.h"
#include "tools/common/output_path.h"
#include "tools/zvfleet/report_read.h"

#define PAGE_LOG_BUDGET (1100L * 1024)  // bytes of logs in one page
#define PAGE_LOG_MAX (16L * 1024)       // of one device's log
#define TIMELINE_WIDTH 960
#define TIMELINE_LEFT 130  // room for the addresses
#define LABELLED_ROWS 64   // rows that carry words of their own (more: in the tooltip)

static FILE *s_pPage;

static void put(const char *pszText) { fputs(pszText, s_pPage); }

// Text as HTML: markup characters as entities, control characters but a
// line end and a tab as U+FFFD, bytes beyond ASCII of a log as \xHH.
static void putEscaped(const char *pText, size_t nLength, bool bAsciiOnly) {
  for (size_t i = 0; i < nLength; i++) {
    unsigned char c = (unsigned char)pText[i];
    switch (c) {
      case '&': put("&amp;"); break;
      case '<': put("&lt;"); break;
      case '>': put("&gt;"); break;
      case '"': put("&quot;"); break;
      case '\'': put("&#39;"); break;
      default:
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F)
          put("&#xFFFD;");
        else if (c >= 0x80 && bAsciiOnly)
          fprintf(s_pPage, "\\x%02X", c);
        else
          fputc(c, s_pPage);
    }
  }
}

static void putText(const char *pszText) { putEscaped(pszText, strlen(pszText), false); }

static ReportHead s_head;                   // the report being drawn
static ReportRow s_aRows[FLEET_MAX_DEVICES];  // its rows

static const char s_szStyle[] =
    "body{font-family:sans-serif;margin:1em;color:#111}"
    "table{border-collapse:collapse;font-size:90%}"
    "th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top}"
    "th button{font:inherit;font-weight:bold;border:0;background:none;cursor:pointer}"
    "pre{white-space:pre-wrap;max-width:70em;margin:0}"
    "dl{display:grid;grid-template-columns:max-content auto;gap:0 1em}dd{margin:0}"
    ".totals{font-size:120%;font-weight:bold}"
    "svg text{font-size:11px;font-family:sans-serif}"
    ".p-starting{fill:#9e9e9e}.p-model-query{fill:#7e57c2}.p-idata{fill:#29b6f6}"
    ".p-image{fill:#1e88e5}.p-clearing{fill:#ffa726}.p-commit{fill:#e53935}"
    ".p-stopping{fill:#6d4c41}.p-online-check{fill:#66bb6a}.p-retry{fill:#fff;stroke:#999;"
    "stroke-dasharray:2}.mark{stroke:#000;stroke-width:1}";

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
static double timelineEnd(void) {
  double dEnd = 1000;
  for (int i = 0; i < s_head.nRows; i++)
    for (int k = 0; k < s_aRows[i].nTimeline; k++)
      if (s_aRows[i].aTimeline[k].ulAt > dEnd) dEnd = s_aRows[i].aTimeline[k].ulAt;
  for (int i = 0; i < s_head.nMarks; i++)
    if (s_head.aMarks[i].ulAt > dEnd) dEnd = s_head.aMarks[i].ulAt;
  return dEnd;
}

static void putTimeline(int nReport) {
  int nRows = s_head.nRows;
  bool bLabelled = nRows <= LABELLED_ROWS;
  int nRow = bLabelled ? 16 : 4;
  double dEnd = timelineEnd();
  double dScale = (TIMELINE_WIDTH - TIMELINE_LEFT - 10) / dEnd;
  int nMarks = s_head.nMarks;
  int nTop = 20 + 14 * nMarks;
  int nHeight = nTop + nRows * nRow + 30;
  fprintf(s_pPage,
          "<h3>Timeline</h3>\n<svg class=\"timeline\" id=\"timeline-%d\" width=\"%d\" height=\"%d\" "
          "viewBox=\"0 0 %d %d\" role=\"img\" aria-label=\"One bar per device over time\">"
          "<title>One bar per device over time, coloured by phase</title>\n",
          nReport, TIMELINE_WIDTH, nHeight, TIMELINE_WIDTH, nHeight);
  fprintf(s_pPage,
          "<text x=\"%d\" y=\"12\">0 s</text><text x=\"%d\" y=\"12\" text-anchor=\"end\">%.1f s</text>\n",
          TIMELINE_LEFT, TIMELINE_WIDTH - 10, dEnd / 1000.0);
  for (int i = 0; i < nRows; i++) {
    const ReportRow *pRow = &s_aRows[i];
    int y = nTop + i * nRow;
    put("<g class=\"bar\"><title>");
    putText(pRow->szAddress);
    put(": ");
    putText(pRow->szResult);
    put("</title>");
    if (bLabelled) {
      fprintf(s_pPage, "<text x=\"0\" y=\"%d\">", y + nRow - 4);
      putText(pRow->szAddress);
      put("</text>");
    }
    for (int k = 0; k < pRow->nTimeline; k++) {
      const TimelineEvent *pEvent = &pRow->aTimeline[k];
      const char *pszClass = segmentClass(pEvent->nKind);
      if (pszClass == NULL) continue;
      double dFrom = pEvent->ulAt;
      // A device still running at the report's moment: to its end.
      double dTo = k + 1 < pRow->nTimeline ? pRow->aTimeline[k + 1].ulAt : dEnd;
      double dWidth = (dTo - dFrom) * dScale;
      fprintf(s_pPage, "<rect class=\"%s\" x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\"><title>",
              pszClass, TIMELINE_LEFT + dFrom * dScale, y, dWidth < 1 ? 1.0 : dWidth, nRow - 2);
      putText(timelineWord(pEvent->nKind));
      fprintf(s_pPage, " at %.1f s</title></rect>", dFrom / 1000.0);
    }
    // Words over the bars: each retry, where the next attempt begins.
    for (int k = 0; bLabelled && k < pRow->nTimeline; k++)
      if (pRow->aTimeline[k].nKind == TIMELINE_RETRY)
        fprintf(s_pPage, "<text x=\"%.1f\" y=\"%d\">retry</text>",
                TIMELINE_LEFT + pRow->aTimeline[k].ulAt * dScale + 2, y + nRow - 4);
    put("</g>\n");
  }
  for (int i = 0; i < nMarks; i++) {
    const RunMark *pMark = &s_head.aMarks[i];
    double x = TIMELINE_LEFT + pMark->ulAt * dScale;
    fprintf(s_pPage, "<g class=\"run-mark\"><line class=\"mark\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\"/>",
            x, 16 + 14 * i, x, nHeight - 28);
    fprintf(s_pPage, "<text x=\"%.1f\" y=\"%d\">%.1f s: ", x + 3, 28 + 14 * i, pMark->ulAt / 1000.0);
    putText(pMark->szText);
    put("</text></g>\n");
  }
  static const int anLegend[] = {TIMELINE_ATTEMPT, PHASE_MODEL_QUERY, PHASE_IDATA,
                                 PHASE_IMAGE,      PHASE_CLEARING,    PHASE_COMMIT,
                                 TIMELINE_STOPPING, TIMELINE_RETRY,   TIMELINE_CHECK};
  for (int i = 0; i < (int)(sizeof(anLegend) / sizeof(anLegend[0])); i++)
    fprintf(s_pPage,
            "<rect class=\"%s\" x=\"%d\" y=\"%d\" width=\"10\" height=\"10\"/><text x=\"%d\" y=\"%d\">%s</text>",
            segmentClass(anLegend[i]), 10 + i * 105, nHeight - 20, 24 + i * 105, nHeight - 11,
            i == 0 ? "starting" : timelineWord(anLegend[i]));
  put("\n</svg>\n");
}

// The device's log, its end kept within lBudget bytes, when the report's
// reader finds it a regular file of the run; else why it is not shown.
static void putLog(const char *pszReport, const ReportRow *pRow, long lBudget) {
  char szPath[FLEET_PATH_SIZE * 2], szWhy[80];
  FILE *pFile = NULL;
  if (pRow->szLogFile[0] == '\0')
    snprintf(szWhy, sizeof(szWhy), "the report names none");
  else if (reportNamedFile(pszReport, &s_head, pRow->szLogFile, szPath, sizeof(szPath), szWhy,
                           sizeof(szWhy)) &&
           (pFile = fopen(szPath, "rb")) == NULL)
    snprintf(szWhy, sizeof(szWhy), "it cannot be opened");
  long lSize = pFile != NULL && fseek(pFile, 0, SEEK_END) == 0 ? ftell(pFile) : -1;
  long lFrom = lSize > lBudget ? lSize - lBudget : 0;
  if (pFile != NULL && (lSize < 0 || fseek(pFile, lFrom, SEEK_SET) != 0))
    snprintf(szWhy, sizeof(szWhy), "it cannot be read");
  if (pFile == NULL || lSize < 0) {
    if (pFile != NULL) fclose(pFile);
    put("(log not shown: ");
    putText(szWhy);
    if (pRow->szLogFile[0] != '\0') {
      put(": ");
      putText(pRow->szLogFile);
    }
    put(")");
    return;
  }
  if (lFrom > 0) {
    fprintf(s_pPage, "(its last %ld of %ld bytes; the whole log: ", lBudget, lSize);
    putText(szPath);
    put(")\n");
  }
  char ab[4096];
  size_t n;
  for (long lLeft = lBudget; lLeft > 0 && (n = fread(ab, 1, sizeof(ab), pFile)) > 0;
       lLeft -= (long)n)
    putEscaped(ab, n < (size_t)lLeft ? n : (size_t)lLeft, true);
  fclose(pFile);
}

static void putTotals(int nReport) {
  if (s_head.bPreflight) {
    fprintf(s_pPage,
            "<p class=\"totals\" id=\"totals-%d\">%d devices: %d would be updated, %d would "
            "not; nothing was written to any device</p>\n",
            nReport, s_head.nRows, s_head.nReady, s_head.nRows - s_head.nReady);
    return;
  }
  fprintf(s_pPage,
          "<p class=\"totals\" id=\"totals-%d\">%d devices: %d updated, %d not updated, %d not "
          "back online, %d not confirmed back online</p>\n",
          nReport, s_head.nRows, s_head.nUpdated, s_head.nRows - s_head.nUpdated, s_head.nNotBack,
          s_head.nNotConfirmed);
}

static void putTable(const char *pszReport, int nReport, long lLogBudget) {
  fprintf(s_pPage,
          "<h3>Results</h3>\n<p><label>Filter: <input type=\"search\" class=\"filter\" "
          "data-table=\"results-%d\"></label></p>\n<table class=\"results\" id=\"results-%d\"><thead><tr>",
          nReport, nReport);
  static const char *const apszColumns[] = {"address", "line", "file", "result", "left",
                                            "attempts", "duration (s)", "online"};
  for (int i = 0; i < (int)(sizeof(apszColumns) / sizeof(apszColumns[0])); i++)
    fprintf(s_pPage, "<th><button type=\"button\" data-col=\"%d\"%s>%s</button></th>", i,
            i == 1 || i == 5 || i == 6 ? " data-num=\"1\"" : "", apszColumns[i]);
  put("<th>log</th></tr></thead>\n<tbody>\n");
  for (int i = 0; i < s_head.nRows; i++) {
    const ReportRow *pRow = &s_aRows[i];
    put("<tr class=\"device\"><td>");
    putText(pRow->szAddress);
    fprintf(s_pPage, "</td><td>%ld</td><td>", pRow->lLine);
    putText(pRow->szFile);
    put("</td><td>");
    putText(pRow->szResult);
    put("</td><td>");
    putText(pRow->szLeft);
    fprintf(s_pPage, "</td><td>%ld</td><td>%.1f</td><td>", pRow->lAttempts,
            pRow->ulRunMs / 1000.0);
    putText(onlineWord(pRow->nOnline));
    put("</td><td><details><summary>log</summary><pre>");
    putLog(pszReport, pRow, lLogBudget);
    put("</pre></details></td></tr>\n");
  }
  put("</tbody></table>\n");
}

// Sorting and filtering; with #selftest in the address, what the page
// shows is written into #selftest for a test that opens it.
static const char s_szScript[] =
    "(function(){'use strict';\n"
    "var errors=[];window.addEventListener('error',function(e){errors.push(String(e.message));});\n"
    "function cell(r,c){return r.cells[c].textContent;}\n"
    "function sortBy(table,col,num){var body=table.tBodies[0];var rows=Array.prototype.slice.call(body.rows);"
    "var dir=table.getAttribute('data-sorted')===String(col)?-1:1;"
    "rows.sort(function(a,b){var x=cell(a,col),y=cell(b,col);"
    "if(num){return dir*(parseFloat(x)-parseFloat(y));}return dir*x.localeCompare(y,undefined,{numeric:true});});"
    "rows.forEach(function(r){body.appendChild(r);});table.setAttribute('data-sorted',dir===1?String(col):'');}\n"
    "Array.prototype.forEach.call(document.querySelectorAll('table.results th button'),function(b){"
    "b.addEventListener('click',function(){sortBy(b.closest('table'),parseInt(b.getAttribute('data-col'),10),"
    "b.hasAttribute('data-num'));});});\n"
    "function filter(input){var t=document.getElementById(input.getAttribute('data-table'));var q=input.value.toLowerCase();"
    "Array.prototype.forEach.call(t.tBodies[0].rows,function(r){"
    "var s=Array.prototype.slice.call(r.cells,0,8).map(function(c){return c.textContent;}).join(' ').toLowerCase();"
    "r.hidden=q!==''&&s.indexOf(q)<0;});}\n"
    "Array.prototype.forEach.call(document.querySelectorAll('input.filter'),function(i){"
    "i.addEventListener('input',function(){filter(i);});});\n"
    "if(location.hash==='#selftest'){var out={};var t=document.querySelector('table.results');"
    "out.rows=document.querySelectorAll('tr.device').length;out.bars=document.querySelectorAll('g.bar').length;"
    "out.marks=document.querySelectorAll('g.run-mark').length;"
    "out.totals=Array.prototype.map.call(document.querySelectorAll('.totals'),function(p){return p.textContent;});"
    "t.querySelector('button[data-col=\"0\"]').click();var a=Array.prototype.map.call(t.tBodies[0].rows,function(r){return cell(r,0);});"
    "var s=a.slice().sort(function(x,y){return x.localeCompare(y,undefined,{numeric:true});});"
    "out.sorted=a.join()===s.join();t.querySelector('button[data-col=\"0\"]').click();"
    "var b=Array.prototype.map.call(t.tBodies[0].rows,function(r){return cell(r,0);});out.sortedBack=b.join()===s.reverse().join();"
    "var f=document.querySelector('input.filter');f.value=cell(t.tBodies[0].rows[0],0);f.dispatchEvent(new Event('input'));"
    "out.filtered=Array.prototype.filter.call(t.tBodies[0].rows,function(r){return !r.hidden;}).length;"
    "f.value='';f.dispatchEvent(new Event('input'));"
    "out.scripts=document.scripts.length;out.handlers=document.querySelectorAll('[onerror],[onload],[onclick]').length;"
    "out.hostileShown=Array.prototype.some.call(document.querySelectorAll('tr.device pre'),function(p){return p.textContent.indexOf('<script>')>=0;});"
    "out.errors=errors;var p=document.createElement('pre');p.id='selftest';p.textContent=JSON.stringify(out);"
    "document.body.appendChild(p);}\n"
    "})();\n";

static void putReport(const char *pszReport, int nReport, long lLogBudget) {
  put("<section class=\"report\">\n<h2>Run ");
  putText(s_head.szRunId);
  put(s_head.bPreflight ? " (preflight: nothing written to any device)" : "");
  put("</h2>\n<dl><dt>report</dt><dd>");
  putText(pszReport);
  put("</dd><dt>started</dt><dd>");
  putText(s_head.szStarted);
  put("</dd><dt>workstation</dt><dd>");
  putText(s_head.szWorkstation);
  put("</dd><dt>zvfleet</dt><dd>");
  putText(s_head.szVersion);
  put("</dd><dt>site list</dt><dd>");
  putText(s_head.szList);
  put(" (SHA-256 ");
  putText(s_head.szListSha256);
  put(")</dd><dt>resumed from</dt><dd>");
  putText(s_head.szResumedFrom);
  put("</dd><dt>ended</dt><dd>");
  put(s_head.bEnded ? "yes" : "no: the run was interrupted or is running");
  put("</dd></dl>\n");
  putTotals(nReport);
  putTimeline(nReport);
  putTable(pszReport, nReport, lLogBudget);
  put("</section>\n");
}

// Reads the report into s_head and s_aRows; false with the reason.
static bool readForPage(const char *pszReport, char *pszWhy, int nSize) {
  return readReport(pszReport, true, &s_head, s_aRows, FLEET_MAX_DEVICES, pszWhy, nSize);
}

static void putLeftOut(const char *pszReport, const char *pszWhy) {
  put("<li>");
  putText(pszReport);
  put(": ");
  putText(pszWhy);
  put("</li>\n");
}

bool writeReportsPage(const char *pszHtml, const char *const *apszReports, int nReports,
                      const PageLeftOut *aLeftOut, int nLeftOut) {
  long lDevices = 0;
  for (int i = 0; i < nReports; i++) {
    char szWhy[320];
    if (readForPage(apszReports[i], szWhy, sizeof(szWhy))) lDevices += s_head.nRows;
  }
  long lLogBudget = lDevices > 0 ? PAGE_LOG_BUDGET / lDevices : PAGE_LOG_MAX;
  if (lLogBudget > PAGE_LOG_MAX) lLogBudget = PAGE_LOG_MAX;
  OutputFile out;
  if (outputRuleOpen(&out, pszHtml) != OUTPUT_OK) {
    errorPrintf("zvfleet: cannot write the page %s\n", pszHtml);
    return false;
  }
  s_pPage = out.pFile;
  put("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width\">\n<title>zvfleet report</title>\n<style>");
  put(s_szStyle);
  put("</style>\n</head>\n<body>\n<h1>zvfleet report</h1>\n");
  bool bAll = true;
  for (int i = 0; i < nReports; i++) {
    char szWhy[320];
    if (readForPage(apszReports[i], szWhy, sizeof(szWhy))) {
      putReport(apszReports[i], i, lLogBudget);
      continue;
    }
    errorPrintf("zvfleet: %s %s: not drawn\n", apszReports[i], szWhy);
    bAll = false;
  }
  // Each report left out, and why: a report refused is never drawn.
  if (nLeftOut > 0 || !bAll) {
    put("<section class=\"left-out\">\n<h2>Reports left out</h2>\n<ul>\n");
    for (int i = 0; i < nLeftOut; i++) putLeftOut(aLeftOut[i].pszReport, aLeftOut[i].pszWhy);
    for (int i = 0; i < nReports; i++) {
      char szWhy[320];
      if (!readForPage(apszReports[i], szWhy, sizeof(szWhy))) putLeftOut(apszReports[i], szWhy);
    }
    put("</ul>\n</section>\n");
  }
  put("<script>");
  put(s_szScript);
  put("</script>\n</body>\n</html>\n");
  if (finishOutputFile(&out) != OUTPUT_OK) {
    errorPrintf("zvfleet: cannot write the page %s\n", pszHtml);
    return false;
  }
  return bAll;
}

bool writeHtmlPage(const char *pszHtml, const char *const *apszReports, int nReports) {
  return writeReportsPage(pszHtml, apszReports, nReports, NULL, 0);
}

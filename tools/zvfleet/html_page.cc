// SPDX-License-Identifier: Apache-2.0
// The report page (see html_page.h): its writer, style and script, the
// facts of a run, and the pages of a run and of a summary, laid out from
// the parts of html_parts.h.  A report is read by zvfleet's one reader
// (report_read.h): one that it refuses is not drawn but named with the
// reason.  The embedded logs share a budget, so that a page of 1,024
// devices stays small: each log keeps its end when it is cut.
#include "tools/zvfleet/html_page.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "tools/common/cli.h"
#include "tools/common/output_path.h"
#include "tools/common/sha256.h"
#include "tools/zvfleet/html_parts.h"

#define PAGE_LOG_BUDGET (1100L * 1024)  // bytes of logs in one page
#define PAGE_LOG_MAX (16L * 1024)       // of one device's log
#define PAGE_FILES 32                   // distinct files named at the top

static FILE *s_pPage;

void pageBegin(FILE *pFile) { s_pPage = pFile; }

void pagePut(const char *pszText) { fputs(pszText, s_pPage); }

void pagePrintf(const char *pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  vfprintf(s_pPage, pszFormat, args);
  va_end(args);
}

void pageEscaped(const char *pText, size_t nLength, bool bAsciiOnly) {
  for (size_t i = 0; i < nLength; i++) {
    unsigned char c = (unsigned char)pText[i];
    switch (c) {
      case '&': pagePut("&amp;"); break;
      case '<': pagePut("&lt;"); break;
      case '>': pagePut("&gt;"); break;
      case '"': pagePut("&quot;"); break;
      case '\'': pagePut("&#39;"); break;
      default:
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F)
          pagePut("&#xFFFD;");
        else if (c >= 0x80 && bAsciiOnly)
          fprintf(s_pPage, "\\x%02X", c);
        else
          fputc(c, s_pPage);
    }
  }
}

void pageText(const char *pszText) { pageEscaped(pszText, strlen(pszText), false); }

static const char s_szStyle[] =
    "*{box-sizing:border-box}"
    "body{font-family:sans-serif;margin:0 auto;padding:.5em 1em;max-width:1400px;color:#111;"
    "line-height:1.35;overflow-wrap:anywhere}"
    "h1{font-size:1.5em;margin:.3em 0}h2{font-size:1.3em}h3{font-size:1.1em;margin:1em 0 .3em}"
    ".headline,.totals{font-size:1.2em;font-weight:bold}"
    ".scroller{overflow-x:auto;max-width:100%}"
    "table{border-collapse:collapse;font-size:90%}"
    "th,td{border:1px solid #bbb;padding:2px 6px;text-align:left;vertical-align:top;"
    "overflow-wrap:normal}"
    "td:nth-child(4),td:nth-child(5),td:nth-child(6){min-width:11em}"
    "tr[data-outcome=\"0\"]{background:#fdecea}tr[data-outcome=\"1\"]{background:#fff8e1}"
    "th button{font:inherit;font-weight:bold;border:0;background:none;cursor:pointer;padding:0}"
    "pre{white-space:pre-wrap;margin:0}td pre{max-width:60em}"
    ".command{display:flex;gap:.5em;align-items:flex-start}"
    ".command pre{flex:1;min-width:0;background:#f3f3f3;padding:.5em;border:1px solid #ccc;"
    "overflow-wrap:anywhere}"
    "dl{display:grid;grid-template-columns:max-content minmax(0,1fr);gap:0 1em}"
    ".w{display:inline-block;max-width:100%}summary{white-space:nowrap}"
    "dt{font-weight:bold}dd{margin:0;min-width:0}.hash{font-family:monospace;word-break:break-all}"
    ".causes{padding-left:1.2em}.causes li{margin:.4em 0}.addresses{color:#444}"
    ".note{color:#444;margin:.2em 0}"
    "svg.timeline{width:100%;max-width:960px;height:auto;display:block}"
    "svg text{font-size:11px;font-family:sans-serif}"
    ".o{white-space:nowrap}"
    ".o::before,.k::before{content:\"\";display:inline-block;width:.8em;height:.8em;"
    "margin-right:.3em;vertical-align:-.05em;background:var(--c);border:1px solid #555}"
    ".k{white-space:nowrap;margin-right:.6em}"
    ".o0{--c:#d32f2f;fill:#d32f2f}.o1{--c:#f9a825;fill:#f9a825}.o2{--c:#9e9e9e;fill:#9e9e9e}"
    ".o3{--c:#43a047;fill:#43a047}"
    ".a0{fill:#d32f2f}.a1{fill:#f9a825}.a2{fill:#9e9e9e}.a3{fill:#43a047}"
    ".p-starting{--c:#9e9e9e;fill:#9e9e9e}.p-model-query{--c:#7e57c2;fill:#7e57c2}"
    ".p-idata{--c:#29b6f6;fill:#29b6f6}.p-image{--c:#1e88e5;fill:#1e88e5}"
    ".p-clearing{--c:#ffa726;fill:#ffa726}.p-commit{--c:#6d1b7b;fill:#6d1b7b}"
    ".p-stopping{--c:#6d4c41;fill:#6d4c41}.p-online-check{--c:#66bb6a;fill:#66bb6a}"
    ".p-retry{--c:#fff;fill:#fff;stroke:#999;stroke-dasharray:2}.mark{stroke:#000;stroke-width:1}";

// Sorting, filtering (a text, or only the devices that need attention)
// and copying the command; with #selftest in the address, what the page
// shows is written into #selftest for a test that opens it.
static const char s_szScript[] =
    "(function(){'use strict';\n"
    "var errors=[];window.addEventListener('error',function(e){errors.push(String(e.message));});\n"
    "function all(s,f){return Array.prototype.map.call(document.querySelectorAll(s),f);}\n"
    "function cell(r,c){return r.cells[c].textContent;}\n"
    "function sortBy(table,col,num){var body=table.tBodies[0];var rows=Array.prototype.slice.call(body.rows);"
    "var dir=table.getAttribute('data-sorted')===String(col)?-1:1;"
    "rows.sort(function(a,b){var x=cell(a,col),y=cell(b,col);"
    "if(num){return dir*(parseFloat(x)-parseFloat(y));}return dir*x.localeCompare(y,undefined,{numeric:true});});"
    "rows.forEach(function(r){body.appendChild(r);});table.setAttribute('data-sorted',dir===1?String(col):'');}\n"
    "all('table.results th button',function(b){"
    "b.addEventListener('click',function(){sortBy(b.closest('table'),parseInt(b.getAttribute('data-col'),10),"
    "b.hasAttribute('data-num'));});});\n"
    "function filter(id){var t=document.getElementById(id);"
    "var q=document.querySelector('input.filter[data-table=\"'+id+'\"]').value.toLowerCase();"
    "var only=document.querySelector('input.attention[data-table=\"'+id+'\"]').checked;"
    "Array.prototype.forEach.call(t.tBodies[0].rows,function(r){"
    "var s=Array.prototype.slice.call(r.cells,0,r.cells.length-1).map(function(c){return c.textContent;}).join(' ').toLowerCase();"
    "r.hidden=(q!==''&&s.indexOf(q)<0)||(only&&r.getAttribute('data-outcome')==='3');});}\n"
    "all('input.filter,input.attention',function(i){var f=function(){filter(i.getAttribute('data-table'));};"
    "i.addEventListener('input',f);i.addEventListener('change',f);});\n"
    "all('button.copy',function(b){b.addEventListener('click',function(){"
    "var c=document.getElementById(b.getAttribute('data-for'));"
    "function done(){b.textContent='Copied';}"
    "function select(){var r=document.createRange();r.selectNodeContents(c);var s=window.getSelection();"
    "s.removeAllRanges();s.addRange(r);try{if(document.execCommand('copy')){done();}}catch(e){}}"
    "if(navigator.clipboard&&window.isSecureContext){navigator.clipboard.writeText(c.textContent).then(done,select);}"
    "else{select();}});});\n"
    "if(location.hash==='#selftest'){var out={};var t=document.querySelector('table.results');"
    "var w=window.innerWidth;out.viewport=w;out.scrollWidth=document.documentElement.scrollWidth;"
    "out.wide=all('body *',function(e){var r=e.getBoundingClientRect();"
    "return !e.closest('.scroller')&&r.width>0&&(r.right>w+1||r.left<-1)?e.tagName+'.'+e.className:'';})"
    ".filter(function(x){return x;}).slice(0,5);"
    "var f0=document.querySelector('tr.device[data-outcome=\"0\"]'),tl=document.querySelector('svg.timeline');"
    "out.failureAboveTimeline=!f0||!tl||f0.getBoundingClientRect().top<tl.getBoundingClientRect().top;"
    "out.causes=all('li.cause',function(l){return l.textContent;});"
    "out.causesWithoutLines=out.causes.filter(function(c){return !/\\blines? \\d/.test(c);}).length;"
    "out.commands=all('code[id^=\"command-\"]',function(c){return c.textContent;});"
    "out.rows=document.querySelectorAll('tr.device').length;out.bars=document.querySelectorAll('g.bar').length;"
    "out.marks=document.querySelectorAll('g.run-mark').length;"
    "out.totals=all('.headline,.totals',function(p){return p.textContent;});"
    "t.querySelector('button[data-col=\"0\"]').click();var a=Array.prototype.map.call(t.tBodies[0].rows,function(r){return cell(r,0);});"
    "var s=a.slice().sort(function(x,y){return x.localeCompare(y,undefined,{numeric:true});});"
    "out.sorted=a.join()===s.join();t.querySelector('button[data-col=\"0\"]').click();"
    "var b=Array.prototype.map.call(t.tBodies[0].rows,function(r){return cell(r,0);});out.sortedBack=b.join()===s.reverse().join();"
    "var f=document.querySelector('input.filter');f.value=cell(t.tBodies[0].rows[0],0);f.dispatchEvent(new Event('input'));"
    "out.filtered=Array.prototype.filter.call(t.tBodies[0].rows,function(r){return !r.hidden;}).length;"
    "f.value='';f.dispatchEvent(new Event('input'));"
    "var o=document.querySelector('input.attention');o.checked=true;o.dispatchEvent(new Event('change'));"
    "out.attention=Array.prototype.filter.call(t.tBodies[0].rows,function(r){return !r.hidden;}).length;"
    "o.checked=false;o.dispatchEvent(new Event('change'));"
    "out.scripts=document.scripts.length;out.handlers=document.querySelectorAll('[onerror],[onload],[onclick]').length;"
    "out.hostileShown=Array.prototype.some.call(document.querySelectorAll('tr.device pre'),function(p){return p.textContent.indexOf('<script>')>=0;});"
    "out.errors=errors;var p=document.createElement('pre');p.id='selftest';p.textContent=JSON.stringify(out);"
    "document.body.appendChild(p);if(window.parent!==window){window.parent.postMessage(p.textContent,'*');}}\n"
    "})();\n";

// 'sha256-BASE64' of the text, as a Content-Security-Policy names it.
static void putHashSource(const char *pszText) {
  static const char s_szDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  uint8_t abDigest[SHA256_SIZE + 1] = {0};
  Sha256 sha;
  sha256Begin(&sha);
  sha256Add(&sha, pszText, strlen(pszText));
  sha256End(&sha, abDigest);
  pagePut("'sha256-");
  for (int i = 0; i < SHA256_SIZE; i += 3) {  // 32 bytes: ten groups and two bytes
    unsigned long ul = (unsigned long)abDigest[i] << 16 | (unsigned long)abDigest[i + 1] << 8 |
                       (i + 2 < SHA256_SIZE ? abDigest[i + 2] : 0);
    pagePrintf("%c%c%c%c", s_szDigits[ul >> 18 & 63], s_szDigits[ul >> 12 & 63],
               s_szDigits[ul >> 6 & 63], i + 2 < SHA256_SIZE ? s_szDigits[ul & 63] : '=');
  }
  pagePut("'");
}

static void putPageHead(const char *pszTitle) {
  pagePut("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
          "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src ");
  putHashSource(s_szStyle);
  pagePut("; script-src ");
  putHashSource(s_szScript);
  pagePrintf("\">\n<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
             "<title>%s</title>\n<style>",
             pszTitle);
  pagePut(s_szStyle);
  pagePrintf("</style>\n</head>\n<body>\n<h1>%s</h1>\n", pszTitle);
}

static void putLeftOut(const PageLeftOut *aLeftOut, int nLeftOut) {
  if (nLeftOut == 0) return;
  pagePut("<section class=\"left-out\">\n<h2>Reports left out</h2>\n<ul>\n");
  for (int i = 0; i < nLeftOut; i++) {
    pagePut("<li>");
    pageText(aLeftOut[i].pszReport);
    pagePut(": ");
    pageText(aLeftOut[i].pszWhy);
    pagePut("</li>\n");
  }
  pagePut("</ul>\n</section>\n");
}

static bool putPageEnd(OutputFile *pOut, const char *pszHtml) {
  pagePut("<script>");
  pagePut(s_szScript);
  pagePut("</script>\n</body>\n</html>\n");
  if (finishOutputFile(pOut) == OUTPUT_OK) return true;
  errorPrintf("zvfleet: cannot write the page %s\n", pszHtml);
  return false;
}

// --- the facts of a run ------------------------------------------------------------

static long daysFromCivil(long y, long m, long d) {
  y -= m <= 2;
  long era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
  long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}

// The moment lMs after the time of day pszStarted ("YYYY-MM-DD hh:mm:ss"),
// into pszAt; false when pszStarted is no such time.
static bool timeAfter(const char *pszStarted, long lMs, char *pszAt, int nSize) {
  int y, mo, d, h, mi, s;
  char c;
  if (sscanf(pszStarted, "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &c) != 6 ||
      mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60 || y < 1970)
    return false;
  long long t = (long long)daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s + (lMs + 500) / 1000;
  long z = (long)(t / 86400) + 719468, era = z / 146097, doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  long day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  long secs = (long)(t % 86400);
  snprintf(pszAt, (size_t)nSize, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld", yoe + era * 400 + (month <= 2),
           month, day, secs / 3600, secs / 60 % 60, secs % 60);
  return true;
}

static void durationText(long lMs, char *pszText, int nSize) {
  long lSeconds = (lMs + 500) / 1000;
  if (lMs < 60000)
    snprintf(pszText, (size_t)nSize, "%.1f s", lMs / 1000.0);
  else if (lSeconds < 3600)
    snprintf(pszText, (size_t)nSize, "%ld min %02ld s", lSeconds / 60, lSeconds % 60);
  else
    snprintf(pszText, (size_t)nSize, "%ld h %02ld min", lSeconds / 3600, lSeconds / 60 % 60);
}

static void putEnd(const ReportHead *pHead) {
  char szAt[160], szFor[32];
  bool bInterrupted = false;
  for (int i = 0; i < pHead->nMarks; i++)
    bInterrupted = bInterrupted || strncmp(pHead->aMarks[i].szText, "interrupted", 11) == 0;
  if (pHead->lElapsedMs < 0 || !timeAfter(pHead->szStarted, pHead->lElapsedMs, szAt, sizeof(szAt))) {
    pagePut(pHead->bEnded ? (bInterrupted ? "yes, interrupted" : "yes")
                          : "no: the run was killed or is still running");
    pagePut(" (this report does not tell when)");
    return;
  }
  durationText(pHead->lElapsedMs, szFor, sizeof(szFor));
  if (!pHead->bEnded)
    pagePrintf("no: the run was killed or is still running; this report was written at %s, "
               "%s after its start",
               szAt, szFor);
  else
    pagePrintf("%s%s, after %s", bInterrupted ? "interrupted, at " : "", szAt, szFor);
}

// Each distinct file of the rows: name, size and SHA-256.
static void putFiles(const PageRow *aRows, int nRows) {
  const ReportRow *apFiles[PAGE_FILES];
  int nFiles = 0, nMore = 0;
  for (int i = 0; i < nRows; i++) {
    const ReportRow *pRow = aRows[i].pRow;
    int k = 0;
    while (k < nFiles && (strcmp(apFiles[k]->szFile, pRow->szFile) != 0 ||
                          strcmp(apFiles[k]->szSha256, pRow->szSha256) != 0))
      k++;
    if (k < nFiles) continue;
    if (nFiles == PAGE_FILES)
      nMore++;
    else
      apFiles[nFiles++] = pRow;
  }
  for (int k = 0; k < nFiles; k++) {
    pagePut(k > 0 ? "<br>" : "");
    pageText(apFiles[k]->szFile);
    if (apFiles[k]->lSize >= 0)
      pagePrintf(", %ld byte%s", apFiles[k]->lSize, apFiles[k]->lSize == 1 ? "" : "s");
    if (apFiles[k]->szSha256[0] != '\0') {
      pagePut(", SHA-256 <span class=\"hash\">");
      pageText(apFiles[k]->szSha256);
      pagePut("</span>");
    }
  }
  if (nMore > 0) pagePrintf("<br>and %d more", nMore);
}

static void putFact(const char *pszTerm, const char *pszText) {
  pagePrintf("<dt>%s</dt><dd>", pszTerm);
  pageText(pszText);
  pagePut("</dd>");
}

static void putFacts(const ReportHead *pHead, const char *pszReport, const PageRow *aRows, int nRows) {
  pagePut("<dl class=\"facts\"><dt>files</dt><dd>");
  putFiles(aRows, nRows);
  pagePut("</dd><dt>ended</dt><dd>");
  putEnd(pHead);
  pagePut("</dd>");
  putFact("started", pHead->szStarted);
  pagePut("<dt>site list</dt><dd>");
  pageText(pHead->szList);
  pagePut(", SHA-256 <span class=\"hash\">");
  pageText(pHead->szListSha256);
  pagePut("</span></dd><dt>run</dt><dd class=\"hash\">");
  pageText(pHead->szRunId);
  pagePut("</dd>");
  if (pHead->szResumedFrom[0] != '\0') {
    pagePut("<dt>resumed from</dt><dd class=\"hash\">");
    pageText(pHead->szResumedFrom);
    pagePut("</dd>");
  }
  putFact("report", pszReport);
  putFact("workstation", pHead->szWorkstation);
  putFact("zvfleet", pHead->szVersion);
  pagePut("</dl>\n");
}

static void putMarks(const ReportHead *pHead) {
  if (pHead->nMarks == 0) return;
  pagePut("<ul class=\"marks\">\n");
  for (int i = 0; i < pHead->nMarks; i++) {
    pagePrintf("<li>%.1f s: ", pHead->aMarks[i].ulAt / 1000.0);
    pageText(pHead->aMarks[i].szText);
    pagePut("</li>\n");
  }
  pagePut("</ul>\n");
}

// --- the run's page ------------------------------------------------------------------

static ReportHead s_head;                     // the report being drawn
static ReportRow s_aRows[FLEET_MAX_DEVICES];  // its rows
static PageRow s_aPageRows[FLEET_MAX_DEVICES];

// Reads the report into s_head and s_aRows; false with the reason.
static bool readForPage(const char *pszReport, char *pszWhy, int nSize) {
  return readReport(pszReport, true, &s_head, s_aRows, FLEET_MAX_DEVICES, pszWhy, nSize);
}

static void putReport(const char *pszReport, int nReport, long lLogBudget) {
  for (int i = 0; i < s_head.nRows; i++) s_aPageRows[i] = {&s_aRows[i], &s_head, pszReport};
  const ReportHead *pHead = &s_head;
  PageSite site = {s_aPageRows, s_head.nRows, &pHead, &pszReport, 1, &s_head, pszReport, false};
  pagePut("<section class=\"report\">\n<h2>");
  pagePut(s_head.bPreflight ? "Preflight of " : "Run of ");
  pageText(s_head.szList);
  pagePut("</h2>\n");
  putHeadline(&site);
  putFacts(&s_head, pszReport, s_aPageRows, s_head.nRows);
  putCauses(&site, nReport);
  putTable(&site, nReport, lLogBudget);
  putTimeline(&s_head, s_aRows, nReport);
  putMarks(&s_head);
  pagePut("</section>\n");
}

static long logBudget(long lDevices) {
  long lBudget = lDevices > 0 ? PAGE_LOG_BUDGET / lDevices : PAGE_LOG_MAX;
  return std::min(lBudget, (long)PAGE_LOG_MAX);
}

bool writeHtmlPage(const char *pszHtml, const char *pszReport) {
  char szWhy[320];
  bool bRead = readForPage(pszReport, szWhy, sizeof(szWhy));
  OutputFile out;
  if (outputRuleOpen(&out, pszHtml) != OUTPUT_OK) {
    errorPrintf("zvfleet: cannot write the page %s\n", pszHtml);
    return false;
  }
  pageBegin(out.pFile);
  putPageHead("zvfleet report");
  if (bRead) {
    putReport(pszReport, 0, logBudget(s_head.nRows));
  } else {  // a report refused is never drawn: the page says why
    errorPrintf("zvfleet: %s %s: not drawn\n", pszReport, szWhy);
    PageLeftOut leftOut = {pszReport, szWhy};
    putLeftOut(&leftOut, 1);
  }
  return putPageEnd(&out, pszHtml) && bRead;
}

// --- a summary's page -----------------------------------------------------------------

// "N devices: U updated, K need attention", of the rows.
static void putTotals(const PageRow *aRows, int nRows) {
  char szDevices[32];
  int nDone = 0;
  for (int i = 0; i < nRows; i++) nDone += rowOutcome(aRows[i].pRow) == OUTCOME_DONE;
  pagePrintf("%s: %d updated, %d %s attention", devicesText(nRows, szDevices, sizeof(szDevices)),
             nDone, nRows - nDone, nRows - nDone == 1 ? "needs" : "need");
}

static void putSiteReports(const PageSite *pSite) {
  pagePut("<ol class=\"reports\">\n");
  for (int i = 0; i < pSite->nReports; i++) {
    const ReportHead *pHead = pSite->apHeads[i];
    pagePut("<li>");
    pageText(pSite->apszReports[i]);
    pagePut(": run <span class=\"hash\">");
    pageText(pHead->szRunId);
    pagePut("</span>, started ");
    pageText(pHead->szStarted);
    pagePut(", ended ");
    putEnd(pHead);
    if (pHead->szResumedFrom[0] != '\0') {
      pagePut(", resumed run <span class=\"hash\">");
      pageText(pHead->szResumedFrom);
      pagePut("</span>");
    }
    pagePut("</li>\n");
  }
  pagePut("</ol>\n");
}

bool writeSummaryPage(const char *pszHtml, const PageSite *aSites, int nSites,
                      const PageLeftOut *aLeftOut, int nLeftOut) {
  long lDevices = 0;
  for (int s = 0; s < nSites; s++) lDevices += aSites[s].nRows;
  OutputFile out;
  if (outputRuleOpen(&out, pszHtml) != OUTPUT_OK) {
    errorPrintf("zvfleet: cannot write the page %s\n", pszHtml);
    return false;
  }
  pageBegin(out.pFile);
  putPageHead("zvfleet summary");
  pagePrintf("<p class=\"totals\">%d site list%s, ", nSites, nSites == 1 ? "" : "s");
  long lAll = 0, lDone = 0;
  for (int s = 0; s < nSites; s++)
    for (int i = 0; i < aSites[s].nRows; i++) {
      lAll++;
      lDone += rowOutcome(aSites[s].aRows[i].pRow) == OUTCOME_DONE;
    }
  pagePrintf("%ld device%s: %ld updated, %ld %s attention</p>\n<ul class=\"sites\">\n", lAll,
             lAll == 1 ? "" : "s", lDone, lAll - lDone, lAll - lDone == 1 ? "needs" : "need");
  for (int s = 0; s < nSites; s++) {
    pagePut("<li>");
    pageText(aSites[s].pLatest->szList);
    pagePut(": ");
    putTotals(aSites[s].aRows, aSites[s].nRows);
    pagePut("</li>\n");
  }
  pagePut("</ul>\n");
  for (int s = 0; s < nSites; s++) {
    const PageSite *pSite = &aSites[s];
    pagePut("<section class=\"site\">\n<h2>Site list ");
    pageText(pSite->pLatest->szList);
    pagePut("</h2>\n<p class=\"note\">SHA-256 <span class=\"hash\">");
    pageText(pSite->pLatest->szListSha256);
    pagePrintf("</span>; each device once, from the latest of %d report%s that holds it:</p>\n",
               pSite->nReports, pSite->nReports == 1 ? "" : "s");
    putSiteReports(pSite);
    putHeadline(pSite);
    pagePut("<dl class=\"facts\"><dt>files</dt><dd>");
    putFiles(pSite->aRows, pSite->nRows);
    pagePut("</dd></dl>\n");
    putCauses(pSite, s);
    putTable(pSite, s, logBudget(lDevices));
    pagePut("</section>\n");
  }
  putLeftOut(aLeftOut, nLeftOut);
  return putPageEnd(&out, pszHtml);
}

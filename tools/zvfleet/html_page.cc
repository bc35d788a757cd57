// SPDX-License-Identifier: Apache-2.0
// The report page (see html_page.h).  A report is read whole with the JSON
// parser; a value of an unexpected kind is shown as empty, never trusted.
// The embedded logs share a budget, so that a page of 1,024 devices stays
// small: each log keeps its end when it is cut, and says where it is whole.
#include "tools/zvfleet/html_page.h"

#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "image/output_file.h"
#include "tools/common/cli.h"
#include "tools/common/json_read.h"

using nlohmann::json;

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

// A string member's value, escaped; "" for anything else.
static void putMember(const json &object, const char *pszKey) {
  if (!object.is_object()) return;
  auto at = object.find(pszKey);
  if (at == object.end() || !at->is_string()) return;
  const std::string &text = at->get_ref<const std::string &>();
  putEscaped(text.data(), text.size(), false);
}

static double numberOf(const json &object, const char *pszKey, double dDefault) {
  if (!object.is_object()) return dDefault;
  auto at = object.find(pszKey);
  return at != object.end() && at->is_number() ? at->get<double>() : dDefault;
}

// The member, or null when the object has none (or is no object).
static const json &member(const json &object, const char *pszKey) {
  static const json s_null;
  if (!object.is_object()) return s_null;
  auto at = object.find(pszKey);
  return at == object.end() ? s_null : *at;
}

// The array member's elements (none for anything else).
static size_t countOf(const json &value) { return value.is_array() ? value.size() : 0; }

static const char *stringOf(const json &value) {
  return value.is_string() ? value.get_ref<const std::string &>().c_str() : "";
}

// A moment of a timeline or of the marks: [ms from the run's start, what].
static bool isMoment(const json &value) {
  return value.is_array() && value.size() == 2 && value[0].is_number();
}

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

// Phases and waits by the timeline's names: a bar's colour and its words.
static const char *segmentClass(const char *pszName) {
  static const char *const apszNames[] = {"attempt", "starting", "model query", "idata", "image",
                                          "clearing", "commit", "stopping", "retry",
                                          "online check"};
  static const char *const apszClasses[] = {"p-starting", "p-starting", "p-model-query",
                                            "p-idata",    "p-image",    "p-clearing",
                                            "p-commit",   "p-stopping", "p-retry",
                                            "p-online-check"};
  for (size_t i = 0; i < sizeof(apszNames) / sizeof(apszNames[0]); i++)
    if (strcmp(pszName, apszNames[i]) == 0) return apszClasses[i];
  return NULL;  // "ended", "checked": the bar ends
}

// The run's last moment: of the devices' timelines and of its marks.
static double timelineEnd(const json &report) {
  double dEnd = 1000;
  for (const json &device : member(report, "devices")) {
    if (!member(device, "timeline").is_array()) continue;
    for (const json &event : member(device, "timeline"))
      if (isMoment(event) && event[0].get<double>() > dEnd) dEnd = event[0].get<double>();
  }
  if (member(report, "marks").is_array())
    for (const json &mark : member(report, "marks"))
      if (isMoment(mark) && mark[0].get<double>() > dEnd) dEnd = mark[0].get<double>();
  return dEnd;
}

static void putTimeline(const json &report, int nReport) {
  const json &devices = member(report, "devices");
  int nRows = (int)countOf(devices);
  bool bLabelled = nRows <= LABELLED_ROWS;
  int nRow = bLabelled ? 16 : 4;
  double dEnd = timelineEnd(report);
  double dScale = (TIMELINE_WIDTH - TIMELINE_LEFT - 10) / dEnd;
  int nMarks = (int)countOf(member(report, "marks"));
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
    const json &device = devices[(size_t)i];
    int y = nTop + i * nRow;
    put("<g class=\"bar\"><title>");
    putMember(device, "address");
    put(": ");
    putMember(device, "result");
    put("</title>");
    if (bLabelled) {
      fprintf(s_pPage, "<text x=\"0\" y=\"%d\">", y + nRow - 4);
      putMember(device, "address");
      put("</text>");
    }
    const json *pTimeline = &member(device, "timeline");
    if (pTimeline->is_array()) {
      size_t nEvents = pTimeline->size();
      for (size_t k = 0; k < nEvents; k++) {
        const json &event = (*pTimeline)[k];
        if (!isMoment(event)) continue;
        const char *pszName = stringOf(event[1]);
        const char *pszClass = segmentClass(pszName);
        if (pszClass == NULL) continue;
        double dFrom = event[0].get<double>();
        double dTo = dEnd;  // a device still running at the report's moment
        if (k + 1 < nEvents && isMoment((*pTimeline)[k + 1]))
          dTo = (*pTimeline)[k + 1][0].get<double>();
        double dWidth = (dTo - dFrom) * dScale;
        fprintf(s_pPage, "<rect class=\"%s\" x=\"%.1f\" y=\"%d\" width=\"%.1f\" height=\"%d\"><title>",
                pszClass, TIMELINE_LEFT + dFrom * dScale, y, dWidth < 1 ? 1.0 : dWidth, nRow - 2);
        putText(pszName);
        fprintf(s_pPage, " at %.1f s</title></rect>", dFrom / 1000.0);
      }
      // Words over the bars: each retry, where the next attempt begins.
      for (size_t k = 0; bLabelled && k < nEvents; k++) {
        const json &event = (*pTimeline)[k];
        if (isMoment(event) && strcmp(stringOf(event[1]), "retry") == 0)
          fprintf(s_pPage, "<text x=\"%.1f\" y=\"%d\">retry</text>",
                  TIMELINE_LEFT + event[0].get<double>() * dScale + 2, y + nRow - 4);
      }
    }
    put("</g>\n");
  }
  for (int i = 0; i < nMarks; i++) {
    const json &mark = member(report, "marks")[(size_t)i];  // an array of nMarks
    if (!isMoment(mark)) continue;
    double x = TIMELINE_LEFT + mark[0].get<double>() * dScale;
    fprintf(s_pPage, "<g class=\"run-mark\"><line class=\"mark\" x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\"/>",
            x, 16 + 14 * i, x, nHeight - 28);
    fprintf(s_pPage, "<text x=\"%.1f\" y=\"%d\">%.1f s: ", x + 3, 28 + 14 * i, mark[0].get<double>() / 1000.0);
    putText(stringOf(mark[1]));
    put("</text></g>\n");
  }
  static const char *const apszLegend[] = {"starting", "model query", "idata", "image", "clearing",
                                           "commit", "stopping", "retry", "online check"};
  for (int i = 0; i < (int)(sizeof(apszLegend) / sizeof(apszLegend[0])); i++)
    fprintf(s_pPage,
            "<rect class=\"%s\" x=\"%d\" y=\"%d\" width=\"10\" height=\"10\"/><text x=\"%d\" y=\"%d\">%s</text>",
            segmentClass(apszLegend[i]), 10 + i * 105, nHeight - 20, 24 + i * 105, nHeight - 11,
            apszLegend[i]);
  put("\n</svg>\n");
}

// The device's log, its end kept within lBudget bytes.
static void putLog(const char *pszPath, long lBudget) {
  FILE *pFile = *pszPath != '\0' ? fopen(pszPath, "rb") : NULL;
  if (pFile == NULL) {
    put("(no log at ");
    putText(pszPath);
    put(")");
    return;
  }
  long lSize = fseek(pFile, 0, SEEK_END) == 0 ? ftell(pFile) : -1;
  long lFrom = lSize > lBudget ? lSize - lBudget : 0;
  if (lSize < 0 || fseek(pFile, lFrom, SEEK_SET) != 0) {
    fclose(pFile);
    put("(the log cannot be read)");
    return;
  }
  if (lFrom > 0) {
    fprintf(s_pPage, "(its last %ld of %ld bytes; the whole log: ", lBudget, lSize);
    putText(pszPath);
    put(")\n");
  }
  char ab[4096];
  size_t n;
  while ((n = fread(ab, 1, sizeof(ab), pFile)) > 0) putEscaped(ab, n, true);
  fclose(pFile);
}

static void putTotals(const json &report, int nReport) {
  if (!member(report, "preflight").is_null()) {
    int nDevices = (int)countOf(member(report, "devices"));
    double dReady = numberOf(report, "would_be_updated", 0);
    double dNotAsked = numberOf(report, "not_asked", 0);
    fprintf(s_pPage,
            "<p class=\"totals\" id=\"totals-%d\">%d devices: %.0f answered with model and "
            "password (key and image are checked only by an update), %.0f did not, %.0f not "
            "asked%s; nothing was written to any device</p>\n",
            nReport, nDevices, dReady, nDevices - dReady - dNotAsked, dNotAsked,
            dNotAsked > 0 ? ": the preflight was interrupted" : "");
    return;
  }
  fprintf(s_pPage,
          "<p class=\"totals\" id=\"totals-%d\">%d devices: %.0f updated, %.0f not updated, %.0f not "
          "back online, %.0f not confirmed back online</p>\n",
          nReport, (int)countOf(member(report, "devices")), numberOf(report, "updated", 0),
          numberOf(report, "not_updated", 0), numberOf(report, "not_back_online", 0),
          numberOf(report, "not_confirmed_online", 0));
}

static void putTable(const json &report, int nReport, long lLogBudget) {
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
  for (const json &device : member(report, "devices")) {
    put("<tr class=\"device\"><td>");
    putMember(device, "address");
    fprintf(s_pPage, "</td><td>%.0f</td><td>", numberOf(device, "line", 0));
    putMember(device, "file");
    put("</td><td>");
    putMember(device, "result");
    put("</td><td>");
    putMember(device, "left");
    fprintf(s_pPage, "</td><td>%.0f</td><td>%.1f</td><td>", numberOf(device, "attempts", 0),
            numberOf(device, "duration_s", 0));
    putMember(device, "online");
    put("</td><td><details><summary>log</summary><pre>");
    putLog(stringOf(member(device, "log_file")), lLogBudget);
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

static void putReport(const json &report, int nReport, long lLogBudget) {
  const json &run = member(report, "run");
  put("<section class=\"report\">\n<h2>Run ");
  putMember(run, "id");
  put(!member(report, "preflight").is_null() ? " (preflight: nothing written to any device)" : "");
  put("</h2>\n<dl><dt>started</dt><dd>");
  putMember(run, "started");
  put("</dd><dt>workstation</dt><dd>");
  putMember(run, "workstation");
  put("</dd><dt>zvfleet</dt><dd>");
  putMember(run, "zvfleet_version");
  put("</dd><dt>site list</dt><dd>");
  putMember(report, "site_list");
  put(" (SHA-256 ");
  putMember(report, "site_list_sha256");
  put(")</dd><dt>resumed from</dt><dd>");
  putMember(report, "resumed_from");
  put("</dd><dt>ended</dt><dd>");
  put(!member(run, "ended").is_boolean() || !member(run, "ended").get<bool>()
          ? "no: the run was killed or is running"
      : member(run, "interrupted").is_boolean() && member(run, "interrupted").get<bool>()
          ? "yes, interrupted: the devices not started were not asked or not updated"
          : "yes");
  put("</dd></dl>\n");
  putTotals(report, nReport);
  putTimeline(report, nReport);
  putTable(report, nReport, lLogBudget);
  put("</section>\n");
}

bool writeHtmlPage(const char *pszHtml, const char *const *apszReports, int nReports) {
  static json s_report;  // the one being read
  long lDevices = 0;
  for (int i = 0; i < nReports; i++) {
    char szWhy[320];
    if (!readJsonFile(apszReports[i], &s_report, szWhy, sizeof(szWhy))) {
      errorPrintf("zvfleet: the page cannot be drawn from %s: %s\n", apszReports[i], szWhy);
      return false;
    }
    if (!member(s_report, "devices").is_array()) {
      errorPrintf("zvfleet: the page cannot be drawn from %s: not a report of zvfleet's\n",
                  apszReports[i]);
      return false;
    }
    lDevices += (long)countOf(member(s_report, "devices"));
  }
  long lLogBudget = lDevices > 0 ? PAGE_LOG_BUDGET / lDevices : PAGE_LOG_MAX;
  if (lLogBudget > PAGE_LOG_MAX) lLogBudget = PAGE_LOG_MAX;
  OutputFile out;
  if (openOutputFile(&out, pszHtml) != OUTPUT_OK) {
    errorPrintf("zvfleet: cannot write the page %s\n", pszHtml);
    return false;
  }
  s_pPage = out.pFile;
  put("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width\">\n<title>zvfleet report</title>\n<style>");
  put(s_szStyle);
  put("</style>\n</head>\n<body>\n<h1>zvfleet report</h1>\n");
  for (int i = 0; i < nReports; i++) {
    char szWhy[320];
    if (!readJsonFile(apszReports[i], &s_report, szWhy, sizeof(szWhy))) continue;
    putReport(s_report, i, lLogBudget);
  }
  put("<script>");
  put(s_szScript);
  put("</script>\n</body>\n</html>\n");
  if (finishOutputFile(&out) != OUTPUT_OK) {
    errorPrintf("zvfleet: cannot write the page %s\n", pszHtml);
    return false;
  }
  return true;
}

// SPDX-License-Identifier: Apache-2.0
// The logs of a run (see device_log.h).
#include "tools/zvfleet/device_log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "tools/common/cli.h"
#include "tools/zvfleet/progress.h"
#include "tools/zvfleet/site_folder.h"

static char s_szSiteLog[FLEET_PATH_SIZE];
static bool s_bSiteLogFailed;
static bool s_bCut;  // the disk is full: no log is written any more

void cutLogs(void) { s_bCut = true; }

// The tool's lines read in one go, kept for one write to its log.
static char s_abBatch[8 * (4 * FLEET_LINE_SIZE + 2)];
static int s_nBatch;
static FleetDevice *s_pBatchDevice;

bool prepareLogs(void) {
  const char *pszDir = runFolder();  // made when the site folder was taken
  s_bSiteLogFailed = s_bCut = false;
  s_nBatch = 0;
  int n = snprintf(s_szSiteLog, sizeof(s_szSiteLog), "%s/site.log", pszDir);
  for (int i = 0; i < g_nDevices && n < FLEET_PATH_SIZE; i++) {
    char szAddress[FLEET_ADDRESS_SIZE];  // a copy: source and target share the device
    memcpy(szAddress, g_aDevices[i].szAddress, sizeof(szAddress));
    n = snprintf(g_aDevices[i].szLog, FLEET_PATH_SIZE, "%s/%s.log", pszDir, szAddress);
  }
  if (n >= FLEET_PATH_SIZE) {
    errorPrintf("zvfleet: the folder's name is too long: %s\n", pszDir);
    return false;
  }
  // A folder that is there but takes no file would fail every device.
  if (!platAppendToFile(s_szSiteLog, "", 0)) {
    errorPrintf("zvfleet: cannot write in the folder %s for the logs\n", pszDir);
    return false;
  }
  return true;
}

int escapedText(const char *pText, int nLength, char *pszOut, int nSize) {
  static const char szHex[] = "0123456789abcdef";
  int n = 0;
  // Each piece, 4 bytes at most, leaves room for the terminator.
  for (int i = 0; i < nLength && n <= nSize - 5; i++) {
    unsigned char c = (unsigned char)pText[i];
    if (c == '\n' || c == '\r') {
      pszOut[n++] = '\\';
      pszOut[n++] = c == '\n' ? 'n' : 'r';
    } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
      pszOut[n++] = '\\';
      pszOut[n++] = 'x';
      pszOut[n++] = szHex[c >> 4];
      pszOut[n++] = szHex[c & 15];
    } else {
      pszOut[n++] = (char)c;
    }
  }
  pszOut[n] = '\0';
  return n;
}

static void appendNow(FleetDevice *pDev, const char *pText, int nLength);

void logFlush(void) {
  if (s_nBatch > 0) appendNow(s_pBatchDevice, s_abBatch, s_nBatch);
  s_nBatch = 0;
}

void logToolLine(FleetDevice *pDev, const char *pszLine) {
  if (pDev != s_pBatchDevice || s_nBatch > (int)sizeof(s_abBatch) - (4 * FLEET_LINE_SIZE + 2))
    logFlush();
  s_pBatchDevice = pDev;
  int n = escapedText(pszLine, (int)strlen(pszLine), s_abBatch + s_nBatch,
                      (int)sizeof(s_abBatch) - s_nBatch - 1);
  s_abBatch[s_nBatch + n++] = '\n';
  s_nBatch += n;
}

void logAppend(FleetDevice *pDev, const char *pText, int nLength) {
  logFlush();  // in the order written
  appendNow(pDev, pText, nLength);
}

static void appendNow(FleetDevice *pDev, const char *pText, int nLength) {
  if (s_bCut) {
    pDev->bLogFailed = true;
    return;
  }
  if (platAppendToFile(pDev->szLog, pText, nLength) || pDev->bLogFailed) return;
  pDev->bLogFailed = true;
  char szMessage[FLEET_PATH_SIZE + 96];
  snprintf(szMessage, sizeof(szMessage),
           "zvfleet: cannot write the log %s: its lines are lost from here on; the device's "
           "result stands",
           pDev->szLog);
  progressMessage(szMessage);
}

// "zvfleet: DD hh:mm:ss ", the note and its line end in szNote (1024
// bytes: the longest, a command line with a long path); its length.
static int noteText(char *szNote, int nSize, const char *pszFormat, va_list args) {
  PlatTime now;
  platLocalTime(&now);
  int n = formatText(szNote, nSize - 1, FLEET_NOTE "%02d %02d:%02d:%02d ", now.nDay, now.nHour,
                     now.nMinute, now.nSecond);
  n += formatTextV(szNote + n, nSize - 1 - n, pszFormat, args);
  szNote[n++] = '\n';
  return n;
}

#define NOTE_SIZE 1024

void logNote(FleetDevice *pDev, const char *pszFormat, ...) {
  char szNote[NOTE_SIZE];
  va_list args;
  va_start(args, pszFormat);
  int n = noteText(szNote, (int)sizeof(szNote), pszFormat, args);
  va_end(args);
  logAppend(pDev, szNote, n);
}

void logNoteKept(FleetDevice *pDev, const char *pszFormat, ...) {
  if (pDev != s_pBatchDevice || s_nBatch > (int)sizeof(s_abBatch) - NOTE_SIZE) logFlush();
  s_pBatchDevice = pDev;
  va_list args;
  va_start(args, pszFormat);
  s_nBatch += noteText(s_abBatch + s_nBatch, NOTE_SIZE, pszFormat, args);
  va_end(args);
}

void siteLogAppend(const char *pText, int nLength) {
  if (s_bCut) return;
  if (platAppendToFile(s_szSiteLog, pText, nLength) || s_bSiteLogFailed) return;
  s_bSiteLogFailed = true;
  char szMessage[FLEET_PATH_SIZE + 64];
  snprintf(szMessage, sizeof(szMessage), "zvfleet: cannot write the log %s: its lines are lost "
           "from here on", s_szSiteLog);
  progressMessage(szMessage);
}

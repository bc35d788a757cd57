// SPDX-License-Identifier: Apache-2.0
// The debug port (see debug_port.h).  In a log each datagram stands on a
// line of its own: a line end at its end closes the line, and line ends
// inside it are written \r and \n, so that no debug text can pass for a
// line of the tool.  A sender's lines are filed up to a rate; the others
// are counted in its log.
#include "tools/zvfleet/debug_port.h"

#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "base/settings.h"
#include "monitor/debug_listener.h"
#include "platform/platform_companions.h"
#include "tools/common/cli.h"
#include "tools/zvfleet/device_log.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/site_folder.h"

#define DATAGRAMS_PER_WAKE 64  // then the children get their turn
#define NOTE_SIZE 160          // a note of the lines not filed, which always fits

static PlatSocket s_s = PLAT_NO_SOCKET;
static PlatEvent s_hEvent;
static bool s_bListening;

// Debug lines filed per sender and second at most; the rest are counted.
struct DebugBudget {
  unsigned long ulSecondMs;  // start of the current second
  int nFiled;                // lines filed in it
  unsigned long ulUnfiled;   // lines not filed, not yet noted
};

static DebugBudget s_aBudgets[FLEET_MAX_DEVICES];
static DebugBudget s_siteBudget;

static char s_szNote[FLEET_PATH_SIZE];  // the note that this run holds the port, or ""

// The note's path: one per port, for every program of the workstation.
static bool notePath(char *pszPath, int nSize) {
  char szFolder[FLEET_PATH_SIZE];
  if (!platTempFolder(szFolder, sizeof(szFolder))) return false;
  int n = snprintf(pszPath, (size_t)nSize, "%s/zvfleet-debug-port-%d", szFolder, g_usDebugPort);
  return n < nSize;
}

static void writeNote(void) {
  char szText[1536];
  int n = holderText(szText, sizeof(szText));
  if (n == 0 || !notePath(s_szNote, sizeof(s_szNote))) return;
  // A note of zvfleet's own in the temporary folder, under a name of its
  // own making: no file a user named, so the output rule has nothing to
  // guard here.
  FILE *pNote = fopen(s_szNote, "wb");
  bool bOk = pNote != NULL && fwrite(szText, 1, (size_t)n, pNote) == (size_t)n;
  if (pNote != NULL && fclose(pNote) != 0) bOk = false;
  if (!bOk) s_szNote[0] = '\0';  // a run that cannot note it still holds the port
}

// True when the note names another zvfleet that runs.
static bool heldByFleet(FleetHolder *pHolder) {
  char szPath[FLEET_PATH_SIZE];
  return notePath(szPath, sizeof(szPath)) && readHolder(szPath, pHolder) &&
         holderLives(pHolder);
}

int openDebugPort(void) {
  s_bListening = false;
  s_szNote[0] = '\0';
  memset(s_aBudgets, 0, sizeof(s_aBudgets));
  memset(&s_siteBudget, 0, sizeof(s_siteBudget));
  s_s = platUdpSocket();
  if (s_s != PLAT_NO_SOCKET && platBind(s_s, 0, g_usDebugPort)) {
    s_bListening = true;
    writeNote();
  } else {
    FleetHolder holder;
    if (heldByFleet(&holder)) {
      errorPrintf("zvfleet: another zvfleet (pid %lu, started %s, list %s, logs %s) holds the "
                  "debug port %d: it may be updating these very devices; nothing was started\n",
                  holder.ulPid, holder.szStart, holder.szList, holder.szRun, g_usDebugPort);
      if (s_s != PLAT_NO_SOCKET) platCloseSocket(s_s);
      s_s = PLAT_NO_SOCKET;
      return -1;
    }
    if (!g_fleet.bNoDebugPort) {
      // Another zvfleet whose note is elsewhere (another TMPDIR) may hold it.
      errorPrintf("zvfleet: cannot bind the debug port %d, which another program holds (it may "
                  "be another zvfleet updating these very devices); nothing was started (give "
                  "--no-debug-port to run without the devices' debug lines)\n",
                  g_usDebugPort);
      if (s_s != PLAT_NO_SOCKET) platCloseSocket(s_s);
      s_s = PLAT_NO_SOCKET;
      return -1;
    }
    errorPrintf("zvfleet: cannot bind the debug port %d, which another program holds: "
                "the devices' debug messages are not filed (--no-debug-port)\n",
                g_usDebugPort);
    // A socket that nobody sends to stands in, for the pause.
    if (s_s != PLAT_NO_SOCKET) platCloseSocket(s_s);
    s_s = platUdpSocket();
    if (s_s == PLAT_NO_SOCKET || !platBind(s_s, platInetAddr("127.0.0.1"), 0)) return 0;
  }
  s_hEvent = platCreateEvent();
  return platEventSelectRead(s_s, s_hEvent);
}

bool debugPortHeld(void) { return s_bListening; }

void closeDebugPort(void) {
  FleetHolder holder;
  if (s_szNote[0] != '\0' && readHolder(s_szNote, &holder) && holder.ulPid == platProcessId())
    platRemoveFile(s_szNote);
  s_szNote[0] = '\0';
  if (s_s != PLAT_NO_SOCKET) platCloseSocket(s_s);
  s_s = PLAT_NO_SOCKET;
  s_bListening = false;
}

// The note of the lines that were not filed, as a log line.  Returns its
// length.
static int unfiledLine(DebugBudget *pBudget, char szLine[NOTE_SIZE]) {
  PlatTime now;
  platLocalTime(&now);
  int n = snprintf(szLine, NOTE_SIZE, FLEET_NOTE "%02d %02d:%02d:%02d %lu debug line%s not "
                   "filed (at most %d a second are)\n",
                   now.nDay, now.nHour, now.nMinute, now.nSecond, pBudget->ulUnfiled,
                   pBudget->ulUnfiled == 1 ? "" : "s", DEBUG_LINES_PER_SECOND);
  pBudget->ulUnfiled = 0;
  return n;
}

// True when one more line may be filed now; a new second first notes the
// lines of the last ones that were not (*pnNote: the note's length, or 0).
static bool spendBudget(DebugBudget *pBudget, unsigned long ulNow, char szNote[NOTE_SIZE],
                        int *pnNote) {
  *pnNote = 0;
  if (ulNow - pBudget->ulSecondMs >= 1000 || pBudget->nFiled == 0) {
    if (pBudget->ulUnfiled > 0) *pnNote = unfiledLine(pBudget, szNote);
    pBudget->ulSecondMs = ulNow;
    pBudget->nFiled = 0;
  }
  if (pBudget->nFiled >= DEBUG_LINES_PER_SECOND) {
    pBudget->ulUnfiled++;
    return false;
  }
  pBudget->nFiled++;
  return true;
}

void noteUnfiledDebugLines(void) {
  char szNote[NOTE_SIZE];
  for (int i = 0; i < g_nDevices; i++)
    if (s_aBudgets[i].ulUnfiled > 0) {
      int n = unfiledLine(&s_aBudgets[i], szNote);
      logAppend(&g_aDevices[i], szNote, n);
    }
  if (s_siteBudget.ulUnfiled > 0) {
    int n = unfiledLine(&s_siteBudget, szNote);
    siteLogAppend(szNote, n);
  }
}

// The datagram's text (up to its first zero byte) without the line end at
// its very end, and with every other control character but a tab escaped,
// so that no debug text can pass for a line of the tool nor act on a
// terminal.
static void fileDatagram(const char *pszText, const PlatAddress *pFrom, unsigned long ulNow) {
  FleetDevice *pDev = NULL;
  DebugBudget *pBudget = &s_siteBudget;
  for (int i = 0; i < g_nDevices; i++)
    if (g_aDevices[i].ulAddr == pFrom->ulAddr) {
      pDev = &g_aDevices[i];
      pBudget = &s_aBudgets[i];
      break;
    }
  char szNote[NOTE_SIZE];
  int nNote = 0;
  bool bFile = spendBudget(pBudget, ulNow, szNote, &nNote);
  if (nNote > 0) {
    if (pDev != NULL)
      logAppend(pDev, szNote, nNote);
    else
      siteLogAppend(szNote, nNote);
  }
  if (!bFile) return;
  int nEnd = (int)strlen(pszText);
  if (nEnd > 0 && pszText[nEnd - 1] == '\n') nEnd--;
  if (nEnd > 0 && pszText[nEnd - 1] == '\r') nEnd--;
  char szText[4 * DEBUG_DATAGRAM_SIZE + 1];
  escapedText(pszText, nEnd, szText, sizeof(szText));
  char szSender[32];
  bool bSender = platAddressText(pFrom->ulAddr, szSender, sizeof(szSender));
  PlatTime now;
  platLocalTime(&now);
  char szLine[sizeof(szText) + 64];
  int nLine = formatDebugLine(szLine, sizeof(szLine), &now, bSender ? szSender : NULL, szText);
  if (pDev != NULL)
    logAppend(pDev, szLine, nLine);
  else
    siteLogAppend(szLine, nLine);
}

void waitDebugPort(unsigned long ulMilliseconds) {
  if (platWaitEvent(s_hEvent, ulMilliseconds) != 1) return;
  char szBuffer[DEBUG_DATAGRAM_SIZE + 1];
  for (int i = 0; i < DATAGRAMS_PER_WAKE; i++) {
    PlatAddress from;
    int n = platRecvFrom(s_s, szBuffer, DEBUG_DATAGRAM_SIZE, &from);
    if (n == PLAT_RECV_TRUNCATED) n = DEBUG_DATAGRAM_SIZE;  // its first bytes, as the tool shows
    if (n < 0) return;
    szBuffer[n] = '\0';
    if (s_bListening) fileDatagram(szBuffer, &from, platMilliseconds());
  }
}

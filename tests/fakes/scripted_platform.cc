// The scripted stand-in for the platform layer (see scripted_platform.h).
#include "tests/fakes/scripted_platform.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

ScriptedPlatform g_fake;

void resetScriptedPlatform(void) { g_fake = ScriptedPlatform(); }

static int s_nEvent;

void platInitProcess(void) {}
void platConsoleWrite(const char *pText, int nLength) {
  if (nLength > 0) fwrite(pText, 1, (size_t)nLength, stdout);
  fflush(stdout);
}
int platSocketStartup(void) { return 0; }
unsigned long platMilliseconds(void) { return 0; }

int platIsDirectory(const char *pszPath) {
  struct stat st;
  return stat(pszPath, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}
PlatSocket platUdpSocket(void) { return 3; }
int platBind(PlatSocket, uint32_t, uint16_t) {
  return g_fake.bBindFails ? -1 : 0;
}
void platCloseSocket(PlatSocket) {}

uint32_t platInetAddr(const char *pszText) {
  unsigned a, b, c, d;
  if (sscanf(pszText, "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return 0xFFFFFFFF;
  return (uint32_t)(a | (b << 8) | (c << 16) | (d << 24));
}

int platAddressText(uint32_t ulAddr, char *pszBuffer, int nSize) {
  snprintf(pszBuffer, (size_t)nSize, "%u.%u.%u.%u", ulAddr & 0xFF,
           (ulAddr >> 8) & 0xFF, (ulAddr >> 16) & 0xFF, ulAddr >> 24);
  return 1;
}

int platSendTo(PlatSocket, const void *pData, int nLength,
               const PlatAddress *) {
  if (g_fake.nSendsBeforeFailure == 0) return -1;
  if (g_fake.nSendsBeforeFailure > 0) g_fake.nSendsBeforeFailure--;
  const uint8_t *pb = (const uint8_t *)pData;
  g_fake.sent.emplace_back(pb, pb + nLength);
  return nLength;
}

int platRecvFrom(PlatSocket, void *pBuffer, int nSize, PlatAddress *pFrom) {
  if (pFrom != NULL) {
    pFrom->ulAddr = 0x0100007F;
    pFrom->usPort = 69;
  }
  if (g_fake.script.empty()) return -1;
  ScriptStep step = g_fake.script.front();
  g_fake.script.pop_front();
  if (step.kind == ScriptStep::RECV_FAILS) return -1;
  int n = (int)step.abData.size();
  if (n > 0) memcpy(pBuffer, step.abData.data(), (size_t)(n < nSize ? n : nSize));
  return n > nSize ? PLAT_RECV_TRUNCATED : n;
}

PlatEvent platCreateEvent(void) { return &s_nEvent; }
int platEventSelectRead(PlatSocket, PlatEvent) { return 0; }

int platWaitEvent(PlatEvent, unsigned long ulMilliseconds) {
  if (ulMilliseconds == 0)  // a look at what already waits
    return !g_fake.script.empty() && g_fake.script.front().bWaiting;
  g_fake.nWaits++;
  if (g_fake.script.empty()) throw ProcessExit{ScriptedPlatform::EXHAUSTED};
  ScriptStep::Kind kind = g_fake.script.front().kind;
  if (kind == ScriptStep::TIMEOUT || kind == ScriptStep::WAIT_FAILS) {
    g_fake.script.pop_front();
    return kind == ScriptStep::TIMEOUT ? 0 : -1;
  }
  return 1;  // the receive takes the step
}

int platStartThread(void (*)(void)) { return g_fake.bThreadsFail ? 0 : 1; }
void platSleepForever(void) { throw ProcessExit{ScriptedPlatform::EXHAUSTED}; }

void platLocalTime(PlatTime *pTime) {
  pTime->nDay = 6;
  pTime->nHour = 9;
  pTime->nMinute = 5;
  pTime->nSecond = 3;
}

int platPendingError(void) { return g_fake.nPendingError; }

int platErrorText(int, char *pszBuffer, int nSize) {
  snprintf(pszBuffer, (size_t)nSize, "%s", g_fake.systemText.c_str());
  return (int)g_fake.systemText.size();
}

void platExit(int nStatus) { throw ProcessExit{nStatus}; }

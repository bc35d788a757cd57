// SPDX-License-Identifier: Apache-2.0
// The platform layer's stand-in for in-process runs (see fake_platform.h).
#include "tests/fakes/fake_platform.h"

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <vector>

#include "image/crc16.h"
#include "image/image_store.h"
#include "net/packet.h"
#include "tools/zvdevsim/device.h"
#include "tools/zvdevsim/faults.h"

namespace {

struct Datagram {
  Bytes data;
  unsigned long ulArrival;
};

const int SILENT_WAITS = 45;  // three resend cycles without a reply
const unsigned long EMPTY_WAKE_MS = 1000;

struct Fake {
  FakeRun run;
  Transcript *pTranscript = nullptr;
  FakeFailures calls;  // counts of the calls so far
  PlatSocket sDebug = PLAT_NO_SOCKET;
  PlatSocket sNext = 0;
  SimDevice device;
  uint32_t ulRequests = 0;
  std::deque<Datagram> toTool, toListener;
  unsigned long ulNow = 0;
  int nSilentWaits = 0;
  bool bDraining = false;
  size_t nReplies = 0;  // of the script used up
  PlatAddress lastDest = {0, 0};
  std::vector<int (*)(void)> threads;
  bool bStopped = false;  // Ctrl+C
  int nEchoes = 0;        // echo requests sent
  uint32_t ulEchoAddr = 0;  // to the address of the one pinger
};

Fake s_fake;
int s_nEvent;

bool failsNow(int *pnCount, int nFailing) {
  return ++*pnCount == nFailing;
}

// The 16 password bytes, zero bytes at the end left out.
std::string passwordText(const uint8_t *pb) {
  int n = 16;
  while (n > 0 && pb[n - 1] == 0) n--;
  std::string text;
  for (int i = 0; i < n; i++) {
    char sz[8];
    bool bPlain = pb[i] >= 0x20 && pb[i] < 0x7F && pb[i] != '"' && pb[i] != '\\';
    snprintf(sz, sizeof(sz), bPlain ? "%c" : "\\x%02X", pb[i]);
    text += sz;
  }
  return "\"" + text + "\"";
}

std::string requestLine(const uint8_t *pb, int n) {
  uint8_t ab[COMMIT_SIZE] = {0};
  memcpy(ab, pb, (size_t)(n < COMMIT_SIZE ? n : COMMIT_SIZE));
  static const char *const apszNames[8] = {0, 0, 0, 0, 0, "data", "commit", "getmodel"};
  char sz[200];
  uint8_t bCommand = ab[PACKET_COMMAND];
  std::string line = bCommand < 8 && apszNames[bCommand] ? apszNames[bCommand]
                                                        : "cmd " + std::to_string(bCommand);
  snprintf(sz, sizeof(sz), " count %u flags %02X page %u len %d", ab[PACKET_COUNT],
           ab[PACKET_FLAGS], getLe16(ab + PACKET_PAGE), n);
  line = "> " + line + sz;
  if (bCommand == TFTP_COMMIT && n == COMMIT_SIZE)
    snprintf(sz, sizeof(sz), " first %u end %u crc %04X", getLe16(ab + COMMIT_FIRST_AT),
             getLe16(ab + COMMIT_END_AT), getLe16(ab + COMMIT_CRC_AT));
  else if (n > PACKET_HEADER_SIZE)
    snprintf(sz, sizeof(sz), " data %04X",
             calcCrc16(pb + PACKET_HEADER_SIZE, (uint32_t)(n - PACKET_HEADER_SIZE)));
  else
    sz[0] = '\0';
  return line + sz + " pw " + passwordText(ab + PACKET_PASSWORD) + " const " +
         std::to_string(getLe16(ab + PACKET_CONST));
}

std::string replyLine(const Bytes &data) {
  uint8_t ab[REPLY_SIZE] = {0};
  if (!data.empty()) memcpy(ab, data.data(), data.size() < REPLY_SIZE ? data.size() : REPLY_SIZE);
  char sz[96];
  snprintf(sz, sizeof(sz), "cmd %u code %u page %u len %u", ab[PACKET_COMMAND], ab[PACKET_COUNT],
           getLe16(ab + PACKET_PAGE), (unsigned)data.size());
  return sz;
}

// " at N ms" when the run shows times, else "".
std::string timeNote() {
  return s_fake.run.bTimes ? " at " + std::to_string(s_fake.ulNow) + " ms" : "";
}

// The user presses Ctrl+C: nothing more is printed or sent, and every wait
// fails, so that whatever runs ends at once.
void stop() { s_fake.bStopped = true; }

// The device's answer to one request, queued for the tool.
void deviceHandles(const uint8_t *pb, int n) {
  SimOutcome outcome;
  simHandleRequest(&s_fake.device, pb, n, &outcome);
  SimDelivery delivery;
  if (!simPlanDelivery(s_fake.run.device.faults, ++s_fake.ulRequests, &outcome, &delivery, nullptr))
    return;
  for (const SimDatagram &d : simDeliveryDatagrams(&delivery, s_fake.run.device.bModel)) {
    Bytes data(d.abData, d.abData + (d.nLength < REPLY_SIZE ? d.nLength : REPLY_SIZE));
    data.resize((size_t)d.nLength, 0);
    // In the order of arrival: a delayed reply lets later ones pass.
    unsigned long ulArrival = s_fake.ulNow;
    if (!d.bEarly) ulArrival += delivery.ulDelayMs + s_fake.run.device.ulReplyWaitMs;
    auto at = s_fake.toTool.end();
    while (at != s_fake.toTool.begin() && (at - 1)->ulArrival > ulArrival) --at;
    s_fake.toTool.insert(at, {data, ulArrival});
  }
}

int copyOut(const Bytes &data, void *pBuffer, int nSize) {
  int n = (int)data.size();
  if (n > 0) memcpy(pBuffer, data.data(), (size_t)(n < nSize ? n : nSize));
  return n > nSize ? PLAT_RECV_TRUNCATED : n;
}

bool arrived() { return !s_fake.toTool.empty() && s_fake.toTool.front().ulArrival <= s_fake.ulNow; }

}  // namespace

void fakeBegin(const FakeRun &run, Transcript *pTranscript) {
  s_fake = Fake();
  s_fake.run = run;
  s_fake.pTranscript = pTranscript;
  for (const Bytes &datagram : run.debugDatagrams) s_fake.toListener.push_back({datagram, 0});
  const SimOptions &o = run.device;
  if (!run.bDevice) return;
  simInitDevice(&s_fake.device, o.bModel, o.pszPassword, o.pszKey, o.bAllEncrypted);
  s_fake.device.nAckPage = o.nAckPage;
  s_fake.device.bHtmlNotLogo = o.bHtmlNotLogo;
  for (const std::vector<uint8_t> &message : o.debugMessages) s_fake.toListener.push_back({message, 0});
}

void platInitProcess(void) {}

void platConsoleWrite(const char *pText, int nLength) {
  if (nLength > 0 && !s_fake.bStopped) s_fake.pTranscript->console(pText, (size_t)nLength);
}

// Standard error goes into the transcript too, each line marked.
void platErrorWrite(const char *pText, int nLength) {
  if (s_fake.bStopped) return;
  for (int i = 0; i < nLength;) {
    int nEnd = i;
    while (nEnd < nLength && pText[nEnd] != '\n') nEnd++;
    s_fake.pTranscript->line("2> " + std::string(pText + i, (size_t)(nEnd - i)));
    i = nEnd + 1;
  }
}

int platConsoleFailed(void) { return 0; }
int platIsHelpSwitch(const char *) { return 0; }
FILE *platStandardInput(void) { return stdin; }
int platTempFile(char *, int) { return 0; }

int platSocketStartup(void) { return !s_fake.run.fail.bStartup; }

PlatSocket platUdpSocket(void) {
  if (failsNow(&s_fake.calls.nSocket, s_fake.run.fail.nSocket)) return PLAT_NO_SOCKET;
  return ++s_fake.sNext;
}

int platBind(PlatSocket s, uint32_t, uint16_t usPort) {
  if (failsNow(&s_fake.calls.nBind, s_fake.run.fail.nBind)) return 0;
  if (usPort != 0) s_fake.sDebug = s;
  return 1;
}

void platCloseSocket(PlatSocket) {}

// As inet_addr reads it: one to four numbers, each decimal, octal (a
// leading 0) or hexadecimal (0x), the last filling the bytes left; white
// space ends the text.
uint32_t platInetAddr(const char *pszText) {
  uint32_t aulPart[4];
  int nParts = 0;
  const char *p = pszText;
  for (;;) {
    int nBase = 10;
    if (*p == '0') nBase = (p[1] == 'x' || p[1] == 'X') ? 16 : 8;
    if (nBase == 16) p += 2;
    uint64_t ullValue = 0;
    int nDigits = 0;
    for (;; p++, nDigits++) {
      int d = *p >= '0' && *p <= '9' ? *p - '0'
              : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
              : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10 : 99;
      if (d >= nBase) break;
      ullValue = ullValue * (uint64_t)nBase + (uint64_t)d;
      if (ullValue > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    }
    if (nDigits == 0 && nBase != 8) return 0xFFFFFFFFu;
    if (nParts == 4) return 0xFFFFFFFFu;
    aulPart[nParts++] = (uint32_t)ullValue;
    if (*p != '.') break;
    p++;
  }
  if (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\n') return 0xFFFFFFFFu;
  uint32_t ulHost = aulPart[nParts - 1];
  uint32_t ulRoom = nParts == 1 ? 0xFFFFFFFFu : 0xFFFFFFFFu >> (8 * (nParts - 1));
  if (ulHost > ulRoom) return 0xFFFFFFFFu;
  for (int i = 0; i < nParts - 1; i++) {
    if (aulPart[i] > 255) return 0xFFFFFFFFu;
    ulHost |= aulPart[i] << (24 - 8 * i);
  }
  // Network byte order: the first number in the lowest byte.
  return (ulHost >> 24) | ((ulHost >> 8) & 0xFF00u) | ((ulHost << 8) & 0xFF0000u) | (ulHost << 24);
}

int platAddressText(uint32_t ulAddr, char *pszBuffer, int nSize) {
  if (s_fake.run.fail.bAddressText) return 0;
  snprintf(pszBuffer, (size_t)nSize, "%u.%u.%u.%u", ulAddr & 0xFF, (ulAddr >> 8) & 0xFF,
           (ulAddr >> 16) & 0xFF, ulAddr >> 24);
  return 1;
}

int platSendTo(PlatSocket, const void *pData, int nLength, const PlatAddress *pTo) {
  if (s_fake.bStopped) return -1;
  if (failsNow(&s_fake.calls.nSendTo, s_fake.run.fail.nSendTo)) return -1;
  if (pTo->ulAddr != s_fake.lastDest.ulAddr || pTo->usPort != s_fake.lastDest.usPort) {
    char sz[40] = "?";
    platAddressText(pTo->ulAddr, sz, sizeof(sz));
    s_fake.pTranscript->line(std::string("> to ") + sz + " port " + std::to_string(pTo->usPort));
    s_fake.lastDest = *pTo;
  }
  s_fake.pTranscript->line(requestLine((const uint8_t *)pData, nLength) + timeNote());
  if (s_fake.run.bDevice) deviceHandles((const uint8_t *)pData, nLength);
  return nLength;
}

int platRecvFrom(PlatSocket s, void *pBuffer, int nSize, PlatAddress *pFrom) {
  if (pFrom != nullptr) *pFrom = {s_fake.run.device.ulAddress, 69};
  if (failsNow(&s_fake.calls.nRecv, s_fake.run.fail.nRecv)) return -1;
  if (s == s_fake.sDebug) {
    if (s_fake.toListener.empty()) return PLAT_RECV_CLOSED;
    Bytes data = s_fake.toListener.front().data;
    s_fake.toListener.pop_front();
    return copyOut(data, pBuffer, nSize);
  }
  if (!arrived()) return PLAT_RECV_NOTHING;
  Bytes data = s_fake.toTool.front().data;
  s_fake.toTool.pop_front();
  s_fake.pTranscript->line((s_fake.bDraining ? "< dropped " : "< ") + replyLine(data) + timeNote());
  return copyOut(data, pBuffer, nSize);
}

PlatEvent platCreateEvent(void) { return &s_nEvent; }

int platEventSelectRead(PlatSocket, PlatEvent) { return !s_fake.run.fail.bEventSelect; }

int platWaitEvent(PlatEvent, unsigned long ulMilliseconds) {
  if (s_fake.bStopped) return -1;
  s_fake.bDraining = ulMilliseconds == 0;
  if (ulMilliseconds == 0) return arrived();
  if (failsNow(&s_fake.calls.nWait, s_fake.run.fail.nWait)) return -1;
  if (failsNow(&s_fake.calls.nEmptyWake, s_fake.run.fail.nEmptyWake)) {
    s_fake.ulNow += EMPTY_WAKE_MS;
    return 1;
  }
  if (!s_fake.run.bDevice && !s_fake.run.replies.empty()) {  // a script
    if (s_fake.nReplies == s_fake.run.replies.size()) {
      stop();
      return -1;
    }
    s_fake.toTool.push_back({s_fake.run.replies[s_fake.nReplies++], s_fake.ulNow});
  }
  if (!s_fake.toTool.empty() && s_fake.toTool.front().ulArrival <= s_fake.ulNow + ulMilliseconds) {
    if (s_fake.ulNow < s_fake.toTool.front().ulArrival) s_fake.ulNow = s_fake.toTool.front().ulArrival;
    s_fake.nSilentWaits = 0;
    return 1;
  }
  s_fake.ulNow += ulMilliseconds;
  if (++s_fake.nSilentWaits >= SILENT_WAITS) stop();
  return 0;
}

int platStartThread(int (*pfnRoutine)(void)) {
  if (failsNow(&s_fake.calls.nThread, s_fake.run.fail.nThread)) return 0;
  s_fake.threads.push_back(pfnRoutine);
  return 1;
}

int platSleepForever(void) {
  for (int (*pfnRoutine)(void) : s_fake.threads) {
    int nStatus = pfnRoutine();
    if (nStatus != PLAT_THREAD_ENDS_ALONE) return s_fake.bStopped ? FAKE_STOPPED : nStatus;
  }
  return FAKE_STOPPED;
}

unsigned long platMilliseconds(void) { return s_fake.ulNow; }

void platLocalTime(PlatTime *pTime) { *pTime = {6, 9, 5, 3}; }

int platPendingError(void) { return s_fake.run.fail.nPendingError; }

int platErrorText(int, char *pszBuffer, int nSize) {
  snprintf(pszBuffer, (size_t)nSize, "%s", s_fake.run.fail.errorText.c_str());
  return (int)s_fake.run.fail.errorText.size();
}

int platIsDirectory(const char *pszPath) {
  struct stat st;
  return stat(pszPath, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

// Files as the system has them; a write that is to fail goes to a stream
// opened for reading, which refuses it.
PlatPathKind platPathKind(const char *pszPath) {
  struct stat st;
  if (stat(pszPath, &st) != 0) return PLAT_PATH_NONE;
  if ((st.st_mode & S_IFMT) != S_IFREG) return PLAT_PATH_OTHER;
  return (st.st_mode & S_IWRITE) ? PLAT_PATH_FILE : PLAT_PATH_READONLY;
}

FILE *platCreateNewFile(const char *pszPath) {
  struct stat st;
  if (stat(pszPath, &st) == 0) return NULL;
  FILE *pFile = fopen(pszPath, "wb");
  if (pFile == NULL || !failsNow(&s_fake.calls.nWrite, s_fake.run.fail.nWrite)) return pFile;
  fclose(pFile);
  return fopen(pszPath, "rb");
}

int platSameFile(const char *pszA, const char *pszB) {
  std::error_code error;
  return std::filesystem::equivalent(pszA, pszB, error) && !error;
}

// The runs in process have no standard input of their own.
int platIsStandardInput(const char *) { return 0; }

int platReplaceFile(const char *pszFrom, const char *pszTo) {
  std::error_code error;
  std::filesystem::perms perms = std::filesystem::status(pszTo, error).permissions();
  if (!error && std::filesystem::is_regular_file(pszTo, error))
    std::filesystem::permissions(pszFrom, perms, error);
  remove(pszTo);
  return rename(pszFrom, pszTo) == 0;
}

int platStartChild(const char *const *, const char *, const char *, PlatChild *) { return 0; }
int platWaitChild(PlatChild, unsigned long, int *) { return 0; }
void platStopChild(PlatChild) {}

// The tool's runs return their status; nothing in them ends the process.
void platExit(int nStatus) {
  fprintf(stderr, "fake platform: platExit(%d) in an in-process run\n", nStatus);
  abort();
}

// The in-process runs have no terminal, no folders to make and no program
// beside them.
int platIsTerminal(void) { return 0; }
int platMakeDirectory(const char *) { return 0; }
int platAppendToFile(const char *pszPath, const char *pData, int nLength) {
  FILE *pFile = fopen(pszPath, "ab");
  if (pFile == nullptr) return 0;
  int bOk = fwrite(pData, 1, (size_t)nLength, pFile) == (size_t)nLength;
  return fclose(pFile) == 0 && bOk;
}
int platProgramBeside(const char *, char *, int) { return 0; }

// zvfleet's services: the in-process runs start no children and are
// never interrupted.
int platStartChildPiped(const char *const *, const char *, PlatChild *, PlatPipe *) { return 0; }
int platReadPipe(PlatPipe, char *, int) { return -1; }
void platClosePipe(PlatPipe) {}
void platKillChild(PlatChild) {}
int platCatchInterruptions(void) { return 0; }
int platInterrupted(void) { return 0; }
void platInterruptionHandled(void) {}
int platTerminalSize(int *, int *) { return 0; }

void fakePassTime(unsigned long ulMilliseconds) { s_fake.ulNow += ulMilliseconds; }

// One pinger at a time.
PlatPinger platOpenPinger(uint32_t ulAddr) {
  if (s_fake.run.bNoEcho) return PLAT_NO_PINGER;
  s_fake.ulEchoAddr = ulAddr;
  return 1;
}

int platSendEcho(PlatPinger) {
  char szAddress[16];
  platAddressText(s_fake.ulEchoAddr, szAddress, sizeof(szAddress));
  s_fake.nEchoes++;
  s_fake.pTranscript->line("--> echo request " + std::to_string(s_fake.nEchoes) + " to " + szAddress +
                           " at " + std::to_string(s_fake.ulNow) + " ms");
  return 1;
}

int platEchoReplied(PlatPinger) {
  return s_fake.run.nEchoesUnanswered >= 0 && s_fake.nEchoes > s_fake.run.nEchoesUnanswered;
}

void platClosePinger(PlatPinger) {}

// SPDX-License-Identifier: Apache-2.0
// The platform layer's stand-in for in-process runs (see fake_platform.h).
#include "tests/fakes/fake_platform.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include "app/loader.h"
#include "base/settings.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "net/receive_channel.h"
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
  // A child zvloader of a fleet run: its output goes to the child's
  // record, and it is stopped at ulCutoff.
  int nChild = 0;  // 1-based; 0: zvfleet itself or a single run
  unsigned long ulCutoff = (unsigned long)-1;
  int nChildError = 0;  // the error code its failed calls leave pending
  int nDebugSkip = 0;   // debug datagrams taken before a run again
};

Fake s_fake;
int s_nEvent;

// A fleet run's world: what outlives the switches between zvfleet and children.

// A simulated device behind its address, as zvdevsim -q serves it.
struct Slot {
  SimOptions opt;
  SimDevice dev;
  uint32_t ulRequests = 0, ulCommits = 0;
  bool bEnded = false, bDebugSent = false;  // after -c commits; its debug messages sent
  std::vector<std::string> report;
};

struct ChildEvent { unsigned long ulAt; std::string text; };

struct Child {
  std::vector<std::string> args;
  int nSlot = -1;  // the device it talks to, -1: none
  Slot snapshot;   // that device as it was at the child's start
  bool bSnapshot = false, bEnded = false, bPipeClosed = false;
  unsigned long ulStart = 0, ulKnownTo = 0, ulEnd = 0;  // output known up to ulKnownTo
  int nStatus = 0;
  std::vector<ChildEvent> events;
  size_t nRead = 0;  // bytes of output taken through the pipe
  int nDebugTaken = 0;  // debug datagrams of its device that zvfleet took
};

// nChild: the child whose request made the device send it, 0: none.
struct DebugDatagram { Bytes data; uint32_t ulFrom; unsigned long ulArrival; int nChild; };
// bReplace: the whole file replaced, else bytes appended.
struct FileEvent { unsigned long ulAt; bool bReplace; std::string data; };
// What the file held before zvfleet first changed it, and the changes.
struct FileHistory { bool bExisted = false; std::string before; std::vector<FileEvent> events; };

struct World {
  bool bOn = false;
  FakeFleet fleet;
  std::vector<Slot> slots;
  std::vector<Child> children;  // PlatChild is the index + 1
  std::deque<DebugDatagram> toFleet;  // in the order of arrival
  std::vector<uint32_t> pingers;      // PlatPinger is the index + 1
  std::map<uint32_t, int> echoesSent;
  std::map<std::string, FileHistory> files;
  std::vector<std::string> fileOrder;
  uint32_t ulRandom = 0;
  long lDiskUsed = 0;  // bytes appended, less those of files removed (FakeFleet::lDisk)
};

World s_world;
Slot *s_pReporting;  // the device whose report lines are being written

// zvfleet's own calls (not a child's) in a fleet run.
bool inFleet() { return s_world.bOn && s_fake.nChild == 0; }
bool inChild() { return s_world.bOn && s_fake.nChild != 0; }

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

// The datagrams of a reply, queued for the tool in the order of arrival
// (a delayed reply lets later ones pass), ulLateMs after now.  Returns 1
// when one would be taken for the acceptance of a commit.
bool queueReplies(const SimDelivery &delivery, uint8_t bModel, unsigned long ulEarlyMs,
                  unsigned long ulLateMs) {
  bool bAnswered = false;
  for (const SimDatagram &d : simDeliveryDatagrams(&delivery, bModel)) {
    Bytes data(d.abData, d.abData + (d.nLength < REPLY_SIZE ? d.nLength : REPLY_SIZE));
    data.resize((size_t)d.nLength, 0);
    // Late copies come first, whatever the reply's delay.
    unsigned long ulArrival = s_fake.ulNow + (d.bEarly ? ulEarlyMs : delivery.ulDelayMs + ulLateMs);
    auto at = s_fake.toTool.end();
    while (at != s_fake.toTool.begin() && (at - 1)->ulArrival > ulArrival) --at;
    s_fake.toTool.insert(at, {data, ulArrival});
    if (!d.bStray && d.nLength == PACKET_HEADER_SIZE && d.abData[0] != TFTP_NACK) bAnswered = true;
  }
  return bAnswered;
}

// The device's answer to one request, queued for the tool.
void deviceHandles(const uint8_t *pb, int n) {
  SimOutcome outcome;
  simHandleRequest(&s_fake.device, pb, n, &outcome);
  SimDelivery delivery;
  if (simPlanDelivery(s_fake.run.device.faults, ++s_fake.ulRequests, &outcome, &delivery, nullptr))
    queueReplies(delivery, s_fake.run.device.bModel, 0, s_fake.run.device.ulReplyWaitMs);
}

int copyOut(const Bytes &data, void *pBuffer, int nSize) {
  int n = (int)data.size();
  if (n > 0) memcpy(pBuffer, data.data(), (size_t)(n < nSize ? n : nSize));
  return n > nSize ? PLAT_RECV_TRUNCATED : n;
}

bool arrived() { return !s_fake.toTool.empty() && s_fake.toTool.front().ulArrival <= s_fake.ulNow; }

// A request and its reply take this long on the network of a fleet run.
const unsigned long ROUND_TRIP_MS = 1;

// A report line of the device being served, as zvdevsim writes it.
void slotReport(const char *pszFormat, ...) {
  char szLine[256];
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(szLine, sizeof(szLine), pszFormat, args);
  va_end(args);
  if (s_pReporting != nullptr) s_pReporting->report.push_back(szLine);
}

int slotAt(uint32_t ulAddr) {
  int nAny = -1;
  for (size_t i = 0; i < s_world.slots.size(); i++) {
    if (s_world.slots[i].opt.ulAddress == ulAddr) return (int)i;
    if (s_world.slots[i].opt.ulAddress == 0) nAny = (int)i;
  }
  return nAny;
}

// A debug datagram for zvfleet's port, in the order of arrival.
void toFleet(const Bytes &data, uint32_t ulFrom, unsigned long ulArrival, int nChild) {
  auto at = s_world.toFleet.end();
  while (at != s_world.toFleet.begin() && (at - 1)->ulArrival > ulArrival) --at;
  s_world.toFleet.insert(at, {data, ulFrom, ulArrival, nChild});
}

// A child's request served as zvdevsim does: debug messages with the
// first request, the reply with its faults, the end after -c commits.
void slotHandles(Slot *pSlot, const uint8_t *pb, int n) {
  if (pSlot->bEnded) return;
  s_pReporting = pSlot;
  uint32_t ulRequest = ++pSlot->ulRequests;
  const SimOptions &o = pSlot->opt;
  if (!pSlot->bDebugSent) {
    pSlot->bDebugSent = true;
    // To the tool's workstation, this one.
    const char *pszTo = "127.0.0.1";
    uint32_t ulFrom = o.ulAddress != 0 ? o.ulAddress : platInetAddr("127.0.0.1");
    for (const std::vector<uint8_t> &message : o.debugMessages) {
      if (s_fake.nDebugSkip > 0)
        s_fake.nDebugSkip--;
      else
        toFleet(message, ulFrom, s_fake.ulNow, s_fake.nChild);
      slotReport("dbg to %s:%u len %d", pszTo, (unsigned)(o.usDebugPort ? o.usDebugPort : SIM_DEBUG_PORT),
                 (int)message.size());
    }
  }
  if (s_world.fleet.bRequests)
    slotReport("request %u cmd %d len %d", (unsigned)ulRequest, n > PACKET_COMMAND ? pb[PACKET_COMMAND] : -1, n);
  SimOutcome outcome;
  simHandleRequest(&pSlot->dev, pb, n, &outcome);
  if (outcome.nKind == SIM_KIND_COMMIT || (s_world.fleet.bRequests && outcome.szLine[0] != '\0'))
    slotReport("%s", outcome.szLine);
  SimDelivery delivery;
  if (!simPlanDelivery(o.faults, ulRequest, &outcome, &delivery, slotReport)) return;
  if (delivery.ulDelayMs != 0) slotReport("delay %u", (unsigned)delivery.ulDelayMs);
  if (delivery.bDrop) slotReport("reply dropped");
  bool bAnswered = queueReplies(delivery, o.bModel, ROUND_TRIP_MS, ROUND_TRIP_MS + o.ulReplyWaitMs);
  if (outcome.nKind != SIM_KIND_COMMIT || !bAnswered) return;
  pSlot->ulCommits++;
  slotReport("accepted %u %s", (unsigned)pSlot->ulCommits, outcome.bCommitOk ? "ok" : "bad");
  if (o.ulCommits != 0 && pSlot->ulCommits >= o.ulCommits) {
    slotReport("end commits %u requests %u count", (unsigned)pSlot->ulCommits, (unsigned)ulRequest);
    pSlot->bEnded = true;
  }
}

// The tool's process-wide state, kept aside while a child runs.
struct Kept {
  void *p;
  size_t n;
} const s_aToolState[] = {
    {g_szIpAddress, sizeof(g_szIpAddress)}, {g_szPassword, sizeof(g_szPassword)},
    {g_szFileName, sizeof(g_szFileName)},   {g_szKey, sizeof(g_szKey)},
    {&g_bModel, sizeof(g_bModel)},          {&g_bFileType, sizeof(g_bFileType)},
    {&g_bFirstBlockOnly, 1},                {&g_bEncrypted, sizeof(g_bEncrypted)},
    {&g_usDebugPort, 2},                    {&g_usUpdatePort, 2},
    {g_abImage, sizeof(g_abImage)},         {g_abIdata, sizeof(g_abIdata)},
    {&nMinHexAddress, 4},                   {&nMaxHexAddress, 4},
    {&g_hRecvEvent, sizeof(g_hRecvEvent)}};

void keepToolState(Bytes *pKept, bool bRestore) {
  size_t at = 0;
  for (const Kept &kept : s_aToolState) {
    if (!bRestore) pKept->insert(pKept->end(), (uint8_t *)kept.p, (uint8_t *)kept.p + kept.n);
    if (bRestore) memcpy(kept.p, pKept->data() + at, kept.n);
    at += kept.n;
  }
}

// How far ahead of zvfleet's clock a child runs; one that runs longer is
// run again further when the clock gets there.
const unsigned long CHILD_AHEAD_MS = 600000;

// Runs the child (again) from its start up to ulCutoff, from the device's
// state at its start: its output, and whether and when it ended.
void runChild(int nChild, unsigned long ulCutoff) {
  Child &child = s_world.children[(size_t)nChild - 1];
  if (child.bSnapshot) s_world.slots[(size_t)child.nSlot] = child.snapshot;
  // Its debug datagrams not yet taken are sent again by the run; those
  // taken are not.
  for (auto at = s_world.toFleet.begin(); at != s_world.toFleet.end();)
    at = at->nChild == nChild ? s_world.toFleet.erase(at) : at + 1;
  Bytes kept;
  keepToolState(&kept, false);
  Fake parent = std::move(s_fake);
  s_fake = Fake();
  s_fake.pTranscript = parent.pTranscript;
  s_fake.nChild = nChild;
  s_fake.ulNow = child.ulStart;
  s_fake.ulCutoff = ulCutoff;
  s_fake.sNext = 100;
  s_fake.nDebugSkip = child.nDebugTaken;
  child.events.clear();
  std::vector<char *> argv;
  for (std::string &arg : child.args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  memset(g_abImage, 0, sizeof(g_abImage));  // what a fresh process finds
  memset(g_abIdata, 0, sizeof(g_abIdata));
  int nStatus = child.args[0] == "zvfleet"
                    ? s_world.fleet.pfnSelf((int)child.args.size(), argv.data())
                    : runZvloader((int)child.args.size(), argv.data());
  bool bEnded = !s_fake.bStopped;
  unsigned long ulEnd = s_fake.ulNow;
  s_fake = std::move(parent);
  keepToolState(&kept, true);
  child.bEnded = bEnded;
  child.ulEnd = bEnded ? ulEnd : ulCutoff;
  child.nStatus = nStatus & 0xFF;
  child.ulKnownTo = bEnded ? ulEnd : ulCutoff;
}

// Brings the child's record up to zvfleet's clock.
Child *childNow(PlatChild handle) {
  if (handle == 0 || handle > s_world.children.size()) return nullptr;
  Child *pChild = &s_world.children[handle - 1];
  if (!pChild->bEnded && s_fake.ulNow >= pChild->ulKnownTo)
    runChild((int)handle, s_fake.ulNow + CHILD_AHEAD_MS);
  // A run to be killed keeps every snapshot, to undo what came after.
  if (pChild->bEnded && s_fake.ulNow >= pChild->ulEnd && pChild->bSnapshot &&
      s_world.fleet.ulKillAt == (unsigned long)-1) {
    pChild->bSnapshot = false;  // no stop can reach it any more
    pChild->snapshot = Slot();
  }
  return pChild;
}

// The child is stopped (or killed) now: it ends here, with only what it
// did before.
void endChildNow(PlatChild handle, int nStatus) {
  Child *pChild = childNow(handle);
  if (pChild == nullptr || (pChild->bEnded && pChild->ulEnd <= s_fake.ulNow)) return;
  runChild((int)handle, s_fake.ulNow);
  pChild->bEnded = true;
  pChild->ulEnd = s_fake.ulNow;
  pChild->nStatus = nStatus;
}

// A file's history, for a kill -9 played back.
const std::string REMOVED("\0removed", 8);  // the event of its removal

std::string fileText(const std::string &path, bool *pbExists) {
  std::string text;
  FILE *pFile = fopen(path.c_str(), "rb");
  *pbExists = pFile != nullptr;
  if (pFile == nullptr) return text;
  char ab[4096];
  size_t n;
  while ((n = fread(ab, 1, sizeof(ab), pFile)) > 0) text.append(ab, n);
  fclose(pFile);
  return text;
}

// Before zvfleet changes a file: what it held, the first time.
void noteFileBefore(const std::string &path) {
  if (!inFleet() || s_world.files.find(path) != s_world.files.end()) return;
  s_world.fileOrder.push_back(path);
  FileHistory &history = s_world.files[path];
  history.before = fileText(path, &history.bExisted);
}

void noteFile(const std::string &path, bool bReplace, const std::string &data) {
  if (inFleet()) s_world.files[path].events.push_back({s_fake.ulNow, bReplace, data});
}

bool killed() { return inFleet() && s_fake.ulNow >= s_world.fleet.ulKillAt; }

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

// A child's output goes into its pipe, with the moment it was written.
void childWrite(const char *pText, int nLength) {
  if (nLength > 0 && !s_fake.bStopped)
    s_world.children[(size_t)s_fake.nChild - 1].events.push_back(
        {s_fake.ulNow, std::string(pText, (size_t)nLength)});
}

void platConsoleWrite(const char *pText, int nLength) {
  if (inChild()) return childWrite(pText, nLength);
  if (nLength > 0 && !s_fake.bStopped && !killed()) s_fake.pTranscript->console(pText, (size_t)nLength);
}

// Standard error goes into the transcript too, each line marked.
void platErrorWrite(const char *pText, int nLength) {
  if (inChild()) return childWrite(pText, nLength);
  if (s_fake.bStopped || killed()) return;
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

int platSocketStartup(void) { return !s_fake.run.fail.bStartup; }

PlatSocket platUdpSocket(void) {
  if (failsNow(&s_fake.calls.nSocket, s_fake.run.fail.nSocket)) return PLAT_NO_SOCKET;
  return ++s_fake.sNext;
}

// In a fleet run the debug port is zvfleet's (or another program's), so a
// child's tool cannot bind it.
const int ADDRESS_IN_USE = 98;

int platBind(PlatSocket s, uint32_t, uint16_t usPort) {
  if (s_world.bOn && usPort != 0 && (inChild() || s_world.fleet.bDebugPortTaken)) {
    s_fake.nChildError = ADDRESS_IN_USE;
    return 0;
  }
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
  if (s_world.bOn) {
    s_fake.lastDest = *pTo;
    int nSlot = slotAt(pTo->ulAddr);
    if (nSlot >= 0 && pTo->usPort == 69)
      slotHandles(&s_world.slots[(size_t)nSlot], (const uint8_t *)pData, nLength);
    return nLength;
  }
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
  if (inFleet()) {  // zvfleet's debug port
    if (s_world.toFleet.empty() || s_world.toFleet.front().ulArrival > s_fake.ulNow)
      return PLAT_RECV_NOTHING;
    DebugDatagram datagram = s_world.toFleet.front();
    s_world.toFleet.pop_front();
    if (datagram.nChild > 0) s_world.children[(size_t)datagram.nChild - 1].nDebugTaken++;
    if (pFrom != nullptr) *pFrom = {datagram.ulFrom, 9029};
    return copyOut(datagram.data, pBuffer, nSize);
  }
  if (inChild()) {
    if (pFrom != nullptr) *pFrom = {s_fake.lastDest.ulAddr, 69};
    if (!arrived()) return PLAT_RECV_NOTHING;
    Bytes data = s_fake.toTool.front().data;
    s_fake.toTool.pop_front();
    return copyOut(data, pBuffer, nSize);
  }
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

// zvfleet waits on its debug port: the clock moves to the next datagram
// or by the time given.
int fleetWait(unsigned long ulMilliseconds) {
  for (auto at = s_world.fleet.removals.begin(); at != s_world.fleet.removals.end();) {
    if (at->ulAt > s_fake.ulNow + ulMilliseconds) {
      ++at;
      continue;
    }
    remove(at->path.c_str());
    if (!at->text.empty()) std::ofstream(at->path, std::ios::binary) << at->text;
    at = s_world.fleet.removals.erase(at);
  }
  bool bWaiting = !s_world.toFleet.empty();
  unsigned long ulNext = bWaiting ? s_world.toFleet.front().ulArrival : 0;
  if (bWaiting && ulNext <= s_fake.ulNow + ulMilliseconds) {
    if (ulNext > s_fake.ulNow) s_fake.ulNow = ulNext;
    return 1;
  }
  s_fake.ulNow += ulMilliseconds;
  return 0;
}

// A child's tool waits for its device's reply, until its cutoff.
int childWait(unsigned long ulMilliseconds) {
  if (ulMilliseconds == 0) return arrived();
  unsigned long ulUntil = s_fake.ulNow + ulMilliseconds;
  if (!s_fake.toTool.empty() && s_fake.toTool.front().ulArrival <= ulUntil) ulUntil = s_fake.toTool.front().ulArrival;
  if (ulUntil >= s_fake.ulCutoff) {
    s_fake.ulNow = s_fake.ulCutoff;
    stop();
    return -1;
  }
  if (ulUntil > s_fake.ulNow) s_fake.ulNow = ulUntil;
  return arrived() ? 1 : 0;
}

int platWaitEvent(PlatEvent, unsigned long ulMilliseconds) {
  if (s_fake.bStopped) return -1;
  if (inFleet()) return fleetWait(ulMilliseconds);
  if (inChild()) return childWait(ulMilliseconds);
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

// The 6th at 09:05:03, in a fleet run on as the virtual clock goes.
void platLocalDateTime(PlatDateTime *pTime) {
  unsigned long ulSeconds = 9 * 3600 + 5 * 60 + 3 + (s_world.bOn ? s_fake.ulNow / 1000 : 0);
  *pTime = {2026, 12, 6 + (int)(ulSeconds / 86400), (int)(ulSeconds / 3600 % 24),
            (int)(ulSeconds / 60 % 60), (int)(ulSeconds % 60)};
}

void platLocalTime(PlatTime *pTime) {
  PlatDateTime now;
  platLocalDateTime(&now);
  *pTime = {now.nDay, now.nHour, now.nMinute, now.nSecond};
}

int platPendingError(void) {
  if (s_world.bOn) return s_fake.nChildError;
  return s_fake.run.fail.nPendingError;
}

int platErrorText(int nCode, char *pszBuffer, int nSize) {
  if (s_world.bOn) {
    const char *pszText = nCode == ADDRESS_IN_USE ? "Address already in use"
                          : nCode == 2            ? "No such file or directory"
                          : nCode == 1            ? "Operation not permitted"
                                                  : "Unknown error";
    snprintf(pszBuffer, (size_t)nSize, "%s", pszText);
    return (int)strlen(pszText);
  }
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
  noteFileBefore(pszPath);
  noteFile(pszPath, true, "");
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
  noteFileBefore(pszTo);
  bool bExists;
  std::string text = fileText(pszFrom, &bExists);
  std::error_code error;
  std::filesystem::perms perms = std::filesystem::status(pszTo, error).permissions();
  if (!error && std::filesystem::is_regular_file(pszTo, error))
    std::filesystem::permissions(pszFrom, perms, error);
  remove(pszTo);
  if (rename(pszFrom, pszTo) != 0) return 0;
  noteFile(pszTo, true, text);
  noteFile(pszFrom, true, REMOVED);
  return 1;
}

int platStartChild(const char *const *, const char *, const char *, PlatChild *) { return 0; }

// A wait for a child that runs on takes its time.
int platWaitChild(PlatChild handle, unsigned long ulMilliseconds, int *pnStatus) {
  if (!inFleet()) return 0;
  Child *pChild = childNow(handle);
  if (pChild == nullptr || !pChild->bEnded || s_fake.ulNow < pChild->ulEnd) {
    s_fake.ulNow += ulMilliseconds;
    return 0;
  }
  *pnStatus = pChild->nStatus;
  return 1;
}

// Ctrl+C ends the tool as SIGINT does (128 + 2): at once, or as late as
// the run says.
void platStopChild(PlatChild handle) {
  if (!inFleet()) return;
  s_fake.ulNow += s_world.fleet.ulStopMs;
  endChildNow(handle, 130);
  s_fake.ulNow -= s_world.fleet.ulStopMs;
}

// The tool's runs return their status; nothing in them ends the process.
void platExit(int nStatus) {
  fprintf(stderr, "fake platform: platExit(%d) in an in-process run\n", nStatus);
  abort();
}

// No terminal; a fleet run makes folders and finds zvloader where it says.
int platIsTerminal(void) { return 0; }
int platMakeDirectory(const char *pszPath) {
  if (!s_world.bOn) return 0;
  std::error_code error;
  std::filesystem::create_directory(pszPath, error);
  return platIsDirectory(pszPath);
}
// Room is written as zeros, outside the disk's count (it was there before).
int platReserveFile(const char *pszPath, long lBytes) {
  FILE *pFile = fopen(pszPath, "wb");
  if (pFile == nullptr) return 0;
  std::string zeros((size_t)(lBytes > 0 ? lBytes : 0), '\0');
  bool bOk = fwrite(zeros.data(), 1, zeros.size(), pFile) == zeros.size();
  if (fclose(pFile) != 0 || !bOk) return remove(pszPath), 0;
  return 1;
}
int platRemoveDirectory(const char *pszPath) {
  std::error_code error;
  return std::filesystem::remove(pszPath, error) ? 1 : 0;
}
int platAppendToFile(const char *pszPath, const char *pData, int nLength) {
  for (const std::string &path : s_world.fleet.unwritable)
    if (path == pszPath) return 0;
  if (s_world.bOn && s_world.fleet.lDisk >= 0 && s_world.lDiskUsed + nLength > s_world.fleet.lDisk) return 0;
  if (s_world.bOn) s_world.lDiskUsed += nLength;
  noteFileBefore(pszPath);
  FILE *pFile = fopen(pszPath, "ab");
  if (pFile == nullptr) return 0;
  int bOk = fwrite(pData, 1, (size_t)nLength, pFile) == (size_t)nLength;
  bOk = fclose(pFile) == 0 && bOk;
  if (bOk) noteFile(pszPath, false, std::string(pData, (size_t)nLength));
  return bOk;
}
int platProgramBeside(const char *pszName, char *pszPath, int nSize) {
  bool bSelf = strcmp(pszName, "zvfleet") == 0 && s_world.fleet.pfnSelf != nullptr;
  if (!s_world.bOn || (strcmp(pszName, "zvloader") != 0 && !bSelf)) return 0;
  int n = snprintf(pszPath, (size_t)nSize, "%s",
                   (bSelf ? s_world.fleet.selfPath : s_world.fleet.loaderPath).c_str());
  return n > 0 && n < nSize;
}

// zvfleet's children, in a fleet run: zvloader in process.
int platStartChildPiped(const char *const *ppszArgv, const char *, PlatChild *pChild, PlatPipe *pPipe) {
  bool bSelf = s_world.fleet.pfnSelf != nullptr && s_world.fleet.selfPath == ppszArgv[0];
  if (!inFleet() || (s_world.fleet.loaderPath != ppszArgv[0] && !bSelf)) {
    s_fake.nChildError = 2;
    return 0;
  }
  Child child;
  child.args.push_back(bSelf ? "zvfleet" : "zvloader");
  for (int i = 1; ppszArgv[i] != nullptr; i++) child.args.push_back(ppszArgv[i]);
  for (size_t i = 1; i + 1 < child.args.size(); i++)
    if (child.args[i] == "-IP") child.nSlot = slotAt(platInetAddr(child.args[i + 1].c_str()));
  if (child.nSlot >= 0) {
    child.snapshot = s_world.slots[(size_t)child.nSlot];
    child.bSnapshot = true;
  }
  child.ulStart = s_fake.ulNow;
  s_world.children.push_back(std::move(child));
  PlatChild handle = s_world.children.size();
  runChild((int)handle, s_fake.ulNow + CHILD_AHEAD_MS);
  *pChild = handle;
  *pPipe = handle;
  return 1;
}

// What the child has written by now, at most nSize bytes of it.
int platReadPipe(PlatPipe pipe, char *pBuffer, int nSize) {
  Child *pChild = inFleet() ? childNow(pipe) : nullptr;
  if (pChild == nullptr || pChild->bPipeClosed) return -1;
  int n = 0;
  size_t nSkip = pChild->nRead;
  for (const ChildEvent &event : pChild->events) {
    if (event.ulAt > s_fake.ulNow || n == nSize) break;
    if (nSkip >= event.text.size()) {
      nSkip -= event.text.size();
      continue;
    }
    size_t nTake = event.text.size() - nSkip;
    if (nTake > (size_t)(nSize - n)) nTake = (size_t)(nSize - n);
    memcpy(pBuffer + n, event.text.data() + nSkip, nTake);
    n += (int)nTake;
    nSkip = 0;
  }
  pChild->nRead += (size_t)n;
  if (n == 0 && pChild->bEnded && s_fake.ulNow >= pChild->ulEnd) return -1;
  return n;
}

void platClosePipe(PlatPipe pipe) {
  if (inFleet() && pipe > 0 && pipe <= s_world.children.size()) s_world.children[pipe - 1].bPipeClosed = true;
}

int fakeOpenPipes() {
  int n = 0;
  for (const Child &child : s_world.children) n += !child.bPipeClosed;
  return n;
}

// SIGKILL: 128 + 9.
void platKillChild(PlatChild handle) {
  if (inFleet()) endChildNow(handle, 137);
}

int platCatchInterruptions(void) { return s_world.bOn; }
int platInterrupted(void) { return inFleet() && s_fake.ulNow >= s_world.fleet.ulInterruptAt; }
void platInterruptionHandled(void) {}
int platTerminalSize(int *, int *) { return 0; }

void fakePassTime(unsigned long ulMilliseconds) { s_fake.ulNow += ulMilliseconds; }

// A pinger for each device checked in a fleet run; none elsewhere.
PlatPinger platOpenPinger(uint32_t ulAddr) {
  if (!s_world.bOn || s_world.fleet.bNoEcho) {
    s_fake.nChildError = 1;
    return PLAT_NO_PINGER;
  }
  s_world.pingers.push_back(ulAddr);
  return s_world.pingers.size();
}

int platSendEcho(PlatPinger pinger) {
  s_world.echoesSent[s_world.pingers[pinger - 1]]++;
  return 1;
}

int platEchoReplied(PlatPinger pinger) {
  uint32_t ulAddr = s_world.pingers[pinger - 1];
  for (const std::pair<uint32_t, int> &echo : s_world.fleet.echoes)
    if (echo.first == ulAddr) return echo.second >= 0 && s_world.echoesSent[ulAddr] > echo.second;
  return 0;
}

void platClosePinger(PlatPinger) {}

// Process, workstation, randomness: as the run says, the same every time.
unsigned long platProcessId(void) { return s_world.bOn ? s_world.fleet.ulPid : 1000; }

int platProcessAlive(unsigned long ulId) {
  if (ulId == platProcessId()) return 1;
  for (unsigned long ulLive : s_world.fleet.livePids)
    if (ulLive == ulId) return 1;
  return 0;
}

int platHostName(char *pszName, int nSize) {
  snprintf(pszName, (size_t)nSize, "%s", FAKE_HOST_NAME);
  return 1;
}

int platRandomBytes(void *pBuffer, int nSize) {
  if (s_world.fleet.bNoRandom) return 0;
  for (int i = 0; i < nSize; i++) {
    s_world.ulRandom = s_world.ulRandom * 1103515245u + 12345u;
    ((uint8_t *)pBuffer)[i] = (uint8_t)(s_world.ulRandom >> 16);
  }
  return 1;
}

void fakeBeginFleet(const FakeFleet &fleet, Transcript *pTranscript) {
  s_fake = Fake();
  s_fake.pTranscript = pTranscript;
  s_world = World();
  s_world.bOn = true;
  s_world.fleet = fleet;
  s_world.ulRandom = fleet.ulRandomSeed;
  for (const SimOptions &o : fleet.devices) {
    Slot slot;
    slot.opt = o;
    simInitDevice(&slot.dev, o.bModel, o.pszPassword, o.pszKey, o.bAllEncrypted);
    slot.dev.nAckPage = o.nAckPage;
    slot.dev.bHtmlNotLogo = o.bHtmlNotLogo;
    if (!o.debugMessages.empty() && o.nDebugStartMs >= 0) {
      for (const std::vector<uint8_t> &message : o.debugMessages)
        toFleet(message, o.ulAddress, (unsigned long)o.nDebugStartMs, 0);
      slot.bDebugSent = true;
    }
    s_world.slots.push_back(std::move(slot));
  }
}

std::vector<std::pair<std::string, std::vector<std::string> > > fakeDeviceReports() {
  std::vector<std::pair<std::string, std::vector<std::string> > > reports;
  for (const Slot &slot : s_world.slots) {
    char szAddress[16];
    platAddressText(slot.opt.ulAddress, szAddress, sizeof(szAddress));
    reports.push_back({szAddress, slot.report});
  }
  return reports;
}

// zvfleet killed: its children die with it (as they do on POSIX), and
// what they would have done later never happened.
void killChildren(unsigned long ulKill) {
  unsigned long ulNow = s_fake.ulNow;
  s_fake.ulNow = ulKill;
  for (size_t i = s_world.children.size(); i-- > 0;) {
    Child &child = s_world.children[i];
    if (child.ulStart >= ulKill) {
      if (child.bSnapshot) s_world.slots[(size_t)child.nSlot] = child.snapshot;
    } else if (!child.bEnded || child.ulEnd > ulKill) {
      runChild((int)i + 1, ulKill);
    }
  }
  s_fake.ulNow = ulNow;
}

std::vector<std::string> fakeRestoreFilesAtKill() {
  killChildren(s_world.fleet.ulKillAt);
  std::vector<std::string> restored;
  for (const std::string &path : s_world.fileOrder) {
    const FileHistory &history = s_world.files[path];
    bool bExists = history.bExisted;
    std::string text = history.before;
    for (const FileEvent &event : history.events) {
      if (event.ulAt >= s_world.fleet.ulKillAt) break;
      text = event.bReplace ? event.data : text + event.data;
      bExists = !(event.bReplace && event.data == REMOVED);
    }
    remove(path.c_str());
    if (bExists) {
      FILE *pFile = fopen(path.c_str(), "wb");
      if (pFile != nullptr) {
        fwrite(text.data(), 1, text.size(), pFile);
        fclose(pFile);
      }
    }
    restored.push_back(path);
  }
  return restored;
}

void fakeEndFleet() {
  s_world = World();
  s_fake = Fake();
}

int platRemoveFile(const char *pszPath) {
  std::error_code error;
  uintmax_t ullSize = std::filesystem::file_size(pszPath, error);
  if (!error && s_world.bOn) s_world.lDiskUsed -= (long)ullSize;
  noteFileBefore(pszPath);
  if (remove(pszPath) != 0) return 0;
  noteFile(pszPath, true, REMOVED);
  return 1;
}

// A fleet run's temporary folder is its own, in the scratch folder.
int platTempFolder(char *pszPath, int nSize) {
  if (!s_world.bOn) return 0;
  std::error_code error;
  std::filesystem::create_directory(".tmp", error);
  snprintf(pszPath, (size_t)nSize, ".tmp");
  return 1;
}

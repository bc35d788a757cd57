// SPDX-License-Identifier: Apache-2.0
// The stand-in's clock, console, sockets and threads (see fake_platform.h), and the simulated
// devices behind the sockets: zvdevsim's own serving (tools/zvdevsim/serve.h), whose datagrams are
// queued here with their arrival on the virtual clock.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>

#include "app/loader.h"
#include "image/crc16.h"
#include "net/packet.h"
#include "platform/inet_address.h"
#include "tests/fakes/fake_world.h"

namespace fakes {

Fake s_fake;
World s_world;

}  // namespace fakes

using namespace fakes;

namespace {

int s_nEvent;
const int SILENT_WAITS = 45;  // three resend cycles without a reply
const unsigned long EMPTY_WAKE_MS = 1000;
// A request and its reply take this long on the network of a fleet run.
const unsigned long ROUND_TRIP_MS = 1;

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


int copyOut(const Bytes &data, void *pBuffer, int nSize) {
  int n = (int)data.size();
  if (n > 0) memcpy(pBuffer, data.data(), (size_t)(n < nSize ? n : nSize));
  return n > nSize ? PLAT_RECV_TRUNCATED : n;
}

bool arrived() { return !s_fake.toTool.empty() && s_fake.toTool.front().ulArrival <= s_fake.ulNow; }

// What a device sends goes into the queues, ulBase after now plus what it waited; its report lines
// to its slot (none in a single run).
struct Delivery {
  Slot *pSlot;
  unsigned long ulBase, ulWaited;
};

int deviceSends(void *pContext, const SimServed *pServed, int nSend, const uint8_t *pData,
                int nLength, const PlatAddress *) {
  const Delivery *pDelivery = (const Delivery *)pContext;
  Bytes data(pData, pData + nLength);
  unsigned long ulArrival = s_fake.ulNow + pDelivery->ulWaited;
  if (nSend == SIM_SEND_DEBUG && !s_world.bOn) {
    s_fake.toListener.push_back({data, 0});
  } else if (nSend == SIM_SEND_DEBUG && s_fake.nDebugSkip > 0) {
    s_fake.nDebugSkip--;  // zvfleet took it in the run before
  } else if (nSend == SIM_SEND_DEBUG) {
    toFleet(data, pServed->ulAddress != 0 ? pServed->ulAddress : inetAddressOf("127.0.0.1"), ulArrival,
            s_fake.nChild);
  } else {  // in the order of arrival: a delayed reply lets later ones pass
    ulArrival += pDelivery->ulBase;
    auto at = s_fake.toTool.end();
    while (at != s_fake.toTool.begin() && (at - 1)->ulArrival > ulArrival) --at;
    s_fake.toTool.insert(at, {data, ulArrival});
  }
  return nLength;
}

void deviceWaits(void *pContext, uint32_t ulMs) { ((Delivery *)pContext)->ulWaited += ulMs; }

void deviceReports(void *pContext, const char *pszLine) {
  Slot *pSlot = ((Delivery *)pContext)->pSlot;
  if (pSlot != nullptr) pSlot->report.push_back(pszLine);
}

// The device serves one datagram from the tool on this workstation.
void serve(SimServed *pServed, Slot *pSlot, const void *pData, int nLength) {
  Delivery delivery = {pSlot, pSlot != nullptr ? ROUND_TRIP_MS : 0, 0};
  pServed->pOpt = pSlot != nullptr ? &pSlot->opt : &s_fake.run.device;  // where it stands now
  SimWire wire = {&delivery, deviceSends, deviceWaits, deviceReports};
  PlatAddress from = {inetAddressOf("127.0.0.1"), 0};
  simServeRequest(pServed, &wire, (const uint8_t *)pData, nLength, &from);
}

// In a fleet run the debug port is zvfleet's (or another program's), so a child's tool cannot bind
// it.
const int ADDRESS_IN_USE = 98;
const int NETWORK_UNREACHABLE = 101;

}  // namespace

namespace fakes {

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


// A device of a fleet run, fresh; with -dbg-start its debug messages go out then.
void startSlot(Slot *pSlot) {
  pSlot->opt.bQuiet = !s_world.fleet.bRequests;
  simServeInit(&pSlot->served, &pSlot->opt, pSlot->opt.ulAddress, 0);
  Delivery delivery = {pSlot, 0, (unsigned long)pSlot->opt.nDebugStartMs};
  SimWire wire = {&delivery, deviceSends, deviceWaits, deviceReports};
  if (pSlot->opt.nDebugStartMs >= 0) simServeDebug(&pSlot->served, &wire, inetAddressOf("127.0.0.1"));
}

}  // namespace fakes

void fakeBegin(const FakeRun &run, Transcript *pTranscript) {
  resetZvloaderState();  // what a fresh process finds
  s_fake = Fake();
  s_fake.run = run;
  s_fake.pTranscript = pTranscript;
  for (const Bytes &datagram : run.debugDatagrams) s_fake.toListener.push_back({datagram, 0});
  if (!run.bDevice) return;
  // The listener runs first: the device's debug messages wait for it.
  simServeInit(&s_fake.device, &s_fake.run.device, run.device.ulAddress, 0);
  Delivery delivery = {nullptr, 0, 0};
  SimWire wire = {&delivery, deviceSends, deviceWaits, deviceReports};
  simServeDebug(&s_fake.device, &wire, inetAddressOf("127.0.0.1"));
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


int platBind(PlatSocket s, uint32_t, uint16_t usPort) {
  if (s_world.bOn && usPort != 0 && (inChild() || s_world.fleet.bDebugPortTaken)) {
    s_fake.nChildError = ADDRESS_IN_USE;
    return 0;
  }
  if (failsNow(&s_fake.calls.nBind, s_fake.run.fail.nBind)) {
    s_fake.failedSetup.insert(s);
    return 0;
  }
  if (usPort != 0) s_fake.sDebug = s;
  return 1;
}

void platCloseSocket(PlatSocket s) { s_fake.failedSetup.erase(s); }

size_t fakeFailedSocketsOpen() { return s_fake.failedSetup.size(); }

uint32_t platInetAddr(const char *pszText) { return inetAddressOf(pszText); }

int platAddressText(uint32_t ulAddr, char *pszBuffer, int nSize) {
  if (s_fake.run.fail.bAddressText) return 0;
  snprintf(pszBuffer, (size_t)nSize, "%u.%u.%u.%u", ulAddr & 0xFF, (ulAddr >> 8) & 0xFF,
           (ulAddr >> 16) & 0xFF, ulAddr >> 24);
  return 1;
}

int platSendTo(PlatSocket, const void *pData, int nLength, const PlatAddress *pTo) {
  if (s_fake.bStopped) return -1;
  if (s_world.bOn) {
    const std::vector<uint32_t> &far = s_world.fleet.unreachable;
    if (std::find(far.begin(), far.end(), pTo->ulAddr) != far.end()) {
      s_fake.nChildError = NETWORK_UNREACHABLE;
      return -1;
    }
    s_fake.lastDest = *pTo;
    int nSlot = slotAt(pTo->ulAddr);
    if (nSlot >= 0 && pTo->usPort == 69)
      serve(&s_world.slots[(size_t)nSlot].served, &s_world.slots[(size_t)nSlot], pData, nLength);
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
  if (s_fake.run.bDevice) serve(&s_fake.device, nullptr, pData, nLength);
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

int platEventSelectRead(PlatSocket s, PlatEvent) {
  if (s_world.bOn && !inChild() && s_world.fleet.bDebugPortDeaf) return 0;
  if (s_fake.run.fail.bEventSelect) s_fake.failedSetup.insert(s);
  return !s_fake.run.fail.bEventSelect;
}

// zvfleet waits on its debug port: the clock moves to the next datagram or by the time given.
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


// zvdevsim's wait over its devices: no whole program runs in process.
int platWaitSockets(const PlatSocket *, int, unsigned long, int *) { return -1; }

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
    const char *pszText = nCode == ADDRESS_IN_USE        ? "Address already in use"
                          : nCode == NETWORK_UNREACHABLE ? "Network is unreachable"
                          : nCode == 2                   ? "No such file or directory"
                          : nCode == 1                   ? "Operation not permitted"
                                                         : "Unknown error";
    snprintf(pszBuffer, (size_t)nSize, "%s", pszText);
    return (int)strlen(pszText);
  }
  snprintf(pszBuffer, (size_t)nSize, "%s", s_fake.run.fail.errorText.c_str());
  return (int)s_fake.run.fail.errorText.size();
}

// The tool's runs return their status; nothing in them ends the process.
void platExit(int nStatus) {
  fprintf(stderr, "fake platform: platExit(%d) in an in-process run\n", nStatus);
  abort();
}

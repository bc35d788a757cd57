// SPDX-License-Identifier: Apache-2.0
// The stand-in's processes (see fake_platform.h): zvfleet's children run in process on its virtual
// clock, their pipes, stops and kills; the processes, workstation, randomness and ICMP echo of a
// fleet run.
#include <stdio.h>
#include <string.h>

#include "app/loader.h"
#include "platform/inet_address.h"
#include "tests/fakes/fake_world.h"

using namespace fakes;

namespace {

// How far ahead of zvfleet's clock a child runs; one that runs longer is run again further when the
// clock gets there.
const unsigned long CHILD_AHEAD_MS = 600000;

// Runs the child (again) from its start up to ulCutoff, from the device's state at its start: its
// output, and whether and when it ended.
void runChild(int nChild, unsigned long ulCutoff) {
  Child &child = s_world.children[(size_t)nChild - 1];
  if (child.bSnapshot) s_world.slots[(size_t)child.nSlot] = child.snapshot;
  // Its debug datagrams not yet taken are sent again by the run; those taken are not.
  for (auto at = s_world.toFleet.begin(); at != s_world.toFleet.end();)
    at = at->nChild == nChild ? s_world.toFleet.erase(at) : at + 1;
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
  resetZvloaderState();  // what a fresh process finds
  int nStatus = child.args[0] == "zvfleet"
                    ? s_world.fleet.pfnSelf((int)child.args.size(), argv.data())
                    : runZvloader((int)child.args.size(), argv.data());
  bool bEnded = !s_fake.bStopped;
  unsigned long ulEnd = s_fake.ulNow;
  s_fake = std::move(parent);
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

// The child is stopped (or killed) now: it ends here, with only what it did before.
void endChildNow(PlatChild handle, int nStatus) {
  Child *pChild = childNow(handle);
  if (pChild == nullptr || (pChild->bEnded && pChild->ulEnd <= s_fake.ulNow)) return;
  runChild((int)handle, s_fake.ulNow);
  pChild->bEnded = true;
  pChild->ulEnd = s_fake.ulNow;
  pChild->nStatus = nStatus;
}

}  // namespace

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

// Ctrl+C ends the tool as SIGINT does (128 + 2): at once, or as late as the run says.
void platStopChild(PlatChild handle) {
  if (!inFleet()) return;
  s_fake.ulNow += s_world.fleet.ulStopMs;
  endChildNow(handle, 130);
  s_fake.ulNow -= s_world.fleet.ulStopMs;
}

// A terminal where a tool's case says so, never in a fleet run; a fleet run makes folders and finds
// zvloader where it says.
int platIsTerminal(void) {
  return s_world.bOn ? !inChild() && s_world.fleet.bTerminal : s_fake.run.bTerminal;
}
int platProgramBeside(const char *pszName, char *pszPath, int nSize) {
  bool bSelf = strcmp(pszName, "zvfleet") == 0 && s_world.fleet.pfnSelf != nullptr;
  if (!s_world.bOn || s_world.fleet.bNothingBeside || (strcmp(pszName, "zvloader") != 0 && !bSelf))
    return 0;
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
    if (child.args[i] == "-IP") child.nSlot = slotAt(inetAddressOf(child.args[i + 1].c_str()));
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
int platTerminalSize(int *pnColumns, int *pnRows) {
  if (!inFleet() || s_fake.ulNow < s_world.fleet.ulNarrowAt) return 0;
  *pnColumns = 58;
  *pnRows = 24;
  return 1;
}

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
    s_world.slots.emplace_back();
    s_world.slots.back().opt = o;
  }
  for (Slot &slot : s_world.slots) startSlot(&slot);
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

namespace fakes {

// zvfleet killed: its children die with it (as they do on POSIX), and what they would have done
// later never happened.
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


}  // namespace fakes

void fakeEndFleet() {
  s_world = World();
  s_fake = Fake();
}


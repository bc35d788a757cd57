// SPDX-License-Identifier: Apache-2.0
// The platform layer's stand-in for in-process runs of the tool, in three parts (fake_network.cc,
// fake_children.cc, fake_files.cc; their shared state in fake_world.h).  Behind the update socket
// sits a simulated device served by zvdevsim's own code (tools/zvdevsim/serve.h, with the same
// options and faults); time is virtual, so a lost reply costs nothing; the debug listener's socket
// delivers the device's debug datagrams; console output and every datagram both ways go into one
// transcript, in the order they happen; and any platform call can be made to fail.  "Threads" run
// one after the other when main sleeps: the listener until its datagrams are used up (its socket
// then reads as closed), then the update thread, whose result ends the run.
//
// A fleet run (fakeBeginFleet) is zvfleet's, with simulated devices behind their addresses; each
// child zvloader runs in process (the tool's own library, from resetZvloaderState as a fresh
// process) to its end at once, on a timeline from zvfleet's virtual time, and its output and end
// reach zvfleet as its clock gets there.  A child stopped or killed is run again from its device's
// state up to that moment.  zvfleet's clock moves in its waits only; its file changes are noted
// with their time, so that a kill -9 can be played back.
#ifndef ZV_FAKE_PLATFORM_H
#define ZV_FAKE_PLATFORM_H

#include <string>
#include <vector>

#include "platform/platform_testing.h"
#include "tests/support/transcript.h"
#include "tools/zvdevsim/options.h"

// Calls that fail: the n-th of each kind, counted from 1 (0: none).
struct FakeFailures {
  int nSocket = 0, nBind = 0, nSendTo = 0, nThread = 0, nWait = 0, nRecv = 0;
  int nEmptyWake = 0;  // a wait that wakes with nothing to read, 1 s in
  int nWrite = 0;      // a new output file whose writes all fail
  bool bStartup = false, bEventSelect = false, bAddressText = false;
  int nPendingError = 0;  // the error code every failure leaves pending
  std::string errorText;  // and the system's text for it
};

struct FakeRun {
  bool bDevice = false;
  SimOptions device;
  FakeFailures fail;
  // Without a device, the datagrams that reach the update socket one per wait (a fuzzer's script;
  // the run stops when they are used up), and those that reach the debug listener.
  std::vector<Bytes> replies, debugDatagrams;
  // Each datagram's line ends with the virtual time it went or was read.
  bool bTimes = false;
  // Standard output is a terminal.
  bool bTerminal = false;
};

// The status of a run that the user stopped with Ctrl+C: every thread ended alone, the device
// stayed silent for three resend cycles, or a fuzzer's script was used up.  From then on the run
// prints nothing more, and every wait fails, so that the threads end.
#define FAKE_STOPPED 1000

// Starts a run: fresh sockets, device, clock and counters.
void fakeBegin(const FakeRun &run, Transcript *pTranscript);

// A fleet run's world.
struct FakeFleet {
  // Each at its ulAddress; one at 0.0.0.0 serves every address that no other serves, and sends its
  // debug messages from 127.0.0.1.
  std::vector<SimOptions> devices;
  // ICMP echo by address: requests unanswered before one is (-1, unnamed: never).
  std::vector<std::pair<uint32_t, int> > echoes;
  bool bNoEcho = false, bDebugPortTaken = false;  // the port: another program's
  bool bDebugPortDeaf = false;  // the port is bound, but no event tells its datagrams
  std::vector<uint32_t> unreachable;  // addresses whose datagrams cannot be sent
  unsigned long ulInterruptAt = (unsigned long)-1;  // Ctrl+C at this time
  unsigned long ulKillAt = (unsigned long)-1;       // kill -9 at this time
  std::vector<unsigned long> livePids;  // processes that run besides zvfleet
  // Files another process removes at a time, or replaces when given a text.
  struct Change { unsigned long ulAt; std::string path, text; };
  std::vector<Change> removals;
  unsigned long ulStopMs = 0;  // a stopped tool's time to end
  std::string loaderPath;  // where zvloader stands beside zvfleet
  // zvfleet itself, as its own child (a preflight's), run in process too.
  std::string selfPath;
  int (*pfnSelf)(int, char **) = nullptr;
  bool bRequests = false;  // each device reports as zvdevsim without -q (requests, replies)
  unsigned long ulPid = 4242;  // zvfleet's process id
  std::vector<std::string> unwritable;  // files whose appends fail, folders not made
  uint32_t ulRandomSeed = 0;  // the start of platRandomBytes's sequence
  bool bNoRandom = false;      // the system gives no random bytes
  bool bTerminal = false;      // zvfleet's standard output is a terminal
  unsigned long ulNarrowAt = (unsigned long)-1;  // the terminal, of unknown size, turns 60 wide
  bool bNothingBeside = false;  // no program is found beside zvfleet
  long lDisk = -1;  // bytes that appends may take, a removed file's given back; -1: no limit
};

// The workstation's name in a fleet run.
#define FAKE_HOST_NAME "bench-7"

// Starts a fleet run: zvfleet's own sockets and clock, the devices fresh.
void fakeBeginFleet(const FakeFleet &fleet, Transcript *pTranscript);

// After a fleet run: each device's report lines ("fault 4 drop", "commit ...", "accepted 1 ok",
// ...), as zvdevsim -q prints them (without -q with bRequests), by address.
std::vector<std::pair<std::string, std::vector<std::string> > > fakeDeviceReports();

// After a run: the sockets left open after their bind or event setup failed (the tool closes each).
size_t fakeFailedSocketsOpen();

// After a fleet run: the pipes of its children that zvfleet did not close.
int fakeOpenPipes();

// After a fleet run killed at ulKillAt: every file that zvfleet replaced or appended to is put back
// as it stood on disk at that moment (removed when it was made later).  Returns the files put back.
std::vector<std::string> fakeRestoreFilesAtKill();

// The end of a fleet run: back to single runs.
void fakeEndFleet();

#endif

// SPDX-License-Identifier: Apache-2.0
// The stand-in's state, shared by its parts (see fake_platform.h): fake_network.cc the clock,
// sockets, console, threads and the simulated devices behind the sockets; fake_children.cc
// zvfleet's children, their pipes, processes and echo; fake_files.cc files and their history.
#ifndef ZV_FAKE_WORLD_H
#define ZV_FAKE_WORLD_H

#include <deque>
#include <set>
#include <map>
#include <string>
#include <vector>

#include "tests/fakes/fake_platform.h"
#include "tools/zvdevsim/serve.h"

namespace fakes {

struct Datagram {
  Bytes data;
  unsigned long ulArrival;
};

struct Fake {
  FakeRun run;
  Transcript *pTranscript = nullptr;
  FakeFailures calls;  // counts of the calls so far
  PlatSocket sDebug = PLAT_NO_SOCKET;
  PlatSocket sNext = 0;
  std::set<PlatSocket> failedSetup;  // open after a failed bind or event setup
  SimServed device;
  std::deque<Datagram> toTool, toListener;
  unsigned long ulNow = 0;
  int nSilentWaits = 0;
  bool bDraining = false;
  size_t nReplies = 0;  // of the script used up
  PlatAddress lastDest = {0, 0};
  std::vector<int (*)(void)> threads;
  bool bStopped = false;  // Ctrl+C
  // A child zvloader of a fleet run: its output goes to the child's record, and it is stopped at
  // ulCutoff.
  int nChild = 0;  // 1-based; 0: zvfleet itself or a single run
  unsigned long ulCutoff = (unsigned long)-1;
  int nChildError = 0;  // the error code its failed calls leave pending
  int nDebugSkip = 0;   // debug datagrams taken before a run again
};

// A simulated device of a fleet run behind its address, served by zvdevsim's own code; its report
// lines as zvdevsim prints them.
struct Slot {
  SimOptions opt;
  SimServed served;
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

// A fleet run's world: what outlives the switches between zvfleet and children.
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

extern Fake s_fake;
extern World s_world;

// zvfleet's own calls (not a child's) in a fleet run; a child's.
inline bool inFleet() { return s_world.bOn && s_fake.nChild == 0; }
inline bool inChild() { return s_world.bOn && s_fake.nChild != 0; }
inline bool failsNow(int *pnCount, int nFailing) { return ++*pnCount == nFailing; }
// After a kill -9 played back, zvfleet shows nothing more.
inline bool killed() { return inFleet() && s_fake.ulNow >= s_world.fleet.ulKillAt; }

// The user presses Ctrl+C: nothing more is printed or sent, and every wait fails, so that whatever
// runs ends at once.
inline void stop() { s_fake.bStopped = true; }

// Network (fake_network.cc): the device served at an address; a debug datagram for zvfleet's port,
// in the order of arrival.
int slotAt(uint32_t ulAddr);
void toFleet(const Bytes &data, uint32_t ulFrom, unsigned long ulArrival, int nChild);
void startSlot(Slot *pSlot);

// Children (fake_children.cc): zvfleet killed at ulKill, its children with it.
void killChildren(unsigned long ulKill);

// Files (fake_files.cc): before zvfleet changes a file, what it held; a change noted.
extern const std::string REMOVED;  // the event of its removal
std::string fileText(const std::string &path, bool *pbExists);
void noteFileBefore(const std::string &path);
void noteFile(const std::string &path, bool bReplace, const std::string &data);

}  // namespace fakes

#endif

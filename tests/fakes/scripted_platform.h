// A scripted stand-in for the platform layer, for in-process tests and
// fuzzers: sends are recorded, each wait and receive takes the next step
// of a script, the pending error code and its text are set by the test,
// and ending the process throws ProcessExit so that a test can check the
// status.
#ifndef ZV_SCRIPTED_PLATFORM_H
#define ZV_SCRIPTED_PLATFORM_H

#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

#include "platform/platform.h"

struct ProcessExit {
  int nStatus;
};

// What one wait on the receive event brings.
struct ScriptStep {
  enum Kind { DATAGRAM, TIMEOUT, WAIT_FAILS, RECV_FAILS } kind;
  std::vector<uint8_t> abData;  // DATAGRAM
  // DATAGRAM that already waits when the next request goes out (a late
  // duplicate, say): the drain before a new request takes it.
  bool bWaiting = false;
};

struct ScriptedPlatform {
  std::deque<ScriptStep> script;           // consumed by waits
  std::vector<std::vector<uint8_t>> sent;  // every datagram sent
  int nSendsBeforeFailure = -1;            // sends that succeed; -1 no limit
  int nPendingError = 0;                   // what platPendingError returns
  std::string systemText;                  // what platErrorText gives
  int bThreadsFail = 0;
  int bBindFails = 0;
  int nWaits = 0;
  // A script that runs out ends the run as if the user pressed Ctrl+C.
  static constexpr int EXHAUSTED = 1000;
};

// The stand-in's state, reset by resetScriptedPlatform().
extern ScriptedPlatform g_fake;
void resetScriptedPlatform(void);

#endif

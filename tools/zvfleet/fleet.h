// SPDX-License-Identifier: Apache-2.0
// zvfleet's shared state: the settings of a run and the devices of the
// site list, each with its page plan, its attempts and its result.  One
// thread owns all of it.
#ifndef ZV_FLEET_H
#define ZV_FLEET_H

#include <stdint.h>

#include "platform/platform.h"

#define FLEET_MAX_DEVICES 1024
#define FLEET_TEXT_SIZE 256   // -P and -f values: the tool's field size
#define FLEET_LINE_SIZE 320   // a line of the tool's output, cut beyond
#define FLEET_PATH_SIZE 512
#define FLEET_ADDRESS_SIZE 16

// How a device's update ended.
enum FleetResult {
  RESULT_NONE,
  RESULT_UPDATED,
  RESULT_WRONG_PASSWORD,
  RESULT_WRONG_MODEL,
  RESULT_BAD_CRC,
  RESULT_BAD_VERSION,
  RESULT_NO_ANSWER,
  RESULT_FAILED
};

enum FleetState { STATE_WAITING, STATE_RUNNING, STATE_STOPPING, STATE_DONE };

// Where the tool's lines say an upload stands.
enum FleetPhase {
  PHASE_STARTING,
  PHASE_MODEL_QUERY,
  PHASE_IDATA,
  PHASE_IMAGE,
  PHASE_CLEARING,
  PHASE_COMMIT
};

// The pages an upload sends: the idata block first for a main image, then
// the image's pages from nFirstPage to nEndPage (one past the last).
struct FilePlan {
  char cPlainType;  // the -T letter of a plain file, 0 for an update file
  int nIdataPages;
  int nFirstPage, nEndPage;
};

struct FleetDevice {
  // From the site list.
  int nLine;
  uint32_t ulAddr;  // network byte order
  char szAddress[FLEET_ADDRESS_SIZE];
  char szPassword[FLEET_TEXT_SIZE];
  char szFile[FLEET_TEXT_SIZE];    // as the list writes it
  char szPath[FLEET_TEXT_SIZE];    // as the tool gets it
  char szExtras[FLEET_TEXT_SIZE];  // extra options, each ended by a zero
  int nExtras;
  FilePlan plan;
  char szLog[FLEET_PATH_SIZE];

  // The current or last attempt.
  int nState;
  int nAttempts;
  unsigned long ulQueued;  // order of waiting devices
  PlatChild child;
  unsigned long ulStartMs, ulLastOutputMs, ulRunMs;  // ulRunMs: all attempts
  long lLogStart;   // size of the log when the attempt began
  long lRead;       // bytes read since
  long lOwn;        // bytes that zvfleet appended since
  long lToolBytes;  // the tool's own bytes seen so far
  char szPartial[FLEET_LINE_SIZE];
  int nPartial;  // bytes of an unfinished line (those kept, and more)

  // What the tool's lines said in this attempt.
  int nPhase;
  int nIdataSent, nImageSent;
  int bNoReply;       // TEXT_RECV_TIMEOUT since the last request line
  int bTransfered;    // TEXT_TRANSFERED
  int bReceiveError;  // "receiveCommand error!"
  int bBindMarked;    // the expected debug port report was marked
  int nRefusal;       // RESULT_* of a refusal line, else RESULT_NONE
  int bStalled;
  char szLastLine[FLEET_LINE_SIZE];

  // The outcome.
  int nResult;
  int nExitStatus;  // -1: none (stopped, or never started)
};

#define PROGRESS_AUTO 0
#define PROGRESS_TABLE 1
#define PROGRESS_LINES 2

struct FleetSettings {
  const char *pszList;
  int nJobs;
  const char *pszLogDir;
  unsigned long ulStallSeconds;
  int nRetries;
  const char *pszReport;
  int nProgress;
  char szLoader[FLEET_PATH_SIZE];
};

extern FleetSettings g_fleet;
extern FleetDevice g_aDevices[FLEET_MAX_DEVICES];
extern int g_nDevices;

#endif

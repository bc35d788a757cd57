// SPDX-License-Identifier: Apache-2.0
// zvfleet's shared state: the settings of a run and the devices of the
// site list, each with its page plan, its attempts and its result.  One
// thread owns all of it.
#ifndef ZV_FLEET_H
#define ZV_FLEET_H

#include <stdint.h>

#include "platform/platform_companions.h"

#define FLEET_MAX_DEVICES 1024
#define FLEET_MAX_EXTRAS 8  // extra options of a device
#define FLEET_TEXT_SIZE 256   // -P and -f values: the tool's field size
#define FLEET_LINE_SIZE 320   // a line of the tool's output, cut beyond
#define FLEET_PATH_SIZE 512
#define FLEET_ADDRESS_SIZE 16

// The exit status of a run (and of --summary) that updated every device
// but found one or more not back online, or not confirmed back online
// (--confirm-online).
#define FLEET_EXIT_NOT_BACK_ONLINE 4
// The exit status of a run whose report could not be written: no device
// started after that, the running ones ended as they would.
#define FLEET_EXIT_REPORT_FAILED 5
// The exit status of a preflight that found every device ready: never 0,
// so that a preflight is not taken for a run that updated the site.
#define FLEET_EXIT_ALL_READY 6
// A tool's exit status where it has none of its own (stopped, or never
// started); any negative status is none.
#define EXIT_STATUS_NONE (-1)

// How a device's update ended.
enum FleetResult {
  RESULT_NONE,
  RESULT_UPDATED,
  RESULT_WRONG_PASSWORD,
  RESULT_WRONG_MODEL,
  RESULT_BAD_CRC,
  RESULT_BAD_VERSION,
  RESULT_NO_ANSWER,    // the device never answered
  RESULT_FAILED,
  RESULT_STALLED,      // it answered, then made no progress for --stall s
  RESULT_UNCONFIRMED,  // the commit's acceptance may be an earlier answer
  RESULT_INTERRUPTED,  // zvfleet was interrupted while it ran
  RESULT_NOT_STARTED,  // zvfleet was interrupted before it started
  RESULT_READY         // a preflight: it answered, of the file's model, password taken
};

// What an upload that did not end updated leaves on the device: the last
// phase it reached.
enum FleetStage {
  STAGE_NONE,           // updated: nothing to tell
  STAGE_NOTHING_SENT,   // the device took no request
  STAGE_MODEL_REFUSED,  // the update file is for another model
  STAGE_IDATA_PAGES,    // in the idata pages: nothing committed
  STAGE_IMAGE_PAGES,    // new idata committed, image pages in part
  STAGE_CLEARED,        // old idata cleared, image not committed
  STAGE_PAGES,          // a logo or HTML file in part: nothing committed
  STAGE_UNCONFIRMED,    // committed, the acceptance not confirmed
  STAGE_UNKNOWN         // its tool ran when the record was last written: anything may be sent
};

// STATE_CHECKING: updated, and sent echo requests until it answers
// (--confirm-online); it keeps its place of -j.
enum FleetState { STATE_WAITING, STATE_RUNNING, STATE_STOPPING, STATE_CHECKING, STATE_DONE };

// Whether an updated device came back on the network (--confirm-online).
enum FleetOnline {
  ONLINE_NONE,        // not checked
  ONLINE_CHECKING,    // its check runs
  ONLINE_BACK,        // silent once (restarting), then it answered
  ONLINE_NOT_BACK,    // it did not answer after its restart within the time given
  ONLINE_UNFINISHED,  // the check never ended (zvfleet was interrupted or killed)
  ONLINE_NO_RESTART   // it answered throughout: no restart was seen
};

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
  uint32_t ulRequests, ulWireBytes;  // of the whole upload, when nothing is lost
};

// What the tool's lines said in one attempt (see tool_output.h).
struct ToolOutput {
  int nPhase;
  int nIdataSent, nImageSent;
  int nLastFirst, nLastLast;  // the last page line's pages; -1: none yet
  bool bQueried;              // the model query was sent
  int nAcknowledged;          // requests that the device acknowledged
  bool bAnswered;             // any reply of the device's seen
  bool bIdataCommitted;       // the image pages began after the idata commit
  bool bAtEnd;                // from the transfer's last data packet on
  bool bDoubt;                // a resend from there on, in either transfer
  bool bNoReply;              // TEXT_RECV_TIMEOUT since the last request line
  bool bTransfered;           // TEXT_TRANSFERED
  bool bReceiveError;         // "receiveCommand error!"
  bool bSystemError;          // a system error report (not a failed bind)
  bool bBindSeen;             // the tool's debug port report was seen
  int nRefusal;               // RESULT_* of a refusal line, else RESULT_NONE
  int nModel;                 // the model a preflight's device named, or -1
  char szLastLine[FLEET_LINE_SIZE];
};

// The moments of a device's life, for the report's timeline: what began
// then (TIMELINE_* or, from 0 on, the FleetPhase its tool's lines reached).
#define FLEET_TIMELINE_SIZE 24
enum TimelineKind {
  TIMELINE_ATTEMPT = -1,  // an attempt's tool started
  TIMELINE_ENDED = -2,    // an attempt ended
  TIMELINE_RETRY = -3,    // ... and the device waits to run again
  TIMELINE_STOPPING = -4, // its tool is being stopped
  TIMELINE_CHECK = -5,    // its check of being back online began
  TIMELINE_CHECKED = -6   // ... and ended
};
struct TimelineEvent {
  unsigned long ulAt;  // ms from the run's start
  int nKind;
};

// A moment of the whole run (a wave, a stop, an interruption), in words.
#define FLEET_MARKS 16
struct RunMark {
  unsigned long ulAt;
  char szText[160];
};

// A device as the site list says it (the list reader, the checked files'
// copies and digests, the logs' names); fixed once the run begins.
struct DeviceListing {
  int nLine;
  uint32_t ulAddr;  // network byte order
  char szAddress[FLEET_ADDRESS_SIZE];
  char szPassword[FLEET_TEXT_SIZE];
  char szFile[FLEET_TEXT_SIZE];    // as the list writes it
  char szPath[FLEET_TEXT_SIZE];    // as the tool gets it: the checked copy
  long lFileSize;                  // the checked bytes
  char szSha256[65];
  char szExtras[FLEET_TEXT_SIZE];  // extra options, each ended by a zero
  int nExtras;                     // at most FLEET_MAX_EXTRAS
  FilePlan plan;
  char szLog[FLEET_PATH_SIZE];
  char szLineSha256[65];  // of its whole line, salted with the report's salt (see resume.h)
};

// The device's current attempt and check, as the children and the online
// check run them: processes, pipes, what the tool's lines said.
struct DeviceAttempt {
  unsigned long ulQueued;  // order of waiting devices
  PlatChild child;
  PlatPipe pipe;  // the child's output
  unsigned long ulStartMs, ulProgressMs, ulStopMs;
  char szPartial[FLEET_LINE_SIZE];
  int nPartial;    // bytes kept of an unfinished line
  bool bStalled;   // stopped for want of progress
  bool bKilled;    // ended by force after the stop
  bool bInterrupted;
  ToolOutput out;
  bool bLogFailed; // a line could not be written to the log
  // Back on the network (see online_check.h).
  PlatPinger pinger;
  unsigned long ulEchoSentMs;
  int nEchoes;      // requests sent
  bool bEchoFailed; // one could not be sent (said once in the log)
  bool bSilent;     // a request went unanswered: it has left the network
  bool bAnswered;   // the last request was answered
  bool bEarlyAnswer; // it answered before it was ever silent (said once in the log)
};

// What the record knows of the device (written by record.cc alone): its
// state, attempts, result, what it leaves, its timeline and whether it is
// back online.
struct DeviceRecord {
  int nState;
  int nAttempts;
  unsigned long ulRunMs;  // all attempts
  int nResult;
  int nStage;       // STAGE_*
  int nExitStatus;  // or EXIT_STATUS_NONE
  char szHeld[FLEET_LINE_SIZE + 64];  // why a rollout rule did not start it, or ""
  char szUpdatedAt[24];   // YYYY-MM-DD hh:mm:ss (local time) of its update, or ""
  bool bEarlier;          // updated in the run that --resume names: not run again
  char szUpdatedIn[33];   // the id of the run that updated it, or ""
  int nEarlierAttempts;   // attempts and time of the earlier runs (--resume)
  unsigned long ulEarlierRunMs;
  TimelineEvent aTimeline[FLEET_TIMELINE_SIZE];
  int nTimeline;          // events kept; the last is overwritten when full
  int nTimelinePhase;     // the phase last kept
  int nOnline;  // ONLINE_*
  unsigned long ulCheckStartMs, ulOnlineAfterMs;
};

struct FleetDevice : DeviceListing, DeviceAttempt, DeviceRecord {};

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
  bool bDryRun;  // print the plan, send nothing
  bool bPreflight;  // ask each device for its model only; write nothing to it
  char szSelf[FLEET_PATH_SIZE];  // zvfleet itself, a preflight's child
  int nCanary;  // the first devices of the list, updated before the others; 0: none
  int nMaxFailures;     // failures that stop the rollout; 0: no limit
  int nMaxFailureRate;  // percent of the finished devices that stops it; -1: no limit
  const char *pszResume;  // the report of the run to resume, or null
  unsigned long ulConfirmSeconds;  // --confirm-online S; 0: not checked
  char szListSha256[65];

  // The run's identity, in its report.
  char szRunId[33];        // random, hex
  char szStarted[24];      // YYYY-MM-DD hh:mm:ss, local time
  char szWorkstation[64];  // the workstation's name, or ""
  char szSalt[33];         // of the lines' hashes, random, hex
  char szResumedFrom[33];  // the id of the run that --resume names, or ""
  const char *pszHtml;     // --html FILE, or null
  char **apszArgs;         // the run's arguments as given (no password among them)
  int nArgs;
  bool bNoDebugPort;       // --no-debug-port: the devices' debug lines are not filed
  char szJournal[FLEET_PATH_SIZE];  // the run's journal, in its folder, or ""
  unsigned long ulRunStartMs;  // the run's start, on the platform's clock
  RunMark aMarks[FLEET_MARKS];
  int nMarks;
};

// The canary's verdict.
enum { CANARY_RUNNING, CANARY_PASSED, CANARY_FAILED };

// The state of a run that its modules keep between calls: the record's,
// the journal's, the report's room and the rollout's verdicts.  Reset
// whole before each run, so that nothing of an earlier run in the same
// process carries over.
struct FleetRun {
  // The record (record.cc).
  bool bDirty;                  // a change not yet in the report
  bool bFailed;                 // the journal (or the first report) could not be written
  unsigned long ulReportMs;     // when the report was last written while running
  long lJournalAtReport;        // the journal's bytes then
  unsigned long ulChanges;      // changes made to the devices' records
  int nWaiting;                 // devices in STATE_WAITING
  int nBusy;                    // devices whose tool runs or whose check does,
  short anBusy[FLEET_MAX_DEVICES];  // by their place in the list
  // The journal (journal.cc).
  char szJournalRoom[FLEET_PATH_SIZE + 8];
  bool bJournalRoom, bDiskFull, bJournalFailed;
  long lJournalBytes;
  // The report's room (report_format.cc).
  bool bReportRoom;
  long lReportSize;  // of the report last written
  bool bRunFolderKnown;  // szRunFolderText found for the run folder szRunFolderOf
  char szRunFolderOf[FLEET_PATH_SIZE], szRunFolderText[FLEET_PATH_SIZE];
  // The rollout's rules (rollout.cc).
  int nCanaryVerdict;  // CANARY_RUNNING while its devices run, then _PASSED or _FAILED
  bool bStopped;       // the emergency stop was made
  bool abFileStopped[FLEET_MAX_DEVICES];  // files stopped, by the file's first device
  int nToUpdate;
  short anRank[FLEET_MAX_DEVICES];  // the place among those to update; -1: none
  short anFile[FLEET_MAX_DEVICES];  // the first device of the same file
  unsigned long ulJudged;  // the record's changes when the rules last looked
  bool bJudged;
};

extern FleetSettings g_fleet;
extern FleetRun g_run;
extern FleetDevice g_aDevices[FLEET_MAX_DEVICES];
extern int g_nDevices;

#endif

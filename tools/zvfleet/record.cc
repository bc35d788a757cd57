// SPDX-License-Identifier: Apache-2.0
// The record of a run (see record.h).
#include "tools/zvfleet/record.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform_companions.h"
#include "tools/common/fixed_text.h"
#include "tools/common/sha256.h"
#include "tools/zvfleet/journal.h"
#include "tools/zvfleet/report_format.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/tool_output.h"

// 16 random bytes as hex, in pszHex (33 bytes): from the system's source,
// else from the moment and a count, which still tell runs apart.
static void randomHex(char *pszHex) {
  static unsigned long s_ulCalls;
  uint8_t abRandom[16] = {0};
  if (!platRandomBytes(abRandom, (int)sizeof(abRandom))) {
    PlatDateTime now;
    platLocalDateTime(&now);
    // 64-bit words, so that the same moment gives the same bytes on every
    // system (unsigned long is 32 bits on Windows).
    uint64_t aullSeed[3] = {(uint64_t)platMilliseconds(), (uint64_t)++s_ulCalls,
                            (uint64_t)(now.nYear * 372 + now.nMonth * 31 + now.nDay) * 86400u +
                                (uint64_t)(now.nHour * 3600 + now.nMinute * 60 + now.nSecond)};
    uint8_t abDigest[SHA256_SIZE];
    Sha256 sha;
    sha256Begin(&sha);
    sha256Add(&sha, aullSeed, sizeof(aullSeed));
    sha256End(&sha, abDigest);
    memcpy(abRandom, abDigest, sizeof(abRandom));
  }
  hexText(abRandom, (int)sizeof(abRandom), pszHex);
}

// The local time now as YYYY-MM-DD hh:mm:ss, or "".
static void timeText(char *pszText, int nSize) {
  PlatDateTime now;
  platLocalDateTime(&now);
  int n = snprintf(pszText, (size_t)nSize, "%04d-%02d-%02d %02d:%02d:%02d", now.nYear, now.nMonth,
                   now.nDay, now.nHour, now.nMinute, now.nSecond);
  if (n >= nSize) pszText[0] = '\0';
}

void recordIdentity(void) {
  g_fleet.ulRunStartMs = platMilliseconds();
  randomHex(g_fleet.szRunId);
  randomHex(g_fleet.szSalt);
  timeText(g_fleet.szStarted, sizeof(g_fleet.szStarted));
  if (!platHostName(g_fleet.szWorkstation, sizeof(g_fleet.szWorkstation)))
    g_fleet.szWorkstation[0] = '\0';
}

// Writes the report.  False when it could not be.
static bool saveReport(bool bEnded, bool bQuiet) {
  g_run.bDirty = false;
  g_run.ulReportMs = platMilliseconds();
  g_run.lJournalAtReport = journalBytes();
  return g_fleet.pszReport == NULL || writeReport(g_fleet.pszReport, bEnded, bQuiet);
}

void recordTick(unsigned long ulNow) {
  // At most every REPORT_EVERY_MS, and only once the journal grew by
  // REPORT_JOURNAL_RATIO times what the report holds: the rewrites cost a
  // quarter of the journal at most, however long the run.
  if (!g_run.bDirty || g_fleet.pszReport == NULL || ulNow - g_run.ulReportMs < REPORT_EVERY_MS ||
      journalBytes() - g_run.lJournalAtReport < REPORT_JOURNAL_RATIO * lastReportSize())
    return;
  saveReport(false, true);  // the journal holds the record: a report missed now waits
}

bool recordFailed(void) { return g_run.bFailed; }

bool recordStopsStarts(void) { return g_run.bFailed || journalDiskFull(); }

unsigned long recordChanges(void) { return g_run.ulChanges; }

// A change of the device's record: in the journal at once, in the report
// with its next version.
static void changed(const FleetDevice *pDev) {
  g_run.bDirty = true;
  g_run.ulChanges++;
  if (pDev != NULL && !journalDevice(pDev)) g_run.bFailed = true;
}

static bool isBusy(int nState) {
  return nState == STATE_RUNNING || nState == STATE_STOPPING || nState == STATE_CHECKING;
}

// Every change of a device's state comes here, so that the devices busy
// and waiting are known without looking at every device: the loop of a
// run asks for them on every turn.
static void setState(FleetDevice *pDev, int nState) {
  int nWasBusy = isBusy(pDev->nState), nBusy = isBusy(nState);
  g_run.nWaiting += (nState == STATE_WAITING) - (pDev->nState == STATE_WAITING);
  pDev->nState = nState;
  if (nWasBusy == nBusy) return;
  short nAt = (short)(pDev - g_aDevices);
  int i = 0;
  while (i < g_run.nBusy && g_run.anBusy[i] < nAt) i++;
  if (nBusy) {
    memmove(&g_run.anBusy[i + 1], &g_run.anBusy[i], (size_t)(g_run.nBusy - i) * sizeof(short));
    g_run.anBusy[i] = nAt;
    g_run.nBusy++;
  } else if (i < g_run.nBusy && g_run.anBusy[i] == nAt) {
    g_run.nBusy--;
    memmove(&g_run.anBusy[i], &g_run.anBusy[i + 1], (size_t)(g_run.nBusy - i) * sizeof(short));
  }
}

int recordBusy(short *pnDevices) {
  if (pnDevices != NULL) memcpy(pnDevices, g_run.anBusy, (size_t)g_run.nBusy * sizeof(short));
  return g_run.nBusy;
}

int recordWaiting(void) { return g_run.nWaiting; }

bool recordBeginRun(void) {
  unsigned long ulQueued = 0;
  g_run.nBusy = g_run.nWaiting = 0;
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    pDev->nState = STATE_DONE;  // not yet counted
    setState(pDev, STATE_WAITING);  // a carried device waits only for its check
    if (pDev->bEarlier) {
      if (g_fleet.ulConfirmSeconds == 0 || updatedAndBack(pDev)) setState(pDev, STATE_DONE);
    } else {
      pDev->nResult = RESULT_NOT_STARTED;
      pDev->nStage = STAGE_NOTHING_SENT;
      pDev->nExitStatus = EXIT_STATUS_NONE;
      pDev->nOnline = ONLINE_NONE;
    }
    pDev->ulQueued = ulQueued++;
  }
  g_run.bFailed = false;
  if (!journalBegin()) return false;
  if (g_fleet.pszReport == NULL) return true;
  // The room a killed run left beside the report it resumes is its own.
  if (g_fleet.pszResume != NULL) removeStaleSpace(g_fleet.pszResume);
  // The room first: a run that cannot start leaves an earlier report of the
  // name as it was.
  if (reserveReportSpace(g_fleet.pszReport) && saveReport(false, false)) return true;
  releaseReportSpace(g_fleet.pszReport);
  journalEnd();  // nothing started: its room is given back
  return false;
}

// Keeps a moment of the device's life; a full timeline keeps its last.
static void timeline(FleetDevice *pDev, int nKind) {
  if (pDev->nTimeline == FLEET_TIMELINE_SIZE) pDev->nTimeline--;
  TimelineEvent *pEvent = &pDev->aTimeline[pDev->nTimeline++];
  pEvent->ulAt = platMilliseconds() - g_fleet.ulRunStartMs;
  pEvent->nKind = nKind;
}

void recordMark(const char *pszText) {
  if (g_fleet.nMarks == FLEET_MARKS) return;
  RunMark *pMark = &g_fleet.aMarks[g_fleet.nMarks++];
  pMark->ulAt = platMilliseconds() - g_fleet.ulRunStartMs;
  snprintf(pMark->szText, sizeof(pMark->szText), "%s", pszText);
  g_run.bDirty = true;
  if (!journalMark(pMark)) g_run.bFailed = true;
}

void recordStarted(FleetDevice *pDev, unsigned long ulNow) {
  timeline(pDev, TIMELINE_ATTEMPT);
  pDev->nTimelinePhase = PHASE_STARTING;
  pDev->nAttempts++;
  setState(pDev, STATE_RUNNING);
  pDev->ulStartMs = pDev->ulProgressMs = ulNow;
  changed(pDev);
}

void recordPhase(FleetDevice *pDev) {
  if (pDev->out.nPhase == pDev->nTimelinePhase) return;
  pDev->nTimelinePhase = pDev->out.nPhase;
  timeline(pDev, pDev->out.nPhase);
  changed(pDev);
}

void recordStopping(FleetDevice *pDev, unsigned long ulNow, const char *pszReason) {
  if (pszReason != NULL) snprintf(pDev->szHeld, sizeof(pDev->szHeld), "%s", pszReason);
  setState(pDev, STATE_STOPPING);
  pDev->ulStopMs = ulNow;
  timeline(pDev, TIMELINE_STOPPING);
  changed(pDev);
}

void recordEnded(FleetDevice *pDev, int nResult, int nStatus, unsigned long ulAttemptMs,
                 bool bRetry) {
  pDev->ulRunMs += ulAttemptMs;
  pDev->nExitStatus = nStatus;
  pDev->nResult = nResult;
  if (nResult == RESULT_UPDATED) {
    timeText(pDev->szUpdatedAt, sizeof(pDev->szUpdatedAt));
    snprintf(pDev->szUpdatedIn, sizeof(pDev->szUpdatedIn), "%s", g_fleet.szRunId);
  }
  pDev->nStage = attemptStage(&pDev->out, &pDev->plan);
  if (nResult == RESULT_NO_ANSWER) pDev->nStage = STAGE_NOTHING_SENT;
  setState(pDev, bRetry ? STATE_WAITING : STATE_DONE);
  timeline(pDev, bRetry ? TIMELINE_RETRY : TIMELINE_ENDED);
  changed(pDev);
}

void recordHeld(FleetDevice *pDev, const char *pszReason) {
  snprintf(pDev->szHeld, sizeof(pDev->szHeld), "%s", pszReason);
  setState(pDev, STATE_DONE);
  changed(pDev);
}

void recordInterruptWaiting(void) {
  for (int i = 0; i < g_nDevices; i++)
    if (g_aDevices[i].nState == STATE_WAITING) {
      setState(&g_aDevices[i], STATE_DONE);  // its row stands as it was journaled
      g_run.bDirty = true;
    }
}

void recordCheckBegun(FleetDevice *pDev, unsigned long ulNow) {
  setState(pDev, STATE_CHECKING);
  pDev->nOnline = ONLINE_CHECKING;
  pDev->ulCheckStartMs = ulNow;
  timeline(pDev, TIMELINE_CHECK);
  changed(pDev);
}

void recordCheckEnded(FleetDevice *pDev, int nOnline, unsigned long ulAfterMs) {
  pDev->nOnline = nOnline;
  pDev->ulOnlineAfterMs = ulAfterMs;
  setState(pDev, STATE_DONE);
  timeline(pDev, TIMELINE_CHECKED);
  changed(pDev);
}

void recordCarried(FleetDevice *pDev, int nExitStatus, int nOnline, unsigned long ulOnlineAfterMs,
                   const char *pszUpdatedAt, const char *pszUpdatedIn) {
  pDev->bEarlier = true;
  pDev->nResult = RESULT_UPDATED;
  pDev->nExitStatus = nExitStatus;
  pDev->nStage = STAGE_NONE;
  pDev->nOnline = nOnline;
  pDev->ulOnlineAfterMs = ulOnlineAfterMs;
  snprintf(pDev->szUpdatedAt, sizeof(pDev->szUpdatedAt), "%s", pszUpdatedAt);
  snprintf(pDev->szUpdatedIn, sizeof(pDev->szUpdatedIn), "%s", pszUpdatedIn);
}

bool recordFinish(void) {
  // The last word: written even after an earlier write failed.
  bool bOk = journalEnd();
  if (g_fleet.pszReport == NULL) return bOk;
  releaseReportSpace(g_fleet.pszReport);
  return saveReport(true, false) && bOk;
}

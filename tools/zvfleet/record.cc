// SPDX-License-Identifier: Apache-2.0
// The record of a run (see record.h).
#include "tools/zvfleet/record.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform_companions.h"
#include "tools/common/fixed_text.h"
#include "tools/common/sha256.h"
#include "tools/zvfleet/report_format.h"
#include "tools/zvfleet/results.h"
#include "tools/zvfleet/tool_output.h"

static bool s_bDirty;   // a change not yet in the report
static bool s_bFailed;  // a write of the report failed

void recordCounts(RecordCounts *pCounts) {
  memset(pCounts, 0, sizeof(*pCounts));
  for (int i = 0; i < g_nDevices; i++) {
    const FleetDevice *pDev = &g_aDevices[i];
    pCounts->nWaiting += pDev->nState == STATE_WAITING;
    pCounts->nRunning += pDev->nState == STATE_RUNNING || pDev->nState == STATE_STOPPING;
    pCounts->nChecking += pDev->nState == STATE_CHECKING;
    pCounts->nReady += pDev->nResult == RESULT_READY;
    if (pDev->nResult != RESULT_UPDATED) continue;
    pCounts->nUpdated++;
    pCounts->nBack += pDev->nOnline == ONLINE_BACK;
    pCounts->nNotBack += pDev->nOnline == ONLINE_NOT_BACK;
    pCounts->nNotConfirmed += pDev->nOnline == ONLINE_UNFINISHED ||
                              pDev->nOnline == ONLINE_NO_RESTART ||
                              (pDev->nOnline == ONLINE_CHECKING && pDev->nState != STATE_CHECKING);
  }
}

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

bool recordSave(void) {
  s_bDirty = false;
  if (g_fleet.pszReport == NULL || s_bFailed) return !s_bFailed;
  if (!writeReport(g_fleet.pszReport, false)) s_bFailed = true;
  return !s_bFailed;
}

void recordFlush(void) {
  if (s_bDirty) recordSave();
}

bool recordFailed(void) { return s_bFailed; }

// A change: written at once, or (bLater) with the next save.
static void changed(bool bLater) {
  s_bDirty = true;
  if (!bLater) recordSave();
}

bool recordBeginRun(void) {
  unsigned long ulQueued = 0;
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    pDev->nState = STATE_WAITING;  // a carried device waits only for its check
    if (pDev->bEarlier) {
      if (g_fleet.ulConfirmSeconds == 0 || updatedAndBack(pDev)) pDev->nState = STATE_DONE;
    } else {
      pDev->nResult = RESULT_NOT_STARTED;
      pDev->nStage = STAGE_NOTHING_SENT;
      pDev->nExitStatus = -1;
      pDev->nOnline = ONLINE_NONE;
    }
    pDev->ulQueued = ulQueued++;
  }
  s_bFailed = false;
  if (g_fleet.pszReport == NULL) return true;
  return recordSave() && reserveReportSpace(g_fleet.pszReport);
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
  changed(true);
}

void recordStarted(FleetDevice *pDev, unsigned long ulNow) {
  timeline(pDev, TIMELINE_ATTEMPT);
  pDev->nTimelinePhase = PHASE_STARTING;
  pDev->nAttempts++;
  pDev->nState = STATE_RUNNING;
  pDev->ulStartMs = pDev->ulProgressMs = ulNow;
  pDev->nWrittenStage = STAGE_NOTHING_SENT;
  changed(false);
}

// What the device holds, at the worst, while its tool runs: the phase
// reached (a request may have been taken though no answer was seen).
static int runningStage(const FleetDevice *pDev) {
  const ToolOutput *pOut = &pDev->out;
  bool bMain = pDev->plan.nIdataPages > 0;
  switch (pOut->nPhase) {
    case PHASE_COMMIT:
      return STAGE_UNCONFIRMED;
    case PHASE_CLEARING:
      return STAGE_CLEARED;
    case PHASE_IMAGE:
      return bMain ? STAGE_IMAGE_PAGES : STAGE_PAGES;
    case PHASE_IDATA:  // its commit went out with the last idata page
      return pOut->bAtEnd ? STAGE_IMAGE_PAGES : STAGE_IDATA_PAGES;
    default:
      return STAGE_NOTHING_SENT;
  }
}

void recordPhase(FleetDevice *pDev) {
  if (pDev->out.nPhase != pDev->nTimelinePhase) {
    pDev->nTimelinePhase = pDev->out.nPhase;
    timeline(pDev, pDev->out.nPhase);
  }
  int nStage = runningStage(pDev);
  if (nStage == pDev->nWrittenStage) return;
  pDev->nWrittenStage = nStage;
  changed(false);
}

void recordStopping(FleetDevice *pDev, unsigned long ulNow, const char *pszReason) {
  if (pszReason != NULL) snprintf(pDev->szHeld, sizeof(pDev->szHeld), "%s", pszReason);
  pDev->nState = STATE_STOPPING;
  pDev->ulStopMs = ulNow;
  timeline(pDev, TIMELINE_STOPPING);
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
  pDev->nState = bRetry ? STATE_WAITING : STATE_DONE;
  timeline(pDev, bRetry ? TIMELINE_RETRY : TIMELINE_ENDED);
  changed(false);
}

void recordHeld(FleetDevice *pDev, const char *pszReason) {
  snprintf(pDev->szHeld, sizeof(pDev->szHeld), "%s", pszReason);
  pDev->nState = STATE_DONE;
  changed(true);
}

void recordInterruptWaiting(void) {
  for (int i = 0; i < g_nDevices; i++)
    if (g_aDevices[i].nState == STATE_WAITING) {
      g_aDevices[i].nState = STATE_DONE;
      changed(true);
    }
}

void recordCheckBegun(FleetDevice *pDev, unsigned long ulNow) {
  pDev->nState = STATE_CHECKING;
  pDev->nOnline = ONLINE_CHECKING;
  pDev->ulCheckStartMs = ulNow;
  timeline(pDev, TIMELINE_CHECK);
  changed(false);
}

void recordCheckEnded(FleetDevice *pDev, int nOnline, unsigned long ulAfterMs) {
  pDev->nOnline = nOnline;
  pDev->ulOnlineAfterMs = ulAfterMs;
  pDev->nState = STATE_DONE;
  timeline(pDev, TIMELINE_CHECKED);
  changed(false);
}

void recordCarried(FleetDevice *pDev, int nExitStatus, int nOnline, unsigned long ulOnlineAfterMs,
                   const char *pszUpdatedAt, const char *pszUpdatedIn) {
  pDev->bEarlier = true;
  pDev->nResult = RESULT_UPDATED;
  pDev->nExitStatus = nExitStatus;
  pDev->nStage = STAGE_NONE;
  pDev->nState = STATE_DONE;
  pDev->nOnline = nOnline;
  pDev->ulOnlineAfterMs = ulOnlineAfterMs;
  snprintf(pDev->szUpdatedAt, sizeof(pDev->szUpdatedAt), "%s", pszUpdatedAt);
  snprintf(pDev->szUpdatedIn, sizeof(pDev->szUpdatedIn), "%s", pszUpdatedIn);
}

bool recordFinish(void) {
  if (g_fleet.pszReport == NULL) return true;
  s_bDirty = false;
  // The last word: written even after an earlier write failed.
  if (!writeReport(g_fleet.pszReport, true)) s_bFailed = true;
  releaseReportSpace(g_fleet.pszReport);
  return !s_bFailed;
}

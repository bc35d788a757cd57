// SPDX-License-Identifier: Apache-2.0
// The reading pass of the HEX report (see hex_pass.h).  Lines are judged
// and stored by the tool's verdict; what the loader does not look at
// (start code, first type digit, checksum) and what it lets pass silently
// (overlaps, ignored records) is noted here from what the verdict found.
#include "tools/zvinspect/hex_pass.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform_companions.h"
#include "tools/zvinspect/report.h"

uint8_t g_abHexSet[CODE_WINDOW_END + IDATA_SIZE];
// The line that last set each of those addresses, where g_abHexSet says a
// line did (so it is never cleared: a pass writes what it reads).
static uint32_t s_aulSetBy[CODE_WINDOW_END + IDATA_SIZE];

// A pass that lists nothing (a check against the source) marks no address
// and reads as the loader does.  The line of an address is sought only
// when a difference is to be named: by reading the file again where it can
// be (bytes in memory, a regular file), else among the runs that the pass
// kept of records that stored their bytes one behind the other, each as
// many, on lines one below the other (as a HEX file mostly holds them).  A
// record stores a byte in a line of 11 characters or more, its line feed
// behind it.
#define STORING_LINE_MIN (HEX_DATA_POS + 3)
struct StoredRun {
  uint32_t ulLine;     // of its first record
  uint32_t ulAddress;  // device address of its first byte
  uint32_t ulBytes;    // stored by each record
  uint32_t ulRecords;
};
// From index 1; s_aRuns[0], of no bytes, continues no record.
static StoredRun s_aRuns[HEX_FILE_LIMIT / STORING_LINE_MIN + 2];
static uint32_t s_ulRuns;  // the last in use
static int s_bMarked;  // the last pass marked g_abHexSet and s_aulSetBy
// The reader of the last pass, when its lines can be read again: from
// these bytes in memory, or from this place of its file.
static HexLineReader *s_pAgain;
static const uint8_t *s_pbAgain;
static uint32_t s_ulAgain;
static long s_lAgainAt;

// The index of a device address in those tables; -1 outside the windows.
static long hexSetIndex(uint32_t ulAddress) {
  switch (hexAddressWindow(ulAddress)) {
    case HEX_WINDOW_CODE: return (long)ulAddress;
    case HEX_WINDOW_IDATA: return (long)(CODE_WINDOW_END + ulAddress - IDATA_BASE);
    default: return -1;
  }
}

// Reads the last pass's lines again, storing nothing, for the last line
// that set the address.
static uint32_t lineOnReadingAgain(uint32_t ulAddress) {
  HexLineReader *pReader = s_pAgain;
  FILE *pFile = pReader->pFile;
  if (pFile == NULL) {
    startHexLinesInMemory(pReader, s_pbAgain, s_ulAgain);
  } else {
    clearerr(pFile);
    if (fseek(pFile, s_lAgainAt, SEEK_SET) != 0) return 0;
    startHexLines(pReader, pFile, pReader->pszPath);
  }
  static HexVerdict s_verdict;
  startHexLookup(&s_verdict);
  uint32_t ulLine = 0;
  while (nextHexLine(pReader, &s_verdict) && s_verdict.nRefusal == HEX_ACCEPTED)
    if (ulAddress - s_verdict.ulAddress < s_verdict.ulStored) ulLine = s_verdict.ulLine;
  return ulLine;
}

uint32_t hexLineOf(uint32_t ulAddress) {
  long nAt = hexSetIndex(ulAddress);
  if (nAt < 0) return 0;
  if (s_bMarked) return g_abHexSet[nAt] ? s_aulSetBy[nAt] : 0;
  if (s_pAgain != NULL) return lineOnReadingAgain(ulAddress);
  for (uint32_t i = s_ulRuns; i > 0; i--) {
    const StoredRun *pRun = &s_aRuns[i];
    uint32_t ulRecord = (ulAddress - pRun->ulAddress) / pRun->ulBytes;  // wraps below
    if (ulRecord < pRun->ulRecords) return pRun->ulLine + ulRecord;
  }
  return 0;
}

static void note(HexPass *pPass, int nKind, uint32_t ulLine, const char *pszFormat, ...)
    ZV_PRINTF(4, 5);
static void note(HexPass *pPass, int nKind, uint32_t ulLine, const char *pszFormat, ...) {
  if (pPass->aulKindCount[nKind]++ >= LIST_CAP || !pPass->bReport) return;
  Entry *pEntry = &pPass->aEntries[pPass->nEntries++];
  pEntry->nKind = nKind;
  pEntry->ulLine = ulLine;
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(pEntry->szText, sizeof(pEntry->szText), pszFormat, args);
  va_end(args);
}

// What the loader does not read: the start code, the first type digit and
// the checksum.
static void checkRecordText(HexPass *pPass) {
  const HexVerdict *pVerdict = &pPass->verdict;
  const HexRecord *pRecord = &pVerdict->record;
  uint32_t ulLine = pVerdict->ulLine;
  if (!pRecord->bStartCode)
    note(pPass, KIND_START, ulLine, "line %u starts with 0x%02X, not ':' (the loader "
         "does not look)", ulLine, (unsigned char)pVerdict->pLine[0]);
  char c = pRecord->cType;
  if ((pRecord->bType >> 4) != 0 && (c == '0' || c == '2' || c == '4'))
    note(pPass, KIND_TYPE, ulLine, "line %u: record type %02X, which the loader "
         "reads as type 0%c", ulLine, pRecord->bType, c);
  int nAt = HEX_DATA_POS + 2 * (int)pRecord->ulCount;
  if (pRecord->nChecksum == HEX_SUM_MISSING)
    note(pPass, KIND_CHECKSUM, ulLine, "line %u has no checksum (the loader does "
         "not check it)", ulLine);
  else if (pRecord->nChecksum == HEX_SUM_NOT_HEX)
    note(pPass, KIND_CHECKSUM, ulLine, "line %u: checksum field \"%.*s\" is not two "
         "hexadecimal digits (the loader does not check it)", ulLine,
         pVerdict->nLength - nAt < 2 ? pVerdict->nLength - nAt : 2, pVerdict->pLine + nAt);
  else if (pRecord->nChecksum == HEX_SUM_WRONG)
    note(pPass, KIND_CHECKSUM, ulLine, "line %u: checksum 0x%02X, the record gives "
         "0x%02X (the loader does not check it)", ulLine, pRecord->bStoredSum,
         pRecord->bWantedSum);
}

// The bytes of a data record that the verdict stored: which were set
// before, by which line; and those it refused.
static void noteData(HexPass *pPass) {
  const HexVerdict *pVerdict = &pPass->verdict;
  uint32_t ulLine = pVerdict->ulLine, ulAddress = pVerdict->ulAddress;
  uint32_t ulOverlap = 0, ulFirst = 0, ulFirstBy = 0, ulStored = pVerdict->ulStored;
  // The bytes stored lie in one window: the first outside it stops them.
  long nAt = ulStored > 0 ? hexSetIndex(ulAddress) : 0;
  uint8_t *pbSet = &g_abHexSet[nAt];
  uint32_t *pulBy = &s_aulSetBy[nAt];
  const uint8_t *pbFirst = (const uint8_t *)memchr(pbSet, 1, ulStored);
  if (pbFirst != NULL) {
    uint32_t i = (uint32_t)(pbFirst - pbSet);
    ulFirst = ulAddress + i;
    ulFirstBy = pulBy[i];
    // The marks are 0 or 1: eight at a time are summed by one product.
    for (; i + 8 <= ulStored; i += 8) {
      uint64_t ullMarks;
      memcpy(&ullMarks, pbSet + i, 8);
      ulOverlap += (uint32_t)((ullMarks * 0x0101010101010101ull) >> 56);
    }
    for (; i < ulStored; i++) ulOverlap += pbSet[i];
  }
  memset(pbSet, 1, ulStored);
  uint64_t ullTwice = ulLine | (uint64_t)ulLine << 32;
  uint32_t i = 0;
  for (; i + 2 <= ulStored; i += 2) memcpy(pulBy + i, &ullTwice, 8);
  if (i < ulStored) pulBy[i] = ulLine;
  if (ulOverlap > 0)
    note(pPass, KIND_OVERLAP, ulLine, "line %u: %u byte%s from 0x%05X set before, first "
         "by line %u: the later values stay", ulLine, ulOverlap, pluralS(ulOverlap),
         ulFirst, ulFirstBy);
  if (!pVerdict->bLineRefused) return;
  uint32_t ulOut = ulAddress + pVerdict->ulStored;
  uint32_t ulBytes = pVerdict->record.ulCount - pVerdict->ulStored;
  if (ulBytes == 0)
    note(pPass, KIND_WINDOW, ulLine, "line %u: a record at 0x%X, outside the code "
         "and idata windows: the loader refuses the file", ulLine, ulOut);
  else
    note(pPass, KIND_WINDOW, ulLine, "line %u: %u byte%s from 0x%X outside the code "
         "and idata windows: the loader refuses the file", ulLine, ulBytes,
         pluralS(ulBytes), ulOut);
}

// An editor that saved the file as UTF-8 may have put a byte order mark
// in front of the first record, where the loader reads its count.
static int beginsWithBom(const HexVerdict *pVerdict) {
  return pVerdict->ulLine == 1 && pVerdict->nLength >= 3 &&
         memcmp(pVerdict->pLine, "\xEF\xBB\xBF", 3) == 0;
}
// The first refusal, on a line that begins so.
static int refusedForBom(const HexVerdict *pVerdict) {
  return pVerdict->ulRefusedLine == pVerdict->ulLine && pVerdict->nKind == HEX_NOT_HEX &&
         beginsWithBom(pVerdict);
}
#define BOM_PROBLEM "it begins with a UTF-8 byte order mark (EF BB BF)"

static void passLine(HexPass *pPass) {
  const HexVerdict *pVerdict = &pPass->verdict;
  const HexRecord *pRecord = &pVerdict->record;
  uint32_t ulLine = pVerdict->ulLine;
  if (pVerdict->nLineResult == HEX_LINE_TOO_LONG) {
    note(pPass, KIND_MALFORMED, ulLine, "line %u is longer than the 254 characters the "
         "loader reads: it refuses the file", ulLine);
    return;
  }
  if (pVerdict->nKind == HEX_BLANK) return;
  if (pPass->ulEndLine != 0)
    note(pPass, KIND_END, pPass->ulEndLine, "line %u: an end record before the end: "
         "the loader reads on", pPass->ulEndLine);
  pPass->ulEndLine = 0;
  if (pVerdict->nKind == HEX_NOT_HEX) {
    if (beginsWithBom(pVerdict))
      note(pPass, KIND_MALFORMED, ulLine, "line %u: %s: the loader refuses the file",
           ulLine, BOM_PROBLEM);
    else
      note(pPass, KIND_MALFORMED, ulLine, "line %u: %s%s: the loader refuses the file",
           ulLine, pRecord->pszProblem,
           pRecord->bStartCode ? "" : " (the line does not begin with ':')");
    return;
  }
  if (pPass->bReport) checkRecordText(pPass);
  switch (pVerdict->nKind) {
    case HEX_IGNORED:
      if (pRecord->bEnd)
        pPass->ulEndLine = ulLine;
      else if (pRecord->bType == 3 || pRecord->bType == 5)
        note(pPass, KIND_START_RECORD, ulLine, "line %u: a start address record "
             "(%02X), which the loader ignores", ulLine, pRecord->bType);
      else
        note(pPass, KIND_IGNORED, ulLine, "line %u: record type %02X, which the "
             "loader ignores", ulLine, pRecord->bType);
      break;
    case HEX_LINEAR_ZERO:
      note(pPass, KIND_LINEAR_ZERO, ulLine, "line %u: an extended linear address of "
           "0, which the loader ignores", ulLine);
      break;
    case HEX_LINEAR_REFUSED:
      note(pPass, KIND_LINEAR, ulLine, "line %u: an extended linear address other "
           "than 0: the loader refuses the file (only segment records reach above "
           "64 KiB)", ulLine);
      break;
    case HEX_DATA:
      noteData(pPass);
      break;
    default:
      break;
  }
}

// The verdict's refusal in the report's words.
static void summarise(HexPass *pPass, int bBom) {
  const HexVerdict *pVerdict = &pPass->verdict;
  HexSummary *pSummary = pPass->pSummary;
  pSummary->ulRefusedLine = pVerdict->ulRefusedLine;
  char *psz = pSummary->szRefusal;
  size_t nSize = sizeof(pSummary->szRefusal);
  switch (pVerdict->nRefusal) {
    case HEX_REFUSED_FORMAT:
      snprintf(psz, nSize, "not Intel Hex format (%s)",
               bBom ? BOM_PROBLEM : pVerdict->pszProblem);
      break;
    case HEX_REFUSED_BOUNDS:
      snprintf(psz, nSize, "address 0x%X out of bounds", pVerdict->ulRefusedAddress);
      break;
    case HEX_REFUSED_TOO_LARGE:
      snprintf(psz, nSize, "too large for an Intel Hex image");
      break;
    default:
      break;
  }
}

// The lines of a pass that marks no address: the bytes each data record
// stored extend the last run, or begin one.  Such a pass wants no more than
// the loader does: it stops where the loader stops, at the first line
// refused (a record refused after storing some of its bytes lets it read
// on, to no other end).
static void keepRuns(HexLineReader *pReader, HexVerdict *pVerdict) {
  StoredRun *pRun = &s_aRuns[0];
  uint32_t ulNextLine = 0, ulNextAddress = 0;  // those that continue the run
  const uint32_t ulMaxRuns = sizeof(s_aRuns) / sizeof(s_aRuns[0]) - 1;  // never so many
  while (nextHexLine(pReader, pVerdict)) {
    uint32_t ulBytes = pVerdict->ulStored;
    if (ulBytes == 0) {  // no data record's
      if (pVerdict->bLineRefused) return;
      continue;
    }
    uint32_t ulLine = pVerdict->ulLine, ulAddress = pVerdict->ulAddress;
    if (ulAddress != ulNextAddress || ulLine != ulNextLine || ulBytes != pRun->ulBytes) {
      if (s_ulRuns == ulMaxRuns) continue;
      pRun = &s_aRuns[++s_ulRuns];
      pRun->ulLine = ulLine;
      pRun->ulAddress = ulAddress;
      pRun->ulBytes = ulBytes;
      pRun->ulRecords = 0;
    }
    pRun->ulRecords++;
    ulNextLine = ulLine + 1;
    ulNextAddress = ulAddress + ulBytes;
  }
}

// Whether the reader's lines can be read again, and from where.
static bool canReadAgain(HexLineReader *pReader) {
  s_pbAgain = pReader->pbMemory;
  s_ulAgain = pReader->ulMemory;
  if (pReader->pFile == NULL) return true;
  if (!platIsRegularFile(pReader->pFile)) return false;
  s_lAgainAt = ftell(pReader->pFile);
  return s_lAgainAt >= 0;
}

void runHexPass(HexLineReader *pReader, HexPass *pPass) {
  HexVerdict *pVerdict = &pPass->verdict;
  s_bMarked = pPass->bReport;
  s_ulRuns = 0;
  s_pAgain = NULL;
  if (s_bMarked) memset(g_abHexSet, 0, sizeof(g_abHexSet));
  startHexVerdict(pVerdict);
  int bBom = 0;
  if (!s_bMarked && canReadAgain(pReader)) {
    // The loader's own reading, stopping where it stops.
    s_pAgain = pReader;
    while (nextHexLine(pReader, pVerdict) && pVerdict->nRefusal == HEX_ACCEPTED) {
    }
    bBom = refusedForBom(pVerdict);
  } else if (!s_bMarked) {
    keepRuns(pReader, pVerdict);
    bBom = refusedForBom(pVerdict);
  }
  while (s_bMarked && nextHexLine(pReader, pVerdict)) {
    if (pVerdict->bLineRefused) bBom |= refusedForBom(pVerdict);
    passLine(pPass);
  }
  int nRefusal = pVerdict->nRefusal;
  finishHexVerdict(pVerdict);
  if (nRefusal == HEX_ACCEPTED && pVerdict->nRefusal != HEX_ACCEPTED)
    note(pPass, KIND_MALFORMED, pVerdict->ulRefusedLine, "line %u: the file ends "
         "without an end record (01), as one cut short does: the loader refuses it",
         pVerdict->ulRefusedLine);
  summarise(pPass, bBom);
}

// SPDX-License-Identifier: Apache-2.0
// The reading pass of the HEX report (see hex_pass.h).  Lines are read and
// decoded by the loader's own functions and stored by its own rules; what
// the loader does not look at (start code, first type digit, checksum) and
// what it lets pass silently (overlaps, ignored records) is noted here.
#include "tools/zvinspect/hex_pass.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "image/hex_loader.h"
#include "image/input_file.h"
#include "tools/zvinspect/report.h"

uint8_t g_abHexSet[CODE_WINDOW_END + IDATA_SIZE];
static const char *s_pszPath;  // the last file loaded

static uint8_t *setFlag(uint32_t ulAddress) {
  switch (hexAddressWindow(ulAddress)) {
    case HEX_WINDOW_CODE: return &g_abHexSet[ulAddress];
    case HEX_WINDOW_IDATA: return &g_abHexSet[CODE_WINDOW_END + ulAddress - IDATA_BASE];
    default: return NULL;
  }
}

// Opens the file for reading line by line; null (after the message) when
// it cannot be opened.
static FILE *openHexLines(const char *pszPath, HexLineReader *pReader) {
  FILE *pFile = openInputFile(pszPath);
  if (pFile != NULL) startHexLines(pReader, pFile, pszPath);
  return pFile;
}

// The last line before ulBefore (0: the end) of the file whose data record
// covers the device address; 0 when none does.  Read again from the file,
// since only a report asks.
static uint32_t lineSetting(const char *pszPath, uint32_t ulAddress, uint32_t ulBefore) {
  HexLineReader reader;
  FILE *pFile = openHexLines(pszPath, &reader);
  if (pFile == NULL) return 0;
  char szLine[HEX_LINE_SIZE];
  int nLength;
  uint32_t ulLine = 0, ulFound = 0, ulBase = 0;
  HexLineResult result;
  while ((result = readHexLine(&reader, szLine, &nLength)) != HEX_LINE_END &&
         result != HEX_LINE_READ_ERROR && result != HEX_LINE_TOO_BIG &&
         ++ulLine != ulBefore) {
    HexRecord record;
    if (result != HEX_LINE_OK) continue;
    HexLineKind nKind = decodeHexLine(szLine, nLength, &record);
    if (nKind == HEX_SEGMENT) ulBase = record.ulSegmentBase;
    uint32_t ulStart = record.ulField + ulBase;
    if (nKind == HEX_DATA && ulAddress - ulStart < record.ulCount) ulFound = ulLine;
  }
  fclose(pFile);
  return ulFound;
}

uint32_t hexLineOf(uint32_t ulAddress) { return lineSetting(s_pszPath, ulAddress, 0); }

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

// The first line at which the loader stops, and why.
static void refuse(HexPass *pPass, const char *pszWhy) {
  HexSummary *pSummary = pPass->pSummary;
  if (pSummary->ulRefusedLine != 0) return;
  pSummary->ulRefusedLine = pPass->ulLine;
  snprintf(pSummary->szRefusal, sizeof(pSummary->szRefusal), "%s", pszWhy);
}

static int hexByte(const char *p, uint32_t *pulValue) {
  int nHigh = hexDigitValue(p[0]), nLow = hexDigitValue(p[1]);
  if (nHigh < 0 || nLow < 0) return 0;
  *pulValue = (uint32_t)(nHigh * 16 + nLow);
  return 1;
}

// What the loader does not read: the start code, the first type digit and
// the checksum.
static void checkRecordText(HexPass *pPass, const char *pLine, int nLength,
                            const HexRecord *pRecord) {
  uint32_t ulLine = pPass->ulLine, ulType;
  if (pLine[0] != ':')
    note(pPass, KIND_START, ulLine, "line %u starts with 0x%02X, not ':' (the loader "
         "does not look)", ulLine, (unsigned char)pLine[0]);
  if (!hexByte(pLine + 7, &ulType)) return;
  pPass->aulTypeCount[ulType <= 5 ? ulType : 6]++;
  char c = pRecord->cType;
  if (pLine[7] != '0' && (c == '0' || c == '2' || c == '4'))
    note(pPass, KIND_TYPE, ulLine, "line %u: record type %02X, which the loader "
         "reads as type 0%c", ulLine, ulType, c);
  int nEnd = HEX_DATA_POS + 2 * (int)pRecord->ulCount;
  uint32_t ulSum = pRecord->ulCount + (pRecord->ulField >> 8) +
                   (pRecord->ulField & 0xFF) + ulType, ulByte;
  if (c == '0' || c == '2' || c == '4') {  // the loader read the data
    for (uint32_t i = 0; i < pRecord->ulCount; i++) ulSum += pRecord->abData[i];
  } else {
    for (int i = HEX_DATA_POS; i < nEnd && i + 1 < nLength; i += 2) {
      if (!hexByte(pLine + i, &ulByte)) return;
      ulSum += ulByte;
    }
  }
  if (nLength < nEnd + 2 || !hexByte(pLine + nEnd, &ulByte)) {
    if (nLength >= nEnd)
      note(pPass, KIND_CHECKSUM, ulLine, "line %u has no checksum (the loader does "
           "not check it)", ulLine);
    return;
  }
  uint32_t ulWanted = (0x100 - (ulSum & 0xFF)) & 0xFF;
  if (ulByte != ulWanted)
    note(pPass, KIND_CHECKSUM, ulLine, "line %u: checksum 0x%02X, the record gives "
         "0x%02X (the loader does not check it)", ulLine, ulByte, ulWanted);
}

static void checkWindows(HexPass *pPass, uint32_t ulAddress, uint32_t ulCount) {
  uint32_t ulLine = pPass->ulLine, ulOut = ulAddress, ulBytes = ulCount;
  if (hexAddressWindow(ulAddress) == HEX_WINDOW_NONE) {
    if (ulCount == 0)
      note(pPass, KIND_WINDOW, ulLine, "line %u: a record at 0x%X, outside the code "
           "and idata windows: the loader refuses the file", ulLine, ulAddress);
  } else {
    for (ulBytes = 0; ulBytes < ulCount && hexAddressWindow(ulOut) != HEX_WINDOW_NONE;
         ulBytes++)
      ulOut++;
    ulBytes = ulCount - ulBytes;
  }
  if (ulBytes > 0)
    note(pPass, KIND_WINDOW, ulLine, "line %u: %u byte%s from 0x%X outside the code "
         "and idata windows: the loader refuses the file", ulLine, ulBytes,
         pluralS(ulBytes), ulOut);
}

static void storeData(HexPass *pPass, const HexRecord *pRecord) {
  uint32_t ulAddress = pRecord->ulField + pPass->ulSegmentBase;
  uint32_t ulCount = pRecord->ulCount, ulOverlap = 0, ulFirst = 0;
  pPass->ulDataRecords++;
  if (!pPass->bReport) {  // a source: only what the loader does
  } else if (ulAddress < CODE_WINDOW_END && ulAddress + ulCount <= CODE_WINDOW_END) {
    uint8_t *pb = &g_abHexSet[ulAddress];
    for (uint32_t i = 0; i < ulCount; i++) ulOverlap += pb[i];
    if (ulOverlap > 0)
      while (!pb[ulFirst]) ulFirst++;
    memset(pb, 1, ulCount);
    ulFirst += ulAddress;
  } else {
    checkWindows(pPass, ulAddress, ulCount);
    for (uint32_t i = 0; i < ulCount; i++) {
      uint8_t *pbSet = setFlag(ulAddress + i);
      if (pbSet == NULL) continue;
      if (*pbSet && ulOverlap++ == 0) ulFirst = ulAddress + i;
      *pbSet = 1;
    }
  }
  if (ulOverlap > 0 && pPass->bReport && pPass->aulKindCount[KIND_OVERLAP] < LIST_CAP)
    note(pPass, KIND_OVERLAP, pPass->ulLine, "line %u: %u byte%s from 0x%05X set "
         "before, first by line %u: the later values stay", pPass->ulLine, ulOverlap,
         pluralS(ulOverlap), ulFirst, lineSetting(s_pszPath, ulFirst, pPass->ulLine));
  else if (ulOverlap > 0)
    pPass->aulKindCount[KIND_OVERLAP]++;
  uint32_t ulRefused;
  if (!storeHexData(ulAddress, pRecord->abData, pRecord->ulCount, &ulRefused)) {
    char szWhy[48];
    snprintf(szWhy, sizeof(szWhy), "address 0x%X out of bounds", ulRefused);
    refuse(pPass, szWhy);
  }
}

static void passLine(HexPass *pPass, const char *pLine, int nLength) {
  HexRecord record;
  uint32_t ulLine = pPass->ulLine;
  HexLineKind nKind = decodeHexLine(pLine, nLength, &record);
  if (nKind == HEX_BLANK) {
    pPass->ulBlank++;
    return;
  }
  if (pPass->ulEndLine != 0)
    note(pPass, KIND_END, pPass->ulEndLine, "line %u: an end record before the end: "
         "the loader reads on", pPass->ulEndLine);
  pPass->ulEndLine = 0;
  // An editor that saved the file as UTF-8 may have put a byte order mark
  // in front of the first record, where the loader reads its count.
  if (nKind == HEX_NOT_HEX && ulLine == 1 && nLength >= 3 &&
      memcmp(pLine, "\xEF\xBB\xBF", 3) == 0)
    record.pszProblem = "it begins with a UTF-8 byte order mark (EF BB BF)";
  if (nKind == HEX_NOT_HEX) {
    note(pPass, KIND_MALFORMED, ulLine, "line %u: %s: the loader refuses the file",
         ulLine, record.pszProblem);
    char szWhy[REFUSAL_SIZE];
    snprintf(szWhy, sizeof(szWhy), "not Intel Hex format (%s)", record.pszProblem);
    refuse(pPass, szWhy);
    return;
  }
  if (record.bEnd) pPass->bEndSeen = 1;
  if (pPass->bReport) checkRecordText(pPass, pLine, nLength, &record);
  switch (nKind) {
    case HEX_IGNORED:
      if (record.bEnd)
        pPass->ulEndLine = ulLine;
      else if (pLine[7] == '0' && (record.cType == '3' || record.cType == '5'))
        note(pPass, KIND_START_RECORD, ulLine, "line %u: a start address record "
             "(0%c), which the loader ignores", ulLine, record.cType);
      else
        note(pPass, KIND_IGNORED, ulLine, "line %u: record type %c%c, which the "
             "loader ignores", ulLine, pLine[7], record.cType);
      break;
    case HEX_LINEAR_ZERO:
      note(pPass, KIND_LINEAR_ZERO, ulLine, "line %u: an extended linear address of "
           "0, which the loader ignores", ulLine);
      break;
    case HEX_LINEAR_REFUSED:
      note(pPass, KIND_LINEAR, ulLine, "line %u: an extended linear address other "
           "than 0: the loader refuses the file (only segment records reach above "
           "64 KiB)", ulLine);
      refuse(pPass, "not Intel Hex format (an extended linear address)");
      break;
    case HEX_SEGMENT:
      pPass->ulSegmentBase = record.ulSegmentBase;
      break;
    case HEX_DATA:
      storeData(pPass, &record);
      break;
    default:
      break;
  }
}

int runHexPass(const char *pszPath, HexPass *pPass) {
  s_pszPath = pszPath;
  HexSummary *pSummary = pPass->pSummary;
  HexLineReader reader;
  FILE *pFile = openHexLines(pszPath, &reader);
  if (pFile == NULL) return 0;
  char szLine[HEX_LINE_SIZE];
  int nLength;
  for (;;) {
    HexLineResult result = readHexLine(&reader, szLine, &nLength);
    if (result == HEX_LINE_END) break;
    if (result == HEX_LINE_READ_ERROR) {
      fclose(pFile);
      return 0;
    }
    if (result == HEX_LINE_TOO_BIG) {
      pPass->ulLine++;  // where the reading stops
      note(pPass, KIND_MALFORMED, pPass->ulLine, "line %u lies beyond the first "
           "%lu MiB, more than any sound image takes: the loader refuses the file",
           pPass->ulLine, HEX_FILE_LIMIT >> 20);
      refuse(pPass, "too large for an Intel Hex image");
      pPass->ulLine--;
      break;
    }
    pPass->ulLine++;
    if (result == HEX_LINE_TOO_LONG) {
      note(pPass, KIND_MALFORMED, pPass->ulLine, "line %u is longer than the 254 "
           "characters the loader reads: it refuses the file", pPass->ulLine);
      refuse(pPass, "not Intel Hex format (a line too long)");
      continue;
    }
    passLine(pPass, szLine, nLength);
  }
  fclose(pFile);
  if (!pPass->bEndSeen && pSummary->ulRefusedLine == 0) {
    // The loader refuses such a file when it reaches the end.
    pPass->ulLine++;
    note(pPass, KIND_MALFORMED, pPass->ulLine, "line %u: the file ends without an "
         "end record (01), as one cut short does: the loader refuses it",
         pPass->ulLine);
    refuse(pPass, "not Intel Hex format (no end record)");
    pPass->ulLine--;
  }
  return 1;
}

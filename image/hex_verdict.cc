// SPDX-License-Identifier: Apache-2.0
// The verdict on an Intel HEX file (see hex_verdict.h).  Only data records
// (type digit "0") and extended segment address records ("2") are applied;
// every field is read at its fixed position of the line.  The start code
// is not examined and the checksum is not verified, but every record must
// be whole: a count, address, type or data field that is not hexadecimal
// or is cut short is refused in any record type, and so is a line with
// anything but blanks behind its checksum, a line longer than the line
// buffer, a file without an end record (type 01) and one larger than any
// sound image.  Blank lines are skipped; records after an end record load
// too.  Segment and linear address records must carry two bytes.  An
// extended linear address record ("4") is ignored while it holds 0000; any
// other value would move the following data above 64 KiB, which only
// segment records can express here, so such a record is refused rather
// than letting the data land at the bottom of the image.
#include "image/hex_verdict.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "base/console.h"
#include "image/image_store.h"
#include "image/input_file.h"

// The next block of the file, or of the bytes in memory (where they are).
static long fillBlock(HexLineReader *pReader) {
  if (pReader->pFile != NULL) {
    pReader->pbBlock = pReader->abBlock;
    return readInputFile(pReader->pFile, pReader->abBlock, sizeof(pReader->abBlock),
                         pReader->pszPath);
  }
  uint32_t ulTake = std::min(pReader->ulMemory, (uint32_t)sizeof(pReader->abBlock));
  pReader->pbBlock = pReader->pbMemory;
  pReader->pbMemory += ulTake;
  pReader->ulMemory -= ulTake;
  return (long)ulTake;
}

// Reads one line without its line feed into pLine (which holds
// HEX_LINE_SIZE characters).  A line must fit the line buffer as one
// buffered read of a text line takes it: at most HEX_LINE_SIZE - 1
// characters, its line feed counted.  A line found too long is reported at
// once; the rest of it is passed over by the next call, and no call reads
// beyond HEX_FILE_LIMIT bytes of the file.
HexLineResult readHexLine(HexLineReader *pReader, char *pLine, int *pnLength) {
  int n = 0;
  *pnLength = 0;
  for (;;) {
    if (pReader->ulTotal > HEX_FILE_LIMIT) return HEX_LINE_TOO_BIG;
    if (pReader->nPos == pReader->nFill) {
      long nRead = fillBlock(pReader);
      if (nRead < 0) return HEX_LINE_READ_ERROR;
      pReader->nPos = 0;
      pReader->nFill = (int)nRead;
      pReader->ulTotal += (uint32_t)nRead;
      if (pReader->ulTotal > HEX_FILE_LIMIT) return HEX_LINE_TOO_BIG;
      if (nRead == 0) {  // end of the file
        *pnLength = n;
        if (pReader->bSkipping || n == 0) return HEX_LINE_END;
        return n > HEX_LINE_SIZE - 1 ? HEX_LINE_TOO_LONG : HEX_LINE_OK;
      }
    }
    const unsigned char *pStart = pReader->pbBlock + pReader->nPos;
    int nAvailable = pReader->nFill - pReader->nPos;
    const unsigned char *pFeed =
        (const unsigned char *)memchr(pStart, '\n', (size_t)nAvailable);
    int nTake = pFeed != NULL ? (int)(pFeed - pStart) : nAvailable;
    if (pReader->bSkipping) {
      pReader->nPos += nTake;
      if (pFeed != NULL) {
        pReader->nPos++;
        pReader->bSkipping = false;
      }
      continue;
    }
    int nCopy = std::min(nTake, HEX_LINE_SIZE - n);
    memcpy(pLine + n, pStart, (size_t)nCopy);
    n += nCopy;
    pReader->nPos += nCopy;
    *pnLength = n;
    if (nCopy < nTake) {  // more than the buffer holds, whatever follows
      pReader->bSkipping = true;
      return HEX_LINE_TOO_LONG;
    }
    if (pFeed != NULL) {
      pReader->nPos++;
      return n > HEX_LINE_SIZE - 2 ? HEX_LINE_TOO_LONG : HEX_LINE_OK;
    }
  }
}

void startHexLines(HexLineReader *pReader, FILE *pFile, const char *pszPath) {
  pReader->pFile = pFile;
  pReader->pszPath = pszPath;
  pReader->pbMemory = NULL;
  pReader->ulMemory = 0;
  pReader->nPos = pReader->nFill = 0;
  pReader->bSkipping = false;
  pReader->ulTotal = 0;
  pReader->pbBlock = pReader->abBlock;
}

void startHexLinesInMemory(HexLineReader *pReader, const uint8_t *pb, uint32_t ulSize) {
  startHexLines(pReader, NULL, "");
  pReader->pbMemory = pb;
  pReader->ulMemory = ulSize;
}

// Values of the hexadecimal digits; -1 for every other character.
struct HexDigits {
  signed char ac[256];
  constexpr HexDigits() : ac() {
    for (int c = 0; c < 256; c++)
      ac[c] = (signed char)(c >= '0' && c <= '9'   ? c - '0'
                            : c >= 'a' && c <= 'f' ? c - 'a' + 10
                            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                   : -1);
  }
};
static constexpr HexDigits s_hexDigits;

int hexDigitValue(char c) { return s_hexDigits.ac[(unsigned char)c]; }

// The nDigits characters at pText as a hexadecimal number (wrapping in 32
// bits); false when one of them is not a hexadecimal digit.
static bool readHex(const char *pText, int nDigits, uint32_t *pulValue) {
  uint32_t ulValue = 0;
  for (int i = 0; i < nDigits; i++) {
    int d = hexDigitValue(pText[i]);
    if (d < 0) return false;
    ulValue = (ulValue << 4) | (uint32_t)d;
  }
  *pulValue = ulValue;
  return true;
}

// Blanks, a carriage return, and the Ctrl-Z that old DOS tools append.
static bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == HEX_END_OF_FILE_MARK;
}

static bool isBlank(const char *pLine, int nLength) {
  for (int i = 0; i < nLength; i++)
    if (!isSpace(pLine[i])) return false;
  return true;
}

static HexLineKind notHex(HexRecord *pRecord, const char *pszProblem) {
  pRecord->pszProblem = pszProblem;
  return HEX_NOT_HEX;
}

// The checksum behind the data, against the one the record's bytes give.
static void judgeChecksum(const char *pLine, int nLength, HexRecord *pRecord) {
  uint32_t ulSum = pRecord->ulCount + (pRecord->ulField >> 8) + (pRecord->ulField & 0xFF) +
                   pRecord->bType, ulStored;
  for (uint32_t i = 0; i < pRecord->ulCount; i++) ulSum += pRecord->abData[i];
  pRecord->bWantedSum = (uint8_t)(0x100 - (ulSum & 0xFF));
  int nAt = HEX_DATA_POS + 2 * (int)pRecord->ulCount;
  if (nLength < nAt + 2 || !readHex(pLine + nAt, 2, &ulStored)) {
    pRecord->nChecksum = nLength > nAt && !isSpace(pLine[nAt]) ? HEX_SUM_NOT_HEX : HEX_SUM_MISSING;
    return;
  }
  pRecord->bStoredSum = (uint8_t)ulStored;
  pRecord->nChecksum = pRecord->bStoredSum == pRecord->bWantedSum ? HEX_SUM_HOLDS : HEX_SUM_WRONG;
}

HexLineKind decodeHexLine(const char *pLine, int nLength, HexRecord *pRecord) {
  memset(pRecord, 0, sizeof(*pRecord));
  if (isBlank(pLine, nLength)) return HEX_BLANK;
  pRecord->bStartCode = pLine[0] == ':';
  if (nLength <= HEX_TYPE_POS) return notHex(pRecord, "line too short");
  if (!readHex(pLine + 1, 2, &pRecord->ulCount) ||
      !readHex(pLine + 3, 4, &pRecord->ulField))
    return notHex(pRecord, "count or address not hexadecimal");
  if (pRecord->ulCount > HEX_MAX_COUNT)
    return notHex(pRecord, "byte count above 32");
  pRecord->cType = pLine[HEX_TYPE_POS];
  uint32_t ulType;
  if (!readHex(pLine + HEX_TYPE_POS - 1, 2, &ulType))
    return notHex(pRecord, "record type not hexadecimal");
  pRecord->bType = (uint8_t)ulType;
  // Whatever follows the checksum must be the line's end: a record there
  // would otherwise be lost without a word.
  int nDigits = 2 * (int)pRecord->ulCount;
  for (int i = HEX_DATA_POS + nDigits + 2; i < nLength; i++)
    if (!isSpace(pLine[i]))
      return notHex(pRecord, "characters after the checksum");
  // Every record holds its count of data bytes, whatever its type.
  if (nLength < HEX_DATA_POS + nDigits)
    return notHex(pRecord, "line too short for its byte count");
  bool bZero = true;
  for (uint32_t i = 0; i < pRecord->ulCount; i++) {
    uint32_t ulByte;
    if (!readHex(pLine + HEX_DATA_POS + 2 * i, 2, &ulByte))
      return notHex(pRecord, "data not hexadecimal");
    pRecord->abData[i] = (uint8_t)ulByte;
    if (ulByte != 0) bZero = false;
  }
  judgeChecksum(pLine, nLength, pRecord);
  char cType = pRecord->cType;
  pRecord->bEnd = pLine[HEX_TYPE_POS - 1] == '0' && cType == '1';
  if (cType == '2') {
    if (pRecord->ulCount != 2) return notHex(pRecord, "a segment record not of 2 bytes");
    pRecord->ulSegmentBase = ((uint32_t)pRecord->abData[0] << 12) |
                             ((uint32_t)pRecord->abData[1] << 4);
    return HEX_SEGMENT;
  }
  if (cType == '4') {
    if (pRecord->ulCount != 2) return notHex(pRecord, "a linear address record not of 2 bytes");
    return bZero ? HEX_LINEAR_ZERO : HEX_LINEAR_REFUSED;
  }
  if (cType == '0') return HEX_DATA;
  return HEX_IGNORED;
}

HexWindow hexAddressWindow(uint32_t ulAddress) {
  if (ulAddress < CODE_WINDOW_END) return HEX_WINDOW_CODE;
  if (ulAddress >= IDATA_LOAD_START && ulAddress < IDATA_END)
    return HEX_WINDOW_IDATA;
  return HEX_WINDOW_NONE;
}

void startHexVerdict(HexVerdict *pVerdict) {
  memset(pVerdict, 0, sizeof(*pVerdict));
  nMaxHexAddress = 0;
  nMinHexAddress = IMAGE_SIZE;
  memset(g_abImage, 0, sizeof(g_abImage));
  memset(g_abIdata, 0, sizeof(g_abIdata));
}

void startHexLookup(HexVerdict *pVerdict) {
  memset(pVerdict, 0, sizeof(*pVerdict));
  pVerdict->bStoresNothing = true;
}

static void refuse(HexVerdict *pVerdict, int nRefusal, const char *pszProblem) {
  pVerdict->bLineRefused = true;
  if (pVerdict->nRefusal != HEX_ACCEPTED) return;
  pVerdict->nRefusal = nRefusal;
  pVerdict->ulRefusedLine = pVerdict->ulLine;
  pVerdict->pszProblem = pszProblem;
}

// A data byte at an address outside the windows, after nStored bytes of
// its record were stored.
static void refuseAddress(HexVerdict *pVerdict, uint32_t ulAddress, uint32_t ulStored) {
  pVerdict->ulStored = ulStored;
  if (pVerdict->nRefusal == HEX_ACCEPTED) pVerdict->ulRefusedAddress = ulAddress;
  refuse(pVerdict, HEX_REFUSED_BOUNDS, "an address out of bounds");
}

// Stores the bytes of a data record at its address into the image store
// and widens the code extent; the first address outside the windows
// refuses the file (the bytes before it stay stored).
static void storeData(HexVerdict *pVerdict) {
  const HexRecord *pRecord = &pVerdict->record;
  uint32_t ulAddress = pVerdict->ulAddress, ulCount = pRecord->ulCount;
  pVerdict->ulDataRecords++;
  bool bStore = !pVerdict->bStoresNothing;
  HexWindow nWindow = hexAddressWindow(ulAddress);
  if (nWindow == HEX_WINDOW_NONE) {
    refuseAddress(pVerdict, ulAddress, 0);  // even a record of no bytes
    return;
  }
  bool bCode = nWindow == HEX_WINDOW_CODE;
  if (bCode && bStore) {
    nMaxHexAddress = std::max(nMaxHexAddress, ulAddress + ulCount);
    nMinHexAddress = std::min(nMinHexAddress, ulAddress);
  }
  // The bytes up to the window's end are stored; the address behind either
  // window lies outside both.
  uint32_t ulRoom = (bCode ? CODE_WINDOW_END : IDATA_END) - ulAddress;
  uint32_t ulFit = std::min(ulCount, ulRoom);
  if (bStore)
    memcpy(bCode ? g_abImage + ulAddress : g_abIdata + (ulAddress - IDATA_BASE),
           pRecord->abData, ulFit);
  if (ulFit < ulCount) {
    refuseAddress(pVerdict, ulAddress + ulFit, ulFit);
    return;
  }
  pVerdict->ulStored = ulCount;
}

bool nextHexLine(HexLineReader *pReader, HexVerdict *pVerdict) {
  static char s_szLine[HEX_LINE_SIZE];
  int nLength;
  HexLineResult result = readHexLine(pReader, s_szLine, &nLength);
  pVerdict->nLineResult = result;
  pVerdict->pLine = s_szLine;
  pVerdict->nLength = nLength;
  pVerdict->bLineRefused = false;
  pVerdict->ulStored = 0;
  pVerdict->ulAddress = 0;
  memset(&pVerdict->record, 0, sizeof(pVerdict->record));
  switch (result) {
    case HEX_LINE_END: return false;
    case HEX_LINE_READ_ERROR:
      pVerdict->ulLine++;
      refuse(pVerdict, HEX_REFUSED_READ, "a read failed");
      pVerdict->ulLine--;
      return false;
    case HEX_LINE_TOO_BIG:
      pVerdict->ulLine++;  // where the reading stops
      refuse(pVerdict, HEX_REFUSED_TOO_LARGE, "too large");
      pVerdict->ulLine--;
      return false;
    case HEX_LINE_TOO_LONG:
      pVerdict->ulLine++;
      pVerdict->nKind = HEX_NOT_HEX;
      refuse(pVerdict, HEX_REFUSED_FORMAT, "a line too long");
      return true;
    default: break;
  }
  pVerdict->ulLine++;
  HexRecord *pRecord = &pVerdict->record;
  int nKind = decodeHexLine(s_szLine, nLength, pRecord);
  pVerdict->nKind = nKind;
  if (nKind == HEX_BLANK) {
    pVerdict->ulBlank++;
    return true;
  }
  if (nKind == HEX_NOT_HEX) {
    refuse(pVerdict, HEX_REFUSED_FORMAT, pRecord->pszProblem);
    return true;
  }
  pVerdict->aulTypeCount[std::min((int)pRecord->bType, HEX_TYPE_KINDS - 1)]++;
  if (pRecord->nChecksum == HEX_SUM_WRONG) pVerdict->ulWrongSums++;
  if (pRecord->nChecksum == HEX_SUM_MISSING) pVerdict->ulMissingSums++;
  if (pRecord->bEnd) pVerdict->bEndSeen = true;
  switch (nKind) {
    case HEX_SEGMENT:
      pVerdict->ulSegmentBase = pRecord->ulSegmentBase;
      pVerdict->ulSegmentChanges++;
      break;
    case HEX_LINEAR_REFUSED:
      refuse(pVerdict, HEX_REFUSED_FORMAT, "an extended linear address");
      break;
    case HEX_DATA:
      pVerdict->ulAddress = pRecord->ulField + pVerdict->ulSegmentBase;
      storeData(pVerdict);
      break;
    case HEX_IGNORED:
      if (!pRecord->bEnd) pVerdict->ulIgnored++;
      break;
    default: break;
  }
  return true;
}

void finishHexVerdict(HexVerdict *pVerdict) {
  // A file cut short loses its end record: not a whole image.
  if (!pVerdict->bEndSeen && pVerdict->nRefusal == HEX_ACCEPTED) {
    pVerdict->ulLine++;
    refuse(pVerdict, HEX_REFUSED_FORMAT, "no end record");
    pVerdict->ulLine--;
    pVerdict->bLineRefused = false;
  }
  sealIdataBlock(g_abIdata);
  pVerdict->wIdataCrc = getLe16(g_abIdata);
}

int hexRefusalText(const HexVerdict *pVerdict, const char *pszPath, char *pszText, int nSize) {
  switch (pVerdict->nRefusal) {
    case HEX_REFUSED_FORMAT:
      return formatText(pszText, nSize, "Input file not Intel Hex format:%s", pszPath);
    case HEX_REFUSED_BOUNDS:
      return formatText(pszText, nSize, "Input file address out of bounds:0x%x",
                        pVerdict->ulRefusedAddress);
    case HEX_REFUSED_TOO_LARGE:
      return formatText(pszText, nSize, "Input file too large for an Intel Hex image:%s",
                        pszPath);
    default:  // accepted: no text
      return formatText(pszText, nSize, "%s", "");
  }
}

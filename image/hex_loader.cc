// SPDX-License-Identifier: Apache-2.0
// Intel HEX loader.  Only data records (type digit "0") and extended
// segment address records ("2") are applied; every field is read at its
// fixed position of the line.  The start code is not examined and the
// checksum is not verified.  Blank lines are skipped; a line that is too
// short for its byte count, holds a field that is not hexadecimal, holds
// anything but blanks behind its checksum, or is longer than the line
// buffer is refused, and so is a file without an end record (type 01) or
// one larger than any sound image.  Records after an end record load too.  An extended linear address
// record ("4") is ignored while its value is 0; any other value would move
// the following data above 64 KiB, which only segment records can express
// here, so such a record is refused rather than letting the data land at
// the bottom of the image.
#include "image/hex_loader.h"

#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "image/image_store.h"
#include "image/input_file.h"

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
      long nRead = readInputFile(pReader->pFile, pReader->abBlock,
                                 sizeof(pReader->abBlock), pReader->pszPath);
      if (nRead < 0) return HEX_LINE_READ_ERROR;
      pReader->nPos = 0;
      pReader->nFill = (int)nRead;
      pReader->ulTotal += (uint32_t)nRead;
      if (pReader->ulTotal > HEX_FILE_LIMIT) return HEX_LINE_TOO_BIG;
      if (nRead == 0) {  // end of the file
        *pnLength = n;
        if (pReader->bSkipping || n == 0) {
          pReader->bSkipping = 0;
          return HEX_LINE_END;
        }
        return n > HEX_LINE_SIZE - 1 ? HEX_LINE_TOO_LONG : HEX_LINE_OK;
      }
    }
    const unsigned char *pStart = pReader->abBlock + pReader->nPos;
    int nAvailable = pReader->nFill - pReader->nPos;
    const unsigned char *pFeed =
        (const unsigned char *)memchr(pStart, '\n', (size_t)nAvailable);
    int nTake = pFeed != NULL ? (int)(pFeed - pStart) : nAvailable;
    if (pReader->bSkipping) {
      pReader->nPos += nTake;
      if (pFeed != NULL) {
        pReader->nPos++;
        pReader->bSkipping = 0;
      }
      continue;
    }
    int nCopy = nTake < HEX_LINE_SIZE - n ? nTake : HEX_LINE_SIZE - n;
    memcpy(pLine + n, pStart, (size_t)nCopy);
    n += nCopy;
    pReader->nPos += nCopy;
    *pnLength = n;
    if (nCopy < nTake) {  // more than the buffer holds, whatever follows
      pReader->bSkipping = 1;
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
  pReader->nPos = pReader->nFill = 0;
  pReader->bSkipping = 0;
  pReader->ulTotal = 0;
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
// bits); 0 when one of them is not a hexadecimal digit.
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

HexLineKind decodeHexLine(const char *pLine, int nLength, HexRecord *pRecord) {
  pRecord->ulCount = pRecord->ulField = 0;
  pRecord->cType = 0;
  pRecord->ulSegmentBase = 0;
  pRecord->pszProblem = NULL;
  pRecord->bEnd = 0;
  if (isBlank(pLine, nLength)) return HEX_BLANK;
  if (nLength <= HEX_TYPE_POS) return notHex(pRecord, "line too short");
  if (!readHex(pLine + 1, 2, &pRecord->ulCount) ||
      !readHex(pLine + 3, 4, &pRecord->ulField))
    return notHex(pRecord, "count or address not hexadecimal");
  if (pRecord->ulCount > HEX_MAX_COUNT)
    return notHex(pRecord, "byte count above 32");
  pRecord->cType = pLine[HEX_TYPE_POS];
  char cType = pRecord->cType;
  // Whatever follows the checksum must be the line's end: a record there
  // would otherwise be lost without a word.
  for (int i = HEX_DATA_POS + 2 * (int)pRecord->ulCount + 2; i < nLength; i++)
    if (!isSpace(pLine[i]))
      return notHex(pRecord, "characters after the checksum");
  pRecord->bEnd = pLine[HEX_TYPE_POS - 1] == '0' && cType == '1';
  if (cType != '0' && cType != '2' && cType != '4') return HEX_IGNORED;

  // These record types read 2 x count data characters.
  int nDigits = 2 * (int)pRecord->ulCount;
  if (nLength < HEX_DATA_POS + nDigits)
    return notHex(pRecord, "line too short for its byte count");
  int bZero = 1;
  for (uint32_t i = 0; i < pRecord->ulCount; i++) {
    uint32_t ulByte;
    if (!readHex(pLine + HEX_DATA_POS + 2 * i, 2, &ulByte))
      return notHex(pRecord, "data not hexadecimal");
    pRecord->abData[i] = (uint8_t)ulByte;
    if (ulByte != 0) bZero = 0;
  }
  if (cType == '2') {
    uint32_t ulSegment = 0;
    readHex(pLine + HEX_DATA_POS, nDigits, &ulSegment);
    pRecord->ulSegmentBase = ulSegment << 4;
    return HEX_SEGMENT;
  }
  if (cType == '4') return bZero ? HEX_LINEAR_ZERO : HEX_LINEAR_REFUSED;
  return HEX_DATA;
}

HexWindow hexAddressWindow(uint32_t ulAddress) {
  if (ulAddress < CODE_WINDOW_END) return HEX_WINDOW_CODE;
  if (ulAddress >= IDATA_LOAD_START && ulAddress < IDATA_END)
    return HEX_WINDOW_IDATA;
  return HEX_WINDOW_NONE;
}

int storeHexData(uint32_t ulAddress, const uint8_t *pbData, uint32_t ulCount,
                 uint32_t *pulRefused) {
  if (ulAddress < CODE_WINDOW_END) {
    if (ulAddress + ulCount > nMaxHexAddress)
      nMaxHexAddress = ulAddress + ulCount;
    if (ulAddress < nMinHexAddress) nMinHexAddress = ulAddress;
  } else if (hexAddressWindow(ulAddress) != HEX_WINDOW_IDATA) {
    *pulRefused = ulAddress;
    return 0;
  }
  for (uint32_t i = 0; i < ulCount; i++, ulAddress++) {
    switch (hexAddressWindow(ulAddress)) {
      case HEX_WINDOW_CODE: g_abImage[ulAddress] = pbData[i]; break;
      case HEX_WINDOW_IDATA: g_abIdata[ulAddress - IDATA_BASE] = pbData[i]; break;
      case HEX_WINDOW_NONE: *pulRefused = ulAddress; return 0;
    }
  }
  return 1;
}

void clearHexStore(void) {
  nMaxHexAddress = 0;
  nMinHexAddress = IMAGE_SIZE;
  memset(g_abImage, 0, sizeof(g_abImage));
  memset(g_abIdata, 0, sizeof(g_abIdata));
}

static int notHexFormat(FILE *pFile, const char *pszPath) {
  consolePrintf("Input file not Intel Hex format:%s", pszPath);
  fclose(pFile);
  return 0;
}

static int outOfBounds(FILE *pFile, uint32_t ulAddress) {
  consolePrintf("Input file address out of bounds:0x%x", ulAddress);
  fclose(pFile);
  return 0;
}

static int tooLarge(FILE *pFile, const char *pszPath) {
  consolePrintf("Input file too large for an Intel Hex image:%s", pszPath);
  fclose(pFile);
  return 0;
}

int readHexFile(const char *pszPath) {
  clearHexStore();
  uint32_t ulSegmentBase = 0;
  int bEndSeen = 0;  // every toolchain ends its file with an end record

  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) {
    consolePrintf("Could not open: %s", pszPath);
    return 0;
  }

  HexLineReader reader;
  startHexLines(&reader, pFile, pszPath);
  char szLine[HEX_LINE_SIZE];
  int nLength;
  HexLineResult result;
  while ((result = readHexLine(&reader, szLine, &nLength)) == HEX_LINE_OK) {
    HexRecord record;
    HexLineKind nKind = decodeHexLine(szLine, nLength, &record);
    if (record.bEnd) bEndSeen = 1;
    switch (nKind) {
      case HEX_BLANK:
      case HEX_IGNORED:
      case HEX_LINEAR_ZERO:
        break;
      case HEX_NOT_HEX:
      case HEX_LINEAR_REFUSED:
        return notHexFormat(pFile, pszPath);
      case HEX_SEGMENT:
        ulSegmentBase = record.ulSegmentBase;
        break;
      case HEX_DATA: {
        uint32_t ulRefused;
        if (!storeHexData(record.ulField + ulSegmentBase, record.abData,
                          record.ulCount, &ulRefused))
          return outOfBounds(pFile, ulRefused);
        break;
      }
    }
  }
  if (result == HEX_LINE_TOO_LONG) return notHexFormat(pFile, pszPath);
  if (result == HEX_LINE_TOO_BIG) return tooLarge(pFile, pszPath);
  if (result == HEX_LINE_READ_ERROR) {
    fclose(pFile);
    return 0;
  }

  // A file cut short loses its end record: not a whole image.
  if (!bEndSeen) return notHexFormat(pFile, pszPath);

  sealIdataBlock(g_abIdata);
  fclose(pFile);
  return 1;
}

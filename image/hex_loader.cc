// Intel HEX loader.  Only data records (type digit "0") and extended
// segment address records ("2") are applied; every field is read at its
// fixed position of the line.  The start code is not examined and the
// checksum is not verified.  Blank lines are skipped; a line that is too
// short for its byte count, holds a field that is not hexadecimal, or is
// longer than the line buffer is refused.  An extended linear address
// record ("4") is ignored while its value is 0; any other value would move
// the following data above 64 KiB, which only segment records can express
// here, so such a record is refused rather than letting the data land at
// the bottom of the image.
#include "image/hex_loader.h"

#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "image/input_file.h"

#define HEX_LINE_SIZE 256      // line buffer, terminator included
#define HEX_MAX_COUNT 32       // the largest byte count accepted
#define HEX_DATA_POS 9         // first data character
#define HEX_TYPE_POS 8         // the record type digit that is read

enum LineResult { LINE_OK, LINE_END, LINE_TOO_LONG, LINE_READ_ERROR };

// The file read in large blocks; characters are taken from the block.
struct HexReader {
  FILE *pFile;
  const char *pszPath;
  int nPos;
  int nFill;
  unsigned char abBlock[16384];
};

// Reads one line without its line feed into pLine (which holds
// HEX_LINE_SIZE characters).  A line must fit the line buffer as one
// buffered read of a text line takes it: at most HEX_LINE_SIZE - 1
// characters, its line feed counted.
static LineResult readLine(HexReader *pReader, char *pLine, int *pnLength) {
  int n = 0;
  int bOver = 0;
  for (;;) {
    if (pReader->nPos == pReader->nFill) {
      long nRead = readInputFile(pReader->pFile, pReader->abBlock,
                                 sizeof(pReader->abBlock), pReader->pszPath);
      if (nRead < 0) return LINE_READ_ERROR;
      pReader->nPos = 0;
      pReader->nFill = (int)nRead;
      if (nRead == 0) {  // end of the file
        *pnLength = n;
        if (n == 0 && !bOver) return LINE_END;
        return bOver || n > HEX_LINE_SIZE - 1 ? LINE_TOO_LONG : LINE_OK;
      }
    }
    const unsigned char *pStart = pReader->abBlock + pReader->nPos;
    int nAvailable = pReader->nFill - pReader->nPos;
    const unsigned char *pFeed =
        (const unsigned char *)memchr(pStart, '\n', (size_t)nAvailable);
    int nTake = pFeed != NULL ? (int)(pFeed - pStart) : nAvailable;
    int nCopy = nTake < HEX_LINE_SIZE - n ? nTake : HEX_LINE_SIZE - n;
    memcpy(pLine + n, pStart, (size_t)nCopy);
    n += nCopy;
    if (nCopy < nTake) bOver = 1;
    pReader->nPos += nTake;
    if (pFeed != NULL) {
      pReader->nPos++;
      *pnLength = n;
      return bOver || n > HEX_LINE_SIZE - 2 ? LINE_TOO_LONG : LINE_OK;
    }
  }
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

static bool isBlank(const char *pLine, int nLength) {
  for (int i = 0; i < nLength; i++)
    if (pLine[i] != ' ' && pLine[i] != '\t' && pLine[i] != '\r') return false;
  return true;
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

int readHexFile(const char *pszPath) {
  nMaxHexAddress = 0;
  nMinHexAddress = IMAGE_SIZE;
  memset(g_abImage, 0, sizeof(g_abImage));
  memset(g_abIdata, 0, sizeof(g_abIdata));
  uint32_t ulSegmentBase = 0;

  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) {
    consolePrintf("Could not open: %s", pszPath);
    return 0;
  }

  HexReader reader;
  reader.pFile = pFile;
  reader.pszPath = pszPath;
  reader.nPos = reader.nFill = 0;
  char szLine[HEX_LINE_SIZE];
  int nLength;
  LineResult result;
  while ((result = readLine(&reader, szLine, &nLength)) == LINE_OK) {
    if (isBlank(szLine, nLength)) continue;
    uint32_t ulCount, ulField;
    if (nLength <= HEX_TYPE_POS || !readHex(szLine + 1, 2, &ulCount) ||
        !readHex(szLine + 3, 4, &ulField))
      return notHexFormat(pFile, pszPath);
    if (ulCount > HEX_MAX_COUNT) return notHexFormat(pFile, pszPath);
    uint32_t ulAddress = ulField + ulSegmentBase;
    char cType = szLine[HEX_TYPE_POS];
    if (cType != '0' && cType != '2' && cType != '4') continue;

    // These record types read 2 x count data characters.
    uint8_t abData[HEX_MAX_COUNT];
    int nDigits = 2 * (int)ulCount;
    if (nLength < HEX_DATA_POS + nDigits) return notHexFormat(pFile, pszPath);
    for (uint32_t i = 0; i < ulCount; i++) {
      uint32_t ulByte;
      if (!readHex(szLine + HEX_DATA_POS + 2 * i, 2, &ulByte))
        return notHexFormat(pFile, pszPath);
      abData[i] = (uint8_t)ulByte;
    }

    if (cType == '2') {
      uint32_t ulSegment = 0;
      readHex(szLine + HEX_DATA_POS, nDigits, &ulSegment);
      ulSegmentBase = ulSegment << 4;
      continue;
    }
    if (cType == '4') {
      for (uint32_t i = 0; i < ulCount; i++)
        if (abData[i] != 0) return notHexFormat(pFile, pszPath);
      continue;
    }

    if (ulAddress < CODE_WINDOW_END) {
      if (ulAddress + ulCount > nMaxHexAddress)
        nMaxHexAddress = ulAddress + ulCount;
      if (ulAddress < nMinHexAddress) nMinHexAddress = ulAddress;
    } else if (ulAddress < IDATA_LOAD_START || ulAddress >= IDATA_END) {
      return outOfBounds(pFile, ulAddress);
    }
    for (uint32_t i = 0; i < ulCount; i++, ulAddress++) {
      if (ulAddress < CODE_WINDOW_END)
        g_abImage[ulAddress] = abData[i];
      else if (ulAddress >= IDATA_LOAD_START && ulAddress < IDATA_END)
        g_abIdata[ulAddress - IDATA_BASE] = abData[i];
      else
        return outOfBounds(pFile, ulAddress);
    }
  }
  if (result == LINE_TOO_LONG) return notHexFormat(pFile, pszPath);
  if (result == LINE_READ_ERROR) {
    fclose(pFile);
    return 0;
  }

  uint16_t wCrc = calcCrc16(g_abIdata + IDATA_CRC_START,
                            IDATA_SIZE - IDATA_CRC_START);
  putLe16(g_abIdata, wCrc);
  fclose(pFile);
  return 1;
}

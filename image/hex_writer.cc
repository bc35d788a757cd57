// SPDX-License-Identifier: Apache-2.0
// Intel HEX output of a main-CPU image (see hex_writer.h).
#include "image/hex_writer.h"

#include <algorithm>

#include "image/image_store.h"

#define HEX_RECORD_BYTES 32u
#define SEGMENT_SIZE 0x10000u

// One record: start code, count, address, type, data, checksum, CR LF.
static bool writeRecord(FILE *pFile, uint8_t bType, uint32_t ulField,
                        const uint8_t *pbData, uint32_t ulCount) {
  char szLine[16 + 2 * HEX_RECORD_BYTES];
  uint32_t ulSum = ulCount + (ulField >> 8) + (ulField & 0xFF) + bType;
  int n = snprintf(szLine, sizeof(szLine), ":%02X%04X%02X", (unsigned)ulCount,
                   (unsigned)(ulField & 0xFFFF), bType);
  for (uint32_t i = 0; i < ulCount; i++) {
    n += snprintf(szLine + n, sizeof(szLine) - (size_t)n, "%02X", pbData[i]);
    ulSum += pbData[i];
  }
  n += snprintf(szLine + n, sizeof(szLine) - (size_t)n, "%02X\r\n",
                (unsigned)((0x100 - (ulSum & 0xFF)) & 0xFF));
  return fwrite(szLine, 1, (size_t)n, pFile) == (size_t)n;
}

static bool writeSegment(FILE *pFile, uint32_t ulBase) {
  uint8_t ab[2] = {(uint8_t)(ulBase >> 12), (uint8_t)(ulBase >> 4)};
  return writeRecord(pFile, 2, 0, ab, 2);
}

static bool allZero(const uint8_t *pb, uint32_t ulCount) {
  for (uint32_t i = 0; i < ulCount; i++)
    if (pb[i] != 0) return false;
  return true;
}

// The bytes for device addresses ulFrom to ulEnd - 1 from pbData (which
// holds ulFrom's byte first), ulBase being the segment base in force.
static bool writeRange(FILE *pFile, const uint8_t *pbData, uint32_t ulFrom,
                       uint32_t ulEnd, uint32_t ulBase, bool bKeepLast) {
  for (uint32_t ulAt = ulFrom; ulAt < ulEnd; ulAt += HEX_RECORD_BYTES) {
    uint32_t ulCount = std::min(ulEnd - ulAt, (uint32_t)HEX_RECORD_BYTES);
    const uint8_t *pb = pbData + (ulAt - ulFrom);
    bool bLast = ulAt + ulCount == ulEnd;
    if (allZero(pb, ulCount) && !(bKeepLast && bLast)) continue;
    if (!writeRecord(pFile, 0, ulAt - ulBase, pb, ulCount)) return false;
  }
  return true;
}

bool writeHexImage(FILE *pFile, const uint8_t *pbCode, uint32_t ulLength,
                   const uint8_t *pbIdata) {
  for (uint32_t ulBase = 0; ulBase < ulLength; ulBase += SEGMENT_SIZE) {
    uint32_t ulEnd = std::min(ulLength, ulBase + SEGMENT_SIZE);
    if (!writeSegment(pFile, ulBase) ||
        !writeRange(pFile, pbCode + ulBase, ulBase, ulEnd, ulBase,
                    ulEnd == ulLength))
      return false;
  }
  return writeSegment(pFile, IDATA_BASE) &&
         writeRange(pFile, pbIdata + IDATA_CRC_START, IDATA_LOAD_START,
                    IDATA_END, IDATA_BASE, false) &&
         writeRecord(pFile, 1, 0, NULL, 0);
}

// SPDX-License-Identifier: Apache-2.0
// The JSON string writer (see json.h).
#include "tools/common/json.h"

#include <stdio.h>
#include <string.h>

// The length of the well-formed UTF-8 sequence of two or more bytes at p,
// 0 when there is none.
static int utf8Length(const unsigned char *p) {
  int n = p[0] >= 0xC2 && p[0] <= 0xDF   ? 2
          : p[0] >= 0xE0 && p[0] <= 0xEF ? 3
          : p[0] >= 0xF0 && p[0] <= 0xF4 ? 4
                                         : 0;
  for (int i = 1; i < n; i++)
    if ((p[i] & 0xC0) != 0x80) return 0;
  // Neither overlong forms nor surrogates nor code points above U+10FFFF.
  if (n == 3 && p[0] == 0xE0 && p[1] < 0xA0) return 0;
  if (n == 3 && p[0] == 0xED && p[1] >= 0xA0) return 0;
  if (n == 4 && p[0] == 0xF0 && p[1] < 0x90) return 0;
  if (n == 4 && p[0] == 0xF4 && p[1] >= 0x90) return 0;
  return n;
}

int jsonString(const char *pszText, char *pszOut, int nSize) {
  if (nSize < 3) {
    if (nSize > 0) pszOut[0] = '\0';
    return 0;
  }
  int n = 0;
  pszOut[n++] = '"';
  for (const unsigned char *p = (const unsigned char *)pszText; *p != 0;) {
    char szPiece[8];
    int nPiece, nTake = 1;
    int nSeq = *p >= 0x80 ? utf8Length(p) : 0;
    if (nSeq > 0) {
      memcpy(szPiece, p, (size_t)nSeq);
      nPiece = nTake = nSeq;
    } else if (*p == '"' || *p == '\\') {
      szPiece[0] = '\\';
      szPiece[1] = (char)*p;
      nPiece = 2;
    } else if (*p < 0x20 || *p >= 0x7F) {
      nPiece = snprintf(szPiece, sizeof(szPiece), "\\u%04x", *p);
    } else {
      szPiece[0] = (char)*p;
      nPiece = 1;
    }
    if (n + nPiece + 2 > nSize) break;  // the closing quote and terminator stay
    memcpy(pszOut + n, szPiece, (size_t)nPiece);
    n += nPiece;
    p += nTake;
  }
  pszOut[n++] = '"';
  pszOut[n] = '\0';
  return n;
}

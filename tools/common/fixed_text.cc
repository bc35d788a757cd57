// SPDX-License-Identifier: Apache-2.0
// Texts in fixed buffers: appending, hex digits (see fixed_text.h).
#include "tools/common/fixed_text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

void textAppend(char *pszText, int nSize, const char *pszFormat, ...) {
  size_t n = strlen(pszText);  // below nSize: the text is terminated
  va_list args;
  va_start(args, pszFormat);
  vsnprintf(pszText + n, (size_t)nSize - n, pszFormat, args);
  va_end(args);
}

void hexText(const uint8_t *pbBytes, int nBytes, char *pszHex) {
  static const char s_szDigits[] = "0123456789abcdef";
  for (int i = 0; i < nBytes; i++) {
    pszHex[2 * i] = s_szDigits[pbBytes[i] >> 4];
    pszHex[2 * i + 1] = s_szDigits[pbBytes[i] & 0x0F];
  }
  pszHex[2 * nBytes] = '\0';
}

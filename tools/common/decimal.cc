// SPDX-License-Identifier: Apache-2.0
// The decimal reader (see decimal.h).
#include "tools/common/decimal.h"

#include <string.h>

bool readDecimalSpan(const char *pText, int nLength, uint32_t ulMax, uint32_t *pulValue) {
  if (nLength <= 0) return false;
  uint32_t ulValue = 0;
  for (int i = 0; i < nLength; i++) {
    if (pText[i] < '0' || pText[i] > '9') return false;
    uint32_t ulDigit = (uint32_t)(pText[i] - '0');
    if (ulValue > (ulMax - ulDigit) / 10) return false;
    ulValue = ulValue * 10 + ulDigit;
  }
  *pulValue = ulValue;
  return true;
}

bool readDecimal(const char *pszText, uint32_t ulMax, uint32_t *pulValue) {
  if (pszText == NULL) return false;
  return readDecimalSpan(pszText, (int)strlen(pszText), ulMax, pulValue);
}

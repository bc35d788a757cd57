// SPDX-License-Identifier: Apache-2.0
// Decimal numbers on the companions' command lines and in what they read:
// one reader, that takes digits only and never overflows.
#ifndef ZV_COMMON_DECIMAL_H
#define ZV_COMMON_DECIMAL_H

#include <stdint.h>

// The whole text as a decimal number of at most ulMax: digits only, at
// least one.  True with the value, false for anything else.
bool readDecimal(const char *pszText, uint32_t ulMax, uint32_t *pulValue);

// The same for the nLength characters at pText (not terminated).
bool readDecimalSpan(const char *pText, int nLength, uint32_t ulMax, uint32_t *pulValue);

#endif

// SPDX-License-Identifier: Apache-2.0
// Texts built in fixed buffers piece by piece: one append that always
// leaves a terminated text, cut where the buffer ends, so that callers
// keep no count of their own.
#ifndef ZV_COMMON_TEXT_APPEND_H
#define ZV_COMMON_TEXT_APPEND_H

#include "base/console.h"

// Adds the formatted text to the end of the text in pszText, a buffer of
// nSize bytes; what does not fit is left out.
void textAppend(char *pszText, int nSize, const char *pszFormat, ...) ZV_PRINTF(3, 4);

#endif

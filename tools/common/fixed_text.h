// SPDX-License-Identifier: Apache-2.0
// Texts built in fixed buffers: one append that always leaves a terminated
// text, cut where the buffer ends, so that callers keep no count of their
// own; and bytes (digests, random ids) written as hex digits.
#ifndef ZV_COMMON_TEXT_APPEND_H
#define ZV_COMMON_TEXT_APPEND_H

#include <stdint.h>

#include "base/console.h"

// Adds the formatted text to the end of the text in pszText, a buffer of
// nSize bytes; what does not fit is left out.
void textAppend(char *pszText, int nSize, const char *pszFormat, ...) ZV_PRINTF(3, 4);

// The nBytes bytes as lowercase hex digits into pszHex, which holds
// 2 * nBytes + 1 bytes.
void hexText(const uint8_t *pbBytes, int nBytes, char *pszHex);

#endif

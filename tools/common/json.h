// SPDX-License-Identifier: Apache-2.0
// JSON strings for the companions' reports: one writer for any bytes.
// Quotes, backslashes and control characters are escaped, well-formed
// UTF-8 passes as it is, and every other byte becomes the code point of
// its value (\u00XX), so that the output is valid JSON whatever the input.
#ifndef ZV_COMMON_JSON_H
#define ZV_COMMON_JSON_H

// Room that the JSON string of a text of n bytes can need, quotes and
// terminator included.
#define JSON_STRING_SIZE(n) (6 * (n) + 3)

// Writes the JSON string of pszText, quotes included, into pszOut (nSize
// bytes, at least 3) and returns its length.  A text too long for the room
// is cut before the escape or character that does not fit, never inside
// one, and the string is closed all the same.
int jsonString(const char *pszText, char *pszOut, int nSize);

#endif

// SPDX-License-Identifier: Apache-2.0
// How a dotted IPv4 address is read, the same on every system and in the
// tests' stand-in: platInetAddr of each calls it, so that what a case
// shows of the address the tool accepts is what the tool accepts.
#ifndef ZV_PLATFORM_INET_ADDRESS_H
#define ZV_PLATFORM_INET_ADDRESS_H

#include <stdint.h>

// As inet_addr reads it: one to four numbers, each decimal, octal (a
// leading 0) or hexadecimal (0x), the last filling the bytes left; white
// space ends the text.  The address in network byte order, 0xFFFFFFFF for
// a text it cannot read.
inline uint32_t inetAddressOf(const char *pszText) {
  uint32_t aulPart[4];
  int nParts = 0;
  const char *p = pszText;
  for (;;) {
    int nBase = 10;
    if (*p == '0') nBase = (p[1] == 'x' || p[1] == 'X') ? 16 : 8;
    if (nBase == 16) p += 2;
    uint64_t ullValue = 0;
    int nDigits = 0;
    for (;; p++, nDigits++) {
      int d = *p >= '0' && *p <= '9'   ? *p - '0'
              : *p >= 'a' && *p <= 'f' ? *p - 'a' + 10
              : *p >= 'A' && *p <= 'F' ? *p - 'A' + 10
                                       : 99;
      if (d >= nBase) break;
      ullValue = ullValue * (uint64_t)nBase + (uint64_t)d;
      if (ullValue > 0xFFFFFFFFu) return 0xFFFFFFFFu;
    }
    if (nDigits == 0 && nBase != 8) return 0xFFFFFFFFu;
    if (nParts == 4) return 0xFFFFFFFFu;
    aulPart[nParts++] = (uint32_t)ullValue;
    if (*p != '.') break;
    p++;
  }
  if (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\n') return 0xFFFFFFFFu;
  uint32_t ulHost = aulPart[nParts - 1];
  uint32_t ulRoom = nParts == 1 ? 0xFFFFFFFFu : 0xFFFFFFFFu >> (8 * (nParts - 1));
  if (ulHost > ulRoom) return 0xFFFFFFFFu;
  for (int i = 0; i < nParts - 1; i++) {
    if (aulPart[i] > 255) return 0xFFFFFFFFu;
    ulHost |= aulPart[i] << (24 - 8 * i);
  }
  // Network byte order: the first number in the lowest byte.
  return (ulHost >> 24) | ((ulHost >> 8) & 0xFF00u) | ((ulHost << 8) & 0xFF0000u) | (ulHost << 24);
}

#endif

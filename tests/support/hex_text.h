// Builds Intel HEX records for tests.
#ifndef ZV_HEX_TEXT_H
#define ZV_HEX_TEXT_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// One record line (with its line end) of the given type, address and data.
inline std::string hexRecord(int nType, uint32_t ulAddress,
                             const std::vector<uint8_t> &data,
                             const char *pszEnd = "\n") {
  char sz[16];
  snprintf(sz, sizeof(sz), ":%02X%04X%02X", (unsigned)data.size(),
           (unsigned)(ulAddress & 0xFFFF), (unsigned)nType);
  std::string line = sz;
  unsigned sum = (unsigned)data.size() + (ulAddress & 0xFF) +
                 ((ulAddress >> 8) & 0xFF) + (unsigned)nType;
  for (uint8_t b : data) {
    snprintf(sz, sizeof(sz), "%02X", b);
    line += sz;
    sum += b;
  }
  snprintf(sz, sizeof(sz), "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + sz + pszEnd;
}

inline std::string hexSegment(uint16_t wSegment) {
  return hexRecord(2, 0, {(uint8_t)(wSegment >> 8), (uint8_t)wSegment});
}

inline std::string hexEnd() { return ":00000001FF\n"; }

// Data records covering [ulStart, ulStart + n) with bytes f(address),
// 32 bytes a record, with segment records where the address needs them.
template <typename F>
std::string hexImage(uint32_t ulStart, uint32_t n, F f) {
  std::string text;
  uint32_t ulSegment = 0;
  for (uint32_t a = ulStart; a < ulStart + n;) {
    uint32_t ulCount = 32 - (a % 32);
    if (ulCount > ulStart + n - a) ulCount = ulStart + n - a;
    if ((a >> 16) != ulSegment) {
      ulSegment = a >> 16;
      text += hexSegment((uint16_t)(ulSegment << 12));
    }
    std::vector<uint8_t> data;
    for (uint32_t i = 0; i < ulCount; i++) data.push_back(f(a + i));
    text += hexRecord(0, a, data);
    a += ulCount;
  }
  return text;
}

#endif

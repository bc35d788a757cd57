// CRC-16 check values, as stored in files and packets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/crc16.h"

TEST(Crc16, CheckValues) {
  struct Case {
    std::vector<uint8_t> data;
    uint16_t wExpected;
  } cases[] = {
      {{}, 0x0000},
      {{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x45E2},
      {{'a', 'b', 'c'}, 0x4CF1},
      {{0x00}, 0x84ED},
      {{0xFF}, 0x00FF},
      {std::vector<uint8_t>(0x6F00, 0), 0x37FE},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.wExpected, calcCrc16(c.data.data(), (uint32_t)c.data.size()))
        << "length " << c.data.size();
}

// The same values from the bit-by-bit rule, over lengths and patterns that
// exercise every table entry.
TEST(Crc16, MatchesBitwiseRule) {
  std::vector<uint8_t> data(600);
  for (size_t i = 0; i < data.size(); i++) data[i] = (uint8_t)(i * 37 + 11);
  for (uint32_t n : {1u, 2u, 255u, 256u, 600u}) {
    uint16_t r = 0xFFFF;
    for (uint32_t i = 0; i < n; i++)
      for (int bit = 0; bit < 8; bit++) {
        bool bDiffer = ((r ^ (data[i] >> bit)) & 1) != 0;
        r = (uint16_t)(r >> 1);
        if (bDiffer) r ^= 0x1021;
      }
    r = (uint16_t)~r;
    EXPECT_EQ((uint16_t)((r << 8) | (r >> 8)), calcCrc16(data.data(), n));
  }
}

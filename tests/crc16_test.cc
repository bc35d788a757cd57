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

// Tests of zvdevsim's socket-free logic: the device's answers to requests,
// fault parsing and application.
#include <string.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tools/zvdevsim/device.h"
#include "tools/zvdevsim/faults.h"

namespace {

std::vector<uint8_t> header(uint8_t bCmd, uint8_t bCount, uint8_t bFlags,
                            uint16_t usPage, const char *pszPassword) {
  std::vector<uint8_t> ab(SIM_HEADER_LEN, 0);
  ab[0] = bCmd;
  ab[1] = bCount;
  ab[2] = bFlags;
  ab[3] = (uint8_t)usPage;
  ab[4] = (uint8_t)(usPage >> 8);
  for (int i = 0; i < 16 && pszPassword[i]; i++)
    ab[5 + i] = (uint8_t)pszPassword[i];
  ab[21] = 16;
  return ab;
}

std::vector<uint8_t> dataPacket(uint16_t usPage, uint8_t bCount, uint8_t bFlags,
                                const uint8_t *pSource, size_t nBytes,
                                const char *pszPassword = "secret") {
  std::vector<uint8_t> ab =
      header(SIM_CMD_DATA, bCount, bFlags, usPage, pszPassword);
  ab.insert(ab.end(), pSource, pSource + nBytes);
  return ab;
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override { simInitDevice(&dev, 3, "secret", NULL, 0); }
  SimOutcome send(const std::vector<uint8_t> &ab) {
    SimOutcome out;
    simHandleRequest(&dev, ab.data(), (int)ab.size(), &out);
    return out;
  }
  SimDevice dev;
};

TEST_F(DeviceTest, ModelQueryAnswersTheModel) {
  SimOutcome out = send(header(SIM_CMD_GET_MODEL, 0, 0, 0, "secret"));
  ASSERT_EQ(SIM_KIND_MODEL, out.nKind);
  ASSERT_TRUE(out.bReply);
  const uint8_t abWant[SIM_HEADER_LEN] = {7, 3};
  EXPECT_EQ(0, memcmp(abWant, out.abReply, SIM_HEADER_LEN));
  EXPECT_STREQ("getmodel model 3 ok", out.szLine);
}

TEST_F(DeviceTest, MalformedDatagramsAreIgnored) {
  std::vector<uint8_t> abPages(1032, 0x55);
  struct Case {
    std::vector<uint8_t> ab;
    const char *pszLine;
  } aCases[] = {
      {{}, "ignore empty"},
      {{7, 0, 0}, "ignore short"},
      {header(3, 0, 0, 0, ""), "ignore command"},
      {dataPacket(0, 4, 0, abPages.data(), 1023), "ignore length"},
      {dataPacket(0, 4, 0, abPages.data(), 1032), "ignore length"},  // no 0x80
      {dataPacket(0, 4, 0x81, abPages.data(), 1024), "ignore length"},
      {dataPacket(0, 2, 0, abPages.data(), 256), "ignore length"},
      {dataPacket(0, 0, 0, abPages.data(), 1024), "ignore count"},
      {dataPacket(0, 5, 0, abPages.data(), 1024), "ignore count"},
      {dataPacket(65534, 4, 0, abPages.data(), 1024), "ignore range"},
      {std::vector<uint8_t>(24, 7), "ignore length"},
      {std::vector<uint8_t>(28, 6), "ignore length"},
  };
  for (const Case &c : aCases) {
    SimOutcome out = send(c.ab);
    EXPECT_EQ(SIM_KIND_IGNORED, out.nKind) << c.pszLine;
    EXPECT_FALSE(out.bReply) << c.pszLine;
    EXPECT_STREQ(c.pszLine, out.szLine);
  }
}

// Reassembly and the commit check are exercised end to end: the
// whole-program tests compare every transfer the device stored with the
// update file and read each commit's verdict.

TEST_F(DeviceTest, WrongPasswordIsRefusedAndNothingStored) {
  std::vector<uint8_t> abData(1024, 0xAA);
  const char *apszWrong[] = {"", "secre", "secretX", "Secret"};
  for (const char *pszWrong : apszWrong) {
    SimOutcome out = send(dataPacket(7, 4, 0, abData.data(), 1024, pszWrong));
    EXPECT_STREQ("data first 7 count 4 flags 0x00 len 1047 badpassword",
                 out.szLine);
    const uint8_t abNack[SIM_HEADER_LEN] = {2, 4, 0, 7, 0};
    EXPECT_EQ(0, memcmp(abNack, out.abReply, SIM_HEADER_LEN)) << pszWrong;
  }
  EXPECT_EQ(0, dev.abMemory[7 * 256]);
  // Only the first 16 characters of the set password count.
  simInitDevice(&dev, 3, "secretXXXXXXXXXXtail", NULL, 0);
  SimOutcome out =
      send(dataPacket(7, 4, 0, abData.data(), 1024, "secretXXXXXXXXXX"));
  EXPECT_EQ(SIM_CMD_ACK, out.abReply[0]);
  EXPECT_EQ(0xAA, dev.abMemory[7 * 256]);
}

TEST(FaultTest, ParsesValidAndRejectsInvalid) {
  struct Case {
    const char *pszText;
    int bValid;
    uint32_t ulRequest;
    int nAction;
    uint32_t ulValue;
  } aCases[] = {
      {"1:drop", 1, 1, SIM_FAULT_DROP, 0},
      {"12:nack:6", 1, 12, SIM_FAULT_NACK, 6},
      {"3:len:3000", 1, 3, SIM_FAULT_LEN, 3000},
      {"3:len:65507", 1, 3, SIM_FAULT_LEN, 65507},
      {"4:stray:15", 1, 4, SIM_FAULT_STRAY, 15},
      {"5:delay:100", 1, 5, SIM_FAULT_DELAY, 100},
      {"6:ackmodel:2", 1, 6, SIM_FAULT_ACKMODEL, 2},
      {"7:other", 1, 7, SIM_FAULT_OTHER, 0},
      {"0:drop", 0, 0, 0, 0},
      {"x:drop", 0, 0, 0, 0},
      {"1:drop:2", 0, 0, 0, 0},
      {"1:nack", 0, 0, 0, 0},
      {"1:nack:256", 0, 0, 0, 0},
      {"1:nack:-1", 0, 0, 0, 0},
      {"1:len:65508", 0, 0, 0, 0},
      {"1:explode", 0, 0, 0, 0},
      {"4294967296:drop", 0, 0, 0, 0},
      {"1", 0, 0, 0, 0},
  };
  for (const Case &c : aCases) {
    SimFault fault;
    ASSERT_EQ(c.bValid, simParseFault(c.pszText, &fault)) << c.pszText;
    if (!c.bValid) continue;
    EXPECT_EQ(c.ulRequest, fault.ulRequest) << c.pszText;
    EXPECT_EQ(c.nAction, fault.nAction) << c.pszText;
    EXPECT_EQ(c.ulValue, fault.ulValue) << c.pszText;
  }
}

TEST(FaultTest, FaultsChangeTheDeliveryInOrder) {
  SimOutcome out;
  memset(&out, 0, sizeof(out));
  out.bReply = 1;
  simMakeReply(SIM_CMD_ACK, 1, 0xFFFF, out.abReply);
  SimDelivery d;
  simPlanDelivery({}, 1, &out, &d, NULL);
  const char *apszFaults[] = {"1:wrongpage", "1:nack:6", "1:len:22", "1:dup",
                              "1:other"};
  for (const char *psz : apszFaults) {
    SimFault fault;
    ASSERT_TRUE(simParseFault(psz, &fault));
    simApplyFault(&fault, &d);
  }
  const uint8_t abWant[SIM_HEADER_LEN] = {2, 6, 0, 0, 0};  // page wrapped to 0
  EXPECT_EQ(0, memcmp(abWant, d.abReply, SIM_HEADER_LEN));
  EXPECT_EQ(22, d.nLength);
  EXPECT_EQ(2, d.nCopies);
  EXPECT_TRUE(d.bOther);
  EXPECT_FALSE(d.bDrop);

  SimFault fault;
  ASSERT_TRUE(simParseFault("1:stray:15", &fault));
  simApplyFault(&fault, &d);
  EXPECT_TRUE(d.bDrop);
  EXPECT_EQ(15, d.nStray);
  std::vector<SimDatagram> datagrams = simDeliveryDatagrams(&d, 255);
  ASSERT_EQ(15u, datagrams.size());
  const uint8_t abStrayWant[SIM_HEADER_LEN] = {1, 0, 0, 1, 0};
  EXPECT_EQ(0, memcmp(abStrayWant, datagrams[0].abData, SIM_HEADER_LEN));
}

}  // namespace

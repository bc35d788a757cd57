// The transfer session driven through the scripted platform: every packet
// byte that matters, the reply tables of each phase, the wait rule with its
// resends, and the endings with their statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/settings.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "net/packet.h"
#include "net/transfer.h"
#include "tests/fakes/scripted_platform.h"
#include "tests/support/settings_reset.h"

namespace {

typedef std::vector<uint8_t> Bytes;
const int RETURNED = 1000 + 1;  // outcome offset for a returned result

ScriptStep reply(uint8_t bCommand, uint8_t bValue, uint16_t wPage) {
  ScriptStep step{ScriptStep::DATAGRAM, Bytes(23, 0)};
  step.abData[0] = bCommand;
  step.abData[1] = bValue;
  putLe16(&step.abData[3], wPage);
  return step;
}
ScriptStep ack(uint16_t wPage) { return reply(TFTP_ACK, 0, wPage); }
ScriptStep nack(uint8_t bCode, uint16_t wPage = 0) {
  return reply(TFTP_NACK, bCode, wPage);
}
ScriptStep datagram(size_t n) { return {ScriptStep::DATAGRAM, Bytes(n, 1)}; }
ScriptStep timeout() { return {ScriptStep::TIMEOUT, {}}; }

struct Outcome {
  int nOutcome;  // exit status, or RETURNED + transferFile's result - 1
  std::string output;
  std::vector<Bytes> sent;
};

class Transfer : public testing::Test {
 protected:
  void SetUp() override {
    resetSettings();
    resetScriptedPlatform();
    memset(g_abImage, 0, sizeof(g_abImage));
    memset(g_abIdata, 0, sizeof(g_abIdata));
    for (uint32_t i = 0; i < IMAGE_SIZE; i++) g_abImage[i] = (uint8_t)(i * 7 + (i >> 8));
    for (uint32_t i = 0; i < IDATA_SIZE; i++) g_abIdata[i] = (uint8_t)(i * 3 + 1);
    g_bModel = 2;
    nMinHexAddress = 0;
    nMaxHexAddress = 256;
  }

  Outcome run(int nCode, std::vector<ScriptStep> script) {
    g_fake.script.assign(script.begin(), script.end());
    g_fake.sent.clear();
    PlatAddress dest = {0x0100007F, 69};
    Outcome outcome{0, "", {}};
    testing::internal::CaptureStdout();
    try {
      outcome.nOutcome = RETURNED - 1 + transferFile(3, &dest, nCode);
    } catch (const ProcessExit &e) {
      outcome.nOutcome = e.nStatus;
    }
    outcome.output = testing::internal::GetCapturedStdout();
    outcome.sent = g_fake.sent;
    return outcome;
  }
};

// Replies that take a transfer through from its first data packet.
std::vector<ScriptStep> pageAcks(uint16_t wFirst, uint16_t wEnd) {
  std::vector<ScriptStep> acks;
  for (uint32_t p = wFirst; p < wEnd; p += 4) acks.push_back(ack((uint16_t)p));
  return acks;
}

std::vector<ScriptStep> operator+(std::vector<ScriptStep> a,
                                  const std::vector<ScriptStep> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(Transfer, EncryptedLogoPackets) {
  for (int bAll = 0; bAll <= 1; bAll++) {
    g_bFirstBlockOnly = (uint8_t)!bAll;
    strcpy(g_szPassword, "0123456789abcdefXYZ");
    Outcome o = run(FILE_TYPE_LOGO, pageAcks(1385, 1401) + std::vector<ScriptStep>{ack(0)});
    EXPECT_EQ(RETURNED, o.nOutcome);
    EXPECT_EQ("Sending Code Update pages 1385 to 1388\n"
              "Sending Code Update pages 1389 to 1392\n"
              "Sending Code Update pages 1393 to 1396\n"
              "Sending Code Update pages 1397 to 1400\n"
              "File Transfered\n",
              o.output);
    ASSERT_EQ(5u, o.sent.size());
    for (size_t i = 0; i < 4; i++) {
      const Bytes &p = o.sent[i];
      ASSERT_EQ(i == 0 ? 1055u : 1047u, p.size());
      EXPECT_EQ(TFTP_DATA, p[0]);
      EXPECT_EQ(4, p[1]);
      EXPECT_EQ(i == 0 ? 0x81 : (bAll ? 0x01 : 0x00), p[2]);
      EXPECT_EQ(1385 + 4 * i, getLe16(&p[3]));
      EXPECT_EQ(0, memcmp(&p[5], "0123456789abcdef", 16));
      EXPECT_EQ(16, getLe16(&p[21]));
      // Page p lies at image offset 8 + 256 * (p - first).
      size_t offset = i == 0 ? 0 : 8 + 1024 * i;
      EXPECT_EQ(0, memcmp(&p[23], g_abImage + offset, p.size() - 23)) << i;
    }
    const Bytes &commit = o.sent[4];
    ASSERT_EQ(29u, commit.size());
    EXPECT_EQ(Bytes({6, 11, 1, 0, 0}), Bytes(commit.begin(), commit.begin() + 5));
    EXPECT_EQ(1385, getLe16(&commit[23]));
    EXPECT_EQ(1401, getLe16(&commit[25]));
    // The CRC run starts with the image header and stops 8 bytes short.
    EXPECT_EQ(calcCrc16(g_abImage, 16 * 256), getLe16(&commit[27]));
  }
}

TEST_F(Transfer, MainImagePageCounts) {
  struct Case {
    int bEncrypted;
    uint32_t ulBytes;
    uint16_t wEnd;
  } cases[] = {
      {0, 256 * 5, 5}, {0, 256 * 5 + 1, 6}, {1, 8 + 256 * 5, 5},
      {1, 8 + 256 * 4, 4}, {0, 0x20000, 512}, {1, 8, 0},
  };
  for (const Case &c : cases) {
    g_bEncrypted = c.bEncrypted;
    nMaxHexAddress = c.ulBytes;
    Outcome o = run(FILE_TYPE_MAIN,
                    pageAcks(0, c.wEnd) + std::vector<ScriptStep>{ack(1829), ack(0)});
    SCOPED_TRACE(c.ulBytes);
    ASSERT_EQ(RETURNED, o.nOutcome);
    size_t nPackets = (c.wEnd + 3) / 4;
    ASSERT_EQ(nPackets + 2, o.sent.size());
    if (nPackets > 0) {
      const Bytes &last = o.sent[nPackets - 1];
      EXPECT_EQ(nPackets == 1 && c.bEncrypted ? 1055u : 1047u, last.size());
      EXPECT_EQ(c.wEnd - (nPackets - 1) * 4, last[1]);
    }
    const Bytes &clear = o.sent[nPackets];
    ASSERT_EQ(279u, clear.size());
    EXPECT_EQ(5, clear[0]);
    EXPECT_EQ(1, clear[1]);
    EXPECT_EQ(1829, getLe16(&clear[3]));
    EXPECT_EQ(Bytes(256, 0), Bytes(clear.begin() + 23, clear.end()));
    // With no page sent the clearing keeps the first packet's flags.
    EXPECT_EQ(c.bEncrypted && c.wEnd == 0 ? 0x81 : 0, clear[2]);
    const Bytes &commit = o.sent.back();
    EXPECT_EQ(9, commit[1]);
    EXPECT_EQ(c.bEncrypted ? 1 : 0, commit[2]);
    EXPECT_EQ(c.wEnd, getLe16(&commit[25]));
    EXPECT_EQ(calcCrc16(g_abImage, c.wEnd * 256u), getLe16(&commit[27]));
    EXPECT_NE(std::string::npos, o.output.find("Finishing transfering microcode\nFile Transfered\n"));
  }
}

TEST_F(Transfer, ClearingRepeatsTheLastFlagsWithAllEncrypted) {
  g_bFirstBlockOnly = 0;
  nMaxHexAddress = 8 + 256 * 6;
  Outcome o = run(FILE_TYPE_MAIN, pageAcks(0, 6) + std::vector<ScriptStep>{ack(1829), ack(0)});
  ASSERT_EQ(4u, o.sent.size());
  EXPECT_EQ(0x81, o.sent[0][2]);
  EXPECT_EQ(0x01, o.sent[1][2]);
  EXPECT_EQ(0x01, o.sent[2][2]);  // the clearing
}

TEST_F(Transfer, ModelQueryThenIdata) {
  Outcome o = run(FILE_TYPE_MODEL_QUERY,
                  std::vector<ScriptStep>{reply(TFTP_GET_MODEL, 2, 0)} +
                      pageAcks(1690, 1802) + std::vector<ScriptStep>{ack(0)});
  ASSERT_EQ(RETURNED, o.nOutcome);
  ASSERT_EQ(1u + 28 + 1, o.sent.size());
  EXPECT_EQ(23u, o.sent[0].size());
  EXPECT_EQ(7, o.sent[0][0]);
  EXPECT_EQ(Bytes({0, 0, 0, 0}), Bytes(o.sent[0].begin() + 1, o.sent[0].begin() + 5));
  EXPECT_EQ(0, o.sent[1][2]);  // idata is never marked encrypted
  EXPECT_EQ(1690, getLe16(&o.sent[1][3]));
  EXPECT_EQ(0, memcmp(&o.sent[28][23], g_abIdata + 27 * 1024, 1024));
  const Bytes &commit = o.sent.back();
  EXPECT_EQ(Bytes({6, 11, 0}), Bytes(commit.begin(), commit.begin() + 3));
  EXPECT_EQ(calcCrc16(g_abIdata, 0x7000), getLe16(&commit[27]));
  EXPECT_EQ(0u, o.output.find("Getting quorvaUnit model\nSending Code Update pages 1690 to 1693\n"));
  EXPECT_EQ(std::string::npos, o.output.find("File Transfered"));
}

// One reply in one phase, and what the tool makes of it.
struct ReplyCase {
  const char *pszName;
  ScriptStep step;
  int nOutcome;  // exit status, or RETURNED (completed), USED_UP
  std::string message;
};
const int USED_UP = -99;

// Runs each case after the replies `before`; a case that lets the exchange
// go on is followed by `complete` (for a used-up wait) and `after`.
void checkReplies(int nCode, const std::vector<ScriptStep> &before,
                  const ScriptStep &complete, const std::vector<ScriptStep> &after,
                  const std::vector<ReplyCase> &cases, size_t nSendsBefore) {
  for (const ReplyCase &c : cases) {
    std::vector<ScriptStep> script = before;
    script.push_back(c.step);
    if (c.nOutcome == USED_UP) script.push_back(complete);
    bool bGoesOn = c.nOutcome == USED_UP || c.nOutcome == RETURNED;
    if (bGoesOn) script = script + after;
    g_fake.sent.clear();
    g_fake.script.assign(script.begin(), script.end());
    PlatAddress dest = {0x0100007F, 69};
    int nOutcome;
    testing::internal::CaptureStdout();
    try {
      nOutcome = RETURNED - 1 + transferFile(3, &dest, nCode);
    } catch (const ProcessExit &e) {
      nOutcome = e.nStatus;
    }
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(bGoesOn ? RETURNED : c.nOutcome, nOutcome) << c.pszName;
    EXPECT_NE(std::string::npos, output.find(c.message)) << c.pszName << ": " << output;
    if (bGoesOn) {
      // Every reply was taken, and none of them caused a resend.
      EXPECT_TRUE(g_fake.script.empty()) << c.pszName;
    } else {
      EXPECT_EQ(nSendsBefore + 1, g_fake.sent.size()) << c.pszName;
    }
  }
}

TEST_F(Transfer, ModelQueryReplies) {
  std::vector<ScriptStep> rest = pageAcks(1690, 1802) + std::vector<ScriptStep>{ack(0)};
  std::vector<ReplyCase> cases = {
      {"model reply", reply(7, 2, 0), RETURNED, ""},
      {"ack with model", reply(1, 2, 0), RETURNED, ""},
      {"ack other model", reply(1, 3, 0), USED_UP, ""},
      {"unknown model nack", nack(1), RETURNED, "Updating to an unknown quorvaUnit model\n"},
      {"wrong model", reply(7, 3, 0), 0,
       "Error! Trying to update the microcode using incorrect quorvaUnit model update file\n"},
      {"short", datagram(22), 0, "Wrong receive length from Code Update wanted 23, got 22\n"},
      {"long", datagram(24), 0, "Wrong receive length from Code Update wanted 23, got 24\n"},
      {"password", nack(4), -1, "You entered the wrong Set Password\n"},
      {"bad crc", nack(6), -1, "Received an NACK\n"},
      {"bad version", nack(8), -1, "Received an NACK\n"},
      {"other nack", nack(3), -1, "Received an NACK\n"},
      {"unknown command", reply(5, 2, 0), 0, "Received an unknown packet: 5\n"},
      {"over-long datagram", datagram(2049), -1, "receiveCommand error!\n"},
      {"failed receive", {ScriptStep::RECV_FAILS, {}}, -1, "receiveCommand error!\n"},
      {"failed wait", {ScriptStep::WAIT_FAILS, {}}, -1, "receiveCommand error!\n"},
  };
  checkReplies(FILE_TYPE_MODEL_QUERY, {}, reply(7, 2, 0), rest, cases, 0);
}

TEST_F(Transfer, PageReplies) {
  nMaxHexAddress = 8 + 512;  // two pages, encrypted: one data packet
  std::vector<ScriptStep> rest = {ack(1829), ack(0)};
  std::vector<ReplyCase> cases = {
      {"short", datagram(22), USED_UP, "Wrong receive length from Code Update Packet 0 wanted 23, got 22\n"},
      {"empty", datagram(0), USED_UP, ""},
      {"password", nack(4), -1, "You entered the wrong Set Password\n"},
      {"bad crc", nack(6), 0, "Received bad CRC, exiting\n"},
      {"bad version", nack(8), 0, "Received bad version, exiting\n"},
      {"other nack", nack(1, 7), USED_UP, "Received a NACK from packet 7\n"},
      {"wrong page", ack(1000), USED_UP,
       "Received ACK from wrong packet. Wanted packet 0, got packet 1000\n"},
      {"other command", reply(7, 2, 0), USED_UP,
       "Did not get the correct command expected TFTP_ACK(1), got 7\n"},
      {"receive error", datagram(3000), -1, "receiveCommand error!\n"},
  };
  checkReplies(FILE_TYPE_MAIN, {}, ack(0), rest, cases, 0);
}

TEST_F(Transfer, ClearingAndCommitReplies) {
  nMaxHexAddress = 8 + 512;
  std::vector<ReplyCase> clearing = {
      {"ack any page", ack(5), RETURNED, ""},
      {"nack", nack(6), USED_UP, ""},
      {"other command", reply(9, 0, 1829), USED_UP, ""},
      {"short", datagram(22), -1, "Wrong receive length from Code Update Packet 1829 wanted 23, got 22\n"},
  };
  checkReplies(FILE_TYPE_MAIN, {ack(0)}, ack(1829), {ack(0)}, clearing, 1);
  std::vector<ReplyCase> commit = {
      {"ack", ack(3), RETURNED, "File Transfered\n"},
      {"any command", reply(42, 0, 0), RETURNED, "File Transfered\n"},
      {"bad crc", nack(6), -1, "Received bad CRC, exiting\n"},
      {"other nack", nack(4, 9), USED_UP, "Received a NACK from packet 9\n"},
      {"long", datagram(24), -1, "Wrong receive length from Code Update Packet 0 wanted 23, got 24\n"},
  };
  checkReplies(FILE_TYPE_MAIN, {ack(0), ack(1829)}, ack(0), {}, commit, 2);
}

TEST_F(Transfer, WaitRuleResendsTheSameBytes) {
  g_bEncrypted = 0;
  // 15 stray replies: no "recv timeout", then the same packet again.
  std::vector<ScriptStep> script(15, ack(99));
  // 14 strays and a time-out last: "recv timeout", then the resend.
  script.insert(script.end(), 14, ack(99));
  script.push_back(timeout());
  script.push_back(ack(0));
  script.push_back(ack(1829));
  script.push_back(ack(0));
  Outcome o = run(FILE_TYPE_MAIN, script);
  ASSERT_EQ(RETURNED, o.nOutcome);
  ASSERT_EQ(5u, o.sent.size());
  EXPECT_EQ(o.sent[0], o.sent[1]);
  EXPECT_EQ(o.sent[0], o.sent[2]);
  std::string stray = "Received ACK from wrong packet. Wanted packet 0, got packet 99\n";
  std::string expected = "Sending Code Update pages 0 to 0\n";
  for (int i = 0; i < 15; i++) expected += stray;
  expected += "Sending Code Update pages 0 to 0\n";
  for (int i = 0; i < 14; i++) expected += stray;
  expected += "recv timeout\nSending Code Update pages 0 to 0\n";
  EXPECT_EQ(0u, o.output.find(expected));
}

TEST_F(Transfer, SilentDeviceIsAskedAgainWithoutEnd) {
  std::vector<ScriptStep> script(15 * 4, timeout());
  Outcome o = run(FILE_TYPE_MODEL_QUERY, script);
  EXPECT_EQ(ScriptedPlatform::EXHAUSTED, o.nOutcome);
  EXPECT_EQ(5u, o.sent.size());  // the fifth attempt waits when the script ends
  EXPECT_EQ("Getting quorvaUnit model\nrecv timeout\nrecv timeout\nrecv timeout\nrecv timeout\n",
            o.output);
}

TEST_F(Transfer, SendFailuresAndUnknownCodes) {
  g_fake.nSendsBeforeFailure = 0;
  g_fake.nPendingError = 0;
  Outcome o = run(FILE_TYPE_LOGO, {});
  EXPECT_EQ(RETURNED - 1, o.nOutcome);
  EXPECT_EQ("Sending Code Update pages 1385 to 1388\ntransferFile sendto error\n", o.output);

  resetScriptedPlatform();
  g_fake.nSendsBeforeFailure = 1;
  o = run(FILE_TYPE_MAIN, {ack(0)});
  EXPECT_EQ(RETURNED - 1, o.nOutcome);
  EXPECT_NE(std::string::npos,
            o.output.find("Finishing transfering microcode\nclearing old idata: sendto error\n"));

  for (int nCode : {0, 1, 3, 5, 7, 8, 10}) {
    resetScriptedPlatform();
    o = run(nCode, {});
    EXPECT_EQ(-1, o.nOutcome);
    EXPECT_EQ("Unknown file type\n", o.output);
    EXPECT_TRUE(o.sent.empty());
  }
}

TEST_F(Transfer, PasswordField) {
  struct Case {
    const char *pszPassword;
    Bytes field;
  } cases[] = {
      {"", Bytes(16, 0)},
      {"abc", {'a', 'b', 'c', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"ABCDEFGHIJKLMNOP", Bytes({'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P'})},
  };
  for (const Case &c : cases) {
    resetScriptedPlatform();
    strcpy(g_szPassword, c.pszPassword);
    Outcome o = run(FILE_TYPE_MODEL_QUERY, {timeout()});
    ASSERT_FALSE(o.sent.empty());
    EXPECT_EQ(c.field, Bytes(o.sent[0].begin() + 5, o.sent[0].begin() + 21));
    EXPECT_EQ(0x10, o.sent[0][21]);
    EXPECT_EQ(0x00, o.sent[0][22]);
  }
}

}  // namespace

// Fuzzes the transfer session against a scripted device.  Input layout:
//   byte 0     transfer code: bits 0-2 pick 2, 4, 6, 9, 2, 9, or (6 and 7)
//              bits 3-7 as the code
//   byte 1     bit 0 encrypted files, bit 1 first block only, bit 2 sends
//              fail after byte 3 sends, bits 4-7 the model
//   byte 2     password length, 0 to 32
//   byte 3     sends that succeed when bit 2 of byte 1 is set
//   bytes 4-6  the image length (bounded as the loaders leave it)
//   then reply steps until the input ends, each chosen by a kind byte k:
//     k < 0xC0       a 23-byte reply: command k, then byte 1 and the page
//                    (2 bytes) from the input
//     0xC0 to 0xEF   a datagram of (2 input bytes) mod 2101 bytes, taken
//                    from the input; longer than 2048 bytes fails to receive
//     0xFD           the wait fails; 0xFE the receive fails
//     others         nothing arrives within the wait
// Every datagram sent is checked against the image store: its length, the
// password and constant, each page's bytes at its offset in the source
// block, the flags, the commit's range and CRC, and the order of the
// exchanges (resends repeat the last request byte for byte).
#include <string.h>

#include "app/settings.h"
#include "fuzz/fuzz_support.h"
#include "image/crc16.h"
#include "image/image_store.h"
#include "net/packet.h"
#include "net/receive_channel.h"
#include "net/transfer.h"
#include "tests/fakes/scripted_platform.h"

static uint8_t s_abPattern[IMAGE_SIZE];
static uint8_t s_abImage[IMAGE_SIZE];  // the store as set up for the run
static uint8_t s_abIdata[IDATA_SIZE];
static uint8_t s_abPassword[PASSWORD_FIELD_SIZE];
static const char s_szPasswordText[] = "0123456789abcdefghijklmnopqrstuv";

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  quietStdout();
  uint32_t ulState = 12345;
  for (uint32_t i = 0; i < IMAGE_SIZE; i++) {
    ulState = ulState * 1103515245u + 12345u;
    s_abPattern[i] = (uint8_t)(ulState >> 16);
  }
  for (uint32_t i = 0; i < IDATA_SIZE; i++)
    s_abIdata[i] = s_abPattern[IMAGE_SIZE - 1 - i];
  bindReceiveEvent(3);
  return 0;
}

namespace {

struct Input {
  const uint8_t *pb;
  size_t n, pos;
  bool more() const { return pos < n; }
  uint8_t next() { return pos < n ? pb[pos++] : 0; }
};

// What the transfer must send, worked out from the code and the settings.
struct Expected {
  const uint8_t *pbSource;
  uint32_t ulSourceSize;
  uint16_t wFirst, wEnd;
  bool bEncrypted, bClear;
  uint8_t bCommit;
};

// Page ranges and commit codes are the protocol's own numbers, written out
// here rather than taken from the tool's constants.
bool expectedTransfer(int nCode, Expected *pE) {
  bool bEnc = g_bEncrypted != 0;
  switch (nCode) {
    case FILE_TYPE_MAIN: {
      uint32_t ulLength = nMaxHexAddress - (bEnc ? 8 : 0);
      uint16_t wEnd = (uint16_t)((ulLength + 255) / 256);
      *pE = {s_abImage, IMAGE_SIZE, 0, wEnd, bEnc, true, 9};
      return true;
    }
    case FILE_TYPE_LOGO:
      *pE = {s_abImage, IMAGE_SIZE, 1385, 1401, bEnc, false, 11};
      return true;
    case FILE_TYPE_HTML:
      *pE = {s_abImage, IMAGE_SIZE, 0, 845, bEnc, false, 13};
      return true;
    case FILE_TYPE_MODEL_QUERY:
      *pE = {s_abIdata, IDATA_SIZE, 1690, 1802, false, false, 11};
      return true;
    default:
      return false;
  }
}

// The n bytes at pb equal the source from ulOffset, zeros past its end.
bool matchesSource(const Expected &e, const uint8_t *pb, uint32_t ulOffset,
                   uint32_t n) {
  uint32_t ulAvailable = 0;
  if (ulOffset < e.ulSourceSize) ulAvailable = e.ulSourceSize - ulOffset;
  if (ulAvailable > n) ulAvailable = n;
  return memcmp(pb, e.pbSource + ulOffset, ulAvailable) == 0 &&
         allZero(pb + ulAvailable, n - ulAvailable);
}

enum Phase { QUERY, PAGES, CLEAR, COMMIT, DONE };

// Checks every datagram sent; returns the phase reached.
Phase checkSent(const Expected &e, int nCode) {
  Phase phase = nCode == FILE_TYPE_MODEL_QUERY ? QUERY : PAGES;
  uint16_t wNext = e.wFirst;
  if (phase == PAGES && wNext == e.wEnd) phase = e.bClear ? CLEAR : COMMIT;
  uint8_t bLaterFlags = e.bEncrypted ? (g_bFirstBlockOnly ? 0 : 1) : 0;
  uint8_t bFlagsLeft = e.bEncrypted ? 0x81 : 0;  // as the page loop left them
  const Bytes *pPrevious = NULL;
  for (const Bytes &d : g_fake.sent) {
    size_t n = d.size();
    FUZZ_CHECK(n == 23 || n == 29 || n == 279 || n == 1047 || n == 1055);
    FUZZ_CHECK(memcmp(&d[PACKET_PASSWORD], s_abPassword, 16) == 0);
    FUZZ_CHECK(getLe16(&d[PACKET_CONST]) == PACKET_CONST_VALUE);
    if (pPrevious != NULL && d == *pPrevious) continue;  // a resend
    pPrevious = &d;
    uint8_t bCommand = d[0], bCount = d[1], bFlags = d[2];
    uint16_t wPage = getLe16(&d[PACKET_PAGE]);
    const uint8_t *pbData = &d[PACKET_HEADER_SIZE];
    if (phase == QUERY) {
      FUZZ_CHECK(n == 23 && bCommand == TFTP_GET_MODEL);
      phase = PAGES;
    } else if (phase == PAGES) {
      bool bFirst = wPage == e.wFirst;
      bool bHeader = e.bEncrypted && bFirst;
      FUZZ_CHECK(bCommand == TFTP_DATA && wPage == wNext);
      FUZZ_CHECK(bCount == (e.wEnd - wPage < 4 ? e.wEnd - wPage : 4));
      FUZZ_CHECK(n == (bHeader ? 1055u : 1047u));
      FUZZ_CHECK(bFlags == (bHeader ? 0x81 : bLaterFlags));
      uint32_t ulOffset = (e.bEncrypted && !bFirst ? 8 : 0) +
                          256u * (uint32_t)(wPage - e.wFirst);
      FUZZ_CHECK(matchesSource(e, pbData, ulOffset, (uint32_t)n - 23));
      wNext = (uint16_t)(wNext + bCount);
      bFlagsLeft = bLaterFlags;
      if (wNext == e.wEnd) phase = e.bClear ? CLEAR : COMMIT;
    } else if (phase == CLEAR) {
      FUZZ_CHECK(n == 279 && bCommand == TFTP_DATA && bCount == 1);
      FUZZ_CHECK(wPage == IDATA_CLEAR_PAGE && bFlags == bFlagsLeft);
      FUZZ_CHECK(allZero(pbData, 256));
      phase = COMMIT;
    } else if (phase == COMMIT) {
      uint32_t ulCrcLength = 256u * (uint32_t)(e.wEnd - e.wFirst);
      FUZZ_CHECK(ulCrcLength <= e.ulSourceSize);
      FUZZ_CHECK(n == 29 && bCommand == TFTP_COMMIT && bCount == e.bCommit);
      FUZZ_CHECK(wPage == 0 && bFlags == (e.bEncrypted ? 1 : 0));
      FUZZ_CHECK(getLe16(pbData) == e.wFirst && getLe16(pbData + 2) == e.wEnd);
      FUZZ_CHECK(getLe16(pbData + 4) == calcCrc16(e.pbSource, ulCrcLength));
      phase = DONE;
    } else {
      FUZZ_CHECK(!"a request after the commit");
    }
  }
  return phase;
}

void addStep(Input *pIn) {
  uint8_t k = pIn->next();
  ScriptStep step{ScriptStep::TIMEOUT, {}};
  if (k < 0xC0) {
    step.kind = ScriptStep::DATAGRAM;
    step.abData.assign(REPLY_SIZE, 0);
    step.abData[0] = k;
    step.abData[1] = pIn->next();
    step.abData[3] = pIn->next();
    step.abData[4] = pIn->next();
  } else if (k < 0xF0) {
    step.kind = ScriptStep::DATAGRAM;
    size_t nLength = pIn->next();
    nLength = (nLength | (size_t)pIn->next() << 8) % 2101;
    for (size_t i = 0; i < nLength; i++) step.abData.push_back(pIn->next());
  } else if (k == 0xFD) {
    step.kind = ScriptStep::WAIT_FAILS;
  } else if (k == 0xFE) {
    step.kind = ScriptStep::RECV_FAILS;
  }
  g_fake.script.push_back(step);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pbData, size_t nSize) {
  Input in{pbData, nSize, 0};
  uint8_t bCode = in.next();
  static const int s_anCodes[6] = {2, 4, 6, 9, 2, 9};
  int nCode = (bCode & 7) < 6 ? s_anCodes[bCode & 7] : bCode >> 3;
  uint8_t bSettings = in.next();
  g_bEncrypted = bSettings & 1;
  g_bFirstBlockOnly = (bSettings >> 1) & 1;
  g_bModel = bSettings >> 4;
  size_t nPassword = in.next() % 33;
  memset(g_szPassword, 0, sizeof(g_szPassword));
  memcpy(g_szPassword, s_szPasswordText, nPassword);
  memset(s_abPassword, 0, sizeof(s_abPassword));
  memcpy(s_abPassword, s_szPasswordText, nPassword < 16 ? nPassword : 16);
  resetScriptedPlatform();
  uint8_t bSendLimit = in.next();
  if (bSettings & 4) g_fake.nSendsBeforeFailure = bSendLimit;
  uint32_t ulLength = in.next();
  ulLength |= (uint32_t)in.next() << 8;
  ulLength |= (uint32_t)in.next() << 16;

  // The store as the loaders leave it: an encrypted main image holds at
  // least its 8-byte header and fits beside the idata block; a raw one
  // lies in the code window.  Zero past the image.
  nMinHexAddress = 0;
  if (g_bEncrypted)
    nMaxHexAddress = 8 + ulLength % (IMAGE_SIZE - IDATA_SIZE - 8 + 1);
  else
    nMaxHexAddress = 1 + ulLength % CODE_WINDOW_END;
  memcpy(s_abImage, s_abPattern, nMaxHexAddress);
  memset(s_abImage + nMaxHexAddress, 0, IMAGE_SIZE - nMaxHexAddress);
  memcpy(g_abImage, s_abImage, IMAGE_SIZE);
  memcpy(g_abIdata, s_abIdata, IDATA_SIZE);
  while (in.more()) addStep(&in);

  PlatAddress dest = {0x0100007F, 69};
  bool bReturned = false;
  int nResult = 0, nStatus = 0;
  try {
    nResult = transferFile(3, &dest, nCode);
    bReturned = true;
  } catch (const ProcessExit &exit) {
    nStatus = exit.nStatus;
  }

  Expected e;
  if (!expectedTransfer(nCode, &e)) {
    FUZZ_CHECK(!bReturned && nStatus == -1 && g_fake.sent.empty());
    return 0;
  }
  Phase phase = checkSent(e, nCode);
  if (bReturned && nResult == 1) FUZZ_CHECK(phase == DONE);
  if (bReturned && nResult != 1)
    FUZZ_CHECK(nResult == 0 && g_fake.nSendsBeforeFailure == 0);
  if (!bReturned)
    FUZZ_CHECK(nStatus == 0 || nStatus == -1 ||
               nStatus == ScriptedPlatform::EXHAUSTED);
  // The transfer only reads the store.
  FUZZ_CHECK(memcmp(g_abImage, s_abImage, IMAGE_SIZE) == 0);
  FUZZ_CHECK(memcmp(g_abIdata, s_abIdata, IDATA_SIZE) == 0);
  return 0;
}

// SPDX-License-Identifier: Apache-2.0
// zvdevsim's command line: option scan, value checks and the usage text.
#include "tools/zvdevsim/options.h"

#include <stdio.h>
#include <string.h>

#include "image/hex_loader.h"
#include "platform/platform_companions.h"
#include "tools/common/decimal.h"
#include "tools/common/option_scan.h"

const char g_szSimUsage[] =
    "usage: zvdevsim [options]\n"
    "Plays the device's side of the update protocol on UDP, for tests and\n"
    "rehearsals of uploads.\n"
    "  -a ADDR        listen address (default 127.0.0.1)\n"
    "  -p PORT        update port, 1 to 65535 (default 69)\n"
    "  -m N           the device's model, 0 to 255 (default 1)\n"
    "  -P TEXT        the device's set password (default empty; only the\n"
    "                 first 16 characters count); checked on the model\n"
    "                 query and on every page packet (NACK 4)\n"
    "  -K KEY         the key the update files were built with: the device\n"
    "                 then checks every page packet's enciphered flag (0x01:\n"
    "                 the first packet of an encrypted transfer only, every\n"
    "                 one with -EA) and, after deciphering, the image CRC in\n"
    "                 the image header; a commit after a wrong flag or with\n"
    "                 a wrong image CRC is refused with NACK 6, and so is an\n"
    "                 image in the logo pages that does not begin with its\n"
    "                 own length, as every logo image does\n"
    "  -html-not-logo with -K: also refuse (NACK 6) an image in the HTML\n"
    "                 pages that begins with its own length as a logo image\n"
    "                 does, which a genuine HTML page does once in 65,536\n"
    "  -EA            the files were built with -EA (the whole payload\n"
    "                 enciphered); a payload within the first 1032 bytes,\n"
    "                 the same file either way, is taken with either flags\n"
    "  -at N:ACTION   fault on the N-th datagram received (counted from 1,\n"
    "                 resends and invalid datagrams included); repeatable,\n"
    "                 several for one N apply in command-line order:\n"
    "                   drop        no reply\n"
    "                   nack:CODE   the reply becomes a NACK (2) with CODE\n"
    "                   len:K       the reply sent as K bytes, cut or zero\n"
    "                               padded (K up to 65507)\n"
    "                   empty       a 0-byte datagram\n"
    "                   wrongpage   the reply's page + 1\n"
    "                   cmd:C       the reply's command code C\n"
    "                   model:M     byte 1 of the reply (the model) M\n"
    "                   ackmodel:M  the reply becomes an ACK (1) with model M\n"
    "                   stray:K     instead of the reply, K 23-byte ACKs with\n"
    "                               the reply's page + 1 and model + 1\n"
    "                   dup         the reply twice\n"
    "                   delay:MS    the reply after MS milliseconds\n"
    "                   other       the reply from a second socket (another\n"
    "                               source port)\n"
    "                   ackfirst:P  an ACK naming page P goes out at once, ahead\n"
    "                               of the reply and its delay (a late copy\n"
    "                               of an earlier one)\n"
    "                   modelfirst  a model reply goes out so, ahead of it\n"
    "                 A fault on a datagram that gets no reply does nothing.\n"
    "  -dbg TEXT      a debug datagram holding TEXT (repeatable, sent in\n"
    "                 order)\n"
    "  -dbg-hex HEX   a debug datagram of the given bytes (pairs of hex\n"
    "                 digits, e.g. 41004200)\n"
    "  -dbg-to ADDR   where debug datagrams go (default: the address of the\n"
    "                 first request's sender, or 127.0.0.1 with -dbg-start)\n"
    "  -dbg-port P    their port (default 9029)\n"
    "  -dbg-start MS  send them MS ms after start-up instead of when the\n"
    "                 first request arrives (before its reply)\n"
    "  -c N           end after N accepted commits\n"
    "  -t SECONDS     end after that many seconds without a datagram\n"
    "                 (default 10; 0: no limit)\n"
    "  -w MS          answer every request MS milliseconds late (a device\n"
    "                 that writes its flash)\n"
    "  -ack-page P    the ACKs to the old idata clearing and to accepted\n"
    "                 commits name page P, not the request's (0 to 65535)\n"
    "  -dump PREFIX   write the stream of accepted commit n to PREFIX.n.bin\n"
    "  -q             quiet: no request, data and reply lines (for timing)\n"
    "  -h, --help     this text\n"
    "  -V, --version  the version and the build's commit\n"
    "Report on standard output, one line per event, each flushed at once:\n"
    "  listening ADDR:PORT                  bound, ready for requests\n"
    "  request N cmd C len L                datagram N arrived (C: its first\n"
    "                                       byte, \"none\" when empty)\n"
    "  dbg to ADDR:PORT len L               a debug datagram sent\n"
    "  getmodel model M ok|badpassword      model query answered, or NACK 4\n"
    "  data first F count K flags 0xHH len L ok|badpassword\n"
    "                                       pages stored and ACKed, or NACK 4\n"
    "  commit code C first F end E crc 0xHHHH ok|bad WHY [page P]\n"
    "                                       ACK, or NACK 6 when bad: WHY is\n"
    "                                       crc (the commit's CRC-16), code\n"
    "                                       (not 9 for main, 11 for logo and\n"
    "                                       idata, 13 for HTML), flags (page\n"
    "                                       P the first with wrong flags)\n"
    "                                       or image (-K)\n"
    "  ignore REASON                        no reply; REASON is empty, short,\n"
    "                                       length, count, range or command\n"
    "  fault N ACTION                       a fault applied to datagram N\n"
    "  delay MS                             waiting before the reply\n"
    "  reply cmd C code B page P len L [other]\n"
    "                                       a datagram sent (B: byte 1)\n"
    "  stray cmd C code B page P len 23     a stray ACK (or an ackfirst or\n"
    "                                       modelfirst datagram) sent\n"
    "  reply dropped                        the reply not sent\n"
    "  accepted N ok|bad                    commit N counted (see below)\n"
    "  dump FILE [failed]                   its stream written\n"
    "  recvfailed                           a receive failed\n"
    "  end commits N requests R count|idle  the last line\n"
    "The stream of a transfer is the 8 image header bytes when its first data\n"
    "packet carried them, then pages first to end - 1; the commit's CRC-16\n"
    "covers (end - first) * 256 bytes of it.  A commit is accepted when a\n"
    "23-byte reply other than a NACK (no stray) went out for it.\n"
    "Exit status: 0 at the end (-c reached, or -t without -c), 2 when -t\n"
    "ends the run before -c is reached, 1 on a usage or socket error or when\n"
    "the report cannot be written.\n";

static int parseHex(const char *pszText, std::vector<uint8_t> *pBytes) {
  size_t nLength = strlen(pszText);
  if (nLength % 2 != 0 || nLength / 2 > SIM_MAX_DATAGRAM) return 0;
  pBytes->clear();
  for (size_t i = 0; i < nLength; i += 2) {
    int nHigh = hexDigitValue(pszText[i]), nLow = hexDigitValue(pszText[i + 1]);
    if (nHigh < 0 || nLow < 0) return 0;
    pBytes->push_back((uint8_t)(nHigh * 16 + nLow));
  }
  return 1;
}

// A dotted IPv4 address other than 255.255.255.255 (which is also what an
// unreadable text gives).
static int parseAddress(const char *pszText, uint32_t *pulAddr) {
  uint32_t ulAddr = platInetAddr(pszText);
  if (ulAddr == 0xFFFFFFFFu) return 0;
  *pulAddr = ulAddr;
  return 1;
}

enum OptionId {
  OPT_ADDRESS = 1, OPT_PORT, OPT_MODEL, OPT_PASSWORD, OPT_KEY, OPT_ALL_ENCRYPTED,
  OPT_HTML_NOT_LOGO,
  OPT_FAULT, OPT_DEBUG, OPT_DEBUG_HEX, OPT_DEBUG_TO, OPT_DEBUG_PORT,
  OPT_DEBUG_START, OPT_COMMITS, OPT_IDLE, OPT_WAIT, OPT_DUMP, OPT_QUIET, OPT_HELP,
  OPT_VERSION, OPT_ACK_PAGE
};

static const ScanOption s_aOptions[] = {
    {"-a", 1, OPT_ADDRESS},          {"-p", 1, OPT_PORT},
    {"-m", 1, OPT_MODEL},            {"-P", 1, OPT_PASSWORD},
    {"-K", 1, OPT_KEY},              {"-EA", 0, OPT_ALL_ENCRYPTED},
    {"-html-not-logo", 0, OPT_HTML_NOT_LOGO},
    {"-at", 1, OPT_FAULT},           {"-dbg", 1, OPT_DEBUG},
    {"-dbg-hex", 1, OPT_DEBUG_HEX},  {"-dbg-to", 1, OPT_DEBUG_TO},
    {"-dbg-port", 1, OPT_DEBUG_PORT}, {"-dbg-start", 1, OPT_DEBUG_START},
    {"-c", 1, OPT_COMMITS},          {"-t", 1, OPT_IDLE},
    {"-w", 1, OPT_WAIT},             {"-dump", 1, OPT_DUMP},
    {"-ack-page", 1, OPT_ACK_PAGE},
    {"-q", 0, OPT_QUIET},            {"-h", 0, OPT_HELP},
    {"--help", 0, OPT_HELP},         {"-V", 0, OPT_VERSION},
    {"--version", 0, OPT_VERSION},
};

// Applies one option.  Returns 1, or 0 when its value is not valid.
static int applyOption(int id, const char *pszValue, SimOptions *pOpt) {
  uint32_t ulValue = 0;
  switch (id) {
    case OPT_ADDRESS:
      pOpt->pszAddress = pszValue;
      return parseAddress(pszValue, &pOpt->ulAddress);
    case OPT_PORT:
    case OPT_DEBUG_PORT:
      if (!readDecimal(pszValue, 65535, &ulValue) || ulValue == 0) return 0;
      (id == OPT_PORT ? pOpt->usPort : pOpt->usDebugPort) = (uint16_t)ulValue;
      return 1;
    case OPT_MODEL:
      if (!readDecimal(pszValue, 255, &ulValue)) return 0;
      pOpt->bModel = (uint8_t)ulValue;
      return 1;
    case OPT_PASSWORD:
      pOpt->pszPassword = pszValue;
      return 1;
    case OPT_KEY:
      pOpt->pszKey = pszValue;
      return 1;
    case OPT_ALL_ENCRYPTED:
      pOpt->bAllEncrypted = 1;
      return 1;
    case OPT_HTML_NOT_LOGO:
      pOpt->bHtmlNotLogo = 1;
      return 1;
    case OPT_FAULT: {
      SimFault fault;
      if (!simParseFault(pszValue, &fault)) return 0;
      pOpt->faults.push_back(fault);
      return 1;
    }
    case OPT_DEBUG:
    case OPT_DEBUG_HEX: {
      std::vector<uint8_t> abBytes(pszValue, pszValue + strlen(pszValue));
      if (id == OPT_DEBUG_HEX && !parseHex(pszValue, &abBytes)) return 0;
      if (abBytes.size() > SIM_MAX_DATAGRAM) return 0;
      pOpt->debugMessages.push_back(abBytes);
      return 1;
    }
    case OPT_DEBUG_TO:
      pOpt->pszDebugTo = pszValue;
      return parseAddress(pszValue, &pOpt->ulDebugTo);
    case OPT_DEBUG_START:
      if (!readDecimal(pszValue, SIM_MAX_DELAY_MS, &ulValue)) return 0;
      pOpt->nDebugStartMs = (long)ulValue;
      return 1;
    case OPT_COMMITS:
      return readDecimal(pszValue, 1000000, &pOpt->ulCommits);
    case OPT_IDLE:
      return readDecimal(pszValue, 86400, &pOpt->ulIdleSeconds);
    case OPT_WAIT:
      return readDecimal(pszValue, SIM_MAX_DELAY_MS, &pOpt->ulReplyWaitMs);
    case OPT_ACK_PAGE:
      if (!readDecimal(pszValue, 65535, &ulValue)) return 0;
      pOpt->nAckPage = (long)ulValue;
      return 1;
    case OPT_DUMP:
      pOpt->pszDumpPrefix = pszValue;
      return strlen(pszValue) <= SIM_MAX_DUMP_PREFIX;
    case OPT_QUIET:
      pOpt->bQuiet = 1;
      return 1;
    case OPT_HELP:
    case OPT_VERSION:
      return 1;
  }
  return 0;
}

int simParseOptions(int argc, char **argv, SimOptions *pOpt, char *pszError,
                    int nErrorSize) {
  *pOpt = SimOptions();
  pOpt->pszAddress = "127.0.0.1";
  pOpt->ulAddress = platInetAddr(pOpt->pszAddress);
  pOpt->usPort = 69;
  pOpt->bModel = 1;
  pOpt->pszPassword = "";
  pOpt->usDebugPort = SIM_DEBUG_PORT;
  pOpt->nDebugStartMs = -1;
  pOpt->ulIdleSeconds = 10;

  OptionScanner scan;
  startOptionScan(&scan, argc, argv, s_aOptions, (int)(sizeof(s_aOptions) / sizeof(s_aOptions[0])));
  const char *pszOption, *pszValue;
  int nId;
  while ((nId = nextOption(&scan, &pszOption, &pszValue)) != SCAN_END) {
    if (nId == SCAN_NO_VALUE) {
      snprintf(pszError, (size_t)nErrorSize, "missing value for %s", pszOption);
      return 0;
    }
    if (nId < 0) {
      snprintf(pszError, (size_t)nErrorSize, "unknown option: %s", pszOption);
      return 0;
    }
    if (nId == OPT_HELP || (nId == SCAN_OPERAND && platIsHelpSwitch(pszOption)))
      return SIM_OPTIONS_HELP;
    if (nId == OPT_VERSION) return SIM_OPTIONS_VERSION;
    if (!applyOption(nId, pszValue, pOpt)) {
      snprintf(pszError, (size_t)nErrorSize, "bad value for %s: %s", pszOption, pszValue);
      return 0;
    }
  }
  return 1;
}

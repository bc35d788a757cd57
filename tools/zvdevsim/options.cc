// zvdevsim's command line: option scan, value checks and the usage text.
#include "tools/zvdevsim/options.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform.h"

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
    "                 a wrong image CRC is refused with NACK 6\n"
    "  -EA            the files were built with -EA (the whole payload\n"
    "                 enciphered)\n"
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
    "  -dump PREFIX   write the stream of accepted commit n to PREFIX.n.bin\n"
    "  -q             quiet: no request, data and reply lines (for timing)\n"
    "  -h             this text\n"
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
    "  stray cmd 1 code B page P len 23     a stray ACK sent\n"
    "  reply dropped                        the reply not sent\n"
    "  accepted N ok|bad                    commit N counted (see below)\n"
    "  dump FILE [failed]                   its stream written\n"
    "  recvfailed                           a receive failed\n"
    "  end commits N requests R count|idle  the last line\n"
    "The stream of a transfer is the 8 image header bytes when its first data\n"
    "packet carried them, then pages first to end - 1; the commit's CRC-16\n"
    "covers (end - first) * 256 bytes of it.  A commit is accepted when a\n"
    "23-byte datagram other than a NACK went out for it.\n"
    "Exit status: 0 at the end (-c reached, or -t without -c), 2 when -t\n"
    "ends the run before -c is reached, 1 on a usage or socket error.\n";

static int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static int parseHex(const char *pszText, std::vector<uint8_t> *pBytes) {
  size_t nLength = strlen(pszText);
  if (nLength % 2 != 0 || nLength / 2 > SIM_MAX_DATAGRAM) return 0;
  pBytes->clear();
  for (size_t i = 0; i < nLength; i += 2) {
    int nHigh = hexDigit(pszText[i]), nLow = hexDigit(pszText[i + 1]);
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

static int isKnownOption(const char *pszOption) {
  static const char *const s_apszOptions[] = {
      "-a",      "-p",        "-m",         "-P", "-K", "-at", "-dbg", "-dbg-hex",
      "-dbg-to", "-dbg-port", "-dbg-start", "-c", "-t",  "-dump"};
  for (const char *pszKnown : s_apszOptions)
    if (strcmp(pszKnown, pszOption) == 0) return 1;
  return 0;
}

int simParseOptions(int argc, char **argv, SimOptions *pOpt, char *pszError,
                    int nErrorSize) {
  pOpt->pszAddress = "127.0.0.1";
  pOpt->ulAddress = platInetAddr(pOpt->pszAddress);
  pOpt->usPort = 69;
  pOpt->bModel = 1;
  pOpt->pszPassword = "";
  pOpt->pszKey = NULL;
  pOpt->bAllEncrypted = 0;
  pOpt->faults.clear();
  pOpt->debugMessages.clear();
  pOpt->pszDebugTo = NULL;
  pOpt->ulDebugTo = 0;
  pOpt->usDebugPort = SIM_DEBUG_PORT;
  pOpt->nDebugStartMs = -1;
  pOpt->ulCommits = 0;
  pOpt->ulIdleSeconds = 10;
  pOpt->pszDumpPrefix = NULL;
  pOpt->bQuiet = 0;

  for (int i = 0; i < argc; i++) {
    const char *pszOption = argv[i];
    if (strcmp(pszOption, "-h") == 0) return -1;
    if (strcmp(pszOption, "-q") == 0) {
      pOpt->bQuiet = 1;
      continue;
    }
    if (strcmp(pszOption, "-EA") == 0) {
      pOpt->bAllEncrypted = 1;
      continue;
    }
    if (!isKnownOption(pszOption)) {
      snprintf(pszError, (size_t)nErrorSize, "unknown option: %s", pszOption);
      return 0;
    }
    if (i + 1 >= argc) {
      snprintf(pszError, (size_t)nErrorSize, "missing value for %s", pszOption);
      return 0;
    }
    const char *pszValue = argv[++i];
    uint32_t ulValue = 0;
    int bOk = 1;
    if (strcmp(pszOption, "-a") == 0) {
      pOpt->pszAddress = pszValue;
      bOk = parseAddress(pszValue, &pOpt->ulAddress);
    } else if (strcmp(pszOption, "-p") == 0) {
      bOk = simParseNumber(pszValue, 65535, &ulValue) && ulValue != 0;
      pOpt->usPort = (uint16_t)ulValue;
    } else if (strcmp(pszOption, "-m") == 0) {
      bOk = simParseNumber(pszValue, 255, &ulValue);
      pOpt->bModel = (uint8_t)ulValue;
    } else if (strcmp(pszOption, "-P") == 0) {
      pOpt->pszPassword = pszValue;
    } else if (strcmp(pszOption, "-K") == 0) {
      pOpt->pszKey = pszValue;
    } else if (strcmp(pszOption, "-at") == 0) {
      SimFault fault;
      bOk = simParseFault(pszValue, &fault);
      if (bOk) pOpt->faults.push_back(fault);
    } else if (strcmp(pszOption, "-dbg") == 0) {
      std::vector<uint8_t> abText(pszValue, pszValue + strlen(pszValue));
      bOk = abText.size() <= SIM_MAX_DATAGRAM;
      if (bOk) pOpt->debugMessages.push_back(abText);
    } else if (strcmp(pszOption, "-dbg-hex") == 0) {
      std::vector<uint8_t> abBytes;
      bOk = parseHex(pszValue, &abBytes);
      if (bOk) pOpt->debugMessages.push_back(abBytes);
    } else if (strcmp(pszOption, "-dbg-to") == 0) {
      pOpt->pszDebugTo = pszValue;
      bOk = parseAddress(pszValue, &pOpt->ulDebugTo);
    } else if (strcmp(pszOption, "-dbg-port") == 0) {
      bOk = simParseNumber(pszValue, 65535, &ulValue) && ulValue != 0;
      pOpt->usDebugPort = (uint16_t)ulValue;
    } else if (strcmp(pszOption, "-dbg-start") == 0) {
      bOk = simParseNumber(pszValue, SIM_MAX_DELAY_MS, &ulValue);
      pOpt->nDebugStartMs = (long)ulValue;
    } else if (strcmp(pszOption, "-c") == 0) {
      bOk = simParseNumber(pszValue, 1000000, &pOpt->ulCommits);
    } else if (strcmp(pszOption, "-t") == 0) {
      bOk = simParseNumber(pszValue, 86400, &pOpt->ulIdleSeconds);
    } else {  // -dump
      pOpt->pszDumpPrefix = pszValue;
      bOk = strlen(pszValue) <= SIM_MAX_DUMP_PREFIX;
    }
    if (!bOk) {
      snprintf(pszError, (size_t)nErrorSize, "bad value for %s: %s", pszOption,
               pszValue);
      return 0;
    }
  }
  return 1;
}

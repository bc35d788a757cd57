// SPDX-License-Identifier: Apache-2.0
// zvdevsim's command line: its table, and what its options mean.
#include "tools/zvdevsim/options.h"

#include <stdio.h>
#include <string.h>

#include "image/hex_loader.h"
#include "platform/platform.h"

#define STRING_OF(x) #x
#define NUMBER_TEXT(x) STRING_OF(x)

// Pairs of hex digits: an odd last digit meets the NUL, which is no
// digit; the option's table bounds the length to a datagram.
static bool parseHex(const char *pszText, std::vector<uint8_t> *pBytes) {
  pBytes->clear();
  for (size_t i = 0; pszText[i] != '\0'; i += 2) {
    int nHigh = hexDigitValue(pszText[i]), nLow = hexDigitValue(pszText[i + 1]);
    if (nHigh < 0 || nLow < 0) return false;
    pBytes->push_back((uint8_t)(nHigh * 16 + nLow));
  }
  return true;
}

// A dotted IPv4 address other than 255.255.255.255 (which is also what an
// unreadable text gives).
static bool parseAddress(const char *pszText, uint32_t *pulAddr) {
  uint32_t ulAddr = platInetAddr(pszText);
  if (ulAddr == 0xFFFFFFFFu) return false;
  *pulAddr = ulAddr;
  return true;
}

enum OptionId {
  OPT_ADDRESS = 1, OPT_PORT, OPT_MODEL, OPT_PASSWORD, OPT_KEY, OPT_ALL_ENCRYPTED,
  OPT_HTML_NOT_LOGO, OPT_FAULT, OPT_DEBUG, OPT_DEBUG_HEX, OPT_DEBUG_TO, OPT_DEBUG_PORT,
  OPT_DEBUG_START, OPT_COMMITS, OPT_IDLE, OPT_WAIT, OPT_DUMP, OPT_QUIET, OPT_ACK_PAGE, OPT_DEVICES
};

static const CliOption s_aOptions[] = {
    {OPT_ADDRESS, "-a", CLI_TEXT, "ADDR", 0, 0, "127.0.0.1", NULL, "an IPv4 address",
     "listen address"},
    {OPT_DEVICES, "-n", CLI_NUMBER, "N", 1, SIM_MAX_DEVICES, "1", NULL, NULL,
     "serve N devices in one process, on ADDR and the N-1 addresses after it "
     "(127.0.0.255, then 127.0.1.0), each bound to the update port on its own address, "
     "each with its own memory, password check, faults, counts and debug messages; with N "
     "above 1 every report line but the first begins with the device's address and a "
     "space, -dump writes PREFIX.ADDR.n.bin, -c ends each device and the program when all "
     "have ended; a delay holds up every device"},
    {OPT_PORT, "-p", CLI_NUMBER, "PORT", 1, 65535, "69", NULL, NULL, "update port"},
    {OPT_MODEL, "-m", CLI_NUMBER, "N", 0, 255, "1", NULL, NULL, "the device's model"},
    {OPT_PASSWORD, "-P", CLI_TEXT, "TEXT", 0, 0, "", NULL, NULL,
     "the device's set password (only the first 16 characters count); checked on the model "
     "query and on every page packet (NACK 4)"},
    {OPT_KEY, "-K", CLI_TEXT, "KEY", 0, 0, NULL, NULL, NULL,
     "the key the update files were built with: the device then checks every page packet's "
     "enciphered flag (0x01: the first packet of an encrypted transfer only, every one with "
     "-EA) and, after deciphering, the image CRC in the image header; a commit after a wrong "
     "flag or with a wrong image CRC is refused with NACK 6, and so is an image in the logo "
     "pages that does not begin with its own length, as every logo image does, or is text"},
    {OPT_HTML_NOT_LOGO, "-html-not-logo", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL,
     "with -K: also refuse (NACK 6) an image in the HTML pages that is a logo image: it begins "
     "with its own length and is not text (a control byte among its first 8000), as zvinspect "
     "judges"},
    {OPT_ALL_ENCRYPTED, "-EA", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL,
     "the files were built with -EA (the whole payload enciphered); a payload within the first "
     "1032 bytes, the same file either way, is taken with either flags"},
    {OPT_FAULT, "-at", CLI_TEXT, "N:ACTION", 0, 0, NULL, NULL, "N:ACTION",
     "fault on the N-th datagram received (counted from 1, resends and invalid datagrams "
     "included), ACTION one of those below; repeatable, several for one N apply in "
     "command-line order; a fault on a datagram that gets no reply does nothing"},
    {OPT_DEBUG, "-dbg", CLI_TEXT, "TEXT", 0, SIM_MAX_DATAGRAM, NULL, NULL, NULL,
     "a debug datagram holding TEXT (repeatable, sent in order)"},
    {OPT_DEBUG_HEX, "-dbg-hex", CLI_TEXT, "HEX", 0, 2 * SIM_MAX_DATAGRAM, NULL, NULL,
     "pairs of hex digits", "a debug datagram of the given bytes (pairs of hex digits, e.g. "
     "41004200)"},
    {OPT_DEBUG_TO, "-dbg-to", CLI_TEXT, "ADDR", 0, 0, NULL,
     "the address of the first request's sender, or 127.0.0.1 with -dbg-start",
     "an IPv4 address", "where debug datagrams go"},
    {OPT_DEBUG_PORT, "-dbg-port", CLI_NUMBER, "P", 1, 65535, NUMBER_TEXT(SIM_DEBUG_PORT), NULL,
     NULL, "their port"},
    {OPT_DEBUG_START, "-dbg-start", CLI_NUMBER, "MS", 0, SIM_MAX_DELAY_MS, NULL, NULL, NULL,
     "send them MS ms after start-up instead of when the first request arrives (before its "
     "reply)"},
    {OPT_COMMITS, "-c", CLI_NUMBER, "N", 0, 1000000, NULL, NULL, NULL,
     "end after N accepted commits (0: no such end)"},
    {OPT_IDLE, "-t", CLI_NUMBER, "SECONDS", 0, 86400, "10", NULL, "seconds",
     "end after that many seconds without a datagram; 0: no limit"},
    {OPT_WAIT, "-w", CLI_NUMBER, "MS", 0, SIM_MAX_DELAY_MS, NULL, NULL, NULL,
     "answer every request MS milliseconds late (a device that writes its flash)"},
    {OPT_ACK_PAGE, "-ack-page", CLI_NUMBER, "P", 0, 65535, NULL, NULL, NULL,
     "the ACKs to the old idata clearing and to accepted commits name page P, not the "
     "request's"},
    {OPT_DUMP, "-dump", CLI_TEXT, "PREFIX", 0, SIM_MAX_DUMP_PREFIX, NULL, NULL, NULL,
     "write the stream of accepted commit n to PREFIX.n.bin"},
    {OPT_QUIET, "-q", CLI_FLAG, NULL, 0, 0, NULL, NULL, NULL,
     "quiet: no request, data and reply lines (for timing)"},
};

const CliProgram g_simCommandLine = {
    "zvdevsim",
    "[options]",
    NULL,
    NULL,
    "Plays the device's side of the update protocol on UDP, for tests and\n"
    "rehearsals of uploads.\n",
    s_aOptions,
    (int)(sizeof(s_aOptions) / sizeof(s_aOptions[0])),
    "Fault actions (-at N:ACTION):\n"
    "  drop        no reply\n"
    "  nack:CODE   the reply becomes a NACK (2) with CODE\n"
    "  len:K       the reply sent as K bytes, cut or zero padded (K up to 65507)\n"
    "  empty       a 0-byte datagram\n"
    "  wrongpage   the reply's page + 1\n"
    "  cmd:C       the reply's command code C\n"
    "  model:M     byte 1 of the reply (the model) M\n"
    "  ackmodel:M  the reply becomes an ACK (1) with model M\n"
    "  stray:K     instead of the reply, K 23-byte ACKs with the reply's page + 1\n"
    "              and model + 1\n"
    "  dup         the reply twice\n"
    "  delay:MS    the reply after MS milliseconds\n"
    "  other       the reply from a second socket (another source port)\n"
    "  ackfirst:P  an ACK naming page P goes out at once, ahead of the reply and\n"
    "              its delay (a late copy of an earlier one)\n"
    "  modelfirst  a model reply goes out so, ahead of it\n"
    "Report on standard output, one line per event, each flushed at once:\n"
    "  listening ADDR:PORT                  bound, ready for requests (with -n:\n"
    "                                       listening ADDR-LAST:PORT (N devices))\n"
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
    "Exit status: 0 at the end (-c reached, or -t without -c), 1 on a socket\n"
    "error or when the report cannot be written, 2 on a wrong command line, 3\n"
    "when -t ends the run before -c is reached.\n",
    1,
};

// Applies one option.  Returns false when its value is not valid.
static bool applyOption(void *pContext, int id, const char *pszValue, uint32_t ulValue) {
  SimOptions *pOpt = (SimOptions *)pContext;
  switch (id) {
    case OPT_ADDRESS:
      pOpt->pszAddress = pszValue;
      return parseAddress(pszValue, &pOpt->ulAddress);
    case OPT_DEVICES: pOpt->ulDevices = ulValue; return true;
    case OPT_PORT: pOpt->usPort = (uint16_t)ulValue; return true;
    case OPT_DEBUG_PORT: pOpt->usDebugPort = (uint16_t)ulValue; return true;
    case OPT_MODEL: pOpt->bModel = (uint8_t)ulValue; return true;
    case OPT_PASSWORD: pOpt->pszPassword = pszValue; return true;
    case OPT_KEY: pOpt->pszKey = pszValue; return true;
    case OPT_ALL_ENCRYPTED: pOpt->bAllEncrypted = true; return true;
    case OPT_HTML_NOT_LOGO: pOpt->bHtmlNotLogo = true; return true;
    case OPT_FAULT: {
      SimFault fault;
      if (!simParseFault(pszValue, &fault)) return false;
      pOpt->faults.push_back(fault);
      return true;
    }
    case OPT_DEBUG:
    case OPT_DEBUG_HEX: {
      std::vector<uint8_t> abBytes(pszValue, pszValue + strlen(pszValue));
      if (id == OPT_DEBUG_HEX && !parseHex(pszValue, &abBytes)) return false;
      pOpt->debugMessages.push_back(abBytes);
      return true;
    }
    case OPT_DEBUG_TO:
      pOpt->pszDebugTo = pszValue;
      return parseAddress(pszValue, &pOpt->ulDebugTo);
    case OPT_DEBUG_START: pOpt->nDebugStartMs = (long)ulValue; return true;
    case OPT_COMMITS: pOpt->ulCommits = ulValue; return true;
    case OPT_IDLE: pOpt->ulIdleSeconds = ulValue; return true;
    case OPT_WAIT: pOpt->ulReplyWaitMs = ulValue; return true;
    case OPT_ACK_PAGE: pOpt->nAckPage = (long)ulValue; return true;
    case OPT_DUMP: pOpt->pszDumpPrefix = pszValue; return true;
    default: pOpt->bQuiet = true; return true;  // -q
  }
}

int simParseOptions(int argc, char **argv, SimOptions *pOpt) {
  *pOpt = SimOptions();
  pOpt->nDebugStartMs = -1;
  const char *pszOperand = NULL;
  return cliParse(&g_simCommandLine, argc, argv, applyOption, pOpt, &pszOperand);
}

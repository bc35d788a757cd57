// SPDX-License-Identifier: Apache-2.0
// zvinspect's run: tells what an update file or an Intel HEX firmware
// image holds before it reaches a device, and proves an update file
// against its source.  It reads the input, decides which kind it is,
// gathers the facts and prints them; it never touches the network.
#include <stdio.h>
#include <string.h>

#include "app/console.h"
#include "image/hex_loader.h"
#include "image/image_store.h"
#include "image/input_file.h"
#include "image/update_file.h"
#include "platform/platform.h"
#include "tools/common/cli.h"
#include "tools/zvinspect/against.h"
#include "tools/zvinspect/extract.h"
#include "tools/zvinspect/hex_report.h"
#include "tools/zvinspect/options.h"
#include "tools/zvinspect/report.h"
#include "tools/zvinspect/update_report.h"
#include "tools/zvinspect/inspect.h"
#include "tools/zvinspect/plan_report.h"

#define EXIT_FINDING 1
#define INSPECT_PATH_SIZE 512
#define EXIT_TROUBLE 2  // unreadable, unknown, or a wrong command line

// An update file as the reader takes it, and one byte more to tell that a
// file is larger.
static uint8_t s_abInput[UPDATE_FILE_HEADER_SIZE + IMAGE_SIZE + 1];

// Reads the start of the file (all of an update file) and counts the rest,
// up to the size beyond which no input of the tool can be sound (a device
// or a file of gigabytes is not read to its end): *pulSize is then
// INPUT_TOO_LARGE.
#define INPUT_TOO_LARGE 0xFFFFFFFFu
static int readInput(const char *pszPath, uint32_t *pulRead, uint32_t *pulSize) {
  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) return 0;
  long nRead = readInputFile(pFile, s_abInput, sizeof(s_abInput), pszPath);
  uint32_t ulSize = nRead > 0 ? (uint32_t)nRead : 0;
  static uint8_t abMore[16384];
  long nMore = nRead == (long)sizeof(s_abInput) ? 1 : 0;
  while (nMore > 0 && ulSize <= HEX_FILE_LIMIT) {
    nMore = readInputFile(pFile, abMore, sizeof(abMore), pszPath);
    if (nMore > 0) ulSize += (uint32_t)nMore;
  }
  if (ulSize > HEX_FILE_LIMIT) ulSize = INPUT_TOO_LARGE;
  fclose(pFile);
  if (nRead < 0 || nMore < 0) return 0;
  *pulRead = nRead > 0 ? (uint32_t)nRead : 0;
  *pulSize = ulSize;
  return 1;
}

// A HEX image: its first line that is not blank reads as a record, or
// starts with the start code (behind a UTF-8 byte order mark, which the
// report then names).
static int looksLikeHex(const uint8_t *pb, uint32_t ulRead) {
  uint32_t ulAt = 0;
  if (ulRead > 3 && memcmp(pb, "\xEF\xBB\xBF", 3) == 0 && pb[3] == ':') return 1;
  while (ulAt < ulRead) {
    uint32_t ulEnd = ulAt;
    while (ulEnd < ulRead && pb[ulEnd] != '\n') ulEnd++;
    int nLength = ulEnd - ulAt < HEX_LINE_SIZE ? (int)(ulEnd - ulAt) : HEX_LINE_SIZE - 1;
    HexRecord record;
    HexLineKind nKind = decodeHexLine((const char *)pb + ulAt, nLength, &record);
    if (nKind != HEX_BLANK) return pb[ulAt] == ':' || nKind != HEX_NOT_HEX;
    ulAt = ulEnd + 1;
  }
  return 0;
}

// Ends a run that cannot report on its input.
static int trouble(const InspectOptions *pOpt, const char *pszWhat) {
  if (pOpt->bJson) {
    reportStart(pOpt->pszInput, "unreadable");
    reportFact(FACT_FINDING, "input", "%s", pszWhat);
    reportPrint(1, 0);
  } else {
    reportProblem(pOpt->pszInput, pszWhat);
  }
  return EXIT_TROUBLE;
}

static int inspectUpdate(const InspectOptions *pOpt, uint32_t ulSize) {
  reportStart(pOpt->pszInput, "update file");
  // The source first: its image tells which decipherment to try first.
  SourceLoad source;
  if (pOpt->pszAgainst != NULL)
    loadSource(pOpt->pszAgainst, s_abInput[UPDATE_FILE_TYPE_MODEL_AT] & 0x0F, &source);
  const uint8_t *pbSource = pOpt->pszAgainst != NULL && source.nLength > 0 ? g_abImage : NULL;
  UpdateView view;
  int nStatus = 0;
  if (inspectUpdateFile(pOpt, s_abInput, ulSize, pbSource, &view)) {
    reportUploadPlan(&view);
    if (pOpt->bKey && !view.bLayout)
      reportFact(FACT_INFO, "key", "not tried: the payload has no image header and "
                 "whole pages");
    if (pOpt->pszAgainst != NULL && !compareWithSource(pOpt, &view, &source))
      nStatus = EXIT_TROUBLE;
    if (pOpt->pszExtract != NULL && !extractSource(pOpt, &view)) nStatus = EXIT_TROUBLE;
  }
  reportPrint(pOpt->bJson, !pOpt->bJson && colourWanted());
  if (nStatus != 0) return nStatus;
  return reportFindings() > 0 ? EXIT_FINDING : 0;
}

static int inspectHex(const InspectOptions *pOpt) {
  reportStart(pOpt->pszInput, "Intel HEX image");
  HexSummary summary;
  if (!inspectHexFile(pOpt->pszRead, 1, &summary)) return trouble(pOpt, "cannot read it");
  reportPrint(pOpt->bJson, !pOpt->bJson && colourWanted());
  return reportFindings() > 0 ? EXIT_FINDING : 0;
}

// Standard input ("-") is copied into a file of its own first, since the
// report reads its input more than once.  Returns 1 with the copy's path
// in pszPath, 0 when there is none.
static int copyStandardInput(char *pszPath, int nSize) {
  if (!platTempFile(pszPath, nSize)) return 0;
  FILE *pOut = fopen(pszPath, "wb");
  FILE *pIn = platStandardInput();
  static uint8_t abBlock[65536];
  int bOk = pOut != NULL;
  uint32_t ulCopied = 0;
  size_t nRead;
  // No more than a file may hold to be read at all: the rest stays unread.
  while (bOk && ulCopied <= HEX_FILE_LIMIT && (nRead = fread(abBlock, 1, sizeof(abBlock), pIn)) > 0) {
    bOk = fwrite(abBlock, 1, nRead, pOut) == nRead;
    ulCopied += (uint32_t)nRead;
  }
  bOk = bOk && !ferror(pIn);
  if (pOut != NULL) bOk = fclose(pOut) == 0 && bOk;
  if (!bOk) remove(pszPath);
  return bOk;
}

static int inspect(InspectOptions *pOpt) {
  uint32_t ulRead = 0, ulSize = 0;
  if (!readInput(pOpt->pszRead, &ulRead, &ulSize)) return trouble(pOpt, "cannot read it");
  if (ulSize == INPUT_TOO_LARGE)
    return trouble(pOpt, "more than 16 MiB, larger than any update file or HEX image "
                   "that zvloader takes: not read to its end");
  // The magic number decides, as the tool's reader decides: a HEX file
  // whose first bytes happen to fit an update file's header is a HEX file.
  int bHex = looksLikeHex(s_abInput, ulRead);
  if (ulRead > 0 && (s_abInput[0] == UPDATE_FILE_MAGIC ||
                     (!bHex && looksLikeUpdateFile(s_abInput, ulSize))))
    return inspectUpdate(pOpt, ulSize);
  if (!bHex) return trouble(pOpt, "neither an update file nor an Intel HEX image");
  if (pOpt->bKey || pOpt->nModel >= 0 || pOpt->pszAgainst != NULL || pOpt->pszExtract != NULL) {
    errorPrintf("zvinspect: -K, -M, --against and --extract apply to update files\n"
                "%szvinspect -h tells more.\n", g_szInspectSynopsis);
    return EXIT_TROUBLE;
  }
  return inspectHex(pOpt);
}

int runZvinspect(int argc, char **argv) {
  platInitProcess();
  InspectOptions opt;
  char szError[200];
  int nParsed = parseInspectOptions(argc - 1, argv + 1, &opt, szError, sizeof(szError));
  if (nParsed == -1) {
    consolePrintf("%s", g_szInspectUsage);
    return finalStatus(0, EXIT_TROUBLE);
  }
  if (nParsed == -2) {
    printVersion("zvinspect");
    return finalStatus(0, EXIT_TROUBLE);
  }
  if (nParsed == 0) {
    errorPrintf("zvinspect: %s\n%szvinspect -h tells more.\n", szError, g_szInspectSynopsis);
    return EXIT_TROUBLE;
  }
  char szCopy[INSPECT_PATH_SIZE];
  int bCopy = strcmp(opt.pszInput, "-") == 0;
  if (bCopy && !copyStandardInput(szCopy, sizeof(szCopy)))
    return trouble(&opt, "cannot read standard input");
  opt.pszRead = bCopy ? szCopy : opt.pszInput;
  int nStatus = inspect(&opt);
  if (bCopy) remove(szCopy);
  return finalStatus(nStatus, EXIT_TROUBLE);
}

// SPDX-License-Identifier: Apache-2.0
// zvinspect's run: tells what an update file or an Intel HEX firmware
// image holds before it reaches a device, and proves an update file
// against its source.  It reads the input, decides which kind it is,
// gathers the facts and prints them; it never touches the network.
#include <stdio.h>
#include <string.h>

#include "base/console.h"
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
#define EXIT_TROUBLE 2  // unreadable, unknown, or a wrong command line

// The input, read once: all of it up to the size beyond which no input
// of the tool can be sound (a device or a file of gigabytes is not read
// to its end), and one byte more to tell that it is larger.
static uint8_t s_abInput[HEX_FILE_LIMIT + 1];

// The next line that is not blank, read as the loader reads lines (of any
// length, blank ones skipped however many there are): its kind and its
// first character; false when none is left.
static bool nextLine(HexLineReader *pReader, HexLineKind *pnKind, char *pcFirst) {
  static char s_szLine[HEX_LINE_SIZE];
  int nLength;
  for (;;) {
    HexLineResult result = readHexLine(pReader, s_szLine, &nLength);
    if (result != HEX_LINE_OK && result != HEX_LINE_TOO_LONG) return false;
    HexRecord record;
    *pnKind = decodeHexLine(s_szLine, nLength, &record);
    if (*pnKind == HEX_BLANK) continue;
    *pcFirst = s_szLine[0];
    return true;
  }
}

// A HEX image: its first line that is not blank reads as a record, or
// starts with the start code (behind a UTF-8 byte order mark, which the
// report then names); or it lost its start code and the line after it is
// a record.  Every file that the loader takes is one.
static bool looksLikeHex(const uint8_t *pb, uint32_t ulSize) {
  static HexLineReader s_reader;
  HexLineKind nKind;
  char cFirst;
  if (ulSize > 3 && memcmp(pb, "\xEF\xBB\xBF", 3) == 0 && pb[3] == ':') return true;
  startHexLinesInMemory(&s_reader, pb, ulSize);
  if (!nextLine(&s_reader, &nKind, &cFirst)) return false;
  if (cFirst == ':' || nKind != HEX_NOT_HEX) return true;
  return nextLine(&s_reader, &nKind, &cFirst) && cFirst == ':' && nKind != HEX_NOT_HEX;
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
  SourceLoad source = {};  // none: nothing to compare with
  uint8_t bType = typeOfTypeModel(s_abInput[UPDATE_FILE_TYPE_MODEL_AT]);
  if (pOpt->pszAgainst != NULL) loadSource(pOpt->pszAgainst, bType, &source);
  const uint8_t *pbSource = source.nLength > 0 ? g_abImage : NULL;
  const uint8_t *pbIdata = pbSource != NULL && bType == FILE_TYPE_MAIN ? g_abIdata : NULL;
  UpdateView view;
  int nStatus = 0;
  uint32_t ulSource = pbSource != NULL ? (uint32_t)source.nLength : 0;
  if (inspectUpdateFile(pOpt, s_abInput, ulSize, pbSource, ulSource, pbIdata, &view)) {
    reportUploadPlan(&view);
    if (pOpt->bKey && !view.bLayout)
      reportFact(FACT_INFO, "key", "not tried: the payload has no image header and "
                 "whole pages");
    // What the run could not do is no finding of the file's: the verdict
    // line names it, and the status is 2.
    if (pOpt->pszAgainst != NULL && !compareWithSource(pOpt, &view, &source)) {
      reportFailed("the source cannot be read");
      nStatus = EXIT_TROUBLE;
    }
    if (pOpt->pszExtract != NULL && !extractSource(pOpt, &view)) {
      reportFailed("the extraction failed");
      nStatus = EXIT_TROUBLE;
    }
  }
  if (pOpt->pszAgainst != NULL) closeSource(&source);
  reportPrint(pOpt->bJson, !pOpt->bJson && colourWanted());
  if (nStatus != 0) return nStatus;
  return reportFindings() > 0 ? EXIT_FINDING : 0;
}

static int inspectHex(const InspectOptions *pOpt, uint32_t ulSize) {
  reportStart(pOpt->pszInput, "Intel HEX image");
  HexSummary summary;
  inspectHexFile(s_abInput, ulSize, 1, &summary);
  reportPrint(pOpt->bJson, !pOpt->bJson && colourWanted());
  return reportFindings() > 0 ? EXIT_FINDING : 0;
}

static int inspect(InspectOptions *pOpt) {
  uint32_t ulSize = 0;
  int bStandardInput = strcmp(pOpt->pszInput, "-") == 0;
  long nRead = readWholeInput(pOpt->pszInput, s_abInput, sizeof(s_abInput));
  if (nRead < 0)
    return trouble(pOpt, bStandardInput ? "cannot read standard input" : "cannot read it");
  ulSize = (uint32_t)nRead;
  if (ulSize > HEX_FILE_LIMIT)
    return trouble(pOpt, "more than 16 MiB, larger than any update file or HEX image "
                   "that zvloader takes: not read to its end");
  // The magic number decides, as the tool's reader decides: a HEX file
  // whose first bytes happen to fit an update file's header is a HEX file.
  bool bHex = looksLikeHex(s_abInput, ulSize);
  if (ulSize > 0 && (s_abInput[0] == UPDATE_FILE_MAGIC ||
                     (!bHex && looksLikeUpdateFile(s_abInput, ulSize))))
    return inspectUpdate(pOpt, ulSize);
  if (!bHex) return trouble(pOpt, "neither an update file nor an Intel HEX image");
  // --against and --extract come with -K, as the options' check holds.
  if (pOpt->bKey || pOpt->nModel >= 0) {
    return cliUsageError(&g_inspectCommandLine,
                         "-K, -M, --against and --extract apply to update files");
  }
  return inspectHex(pOpt, ulSize);
}

int runZvinspect(int argc, char **argv) {
  platInitProcess();
  InspectOptions opt;
  int nParsed = parseInspectOptions(argc - 1, argv + 1, &opt);
  if (nParsed != CLI_RUN) return nParsed;
  return finalStatus(inspect(&opt), EXIT_TROUBLE);
}

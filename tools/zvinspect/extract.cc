// SPDX-License-Identifier: Apache-2.0
// Extraction (see extract.h).  The image comes from the deciphered payload
// behind its image header, its length from the image header; a logo loses
// the length that the build put in front of it.  The file is written whole
// beside its name and moved over it only then: a failed write leaves what
// was there.  The target is checked by the companions' rule
// (tools/common/output_path.h): neither the input nor the source is ever
// written over, however named, and a link, a directory or a device is
// left alone.  A failure says that the extraction failed: the status is 2.
#include "tools/zvinspect/extract.h"

#include <stdio.h>
#include <string.h>

#include "image/file_type.h"
#include "image/hex_writer.h"
#include "image/image_store.h"
#include "image/output_file.h"
#include "tools/common/output_path.h"
#include "tools/zvinspect/report.h"

static int finish(OutputFile *pOut, int bOk, const char *pszPath) {
  if (!bOk) pOut->bFailed = true;
  if (finishOutputFile(pOut) == OUTPUT_OK) return 1;
  reportFact(FACT_FINDING, "extract", "extraction failed: could not write %s", pszPath);
  return 0;
}

// A build writes zeros behind the image: the bytes that the file holds
// there are not in what was written, and a build from it differs.
static void reportNoRebuild(const UpdateView *pView) {
  if (pView->ulBeyond > 0)
    reportFact(FACT_FINDING, "extract", "it does not rebuild the file: a build writes "
               "zeros where the file holds %u byte%s beyond the image's length",
               pView->ulBeyond, pluralS(pView->ulBeyond));
}

int extractSource(const InspectOptions *pOpt, const UpdateView *pView) {
  const char *pszOut = pOpt->pszExtract;
  uint32_t ulLength = pView->ulImageLength;
  if (!pView->bKnownType || !pView->bLayout || !pView->bDeciphered ||
      (pView->bType == FILE_TYPE_MAIN && (ulLength == 0 || ulLength > CODE_WINDOW_END)) ||
      (pView->bType == FILE_TYPE_LOGO && ulLength < 2)) {
    reportFact(FACT_FINDING, "extract", "nothing written to %s: %s", pszOut,
               !pView->bDeciphered ? "the key does not decipher the file"
                                   : "the file holds no image that a build gives");
    return 1;
  }
  const uint8_t *pbImage = pView->pbPlain + IMAGE_HEADER_SIZE;
  // The companions' rule for what they write: never an input, however
  // named, nor a link, a device or a folder that takes no file.
  outputRuleReset();
  outputRuleReads(pOpt->pszInput, "the file inspected");
  if (pOpt->pszAgainst != NULL) outputRuleReads(pOpt->pszAgainst, "the --against source");
  const char *pszWhy = outputRuleCheck(pszOut, "--extract");
  OutputFile out;
  if (pszWhy == NULL && outputRuleOpen(&out, pszOut) != OUTPUT_OK)
    pszWhy = "it cannot be opened";
  if (pszWhy != NULL) {
    reportFact(FACT_FINDING, "extract", "extraction failed: nothing written to %s: %s", pszOut,
               pszWhy);
    return 0;
  }
  if (pView->bType == FILE_TYPE_MAIN) {
    if (!finish(&out, writeHexImage(out.pFile, pbImage, ulLength, pView->pbIdata), pszOut))
      return 0;
    reportFact(FACT_OK, "extract", "wrote %s: Intel HEX of the %u image bytes and the "
               "idata block", pszOut, ulLength);
    reportNoRebuild(pView);
    return 1;
  }
  uint32_t ulSkip = pView->bType == FILE_TYPE_LOGO ? 2 : 0;
  size_t nBytes = ulLength - ulSkip;
  if (!finish(&out, writeOutputFile(&out, pbImage + ulSkip, nBytes), pszOut)) return 0;
  reportFact(FACT_OK, "extract", "wrote %s: the %s file, %u byte%s", pszOut,
             fileTypeName(pView->bType), (uint32_t)nBytes, pluralS((uint32_t)nBytes));
  if (ulSkip != 0 && getLe16(pbImage) != (uint16_t)nBytes)
    reportFact(FACT_FINDING, "extract", "the logo's own length, %u, is not its length",
               getLe16(pbImage));
  reportNoRebuild(pView);
  return 1;
}

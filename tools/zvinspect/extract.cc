// SPDX-License-Identifier: Apache-2.0
// Extraction (see extract.h).  The image comes from the deciphered payload
// behind its image header, its length from the image header; a logo loses
// the length that the build put in front of it.  The file is written whole
// beside its name and moved over it only then: a failed write leaves what
// was there.  Neither the input nor the source is ever written over (the
// same file, however named), and a name taken by a directory or device is
// left alone.  A failure says that the extraction failed: the status is 2.
#include "tools/zvinspect/extract.h"

#include <stdio.h>
#include <string.h>

#include "image/file_type.h"
#include "image/hex_writer.h"
#include "image/image_store.h"
#include "image/output_file.h"
#include "platform/platform_companions.h"
#include "tools/zvinspect/report.h"

static int finish(OutputFile *pOut, int bOk, const char *pszPath) {
  if (!bOk) pOut->bFailed = 1;
  if (finishOutputFile(pOut) == OUTPUT_OK) return 1;
  reportFact(FACT_FINDING, "extract", "extraction failed: could not write %s", pszPath);
  return 0;
}

// The file that an input names, by its identity: standard input's file
// for "-", whatever name the output gives it.
static int isInput(const char *pszOut, const char *pszInput) {
  return strcmp(pszInput, "-") == 0 ? platIsStandardInput(pszOut)
                                    : platSameFile(pszOut, pszInput);
}

// The files that the run reads are never written over.
static int readsFrom(const InspectOptions *pOpt, const char *pszOut) {
  return isInput(pszOut, pOpt->pszInput) ||
         (pOpt->pszAgainst != NULL && isInput(pszOut, pOpt->pszAgainst));
}

// A build writes zeros behind the image: the bytes that the file holds
// there are not in what was written, and a build from it differs.
static void reportNoRebuild(const UpdateView *pView) {
  if (pView->ulBeyond > 0)
    reportFact(FACT_FINDING, "extract", "it does not rebuild the file: a build writes "
               "zeros where the file holds %u bytes beyond the image's length",
               pView->ulBeyond);
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
  if (readsFrom(pOpt, pszOut)) {
    reportFact(FACT_FINDING, "extract", "extraction failed: nothing written to %s: it is "
               "a file that this run reads", pszOut);
    return 0;
  }
  OutputFile out;
  OutputResult result = openOutputFile(&out, pszOut);
  if (result != OUTPUT_OK) {
    reportFact(FACT_FINDING, "extract", result == OUTPUT_NOT_REGULAR
               ? "extraction failed: nothing written to %s: it is not a regular file"
               : "extraction failed: could not open %s", pszOut);
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
  reportFact(FACT_OK, "extract", "wrote %s: the %s file, %u bytes", pszOut,
             fileTypeName(pView->bType), (uint32_t)nBytes);
  if (ulSkip != 0 && getLe16(pbImage) != (uint16_t)nBytes)
    reportFact(FACT_FINDING, "extract", "the logo's own length, %u, is not its length",
               getLe16(pbImage));
  reportNoRebuild(pView);
  return 1;
}

// SPDX-License-Identifier: Apache-2.0
// Extraction (see extract.h).  The image comes from the deciphered payload
// behind its image header, its length from the image header; a logo loses
// the length that the build put in front of it.  A file that is not fully
// written is removed.
#include "tools/zvinspect/extract.h"

#include <stdio.h>

#include "app/settings.h"
#include "image/hex_writer.h"
#include "image/image_store.h"
#include "tools/zvinspect/report.h"

static int finish(FILE *pFile, int bOk, const char *pszPath) {
  bOk = fflush(pFile) == 0 && bOk;
  bOk = fclose(pFile) == 0 && bOk;
  if (!bOk) {
    remove(pszPath);
    reportFact(FACT_FINDING, "extract", "could not write %s", pszPath);
  }
  return bOk;
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
  FILE *pFile = fopen(pszOut, "wb");
  if (pFile == NULL) {
    reportFact(FACT_FINDING, "extract", "could not open %s", pszOut);
    return 0;
  }
  if (pView->bType == FILE_TYPE_MAIN) {
    if (!finish(pFile, writeHexImage(pFile, pbImage, ulLength, pView->pbIdata), pszOut))
      return 0;
    reportFact(FACT_OK, "extract", "wrote %s: Intel HEX of the %u image bytes and the "
               "idata block", pszOut, ulLength);
    return 1;
  }
  uint32_t ulSkip = pView->bType == FILE_TYPE_LOGO ? 2 : 0;
  size_t nBytes = ulLength - ulSkip;
  if (!finish(pFile, fwrite(pbImage + ulSkip, 1, nBytes, pFile) == nBytes, pszOut))
    return 0;
  reportFact(FACT_OK, "extract", "wrote %s: the %s file, %u bytes", pszOut,
             fileTypeName(pView->bType), (uint32_t)nBytes);
  if (ulSkip != 0 && getLe16(pbImage) != (uint16_t)nBytes)
    reportFact(FACT_FINDING, "extract", "the logo's own length, %u, is not its length",
               getLe16(pbImage));
  return 1;
}

// SPDX-License-Identifier: Apache-2.0
// The files of a run as they were checked (see checked_files.h).
#include "tools/zvfleet/checked_files.h"

#include <stdio.h>
#include <string.h>

#include "base/console.h"
#include "image/input_file.h"
#include "tools/common/cli.h"
#include "tools/common/fixed_text.h"
#include "tools/common/output_path.h"
#include "tools/common/sha256.h"
#include "tools/zvfleet/file_plan.h"
#include "tools/zvfleet/fleet.h"
#include "tools/zvfleet/site_folder.h"

// The file's name without its folders.
static const char *baseName(const char *pszPath) { return pszPath + pathFolderLength(pszPath); }

// Copies the file at pszFrom to pszTo (no copy when it is null), reading
// it once.  Returns true with its size and digest, or false after a message.
static bool copyFile(const char *pszFrom, const char *pszTo, long *plSize, char *pszSha256) {
  FILE *pIn = openInputFile(pszFrom);
  if (pIn == NULL) {
    errorPrintf("zvfleet: cannot read %s again to copy it\n", pszFrom);
    return false;
  }
  OutputFile out;
  out.pFile = NULL;
  if (pszTo != NULL && outputRuleOpen(&out, pszTo) != OUTPUT_OK) {
    fclose(pIn);
    errorPrintf("zvfleet: cannot write the copy %s\n", pszTo);
    return false;
  }
  Sha256 sha;
  sha256Begin(&sha);
  static char s_abChunk[65536];
  long lSize = 0, lRead;
  bool bOk = true;
  while ((lRead = readInputFile(pIn, s_abChunk, sizeof(s_abChunk), pszFrom)) != 0) {
    if (lRead < 0 || (out.pFile != NULL && !writeOutputFile(&out, s_abChunk, (size_t)lRead))) {
      bOk = false;
      break;
    }
    sha256Add(&sha, s_abChunk, (size_t)lRead);
    lSize += lRead;
  }
  fclose(pIn);
  if (out.pFile != NULL) {
    out.bFailed = out.bFailed || !bOk;
    bOk = finishOutputFile(&out) == OUTPUT_OK;
  }
  if (!bOk) {
    if (pszTo == NULL)
      errorPrintf("zvfleet: cannot read %s again\n", pszFrom);
    else
      errorPrintf("zvfleet: cannot copy %s to %s\n", pszFrom, pszTo);
    return false;
  }
  uint8_t abDigest[SHA256_SIZE];
  sha256End(&sha, abDigest);
  hexText(abDigest, SHA256_SIZE, pszSha256);
  *plSize = lSize;
  return true;
}

bool fileDigest(const char *pszPath, long *plSize, char *pszSha256) {
  return copyFile(pszPath, NULL, plSize, pszSha256);
}

static char s_aszCopy[FLEET_MAX_DEVICES][FLEET_TEXT_SIZE];
static bool s_abMade[FLEET_MAX_DEVICES];  // the copy of this device's file was made here

void removeCheckedCopies(void) {
  for (int i = 0; i < g_nDevices; i++)
    if (s_abMade[i]) platRemoveFile(s_aszCopy[i]);
  memset(s_abMade, 0, sizeof(s_abMade));
  char szFolder[FLEET_PATH_SIZE];
  if (snprintf(szFolder, sizeof(szFolder), "%s/files", runFolder()) < (int)sizeof(szFolder))
    platRemoveDirectory(szFolder);
}

bool copyCheckedFiles(void) {
  char szFolder[FLEET_PATH_SIZE];
  int n = snprintf(szFolder, sizeof(szFolder), "%s/files", runFolder());
  if (n >= (int)sizeof(szFolder) || !platMakeDirectory(szFolder)) {
    errorPrintf("zvfleet: cannot make the folder %s for the files' copies\n", szFolder);
    return false;
  }
  int nCopies = 0;
  memset(s_abMade, 0, sizeof(s_abMade));
  for (int i = 0; i < g_nDevices; i++) {
    FleetDevice *pDev = &g_aDevices[i];
    int nEarlier = earlierSameFile(i);
    if (nEarlier >= 0) {
      memcpy(s_aszCopy[i], s_aszCopy[nEarlier], sizeof(s_aszCopy[i]));
      pDev->lFileSize = g_aDevices[nEarlier].lFileSize;
      memcpy(pDev->szSha256, g_aDevices[nEarlier].szSha256, sizeof(pDev->szSha256));
      continue;
    }
    n = snprintf(s_aszCopy[i], sizeof(s_aszCopy[i]), "%s/%d-%s", szFolder, ++nCopies,
                 baseName(pDev->szPath));
    if (n >= (int)sizeof(s_aszCopy[i])) {
      errorPrintf("zvfleet: the copy of %s would have a path longer than the tool takes\n",
                  pDev->szPath);
      return false;
    }
    s_abMade[i] = true;  // (or begun)
    if (!copyFile(pDev->szPath, s_aszCopy[i], &pDev->lFileSize, pDev->szSha256)) return false;
    // The copy must be what was checked: a file changed in between is
    // caught here.
    FilePlan plan;
    memset(&plan, 0, sizeof(plan));
    char szWhy[FLEET_PATH_SIZE];
    if (!planFile(s_aszCopy[i], pDev->plan.cPlainType != 0, pDev->plan.cPlainType, &plan, szWhy,
                  sizeof(szWhy)) ||
        plan.nIdataPages != pDev->plan.nIdataPages || plan.nFirstPage != pDev->plan.nFirstPage ||
        plan.nEndPage != pDev->plan.nEndPage) {
      errorPrintf("zvfleet: %s changed while it was checked; nothing was started\n",
                  pDev->szPath);
      return false;
    }
  }
  for (int i = 0; i < g_nDevices; i++) strcpy(g_aDevices[i].szPath, s_aszCopy[i]);
  return true;
}

// SPDX-License-Identifier: Apache-2.0
// The rule for the companions' outputs (see output_path.h).
#include "tools/common/output_path.h"

#include <stdio.h>
#include <string.h>

#include "platform/platform_companions.h"

struct RuleFile {
  const char *pszPath;
  const char *pszWhat;
  bool bWritten;  // an output of the run, else an input
};

static RuleFile s_aFiles[OUTPUT_RULE_FILES];
static int s_nFiles;
static char s_szWhy[160];

void outputRuleReset(void) { s_nFiles = 0; }

static void note(const char *pszPath, const char *pszWhat, bool bWritten) {
  if (s_nFiles < OUTPUT_RULE_FILES) s_aFiles[s_nFiles++] = {pszPath, pszWhat, bWritten};
}

void outputRuleReads(const char *pszPath, const char *pszWhat) { note(pszPath, pszWhat, false); }

bool isPathSeparator(char c) { return c == '/' || c == '\\'; }

size_t pathFolderLength(const char *pszPath) {
  size_t n = strlen(pszPath);
  while (n > 0 && !isPathSeparator(pszPath[n - 1])) n--;
  return n;
}

// The path's folder ("." for none) into pszFolder; false when it does not fit.
static bool folderOf(const char *pszPath, char *pszFolder, size_t nSize) {
  size_t n = pathFolderLength(pszPath);
  if (n == 0) return snprintf(pszFolder, nSize, ".") > 0;
  if (n >= nSize) return false;
  memcpy(pszFolder, pszPath, n);
  pszFolder[n] = '\0';
  return true;
}

// Whether two names give one file: the same existing file, or one name not
// yet taken in the same folder (two outputs that would meet).
static bool sameTarget(const char *pszA, const char *pszB) {
  if (strcmp(pszA, "-") == 0 || strcmp(pszB, "-") == 0)
    return platIsStandardInput(strcmp(pszA, "-") == 0 ? pszB : pszA) != 0;
  if (strcmp(pszA, pszB) == 0 || platSameFile(pszA, pszB)) return true;
  if (platPathKind(pszA) != PLAT_PATH_NONE || platPathKind(pszB) != PLAT_PATH_NONE) return false;
  char szFolderA[OUTPUT_PATH_SIZE], szFolderB[OUTPUT_PATH_SIZE];
  return strcmp(pszA + pathFolderLength(pszA), pszB + pathFolderLength(pszB)) == 0 &&
         folderOf(pszA, szFolderA, sizeof(szFolderA)) &&
         folderOf(pszB, szFolderB, sizeof(szFolderB)) && platSameFile(szFolderA, szFolderB);
}

static const char *refusal(const char *pszFormat, const char *pszWhat) {
  snprintf(s_szWhy, sizeof(s_szWhy), pszFormat, pszWhat);
  return s_szWhy;
}

const char *outputRuleCheck(const char *pszPath, const char *pszWhat) {
  if (*pszPath == '\0' || strcmp(pszPath, "-") == 0) return "it names no file";
  for (int i = 0; i < s_nFiles; i++)
    if (sameTarget(pszPath, s_aFiles[i].pszPath))
      return refusal(s_aFiles[i].bWritten ? "it is the file that %s writes"
                                          : "it is a file that this run reads (%s)",
                     s_aFiles[i].pszWhat);
  // A trial file beside it finds a folder that takes none, and a target
  // that is no regular file or may not be written.
  OutputFile trial;
  switch (outputRuleOpen(&trial, pszPath)) {
    case OUTPUT_OK: abandonOutputFile(&trial); break;
    case OUTPUT_NOT_REGULAR:
      return platIsLink(pszPath) ? "it is a symbolic link (name the file it points to)"
                                 : "it is not a regular file (a folder, a device, a FIFO or a "
                                   "socket)";
    default:
      return platPathKind(pszPath) == PLAT_PATH_READONLY
                 ? "it is a file that may not be written"
                 : "its folder takes no new file (missing, read-only or not allowed)";
  }
  note(pszPath, pszWhat, true);
  return NULL;
}

OutputResult outputRuleOpen(OutputFile *pOut, const char *pszPath) {
  if (platIsLink(pszPath)) {
    pOut->pFile = NULL;
    pOut->pszTarget = pszPath;
    pOut->szNew[0] = '\0';
    pOut->bFailed = 1;
    return OUTPUT_NOT_REGULAR;
  }
  return openOutputFile(pOut, pszPath);
}

OutputResult outputRuleSave(const char *pszPath, const void *pData, size_t nSize) {
  OutputFile out;
  OutputResult result = outputRuleOpen(&out, pszPath);
  if (result != OUTPUT_OK) return result;
  writeOutputFile(&out, pData, nSize);
  return finishOutputFile(&out);
}

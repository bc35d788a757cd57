// SPDX-License-Identifier: Apache-2.0
// The stand-in's files (see fake_platform.h): the system's own, with
// writes that fail when a case says so, and in a fleet run every change
// zvfleet makes noted with its time, so that a kill -9 can be played back.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>

#include "tests/fakes/fake_world.h"

namespace fakes {

// A file's history, for a kill -9 played back.
const std::string REMOVED("\0removed", 8);  // the event of its removal

std::string fileText(const std::string &path, bool *pbExists) {
  std::string text;
  FILE *pFile = fopen(path.c_str(), "rb");
  *pbExists = pFile != nullptr;
  if (pFile == nullptr) return text;
  char ab[4096];
  size_t n;
  while ((n = fread(ab, 1, sizeof(ab), pFile)) > 0) text.append(ab, n);
  fclose(pFile);
  return text;
}

// Before zvfleet changes a file: what it held, the first time.
void noteFileBefore(const std::string &path) {
  if (!inFleet() || s_world.files.find(path) != s_world.files.end()) return;
  s_world.fileOrder.push_back(path);
  FileHistory &history = s_world.files[path];
  history.before = fileText(path, &history.bExisted);
}

void noteFile(const std::string &path, bool bReplace, const std::string &data) {
  if (inFleet()) s_world.files[path].events.push_back({s_fake.ulNow, bReplace, data});
}


}  // namespace fakes

using namespace fakes;

int platIsDirectory(const char *pszPath) {
  struct stat st;
  return stat(pszPath, &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
}

// Files as the system has them; a write that is to fail goes to a stream
// opened for reading, which refuses it.
PlatPathKind platPathKind(const char *pszPath) {
  struct stat st;
  if (stat(pszPath, &st) != 0) return PLAT_PATH_NONE;
  if ((st.st_mode & S_IFMT) != S_IFREG) return PLAT_PATH_OTHER;
  return (st.st_mode & S_IWRITE) ? PLAT_PATH_FILE : PLAT_PATH_READONLY;
}

FILE *platCreateNewFile(const char *pszPath) {
  struct stat st;
  if (stat(pszPath, &st) == 0) return NULL;
  noteFileBefore(pszPath);
  noteFile(pszPath, true, "");
  FILE *pFile = fopen(pszPath, "wb");
  if (pFile == NULL || !failsNow(&s_fake.calls.nWrite, s_fake.run.fail.nWrite)) return pFile;
  fclose(pFile);
  return fopen(pszPath, "rb");
}

int platSameFile(const char *pszA, const char *pszB) {
  std::error_code error;
  return std::filesystem::equivalent(pszA, pszB, error) && !error;
}

int platIsLink(const char *pszPath) {
  std::error_code error;
  return std::filesystem::is_symlink(pszPath, error) && !error;
}

// The cases give their files by path; standard input is a pipe.
int platIsRegularFile(FILE *pFile) { return pFile != stdin; }

// The runs in process have no standard input of their own.
int platIsStandardInput(const char *) { return 0; }

// A path that a case made unwritable: no append to it, no folder of its name,
// no file put in its place and no room held under it.
static bool unwritable(const char *pszPath) {
  for (const std::string &path : s_world.fleet.unwritable)
    if (path == pszPath) return true;
  return false;
}

int platReplaceFile(const char *pszFrom, const char *pszTo) {
  if (unwritable(pszTo)) return 0;
  noteFileBefore(pszTo);
  bool bExists;
  std::string text = fileText(pszFrom, &bExists);
  std::error_code error;
  std::filesystem::perms perms = std::filesystem::status(pszTo, error).permissions();
  if (!error && std::filesystem::is_regular_file(pszTo, error))
    std::filesystem::permissions(pszFrom, perms, error);
  remove(pszTo);
  if (rename(pszFrom, pszTo) != 0) return 0;
  noteFile(pszTo, true, text);
  noteFile(pszFrom, true, REMOVED);
  return 1;
}

int platMakeDirectory(const char *pszPath) {
  if (!s_world.bOn || unwritable(pszPath)) return 0;
  std::error_code error;
  std::filesystem::create_directory(pszPath, error);
  return platIsDirectory(pszPath);
}
// Room is written as zeros, outside the disk's count (it was there before).
int platReserveFile(const char *pszPath, long lBytes) {
  if (unwritable(pszPath)) return 0;
  FILE *pFile = fopen(pszPath, "wb");
  if (pFile == nullptr) return 0;
  std::string zeros((size_t)(lBytes > 0 ? lBytes : 0), '\0');
  bool bOk = fwrite(zeros.data(), 1, zeros.size(), pFile) == zeros.size();
  if (fclose(pFile) != 0 || !bOk) return remove(pszPath), 0;
  return 1;
}
int platRemoveDirectory(const char *pszPath) {
  std::error_code error;
  return std::filesystem::remove(pszPath, error) ? 1 : 0;
}
int platAppendToFile(const char *pszPath, const char *pData, int nLength) {
  if (unwritable(pszPath)) return 0;
  if (s_world.bOn && s_world.fleet.lDisk >= 0 && s_world.lDiskUsed + nLength > s_world.fleet.lDisk) return 0;
  if (s_world.bOn) s_world.lDiskUsed += nLength;
  noteFileBefore(pszPath);
  FILE *pFile = fopen(pszPath, "ab");
  if (pFile == nullptr) return 0;
  int bOk = fwrite(pData, 1, (size_t)nLength, pFile) == (size_t)nLength;
  bOk = fclose(pFile) == 0 && bOk;
  if (bOk) noteFile(pszPath, false, std::string(pData, (size_t)nLength));
  return bOk;
}
std::vector<std::string> fakeRestoreFilesAtKill() {
  killChildren(s_world.fleet.ulKillAt);
  std::vector<std::string> restored;
  for (const std::string &path : s_world.fileOrder) {
    const FileHistory &history = s_world.files[path];
    bool bExists = history.bExisted;
    std::string text = history.before;
    for (const FileEvent &event : history.events) {
      if (event.ulAt >= s_world.fleet.ulKillAt) break;
      text = event.bReplace ? event.data : text + event.data;
      bExists = !(event.bReplace && event.data == REMOVED);
    }
    remove(path.c_str());
    if (bExists) {
      FILE *pFile = fopen(path.c_str(), "wb");
      if (pFile != nullptr) {
        fwrite(text.data(), 1, text.size(), pFile);
        fclose(pFile);
      }
    }
    restored.push_back(path);
  }
  return restored;
}

int platRemoveFile(const char *pszPath) {
  std::error_code error;
  uintmax_t ullSize = std::filesystem::file_size(pszPath, error);
  if (!error && s_world.bOn) s_world.lDiskUsed -= (long)ullSize;
  noteFileBefore(pszPath);
  if (remove(pszPath) != 0) return 0;
  noteFile(pszPath, true, REMOVED);
  return 1;
}

// A fleet run's temporary folder is its own, in the scratch folder.
int platTempFolder(char *pszPath, int nSize) {
  if (!s_world.bOn) return 0;
  std::error_code error;
  std::filesystem::create_directory(".tmp", error);
  snprintf(pszPath, (size_t)nSize, ".tmp");
  return 1;
}

// SPDX-License-Identifier: Apache-2.0
// Files that the programs write (update files, extracted images, reports,
// logs): each is made whole under a new name beside its target and moved
// over the target only once every byte is written, so that a failure
// leaves whatever was there before and removes nothing but the new file.
// A target that exists and is not a regular file (a directory, a device,
// a FIFO), or is a file that may not be written, is refused before
// anything is written.
#ifndef ZV_OUTPUT_FILE_H
#define ZV_OUTPUT_FILE_H

#include <stddef.h>
#include <stdio.h>

#define OUTPUT_PATH_SIZE 4120  // the new file's name: the target's and a suffix

enum OutputResult {
  OUTPUT_OK,
  OUTPUT_NOT_REGULAR,  // the target exists and is no regular file
  OUTPUT_CANNOT_OPEN,  // the new file cannot be made beside the target,
                       // or the target is a file that may not be written
  OUTPUT_WRITE_FAILED  // a write, the close or the move failed
};

struct OutputFile {
  FILE *pFile;
  const char *pszTarget;
  char szNew[OUTPUT_PATH_SIZE];
  bool bFailed;  // a write failed: the file will not be moved into place
};

// Checks the target and makes the new file beside it.  Returns OUTPUT_OK,
// OUTPUT_NOT_REGULAR or OUTPUT_CANNOT_OPEN; nothing is left behind unless
// it returns OUTPUT_OK.  pszTarget must live until the file is finished.
OutputResult openOutputFile(OutputFile *pOut, const char *pszTarget);

// Writes the bytes.  Returns 1, or 0 once any write failed.
int writeOutputFile(OutputFile *pOut, const void *pData, size_t nSize);

// Flushes and closes the new file and moves it over the target.  Returns
// OUTPUT_OK, or OUTPUT_WRITE_FAILED with the new file removed and the
// target as it was.
OutputResult finishOutputFile(OutputFile *pOut);

// Closes and removes the new file; the target stays as it was.
void abandonOutputFile(OutputFile *pOut);

// The whole file from one buffer: open, write, finish.
OutputResult saveOutputFile(const char *pszTarget, const void *pData, size_t nSize);

#endif

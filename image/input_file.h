// SPDX-License-Identifier: Apache-2.0
// Opening and reading the files that the tool loads: an Intel HEX image, a
// raw logo or HTML file, an update file.  A directory is refused at once on
// every system, and every read is checked, so that an input that cannot be
// read is never taken as empty or shorter than it is.
#ifndef ZV_INPUT_FILE_H
#define ZV_INPUT_FILE_H

#include <stddef.h>
#include <stdio.h>

// Opens the file for binary reading; null when it cannot be opened or is a
// directory.  Prints nothing.
FILE *openInputFile(const char *pszPath);

// Reads up to nSize bytes.  Returns the number read (less only at the end
// of the file), or -1 after printing "Could not read: <path>" when the
// read failed.
long readInputFile(FILE *pFile, void *pBuffer, size_t nSize,
                   const char *pszPath);

#endif

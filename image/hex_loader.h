// SPDX-License-Identifier: Apache-2.0
// Intel HEX loader: reads a main-CPU firmware image into the image store,
// code bytes at their device addresses, idata bytes into the idata block.
// The rules of the file are the verdict's (hex_verdict.h); the loader
// reads the file through it once and prints its refusal.
#ifndef ZV_HEX_LOADER_H
#define ZV_HEX_LOADER_H

#include "image/hex_verdict.h"

// Returns 1 when the whole file was loaded, 0 after a message.
int readHexFile(const char *pszPath);

#endif

// SPDX-License-Identifier: Apache-2.0
// Update file builder: turns an Intel HEX main-CPU image, a logo or an
// HTML file into main.enc, logo.enc or html.enc in the current directory,
// enciphered under the key given with -K.
#ifndef ZV_UPDATE_FILE_BUILDER_H
#define ZV_UPDATE_FILE_BUILDER_H

#include <stdint.h>

#define ENCRYPT_FIRST_BLOCK 1032u  // image header + four pages
#define MAX_BUILD_LENGTH 0x3FF00u   // the largest image that fits the store

// How many bytes of a payload of ulPayload bytes are enciphered: the first
// 1032 while bFirstBlockOnly is set, else all of them.
uint32_t encipheredLength(uint32_t ulPayload, int bFirstBlockOnly);

// Works from the settings; returns after writing the file, or after the
// message that says why it could not (the run ends with status 1 either
// way).
void makeEncryptFile(void);

#endif

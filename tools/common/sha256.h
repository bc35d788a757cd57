// SPDX-License-Identifier: Apache-2.0
// SHA-256 of a byte run, for the companions' records of the files they
// checked: the digest as 32 bytes, or as 64 lower-case hex digits.
#ifndef ZV_TOOLS_SHA256_H
#define ZV_TOOLS_SHA256_H

#include <stddef.h>
#include <stdint.h>

#define SHA256_SIZE 32
#define SHA256_TEXT_SIZE (2 * SHA256_SIZE + 1)

struct Sha256 {
  uint32_t aulState[8];
  uint64_t ullBytes;  // taken in so far
  uint8_t abBlock[64];
  int nBlock;  // bytes waiting in abBlock
};

void sha256Begin(Sha256 *pSha);
void sha256Add(Sha256 *pSha, const void *pData, size_t nLength);
void sha256End(Sha256 *pSha, uint8_t abDigest[SHA256_SIZE]);

// The digest of the bytes as hex text (SHA256_TEXT_SIZE bytes with the NUL).
void sha256Text(const void *pData, size_t nLength, char szText[SHA256_TEXT_SIZE]);

#endif

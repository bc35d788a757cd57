// SPDX-License-Identifier: Apache-2.0
// SHA-256 (see sha256.h), as FIPS 180-4 defines it.
#include "tools/common/sha256.h"

#include <string.h>

#include <algorithm>

#include "tools/common/fixed_text.h"

static const uint32_t s_aulRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

static uint32_t rotr(uint32_t ul, int n) { return (ul >> n) | (ul << (32 - n)); }

static void compress(Sha256 *pSha, const uint8_t *pb) {
  uint32_t aulW[64];  // the message schedule, made as the rounds need it
  uint32_t a = pSha->aulState[0], b = pSha->aulState[1], c = pSha->aulState[2],
           d = pSha->aulState[3], e = pSha->aulState[4], f = pSha->aulState[5],
           g = pSha->aulState[6], h = pSha->aulState[7];
  for (int i = 0; i < 64; i++) {
    if (i < 16) {
      aulW[i] = (uint32_t)pb[4 * i] << 24 | (uint32_t)pb[4 * i + 1] << 16 |
                (uint32_t)pb[4 * i + 2] << 8 | pb[4 * i + 3];
    } else {
      uint32_t s0 = rotr(aulW[i - 15], 7) ^ rotr(aulW[i - 15], 18) ^ (aulW[i - 15] >> 3);
      uint32_t s1 = rotr(aulW[i - 2], 17) ^ rotr(aulW[i - 2], 19) ^ (aulW[i - 2] >> 10);
      aulW[i] = aulW[i - 16] + s0 + aulW[i - 7] + s1;
    }
    uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) +
                  s_aulRound[i] + aulW[i];
    uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  pSha->aulState[0] += a;
  pSha->aulState[1] += b;
  pSha->aulState[2] += c;
  pSha->aulState[3] += d;
  pSha->aulState[4] += e;
  pSha->aulState[5] += f;
  pSha->aulState[6] += g;
  pSha->aulState[7] += h;
}

void sha256Begin(Sha256 *pSha) {
  static const uint32_t aulStart[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  memcpy(pSha->aulState, aulStart, sizeof(aulStart));
  pSha->ullBytes = 0;
  pSha->nBlock = 0;
}

void sha256Add(Sha256 *pSha, const void *pData, size_t nLength) {
  const uint8_t *pb = (const uint8_t *)pData;
  pSha->ullBytes += nLength;
  while (nLength > 0) {
    size_t nTake = std::min(64 - (size_t)pSha->nBlock, nLength);
    memcpy(pSha->abBlock + pSha->nBlock, pb, nTake);
    pSha->nBlock += (int)nTake;
    pb += nTake;
    nLength -= nTake;
    if (pSha->nBlock == 64) {
      compress(pSha, pSha->abBlock);
      pSha->nBlock = 0;
    }
  }
}

void sha256End(Sha256 *pSha, uint8_t abDigest[SHA256_SIZE]) {
  uint64_t ullBits = pSha->ullBytes * 8;
  static const uint8_t abPad[64] = {0x80};
  size_t nPad = pSha->nBlock < 56 ? 56 - (size_t)pSha->nBlock : 120 - (size_t)pSha->nBlock;
  sha256Add(pSha, abPad, nPad);
  uint8_t abLength[8];
  for (int i = 0; i < 8; i++) abLength[i] = (uint8_t)(ullBits >> (56 - 8 * i));
  sha256Add(pSha, abLength, 8);
  // The state words, most significant byte first.
  for (int i = 0; i < SHA256_SIZE; i++)
    abDigest[i] = (uint8_t)(pSha->aulState[i / 4] >> (24 - 8 * (i % 4)));
}

void sha256Text(const void *pData, size_t nLength, char szText[SHA256_TEXT_SIZE]) {
  Sha256 sha;
  uint8_t abDigest[SHA256_SIZE];
  sha256Begin(&sha);
  sha256Add(&sha, pData, nLength);
  sha256End(&sha, abDigest);
  hexText(abDigest, SHA256_SIZE, szText);
}

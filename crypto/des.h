// SPDX-License-Identifier: Apache-2.0
// The update file cipher: single DES (FIPS 46) on 8-byte blocks, with the
// key read as two little-endian words, and its CBC chaining.  desCrypt under
// key bytes k0..k7 equals standard DES under k3 k2 k1 k0 k7 k6 k5 k4; data
// blocks keep their standard byte order.  Encrypted files go to the device
// as stored, so this key order is part of the update file format.
#ifndef ZV_DES_H
#define ZV_DES_H

#include <stdint.h>

#define DES_BLOCK_SIZE 8u

// The CBC initialisation vector: 3C 5A 96 E1 0F 72 B8 4D.
extern const uint8_t g_abDesIv[8];

// One block: bMode non-zero encrypts, 0 decrypts.  pbOut may be pbIn.
void desCrypt(const uint8_t *pbIn, uint8_t *pbOut, const uint8_t *pbKey,
              uint8_t bMode);

// Generic bit permutation of a 64-bit value held as two words (bit 1 the
// most significant bit of pulIn[0], bit 33 that of pulIn[1]): clears both
// output words, then sets output bit i + 1 to input bit pbTable[i] for
// i = 0 .. bCount - 1.  Output bits beyond bCount stay 0.  bCount is at
// most 64 (larger counts are taken as 64); table entries are 1 to 64.
void permuteBits(const uint8_t *pbTable, const uint32_t *pulIn,
                 uint32_t *pulOut, uint8_t bCount);

// CBC encryption in place of ulLength bytes from pbData with the IV
// g_abDesIv and the 8-byte key pbKey; the key schedule is derived once for
// the whole span.  ulLength should be a multiple of 8: trailing bytes of a
// partial block are left as they are.
void desCbcEncrypt(uint8_t *pbData, uint32_t ulLength, const uint8_t *pbKey);

// The inverse of desCbcEncrypt over the same span and key, in place: what
// the device does with the enciphered part of an update.
void desCbcDecrypt(uint8_t *pbData, uint32_t ulLength, const uint8_t *pbKey);

#endif

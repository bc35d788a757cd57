// SPDX-License-Identifier: Apache-2.0
// DES (FIPS 46) and CBC encryption for update files.  The standard's tables
// are kept in their published form; on first use they are turned, through
// permuteBits itself, into byte-indexed IP and IP^-1 tables and eight SP
// tables (S-box output placed and permuted by P), so a block takes 16 table
// lookups for the permutations and 8 per round.  The key schedule follows
// the bit-by-bit rule (PC-1, 28-bit rotations, PC-2) once per key.
#include "crypto/des.h"

#include <algorithm>

const uint8_t g_abDesIv[8] = {0x3C, 0x5A, 0x96, 0xE1, 0x0F, 0x72, 0xB8, 0x4D};

namespace {

// clang-format off
const uint8_t s_abIp[] = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
const uint8_t s_abIpInv[] = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
const uint8_t s_abPc1[] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
const uint8_t s_abPc2[] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
const uint8_t s_abShifts[] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
const uint8_t s_abP[] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23,
                         26, 5, 18, 31, 10, 2,  8,  24, 14, 32, 27,
                         3,  9, 19, 13, 30, 6,  22, 11, 4,  25};
// S1 to S8, each as 4 rows of 16 columns.
const uint8_t s_abS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10,
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15,
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15,
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14,
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11,
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7,
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2,
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8,
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11}};
// clang-format on

// The fast forms of IP, IP^-1 and S+P, derived from the tables above.
// aqIp[p][v] is IP of a block whose byte p is v and all else zero; IP is
// linear over XOR, so IP of a block is the XOR of its eight bytes' entries.
// aulSp[n][y] is the SP table of S-box n + 1 at the 6-bit input y >> 2:
// the rounds hold each 6-bit group in the top of a byte, and the byte's
// two low bits, which belong to neighbouring groups, do not matter.
struct DesTables {
  uint64_t aqIp[8][256];
  uint64_t aqIpInv[8][256];
  uint32_t aulSp[8][256];

  DesTables() {
    // A permutation of a byte is the XOR of the permutations of its bits:
    // each single bit through permuteBits, every other value from the
    // value without its lowest bit.
    for (unsigned p = 0; p < 8; p++) {
      aqIp[p][0] = aqIpInv[p][0] = 0;
      for (unsigned v = 1; v < 256; v++) {
        unsigned low = v & (0u - v);
        if (v != low) {
          aqIp[p][v] = aqIp[p][v ^ low] ^ aqIp[p][low];
          aqIpInv[p][v] = aqIpInv[p][v ^ low] ^ aqIpInv[p][low];
          continue;
        }
        uint32_t aulIn[2] = {0, 0};
        uint32_t aulOut[2];
        aulIn[p / 4] = (uint32_t)v << (24 - 8 * (p % 4));
        permuteBits(s_abIp, aulIn, aulOut, sizeof(s_abIp));
        aqIp[p][v] = ((uint64_t)aulOut[0] << 32) | aulOut[1];
        permuteBits(s_abIpInv, aulIn, aulOut, sizeof(s_abIpInv));
        aqIpInv[p][v] = ((uint64_t)aulOut[0] << 32) | aulOut[1];
      }
    }
    for (unsigned n = 0; n < 8; n++)
      for (unsigned x = 0; x < 64; x++) {
        unsigned row = ((x >> 4) & 2) | (x & 1);
        unsigned col = (x >> 1) & 15;
        uint32_t aulIn[2] = {(uint32_t)s_abS[n][row * 16 + col] << (28 - 4 * n),
                             0};
        uint32_t aulOut[2];
        permuteBits(s_abP, aulIn, aulOut, sizeof(s_abP));
        for (unsigned lo = 0; lo < 4; lo++) aulSp[n][4 * x + lo] = aulOut[0];
      }
  }
};

const DesTables &tables() {
  static const DesTables s_tables;  // built once, thread-safe
  return s_tables;
}

// Subkeys of the 16 rounds in the order they are applied.  Word 2r holds
// the 6-bit key groups for S1, S3, S5, S7 in the upper 6 bits of its bytes
// (S1 in the top byte), word 2r + 1 those for S2, S4, S6, S8.
struct KeySchedule {
  uint32_t aulKey[32];
};
static_assert(sizeof(KeySchedule::aulKey) == 2 * sizeof(uint32_t) * sizeof(s_abShifts),
              "two words of the schedule for each round's shift");

inline uint32_t rotl28(uint32_t x, unsigned s) {  // C, D in bits 31..4
  return ((x << s) | (x >> (28 - s))) & 0xFFFFFFF0u;
}
inline uint32_t rotr28(uint32_t x, unsigned s) {
  return ((x >> s) | (x << (28 - s))) & 0xFFFFFFF0u;
}
inline uint32_t rotr32(uint32_t x, unsigned s) {  // 0 < s < 32
  return (x >> s) | (x << (32 - s));
}

void deriveSchedule(const uint8_t *pbKey, uint8_t bMode, KeySchedule *pKs) {
  uint32_t aulKey[2], aulCd[2];
  for (unsigned w = 0; w < 2; w++)  // little-endian words
    aulKey[w] = (uint32_t)pbKey[4 * w] | ((uint32_t)pbKey[4 * w + 1] << 8) |
                ((uint32_t)pbKey[4 * w + 2] << 16) |
                ((uint32_t)pbKey[4 * w + 3] << 24);
  permuteBits(s_abPc1, aulKey, aulCd, sizeof(s_abPc1));
  uint32_t c = aulCd[0] & 0xFFFFFFF0u;
  uint32_t d = ((aulCd[0] << 28) | (aulCd[1] >> 4)) & 0xFFFFFFF0u;
  if (bMode == 0) {  // decryption walks the schedule backwards from K16
    c = rotl28(c, 1);
    d = rotl28(d, 1);
  }
  uint32_t *pulKey = pKs->aulKey;  // two words a round, one round a shift
  for (uint8_t bShift : s_abShifts) {
    if (bMode != 0) {
      c = rotl28(c, bShift);
      d = rotl28(d, bShift);
    } else {
      c = rotr28(c, bShift);
      d = rotr28(d, bShift);
    }
    uint32_t aulJoined[2] = {c | (d >> 28), d << 4};
    uint32_t aulK[2];
    permuteBits(s_abPc2, aulJoined, aulK, sizeof(s_abPc2));
    uint64_t q = ((uint64_t)aulK[0] << 32) | aulK[1];  // subkey in bits 63..16
    uint32_t ulOdd = 0, ulEven = 0;
    for (unsigned n = 0; n < 8; n += 2) {
      ulOdd |= (uint32_t)((q >> (58 - 6 * n)) & 63) << (26 - 4 * n);
      ulEven |= (uint32_t)((q >> (52 - 6 * n)) & 63) << (26 - 4 * n);
    }
    *pulKey++ = ulOdd;
    *pulKey++ = ulEven;
  }
}

// f(R, K).  The expansion E takes overlapping 6-bit groups of R: group n
// (1 to 8) is the low 6 bits of R rotated right by 31 - 4n.  R rotated
// right by 1 thus holds the groups of S1, S3, S5, S7 in the upper 6 bits of
// its four bytes, and R rotated left by 3 those of S2, S4, S6, S8.
inline uint32_t feistel(const DesTables &t, uint32_t r, const uint32_t *pulK) {
  uint32_t a = rotr32(r, 1) ^ pulK[0];
  uint32_t b = rotr32(r, 29) ^ pulK[1];
  return t.aulSp[0][a >> 24] ^ t.aulSp[2][(a >> 16) & 0xFF] ^
         t.aulSp[4][(a >> 8) & 0xFF] ^ t.aulSp[6][a & 0xFF] ^
         t.aulSp[1][b >> 24] ^ t.aulSp[3][(b >> 16) & 0xFF] ^
         t.aulSp[5][(b >> 8) & 0xFF] ^ t.aulSp[7][b & 0xFF];
}

// One block as a 64-bit value, byte 0 of the block in bits 63..56.
uint64_t cryptBlock(const DesTables &t, const KeySchedule &ks, uint64_t q) {
  uint64_t ip = 0;
  for (unsigned p = 0; p < 8; p++) ip ^= t.aqIp[p][(q >> (56 - 8 * p)) & 0xFF];
  uint32_t l = (uint32_t)(ip >> 32), r = (uint32_t)ip;
  for (unsigned i = 0; i < 32; i += 4) {  // two rounds, halves kept in place
    l ^= feistel(t, r, &ks.aulKey[i]);
    r ^= feistel(t, l, &ks.aulKey[i + 2]);
  }
  uint64_t pre = ((uint64_t)r << 32) | l;  // R16 || L16
  uint64_t out = 0;
  for (unsigned p = 0; p < 8; p++)
    out ^= t.aqIpInv[p][(pre >> (56 - 8 * p)) & 0xFF];
  return out;
}

inline uint64_t loadBe64(const uint8_t *pb) {
  uint64_t q = 0;
  for (unsigned i = 0; i < 8; i++) q = (q << 8) | pb[i];
  return q;
}
inline void storeBe64(uint8_t *pb, uint64_t q) {
  for (unsigned i = 0; i < 8; i++) pb[i] = (uint8_t)(q >> (56 - 8 * i));
}

}  // namespace

void permuteBits(const uint8_t *pbTable, const uint32_t *pulIn,
                 uint32_t *pulOut, uint8_t bCount) {
  uint32_t aulIn[2] = {pulIn[0], pulIn[1]};  // pulOut may alias pulIn
  unsigned count = std::min((unsigned)bCount, 64u);
  pulOut[0] = 0;
  pulOut[1] = 0;
  for (unsigned i = 0; i < count; i++) {
    unsigned src = (pbTable[i] - 1u) & 63;  // 0-based source bit
    if ((aulIn[src / 32] >> (31 - src % 32)) & 1)
      pulOut[i / 32] |= 0x80000000u >> (i % 32);
  }
}

void desCrypt(const uint8_t *pbIn, uint8_t *pbOut, const uint8_t *pbKey,
              uint8_t bMode) {
  uint64_t q = loadBe64(pbIn);  // copied before pbOut is written
  KeySchedule ks;
  deriveSchedule(pbKey, bMode, &ks);
  storeBe64(pbOut, cryptBlock(tables(), ks, q));
}

void desCbcEncrypt(uint8_t *pbData, uint32_t ulLength, const uint8_t *pbKey) {
  const DesTables &t = tables();
  KeySchedule ks;
  deriveSchedule(pbKey, 1, &ks);
  uint64_t prev = loadBe64(g_abDesIv);
  for (uint32_t off = 0; ulLength - off >= DES_BLOCK_SIZE;
       off += DES_BLOCK_SIZE) {
    prev = cryptBlock(t, ks, loadBe64(pbData + off) ^ prev);
    storeBe64(pbData + off, prev);
  }
}

void desCbcDecrypt(uint8_t *pbData, uint32_t ulLength, const uint8_t *pbKey) {
  const DesTables &t = tables();
  KeySchedule ks;
  deriveSchedule(pbKey, 0, &ks);
  uint64_t prev = loadBe64(g_abDesIv);
  for (uint32_t off = 0; ulLength - off >= DES_BLOCK_SIZE;
       off += DES_BLOCK_SIZE) {
    uint64_t cipher = loadBe64(pbData + off);
    storeBe64(pbData + off, cryptBlock(t, ks, cipher) ^ prev);
    prev = cipher;
  }
}

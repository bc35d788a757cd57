// Tests of the update file cipher: published DES known answers under the
// tool's key byte order, the modes, parity, in-place use, permuteBits and
// the CBC chaining that the builder relies on.
#include "crypto/des.h"

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <random>

namespace {

void fromHex(const char *psz, uint8_t *pb) {
  for (int i = 0; i < 8; i++) {
    unsigned v = 0;
    for (int j = 0; j < 2; j++) {
      char c = psz[2 * i + j];
      v = v * 16 + (unsigned)(c <= '9' ? c - '0' : c - 'A' + 10);
    }
    pb[i] = (uint8_t)v;
  }
}

// The tool's key for a standard DES key: each 4-byte half reversed.
void toolKey(const uint8_t *pbDesKey, uint8_t *pbKey) {
  for (int i = 0; i < 4; i++) {
    pbKey[i] = pbDesKey[3 - i];
    pbKey[4 + i] = pbDesKey[7 - i];
  }
}

void randomBytes(std::mt19937 &rng, uint8_t *pb, size_t n) {
  for (size_t i = 0; i < n; i++) pb[i] = (uint8_t)(rng() >> 24);
}

struct Kat {
  const char *pszKey, *pszPlain, *pszCipher;
};

// FIPS 46 DES key, plaintext, ciphertext, all in the standard's order.
const Kat s_aKats[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"0000000000000000", "0000000000000000", "8CA64DE9C1B123A7"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "7359B2163E4EDC58"},
    {"3000000000000000", "1000000000000001", "958E6E627A05557B"},
    {"1111111111111111", "1111111111111111", "F40379AB9E0EC533"},
    {"0123456789ABCDEF", "1111111111111111", "17668DFC7292532D"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "ED39D950FA74BCC4"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "2000000000000000", "2E8653104F3834EA"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
};

TEST(DesTest, KnownAnswersWithKeyHalvesReversed) {
  for (const Kat &k : s_aKats) {
    SCOPED_TRACE(k.pszKey);
    uint8_t abDesKey[8], abKey[8], abPlain[8], abCipher[8], ab[8];
    fromHex(k.pszKey, abDesKey);
    fromHex(k.pszPlain, abPlain);
    fromHex(k.pszCipher, abCipher);
    toolKey(abDesKey, abKey);
    desCrypt(abPlain, ab, abKey, 1);
    EXPECT_EQ(0, memcmp(ab, abCipher, 8));
    desCrypt(abCipher, ab, abKey, 0);
    EXPECT_EQ(0, memcmp(ab, abPlain, 8));
    // In the standard's key order the result differs, unless the halves
    // read the same backwards.
    if (memcmp(abKey, abDesKey, 8) != 0) {
      desCrypt(abPlain, ab, abDesKey, 1);
      EXPECT_NE(0, memcmp(ab, abCipher, 8));
    }
  }
}

TEST(DesTest, ModesParityAndInPlace) {
  std::mt19937 rng(46);
  for (int n = 0; n < 200; n++) {
    uint8_t abKey[8], abIn[8], abEnc[8], ab[8];
    randomBytes(rng, abKey, 8);
    randomBytes(rng, abIn, 8);
    desCrypt(abIn, abEnc, abKey, 1);
    EXPECT_NE(0, memcmp(abEnc, abIn, 8));
    desCrypt(abEnc, ab, abKey, 0);
    EXPECT_EQ(0, memcmp(ab, abIn, 8)) << "mode 0 inverts mode 1";
    for (int mode : {2, 255}) {
      desCrypt(abIn, ab, abKey, (uint8_t)mode);
      EXPECT_EQ(0, memcmp(ab, abEnc, 8)) << "mode " << mode;
    }
    uint8_t abParity[8];  // other least significant bits
    for (int i = 0; i < 8; i++) abParity[i] = (uint8_t)(abKey[i] ^ (rng() & 1));
    desCrypt(abIn, ab, abParity, 1);
    EXPECT_EQ(0, memcmp(ab, abEnc, 8)) << "parity bits ignored";
    memcpy(ab, abIn, 8);
    desCrypt(ab, ab, abKey, 1);
    EXPECT_EQ(0, memcmp(ab, abEnc, 8)) << "in place";
    desCrypt(ab, ab, abKey, 0);
    EXPECT_EQ(0, memcmp(ab, abIn, 8)) << "in place decryption";
  }
}

// The generic permutation leaves output bits beyond its count zero.
TEST(DesTest, PermuteBits) {
  uint8_t abIdentity[64];
  for (int i = 0; i < 64; i++) abIdentity[i] = (uint8_t)(i + 1);
  const uint32_t aulOnes[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
  uint32_t aulOut[2] = {0xA5A5A5A5u, 0xA5A5A5A5u};
  permuteBits(abIdentity, aulOnes, aulOut, 48);
  EXPECT_EQ(0xFFFFFFFFu, aulOut[0]);
  EXPECT_EQ(0xFFFF0000u, aulOut[1]);
  const uint8_t abPick[3] = {64, 33, 32};  // single bits go where told
  const uint32_t aulBits[2] = {0x00000001u, 0x80000001u};
  permuteBits(abPick, aulBits, aulOut, 3);
  EXPECT_EQ(0xE0000000u, aulOut[0]);
  EXPECT_EQ(0u, aulOut[1]);
}

// CBC the way the update file format describes it, block by block.
void cbcByHand(uint8_t *pb, uint32_t n, const uint8_t *pbKey,
               const uint8_t *pbIv) {
  uint8_t abPrev[8];
  memcpy(abPrev, pbIv, 8);
  for (uint32_t off = 0; off + 8 <= n; off += 8) {
    xorBlock(pb + off, abPrev);
    desCrypt(pb + off, pb + off, pbKey, 1);
    memcpy(abPrev, pb + off, 8);
  }
}

TEST(DesCbcTest, EqualsChainingByHand) {
  std::mt19937 rng(7);
  for (uint32_t n : {0u, 8u, 264u, 1032u, 4096u}) {
    uint8_t abKey[8], abData[4096], abRef[4096];
    randomBytes(rng, abKey, 8);
    randomBytes(rng, abData, n);
    memcpy(abRef, abData, n);
    desCbcEncrypt(abData, n, abKey);
    cbcByHand(abRef, n, abKey, g_abDesIv);
    EXPECT_EQ(0, memcmp(abData, abRef, n)) << n << " bytes";
  }
}

}  // namespace

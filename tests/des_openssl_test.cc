// Cross-check of the update file cipher against OpenSSL's DES on random
// keys and blocks: single blocks both ways, and CBC over a long span.
// Built only where OpenSSL is found.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/des.h>
#include <stdint.h>
#include <string.h>

#include <random>

#include "crypto/des.h"

namespace {

void randomBytes(std::mt19937 &rng, uint8_t *pb, size_t n) {
  for (size_t i = 0; i < n; i++) pb[i] = (uint8_t)(rng() >> 24);
}

// OpenSSL's key schedule for the tool's key bytes k0..k7, which stand for
// the DES key k3 k2 k1 k0 k7 k6 k5 k4.
void opensslSchedule(const uint8_t *pbKey, DES_key_schedule *pKs) {
  DES_cblock key;
  for (int i = 0; i < 4; i++) {
    key[i] = pbKey[3 - i];
    key[4 + i] = pbKey[7 - i];
  }
  DES_set_key_unchecked(&key, pKs);
}

TEST(DesOpensslTest, RandomBlocksBothWays) {
  std::mt19937 rng(2024);
  for (int n = 0; n < 2000; n++) {
    uint8_t abKey[8], abIn[8], abOurs[8];
    DES_cblock in, theirs;
    randomBytes(rng, abKey, 8);
    randomBytes(rng, abIn, 8);
    memcpy(in, abIn, 8);
    DES_key_schedule ks;
    opensslSchedule(abKey, &ks);
    DES_ecb_encrypt(&in, &theirs, &ks, DES_ENCRYPT);
    desCrypt(abIn, abOurs, abKey, 1);
    ASSERT_EQ(0, memcmp(abOurs, theirs, 8)) << "encryption, case " << n;
    DES_ecb_encrypt(&in, &theirs, &ks, DES_DECRYPT);
    desCrypt(abIn, abOurs, abKey, 0);
    ASSERT_EQ(0, memcmp(abOurs, theirs, 8)) << "decryption, case " << n;
  }
}

TEST(DesOpensslTest, CbcOverAFullMainImagePayload) {
  static uint8_t s_abOurs[0x20008], s_abTheirs[0x20008];
  std::mt19937 rng(99);
  for (int n = 0; n < 3; n++) {
    uint8_t abKey[8];
    randomBytes(rng, abKey, 8);
    randomBytes(rng, s_abOurs, sizeof s_abOurs);
    DES_key_schedule ks;
    opensslSchedule(abKey, &ks);
    DES_cblock iv;
    memcpy(iv, g_abDesIv, 8);
    DES_ncbc_encrypt(s_abOurs, s_abTheirs, (long)sizeof s_abOurs, &ks, &iv,
                     DES_ENCRYPT);
    desCbcEncrypt(s_abOurs, (uint32_t)sizeof s_abOurs, abKey);
    ASSERT_EQ(0, memcmp(s_abOurs, s_abTheirs, sizeof s_abOurs)) << n;
  }
}

}  // namespace

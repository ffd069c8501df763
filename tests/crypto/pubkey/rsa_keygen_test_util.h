// Generates a key and checks every stored value against GMP.
#pragma once

#include "kel/random.h"
#include "rsa_test_util.h"

namespace kel::test {

inline void CheckGeneratedKey(uint32_t bits, uint32_t expectBits = 0) {
  const uint32_t nlen = expectBits ? expectBits : bits;
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  Key key;
  ASSERT_EQ(RSA_createKey(&key.k), 0);
  ASSERT_EQ(RSA_generateKey(ctx, key.k, bits, nullptr), 0);
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
  Mpz n, e, p, q, dP, dQ, qInv, t, want;
  ToMpz(n, key->modulus);
  ToMpz(e, key->publicExponent);
  ToMpz(p, key->prime1);
  ToMpz(q, key->prime2);
  ToMpz(dP, key->exponent1);
  ToMpz(dQ, key->exponent2);
  ToMpz(qInv, key->coefficient);
  EXPECT_EQ(mpz_cmp_ui(e.z, 65537), 0);
  EXPECT_EQ(mpz_sizeinbase(n.z, 2), nlen);
  EXPECT_EQ(mpz_sizeinbase(p.z, 2), nlen / 2);
  EXPECT_EQ(mpz_sizeinbase(q.z, 2), nlen / 2);
  EXPECT_GT(mpz_cmp(p.z, q.z), 0);
  EXPECT_GT(mpz_probab_prime_p(p.z, 30), 0);
  EXPECT_GT(mpz_probab_prime_p(q.z, 30), 0);
  mpz_mul(t.z, p.z, q.z);
  EXPECT_EQ(mpz_cmp(t.z, n.z), 0);
  mpz_sub_ui(t.z, p.z, 1);
  ASSERT_NE(mpz_invert(want.z, e.z, t.z), 0);
  EXPECT_EQ(mpz_cmp(want.z, dP.z), 0);
  mpz_sub_ui(t.z, q.z, 1);
  ASSERT_NE(mpz_invert(want.z, e.z, t.z), 0);
  EXPECT_EQ(mpz_cmp(want.z, dQ.z), 0);
  ASSERT_NE(mpz_invert(want.z, q.z, p.z), 0);
  EXPECT_EQ(mpz_cmp(want.z, qInv.z), 0);
  // The blob starts 02 01 00000003 010001; the longest message round-trips.
  uint32_t len = 0;
  ASSERT_EQ(RSA_byteStringFromKey(key.k, nullptr, &len), 0);
  kel::test::Bytes blob(len), msg(nlen / 8 - 11, 0xa7), sig(nlen / 8);
  ASSERT_EQ(RSA_byteStringFromKey(key.k, blob.data(), &len), 0);
  EXPECT_EQ(kel::test::Bytes(blob.begin(), blob.begin() + 9), (kel::test::Bytes{2, 1, 0, 0, 0, 3, 1, 0, 1}));
  ASSERT_EQ(RSA_signMessage(key.k, msg.data(), static_cast<uint32_t>(msg.size()), sig.data(), nullptr), 0);
  int32_t st = 0;
  EXPECT_EQ(Recover(key, sig, &st), msg);
  // The consistency test passes, and fails once a CRT value is damaged.
  EXPECT_EQ(RSA_generateKey_FIPS_consistancy_test(key.k), 0);
  ASSERT_EQ(VLONG_addImmediate(key->exponent2, 2, nullptr), 0);
  EXPECT_EQ(RSA_generateKey_FIPS_consistancy_test(key.k), ERR_RSA_FAULT);
}

}  // namespace kel::test

// Key generation: the generated values checked with GMP, the blob, a round
// trip at the longest message, and the auxiliary-prime conditions.
#include "kel/prime.h"
#include "kel/random.h"
#include "rsa_keygen_test_util.h"

namespace kel::test {
namespace {

TEST_F(RsaTest, Generate1024) { CheckGeneratedKey(1024); }

// A size that is no multiple of 128 is rounded up.
TEST_F(RsaTest, GenerateRoundsUp) { CheckGeneratedKey(1000, 1024); }

// p - 1 is a multiple of p1 and p + 1 of p2, p1 and p2 the first primes at
// or above the auxiliary starts; gcd(p - 1, e) = 1; and the flag is cleared.
TEST_F(RsaTest, AuxiliaryPrimeConditions) {
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  V e, X, X1, X2, p, p1, p2;
  ASSERT_EQ(VLONG_makeVlongFromUnsignedValue(65537, e.out(), nullptr), 0);
  ASSERT_EQ(VLONG_makeRandomVlong(ctx, X.out(), 512, nullptr), 0);
  ASSERT_EQ(VLONG_makeRandomVlong(ctx, X1.out(), 101, nullptr), 0);
  ASSERT_EQ(VLONG_makeRandomVlong(ctx, X2.out(), 101, nullptr), 0);
  uint32_t flag = 7;
  ASSERT_EQ(RSA_generateKeyFipsSteps(ctx, e.get(), X.get(), X1.get(), X2.get(), &flag, p.out(), nullptr), 0);
  EXPECT_EQ(flag, 0u);
  ASSERT_EQ(incrementalPrimeFind(ctx, X1.get(), p1.out(), nullptr), 0);
  ASSERT_EQ(incrementalPrimeFind(ctx, X2.get(), p2.out(), nullptr), 0);
  Mpz P, P1, P2, Xz, t;
  ToMpz(P, p.get());
  ToMpz(P1, p1.get());
  ToMpz(P2, p2.get());
  ToMpz(Xz, X.get());
  EXPECT_GE(mpz_cmp(P.z, Xz.z), 0);
  EXPECT_GT(mpz_probab_prime_p(P.z, 30), 0);
  mpz_sub_ui(t.z, P.z, 1);
  EXPECT_TRUE(mpz_divisible_p(t.z, P1.z));
  EXPECT_NE(mpz_fdiv_ui(t.z, 65537), 0u);  // e is prime: gcd(p - 1, e) = 1
  mpz_add_ui(t.z, P.z, 1);
  EXPECT_TRUE(mpz_divisible_p(t.z, P2.z));
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
}

}  // namespace
}  // namespace kel::test

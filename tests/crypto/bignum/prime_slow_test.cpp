// Generation at RSA sizes, each prime confirmed by GMP.
#include "bignum_test_util.h"
#include "kel/fips.h"
#include "kel/prime.h"
#include "kel/random.h"

namespace kel::test {
namespace {

TEST(PrimeSlow, GeneratesRsaSizedPrimes) {
  gFIPS_powerupStatus = 0;
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  for (unsigned bits : {1536u, 2048u}) {
    vlong *queue = nullptr;
    V p;
    ASSERT_EQ(PRIME_generateSizedPrime(ctx, p.out(), bits, &queue), 0);
    EXPECT_EQ(queue, nullptr);
    Mpz z;
    ToMpz(z, p.get());
    EXPECT_EQ(mpz_sizeinbase(z, 2), bits);
    EXPECT_GT(mpz_probab_prime_p(z, 30), 0) << z.Hex();
    const unsigned long r6 = mpz_fdiv_ui(z, 6);
    EXPECT_TRUE(r6 == 1 || r6 == 5);
  }
  RANDOM_releaseContext(&ctx);
  gFIPS_powerupStatus = -16508;
}

}  // namespace
}  // namespace kel::test

// Key generation: the generated values checked with GMP, a round
// trip at the longest message, the consistency test, and the auxiliary-prime
// conditions of one prime.
#include "kel/prime.h"
#include "kel/random.h"
#include "pubkey_test_util.h"

namespace kel::test {
namespace {

using RsaTest = PubkeyTest;

void CheckGeneratedKey(RandomContext *ctx, uint32_t bits, uint32_t nlen) {
  Key key;
  ASSERT_EQ(RSA_createKey(&key.k), 0);
  ASSERT_EQ(RSA_generateKey(ctx, key.k, bits, nullptr), 0);
  Mpz n, e, p, q, t, want, got;
  ToMpz(n, key->modulus);
  ToMpz(e, key->publicExponent);
  ToMpz(p, key->prime1);
  ToMpz(q, key->prime2);
  EXPECT_EQ(mpz_cmp_ui(e.z, 65537), 0);
  EXPECT_EQ(mpz_sizeinbase(n.z, 2), nlen);
  EXPECT_EQ(mpz_sizeinbase(q.z, 2), nlen / 2);
  EXPECT_GT(mpz_cmp(p.z, q.z), 0);
  EXPECT_TRUE(mpz_probab_prime_p(p.z, 30) && mpz_probab_prime_p(q.z, 30));
  mpz_mul(t.z, p.z, q.z);
  EXPECT_EQ(mpz_cmp(t.z, n.z), 0);
  // dP, dQ and qInv are the inverses they should be.
  for (auto [value, of, mod, minusOne] : {std::tuple{key->exponent1, &e, &p, true}, std::tuple{key->exponent2, &e, &q, true},
                                          std::tuple{key->coefficient, &q, &p, false}}) {
    mpz_sub_ui(t.z, mod->z, minusOne ? 1 : 0);
    ASSERT_NE(mpz_invert(want.z, of->z, t.z), 0);
    ToMpz(got, value);
    EXPECT_EQ(mpz_cmp(want.z, got.z), 0);
  }
  // The longest message round-trips.
  Bytes msg(nlen / 8 - 11, 0xa7), sig(nlen / 8);
  ASSERT_EQ(RSA_signMessage(key.k, msg.data(), static_cast<uint32_t>(msg.size()), sig.data(), nullptr), 0);
  int32_t st = 0;
  EXPECT_EQ(Recover(key, sig, &st), msg);
  EXPECT_EQ(RSA_generateKey_FIPS_consistancy_test(key.k), 0);
}

class RsaGenerate : public RsaTest, public ::testing::WithParamInterface<std::pair<uint32_t, uint32_t>> {};
INSTANTIATE_TEST_SUITE_P(Bits, RsaGenerate,  // a size that is no multiple of 128 is rounded up
                         ::testing::Values(std::pair{1024u, 1024u}, std::pair{2048u, 2048u}, std::pair{3072u, 3072u},
                                           std::pair{1000u, 1024u}));
TEST_P(RsaGenerate, ValuesCheckOut) { CheckGeneratedKey(rng_, GetParam().first, GetParam().second); }

// p - 1 is a multiple of p1 and p + 1 of p2, p1 and p2 the first primes at
// or above the auxiliary starts; gcd(p - 1, e) = 1; the flag is cleared.
TEST_F(RsaTest, AuxiliaryPrimeConditions) {
  RandomContext *ctx = rng_;
  V e, X, X1, X2, p, p1, p2;
  ASSERT_EQ(VLONG_makeVlongFromUnsignedValue(65537, e.out(), nullptr), 0);
  for (auto [v, bits] : {std::pair{&X, 512u}, std::pair{&X1, 101u}, std::pair{&X2, 101u}})
    ASSERT_EQ(VLONG_makeRandomVlong(ctx, v->out(), bits, nullptr), 0);
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
}

}  // namespace
}  // namespace kel::test

// Primality on known primes and pseudoprimes, the Jacobi symbol and prime
// search against GMP, and random numbers and primes drawn from the stream.
#include "kel/prime.h"

#include <array>

#include "bignum_test_util.h"
#include "crypto/random/internal.h"

namespace kel::test {
namespace {

class Prime : public RandomTest {
 protected:
  uint32_t Test(const char *hex) {
    V v = FromHex(hex);
    uint32_t flag = 7;
    EXPECT_EQ(PRIME_doPrimeTests(rng_, v.get(), &flag, nullptr), 0) << hex;
    return flag;
  }
};

TEST_F(Prime, KnownPrimesAndComposites) {
  const struct {
    const char *hex;
    uint32_t prime;
    const char *what;
  } cases[] = {
      {"fb", 0, "251: a table prime fails trial division"}, {"107", 1, "263"},
      {"101", 1, "257 = 2^8 + 1: a base can equal n"}, {"1", 0, "1"},
      {"2be6951adc5b22410a5fd", 0, "3317044064679887385961981: strong pseudoprime to bases 2..41"},
      {"a051", 0, "41041 Carmichael"}, {"7fffffffffffffffffffffffffffffff", 1, "2^127 - 1"},
      {"1ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
       "ffffffffffffffffffff",
       1, "2^521 - 1"},
      {"fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffd", 0, "2^256 - 3 = 7·..."},
  };
  for (const auto &c : cases) EXPECT_EQ(Test(c.hex), c.prime) << c.what;
  V even = FromHex("102");
  uint32_t flag = 7;
  EXPECT_EQ(PRIME_doPrimeTests(rng_, even.get(), &flag, nullptr), -6005);
  EXPECT_EQ(flag, 0u);
  EXPECT_EQ(PRIME_doPrimeTests(rng_, nullptr, &flag, nullptr), -6001);
  EXPECT_EQ(bignum::millerRabinRoundCount(99), 50u);
  EXPECT_EQ(bignum::millerRabinRoundCount(100), 27u);
  EXPECT_EQ(bignum::millerRabinRoundCount(101), 41u);
  // 59 is table entry 15: found composite only when the range includes it.
  V v = FromHex("3b");
  for (const auto &[from, to, prime] : {std::array{0u, 15u, 1u}, {0u, 16u, 0u}, {15u, 15u, 1u}, {16u, 15u, 0u}}) {
    flag = 7;
    EXPECT_EQ(PRIME_simplePrimeTest(v.get(), from, to, &flag, nullptr), 0);
    EXPECT_EQ(flag, prime) << from << ".." << to;
  }
  // The Lucas step alone passes the Lucas pseudoprimes 323, 5459, 5777 and
  // 10877; squares and evens are out; large primes and a product of two.
  for (const auto &[hex, prime] : std::initializer_list<std::pair<const char *, uint32_t>>{
           {"143", 1}, {"1553", 1}, {"1691", 1}, {"2a7d", 1}, {"7", 1}, {"107", 1}, {"9", 0}, {"19", 0}, {"f", 0},
           {"141", 0}, {"1", 0}, {"fffffffb", 1}, {"7fffffffffffffffffffffffffffffff", 1},
           {"fffffffffffffffffffffffffffffffffffffffffffffffffffffffefffffc2f", 1},
           {"7ffffffffffffffffffffffffffffffeffffffffffffffffffffffff7ffffe17800000000000000000000001000003d1", 0}}) {
    V n = FromHex(hex);
    flag = 7;
    EXPECT_EQ(LUCAS_primeTest(n.get(), &flag, nullptr), 0) << hex;
    EXPECT_EQ(flag, prime) << hex;
  }
  V zero = FromHex("0"), two = FromHex("2");
  EXPECT_EQ(LUCAS_primeTest(zero.get(), &flag, nullptr), -6005);
  EXPECT_EQ(LUCAS_primeTest(two.get(), &flag, nullptr), -6005);
  EXPECT_EQ(LUCAS_primeTest(nullptr, &flag, nullptr), -6001);
}

TEST_F(Prime, JacobiAgainstGmp) {
  V three = FromHex("3"), eight = FromHex("8");
  int32_t j = 7;
  ASSERT_EQ(JACOBI_jacobiSymbol(three.get(), eight.get(), &j, nullptr), 0);
  EXPECT_EQ(j, 0) << "an even n";
  Operands ops(13);
  for (int i = 0; i < 300; ++i) {
    Mpz a, n;
    ops.Next(a, 40);
    ops.Next(n, 40, false);
    mpz_setbit(n, 0);
    if (mpz_cmp_ui(n.z, 1) == 0) continue;
    V va = FromMpz(a), vn = FromMpz(n);
    int32_t j = 7;
    ASSERT_EQ(JACOBI_jacobiSymbol(va.get(), vn.get(), &j, nullptr), 0);
    EXPECT_EQ(j, mpz_jacobi(a, n)) << a.Hex() << " / " << n.Hex();
  }
  const char *aHex = "123456789abcdef0fedcba987654321", *nHex = "fedcba98765432100123456789abcdef1";
  V a = FromHex(aHex), n = FromHex(nHex);
  const int want = mpz_jacobi(Mpz(aHex).z, Mpz(nHex).z);
  EXPECT_GT(FailAllocationsInTurn([&] {
              const int32_t st = JACOBI_jacobiSymbol(a.get(), n.get(), &j, nullptr);
              if (st == 0) {
                EXPECT_EQ(j, want);
              }
              return st;
            }), 3);
}

TEST_F(Prime, IncrementalFind) {
  for (auto [start, found] : {std::pair{"12c", "133"}, {"2", "101"}, {"fb", "101"}}) {  // 300 -> 307; small -> 257
    V s = FromHex(start), r;
    ASSERT_EQ(incrementalPrimeFind(rng_, s.get(), r.out(), nullptr), 0);
    EXPECT_EQ(Str(r.get()), found) << start;
  }
  Operands ops(17);
  for (unsigned bits : {40u, 300u, 512u}) {
    Mpz start, want;
    mpz_urandomb(start, ops.state(), bits);
    mpz_setbit(start, bits - 1);
    Mpz from;
    mpz_sub_ui(from, start, mpz_odd_p(start.z) ? 1 : 2);  // an even start begins one below
    mpz_nextprime(want, from);
    V s = FromMpz(start), r;
    ASSERT_EQ(incrementalPrimeFind(rng_, s.get(), r.out(), nullptr), 0);
    EXPECT_EQ(Str(r.get()), want.Hex()) << bits;
  }
}

// A random number of `bits` bits is the generator's next (bits + 7) / 8 bytes,
// big-endian, cut to its top bits, top and bottom bits set. A generated prime
// has the size asked for and follows from the stream, leaving it in step.
TEST_F(Prime, RandomNumbersAndPrimesFollowTheStream) {
  const uint8_t xkey[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  for (uint32_t bits : {1u, 9u, 100u, 512u, 1023u, 1024u, 2048u}) {
    RandomContext *a = nullptr, *b = nullptr;
    ASSERT_EQ(RANDOM_newFIPS186Context(&a, 20, xkey, 0, nullptr), 0);
    ASSERT_EQ(RANDOM_newFIPS186Context(&b, 20, xkey, 0, nullptr), 0);
    V v;
    ASSERT_EQ(VLONG_makeRandomVlong(a, v.out(), bits, nullptr), 0);
    Bytes raw((bits + 7) / 8);
    ASSERT_EQ(RANDOM_numberGenerator(b, raw.data(), static_cast<uint32_t>(raw.size())), 0);
    Mpz want(ToHex(raw).c_str());
    mpz_fdiv_q_2exp(want.z, want.z, 8 * raw.size() - bits);
    mpz_setbit(want.z, 0);
    mpz_setbit(want.z, bits - 1);
    EXPECT_EQ(Str(v.get()), want.Hex()) << bits;
    if (bits % 512 == 0) {
      vlong *queue = nullptr;
      V p, q;
      ASSERT_EQ(PRIME_generateSizedPrime(a, p.out(), bits, &queue), 0);
      EXPECT_EQ(queue, nullptr);  // emptied
      ASSERT_EQ(PRIME_generateSizedPrime(b, q.out(), bits, nullptr), 0);
      Mpz got;
      ToMpz(got, p.get());
      EXPECT_EQ(mpz_sizeinbase(got, 2), bits);
      EXPECT_GT(mpz_probab_prime_p(got, 30), 0);
      EXPECT_EQ(Str(q.get()), got.Hex());
    }
    uint8_t next[2][16];
    ASSERT_EQ(RANDOM_numberGenerator(a, next[0], 16), 0);
    ASSERT_EQ(RANDOM_numberGenerator(b, next[1], 16), 0);
    EXPECT_EQ(0, memcmp(next[0], next[1], 16)) << bits;
    RANDOM_deleteFIPS186Context(&a);
    RANDOM_deleteFIPS186Context(&b);
  }
  random::as_ctr(rng_)->state.reseedCounter = UINT64_MAX;
  V none;
  EXPECT_EQ(VLONG_makeRandomVlong(rng_, none.out(), 100, nullptr), ERR_DRBG_RESEED_REQUIRED);
  EXPECT_EQ(none.p, nullptr);
}

}  // namespace
}  // namespace kel::test

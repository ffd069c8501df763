// The MULX/ADX products and x86-64 modular additions against the portable code
// for the four moduli on every pair of edge values, and the divsteps' inverses.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/pubkey/ec_internal.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {
namespace {

using namespace kel::ec;

// Every kernel is called as (r, a, b, c, m); the ones without c through Plain.
using Kernel = void (*)(uint64_t *, const uint64_t *, const uint64_t *, const uint64_t *, const uint64_t *);
using Kernel4 = void (*)(uint64_t *, const uint64_t *, const uint64_t *, const uint64_t *);
template <Kernel4 K> void Plain(uint64_t *r, const uint64_t *a, const uint64_t *b, const uint64_t *, const uint64_t *m) {
  K(r, a, b, m);
}
enum class Op { kMul, kSqr, kAdd, kSub };
enum class Then { kNothing, kTwice, kLessC };  // what a fused kernel does with a b or a^2

// Values below m: 0, 1, 2, 3, 2^32 - 2, R mod m, 2^(64N - 1), m - 1, m - 2,
// then `count` random ones.
template <int N, const Modulus<N> &M> std::vector<Limbs<N>> Values(int count) {
  std::vector<Limbs<N>> v(9);
  v[1][0] = 1, v[2][0] = 2, v[3][0] = 3, v[4][0] = 0xfffffffe, v[5] = M.one, v[6][N - 1] = uint64_t{1} << 63;
  v[7] = M.m, v[7][0] -= 1;
  v[8] = M.m, v[8][0] -= 2;
  std::mt19937_64 rng(N);
  for (int i = 0; i < count; ++i) {
    Limbs<N> r;
    for (auto &l : r) l = rng();
    final_subtract<N>(r, r.data(), 0, M.m);
    v.push_back(r);
  }
  return v;
}

// kernel(r, a, b, c) against the portable operations (a squaring kernel is
// given b twice; c runs through the values too); a product's first operand
// may also be unreduced, below 2^64N.
template <int N, const Modulus<N> &M> void Compare(Kernel kernel, Op op = Op::kMul, Then then = Then::kNothing) {
  const bool square = op == Op::kSqr, product = op == Op::kMul || square;
  using Fe = Limbs<N>;
  const std::vector<Fe> values = Values<N, M>(4);
  Fe ones;
  ones.fill(~uint64_t{0});
  auto check = [&](const Fe &a, const Fe &b, const Fe &c) {
    Fe want, got;
    if (product) mont_mul<N, M>(want, a, b);
    else (op == Op::kAdd ? mod_add<N, M> : mod_sub<N, M>)(want, a, b);
    if (then == Then::kTwice) mod_add<N, M>(want, want, want);
    if (then == Then::kLessC) mod_sub<N, M>(want, want, c);
    kernel(got.data(), a.data(), b.data(), c.data(), M.m.data());
    EXPECT_EQ(got, want);
  };
  for (size_t i = 0; i < values.size(); ++i) {
    const Fe &b = values[i];
    for (size_t j = 0; j < values.size(); ++j) check(square ? b : values[j], b, values[(i + j) % values.size()]);
    if (op == Op::kMul) check(ones, b, values[i]);  // unreduced first operand
  }
}

TEST(EcKernels, AdxProductsMatchPortable) {
  if (!cpu::has(cpu::kBmi2 | cpu::kAdx)) GTEST_SKIP() << "no BMI2 and ADX";
  using P256 = CurveModuli<P256Params>;
  Compare<4, P256::field>(mont_mul_p256_adx);
  Compare<4, P256::field>(mont_mul_twice_p256_adx, Op::kMul, Then::kTwice);
  Compare<4, P256::field>(mont_mul_less_p256_adx, Op::kMul, Then::kLessC);
  Compare<4, P256::field>(mont_sqr_p256_adx, Op::kSqr);
  Compare<4, P256::field>(mont_sqr_twice_p256_adx, Op::kSqr, Then::kTwice);
  Compare<4, P256::field>(mont_sqr_less_p256_adx, Op::kSqr, Then::kLessC);
  Compare<4, P256::order>(Plain<mont_mul4_adx>);
  Compare<4, P256::order>(mont_sqr4_adx, Op::kSqr);
  Compare<4, P256::field>(Plain<mod_add4_x64>, Op::kAdd);
  Compare<4, P256::order>(Plain<mod_sub4_x64>, Op::kSub);
  Compare<6, CurveModuli<P384Params>::field>(Plain<mont_mul_p384_adx>);
  Compare<6, CurveModuli<P384Params>::order>(Plain<mont_mul6_adx>);
  Compare<6, CurveModuli<P384Params>::order>(Plain<mod_add6_x64>, Op::kAdd);
  Compare<6, CurveModuli<P384Params>::field>(Plain<mod_sub6_x64>, Op::kSub);
}

// Each fast path is taken where the CPU has it (else the runs over every path
// would compare the portable code with itself), and goes when the features do.
TEST(EcKernels, ChosenFromTheCpuFeatures) {
  for (uint32_t allowed : {~0u, 0u, ~0u}) {
    cpu::restrict_to(allowed);
    EXPECT_EQ(use_adx(), cpu::has(cpu::kBmi2 | cpu::kAdx)) << allowed;
    EXPECT_EQ(use_avx2(), cpu::has(cpu::kAvx2)) << allowed;
  }
}

// Inverses (of Montgomery and plain values) against Fermat's: the values above,
// powers of two (the longest runs of zeros) and random ones of every length.
template <int N, const Modulus<N> &M> void CompareInverse() {
  using Fe = Limbs<N>;
  using F = Mont<N, M>;
  std::vector<Fe> values = Values<N, M>(2000);
  std::mt19937_64 rng(N + 1);
  for (int i = 0; i < 64; ++i) {
    Fe v{};
    v[i % N] = uint64_t{1} << (i % 64);  // 2^(64 (i mod N) + i mod 64)
    values.push_back(v);
    for (auto &l : v) l = rng() >> (i % 64);
    final_subtract<N>(v, v.data(), 0, M.m);
    values.push_back(v);
  }
  Fe fermat = M.m;  // a^(m - 2)
  fermat[0] -= 2;
  for (const Fe &a : values) {  // 0 has none: 0 comes back
    const Fe want = F::pow(F::to_mont(a), fermat);
    EXPECT_EQ(F::inverse_ct(F::to_mont(a)), want) << a[0];
    EXPECT_EQ(F::inverse_plain(a), want) << a[0];
  }
}

TEST(EcKernels, InversesMatchFermat) {
  ForEachCpuPath([] {
    CompareInverse<4, CurveModuli<P256Params>::order>();
    CompareInverse<4, CurveModuli<P256Params>::field>();
    CompareInverse<6, CurveModuli<P384Params>::order>();
    CompareInverse<6, CurveModuli<P384Params>::field>();
  });
}

}  // namespace
}  // namespace kel::test

// The MULX/ADX Montgomery products and the x86-64 modular additions against
// the portable code, for the four moduli (P-256 and P-384, field and order),
// on every pair of edge values: 0, 1, small, R mod m, m - 1, m - 2, all-ones
// limbs, and a few random ones. The first operand of a product may also be
// unreduced (below 2^64N, as the conversion into Montgomery form passes it).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/pubkey/ec_internal.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {
namespace {

using namespace kel::ec;

using Kernel = void (*)(uint64_t *, const uint64_t *, const uint64_t *, const uint64_t *);
enum class Op { kMul, kSqr, kAdd, kSub };

// kernel(r, a, b) against the portable operation; a squaring kernel is
// given b twice.
template <int N, const Modulus<N> &M> void Compare(Kernel kernel, Op op = Op::kMul) {
  const bool square = op == Op::kSqr, product = op == Op::kMul || square;
  using Fe = Limbs<N>;
  std::vector<Fe> values(6);
  values[1][0] = 1;
  values[2][0] = 0xfffffffe;
  values[3] = M.one;
  values[4] = M.m, values[4][0] -= 1;
  values[5] = M.m, values[5][0] -= 2;
  std::mt19937_64 rng(N);
  for (int i = 0; i < 4; ++i) {
    Fe v;
    for (auto &l : v) l = rng();
    Fe below;
    final_subtract<N>(below, v.data(), 0, M.m);
    values.push_back(below);
  }
  Fe ones;
  ones.fill(~uint64_t{0});
  for (const Fe &b : values) {
    for (Fe a : values) {
      if (square) a = b;
      Fe want, got;
      if (product) mont_mul<N, M>(want, a, b);
      else (op == Op::kAdd ? mod_add<N, M> : mod_sub<N, M>)(want, a, b);
      kernel(got.data(), a.data(), b.data(), M.m.data());
      EXPECT_EQ(got, want);
    }
    if (op != Op::kMul) continue;
    Fe want, got;  // unreduced first operand
    mont_mul<N, M>(want, ones, b);
    kernel(got.data(), ones.data(), b.data(), M.m.data());
    EXPECT_EQ(got, want);
  }
}

TEST(EcKernels, AdxProductsMatchPortable) {
  if (!cpu::has(cpu::kBmi2 | cpu::kAdx)) GTEST_SKIP() << "no BMI2 and ADX";
  Compare<4, CurveModuli<P256Params>::field>(mont_mul4_adx);
  Compare<4, CurveModuli<P256Params>::field>(mont_mul_p256_adx);
  Compare<4, CurveModuli<P256Params>::field>(mont_sqr_p256_adx, Op::kSqr);
  Compare<4, CurveModuli<P256Params>::order>(mont_mul4_adx);
  Compare<4, CurveModuli<P256Params>::order>(mont_sqr4_adx, Op::kSqr);
  for (Op op : {Op::kAdd, Op::kSub}) {
    Compare<4, CurveModuli<P256Params>::field>(op == Op::kAdd ? mod_add4_x64 : mod_sub4_x64, op);
    Compare<4, CurveModuli<P256Params>::order>(op == Op::kAdd ? mod_add4_x64 : mod_sub4_x64, op);
  }
  Compare<6, CurveModuli<P384Params>::field>(mont_mul6_adx);
  Compare<6, CurveModuli<P384Params>::field>(mont_mul_p384_adx);
  Compare<6, CurveModuli<P384Params>::order>(mont_mul6_adx);
  for (Op op : {Op::kAdd, Op::kSub}) {
    Compare<6, CurveModuli<P384Params>::field>(op == Op::kAdd ? mod_add6_x64 : mod_sub6_x64, op);
    Compare<6, CurveModuli<P384Params>::order>(op == Op::kAdd ? mod_add6_x64 : mod_sub6_x64, op);
  }
}

// The divsteps' inverses (of Montgomery and of plain values) against
// Fermat's, for the orders and the fields: 0, small values, powers of two
// (the longest runs of zeros), m - 1, m - 2 and random ones.
template <int N, const Modulus<N> &M> void CompareInverse() {
  using Fe = Limbs<N>;
  using F = Mont<N, M>;
  std::vector<Fe> values(6);
  values[0][0] = 1, values[1][0] = 2, values[2][0] = 3;
  values[3][N - 1] = uint64_t{1} << 63;
  values[4] = M.m, values[4][0] -= 1;
  values[5] = M.m, values[5][0] -= 2;
  std::mt19937_64 rng(N);
  for (int i = 0; i < 64; ++i) {
    Fe v{};
    v[i % N] = uint64_t{1} << (i % 64);  // 2^(64 (i mod N) + i mod 64)
    values.push_back(v);
    for (auto &l : v) l = rng() >> (i % 64);
    final_subtract<N>(v, v.data(), 0, M.m);
    if (F::is_zero_mask(v) == 0) values.push_back(v);
  }
  for (int i = 0; i < 2000; ++i) {
    Fe v;
    for (auto &l : v) l = rng();
    final_subtract<N>(v, v.data(), 0, M.m);
    values.push_back(v);
  }
  Fe fermat = M.m;  // a^(m - 2)
  fermat[0] -= 2;
  for (const Fe &a : values) {
    const Fe want = F::pow(F::to_mont(a), fermat);
    EXPECT_EQ(F::inverse_ct(F::to_mont(a)), want) << a[0];
    EXPECT_EQ(F::inverse_plain(a), want) << a[0];
  }
  EXPECT_EQ(F::inverse_ct(Fe{}), Fe{});
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

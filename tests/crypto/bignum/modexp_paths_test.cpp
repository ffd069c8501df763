// Every exponentiation kind (public, secret, secret over a public modulus) and the
// two-exponent product against GMP on every CPU path, with bases at the
// edges of the division-free reduction (just below, at and above m·R and
// 2^bits(m)·R) and moduli of the widths the wide kernels take.
#include "bignum_test_util.h"
#include "crypto/common/cpu.h"

namespace kel::test {
namespace {

using kel::bignum::Exponent;

// Base shapes relative to m and R = 2^(64·limbs(m)).
enum Shape { kBelow, kJustAboveMR, kTopOfReduction, kPastReduction, kRandom, kShapes };

void MakeBase(Operands &ops, mpz_t x, const mpz_t m, int shape) {
  const unsigned long rbits = 64 * ((mpz_sizeinbase(m, 2) + 63) / 64);
  Mpz t;
  switch (shape) {
    case kBelow:
      ops.Next(x, 1 + static_cast<unsigned>(mpz_sizeinbase(m, 2) / 32), false);
      mpz_mod(x, x, m);
      break;
    case kJustAboveMR:  // high half = m: the masked subtraction is taken
      mpz_mul_2exp(x, m, rbits);
      mpz_add_ui(x, x, ops.Below(1000));
      break;
    case kTopOfReduction:  // the longest base reduced without bit steps
      mpz_setbit(t, rbits + mpz_sizeinbase(m, 2));
      mpz_sub_ui(x, t, 1);
      break;
    case kPastReduction:
      mpz_setbit(x, rbits + mpz_sizeinbase(m, 2));
      mpz_add_ui(x, x, ops.Below(1000));
      break;
    default:
      ops.Next(x, static_cast<unsigned>(rbits / 16), false);
  }
}

TEST(ModExpPaths, SecretEntriesAgainstGmp) {
  ForEachCpuPath([] {
    Operands ops(29);
    // Moduli in bits: 1 unit, the 1024/2048-bit widths, odd unit counts and
    // a long one.
    const unsigned mbits[] = {3, 31, 521, 1023, 1024, 1536, 2047, 2048, 3072, 4096};
    for (unsigned bits : mbits)
      for (int shape = 0; shape < kShapes; ++shape) {
        Mpz m, e, x, want;
        mpz_urandomb(m, ops.state(), bits);
        mpz_setbit(m, bits - 1);
        mpz_setbit(m, 0);
        MakeBase(ops, x, m, shape);
        ops.Next(e, 1 + static_cast<unsigned>(ops.Below(70)), false);
        if (shape == kRandom && (bits & 1)) mpz_neg(x, x);
        mpz_powm(want, x, e, m);
        V vx = FromMpz(x), ve = FromMpz(e), vm = FromMpz(m);
        SCOPED_TRACE("bits " + std::to_string(bits) + " shape " + std::to_string(shape));
        for (Exponent kind : {Exponent::kPublic, Exponent::kSecret, Exponent::kSecretPublicModulus}) {
          V r;
          ASSERT_EQ(bignum::mod_exp(vx.get(), ve.get(), vm.get(), kind, r.out(), nullptr), 0);
          EXPECT_EQ(Str(r.get()), want.Hex());
        }
      }
  });
  V three = FromHex("3"), five = FromHex("5"), eight = FromHex("8"), r;
  EXPECT_EQ(bignum::modexp_public_modulus(three.get(), five.get(), eight.get(), r.out(), nullptr), -6004);
}

// RSA's CRT pair: both halves in one pass when the widths match, else one
// after the other; exponents of different lengths.
TEST(ModExpPaths, CrtPair) {
  ForEachCpuPath([] {
    Operands ops(37);
    const unsigned widths[][2] = {{1024, 1024}, {2048, 2047}, {1023, 960}, {512, 1024}, {3072, 3072}};
    for (const auto &w : widths) {
      Mpz m[2], d[2], c, want[2];
      for (int v = 0; v < 2; ++v) {
        mpz_urandomb(m[v], ops.state(), w[v]);
        mpz_setbit(m[v], w[v] - 1);
        mpz_setbit(m[v], 0);
        ops.Next(d[v], 1 + static_cast<unsigned>(w[v] / 32 - v * 3), false);
      }
      mpz_mul(c, m[0], m[1]);
      mpz_urandomm(c, ops.state(), c);
      ModExpHelper *h[2] = {};
      V vc = FromMpz(c), vm[2] = {FromMpz(m[0]), FromMpz(m[1])}, vd[2] = {FromMpz(d[0]), FromMpz(d[1])}, r[2];
      for (int v = 0; v < 2; ++v) {
        mpz_powm(want[v], c, d[v], m[v]);
        ASSERT_EQ(VLONG_newModExpHelper(&h[v], vm[v].get(), nullptr), 0);
      }
      EXPECT_EQ(
          bignum::mod_exp_crt(h[0], h[1], vc.get(), vd[0].get(), vd[1].get(), r[0].out(), r[1].out(), nullptr), 0);
      for (int v = 0; v < 2; ++v) {
        EXPECT_EQ(r[v].p ? Str(r[v].get()) : "null", want[v].Hex()) << w[0] << "/" << w[1] << " half " << v;
        VLONG_deleteModExpHelper(&h[v], nullptr);
      }
    }
  });
}

TEST(ModExpPaths, TwoExponentProduct) {
  ForEachCpuPath([] {
    Operands ops(31);
    for (int i = 0; i < 12; ++i) {
      Mpz p, g, y, a, b, t, want;
      ops.Next(p, i < 10 ? 40 : 96, false);
      mpz_setbit(p, 0);
      ops.Next(g, 100);
      ops.Next(y, 100);
      ops.Next(a, 1 + static_cast<unsigned>(ops.Below(10)), false);
      ops.Next(b, 1 + static_cast<unsigned>(ops.Below(10)), false);
      if (i == 0) mpz_set_ui(a, 0);
      mpz_powm(want, g, a, p);
      mpz_powm(t, y, b, p);
      mpz_mul(want, want, t);
      mpz_mod(want, want, p);
      V vp = FromMpz(p), vg = FromMpz(g), vy = FromMpz(y), va = FromMpz(a), vb = FromMpz(b), r;
      ASSERT_EQ(bignum::mod_exp2(vg.get(), va.get(), vy.get(), vb.get(), vp.get(), r.out(), nullptr), 0);
      EXPECT_EQ(Str(r.get()), want.Hex());
    }
    V two = FromHex("2"), r;
    EXPECT_EQ(bignum::mod_exp2(two.get(), two.get(), two.get(), two.get(), two.get(), r.out(), nullptr), -6004);
  });
}

}  // namespace
}  // namespace kel::test

// Exponentiation against GMP's mpz_powm on every route, the method rules and
// the memory contract (queue reuse, no allocation in the main loop, wiping).
#include "bignum_test_util.h"

namespace kel::test {
namespace {

using kel::bignum::Exponent;

struct Powm {
  Mpz x, e, m, want;
  V vx, ve, vm;
  void Make() {
    mpz_powm(want, x, e, m);
    vx = FromMpz(x);
    ve = FromMpz(e);
    vm = FromMpz(m);
  }
};

// Every route to x^e mod m that applies to m, checked against GMP: the
// integer entry, the helper (a deep copy outlives its source) and the three
// exponent kinds (the secret ones constant-time).
void CheckAllRoutes(Powm &p) {
  V r;
  ASSERT_EQ(VLONG_modexp(p.vx.get(), p.ve.get(), p.vm.get(), r.out(), nullptr), 0);
  EXPECT_EQ(Str(r.get()), p.want.Hex());
  if (!mpz_odd_p(p.m.z)) return;
  ModExpHelper *source = nullptr, *h = nullptr;
  ASSERT_EQ(VLONG_newModExpHelper(&source, p.vm.get(), nullptr), 0);
  ASSERT_EQ(VLONG_makeModExpHelperFromModExpHelper(source, &h, nullptr), 0);
  EXPECT_EQ(VLONG_deleteModExpHelper(&source, nullptr), 0);
  V r2, k[3];
  EXPECT_EQ(VLONG_modExp(h, p.vx.get(), p.ve.get(), r2.out(), nullptr), 0);
  EXPECT_EQ(VLONG_deleteModExpHelper(&h, nullptr), 0);
  EXPECT_EQ(h, nullptr);
  int i = 0;
  for (Exponent kind : {Exponent::kPublic, Exponent::kSecret, Exponent::kSecretPublicModulus})
    EXPECT_EQ(bignum::mod_exp(p.vx.get(), p.ve.get(), p.vm.get(), kind, k[i++].out(), nullptr), 0);
  for (V *v : {&r2, &k[0], &k[1], &k[2]}) EXPECT_EQ(v->p ? Str(v->get()) : "null", p.want.Hex());
}

// Base shapes relative to m and R = 2^(64·limbs(m)), at the edges of the
// division-free reduction (just below, at and above m·R and 2^bits(m)·R).
enum Shape { kBelow, kJustAboveMR, kTopOfReduction, kPastReduction, kRandom, kShapes };

void MakeBase(Operands &ops, mpz_t x, const mpz_t m, int shape) {
  const unsigned long mbits = mpz_sizeinbase(m, 2), rbits = 64 * ((mbits + 63) / 64);
  if (shape == kBelow || shape == kRandom) {
    ops.Next(x, static_cast<unsigned>(shape == kBelow ? 1 + mbits / 32 : rbits / 16), false);
    if (shape == kBelow) mpz_mod(x, x, m);
  } else if (shape == kJustAboveMR) {  // high half = m: the masked subtraction is taken
    mpz_mul_2exp(x, m, rbits);
    mpz_add_ui(x, x, ops.Below(1000));
  } else {  // 2^bits(m)·R - 1 is the longest base reduced without bit steps
    mpz_set_ui(x, 0);
    mpz_setbit(x, rbits + mbits);
    shape == kTopOfReduction ? mpz_sub_ui(x, x, 1) : mpz_add_ui(x, x, ops.Below(1000));
  }
}

TEST(ModExp, AgainstGmp) {
  ForEachCpuPath([] {
    Operands ops(11);
    // Moduli of 1 unit, odd unit counts, 64k + 1 bits (R mod m starts in a
    // new limb), the 1024/2048-bit widths the wide kernels take and long
    // ones; a few even, with a negative base (reduced into [0, m) first).
    // Exponent lengths on each side of every window-width boundary.
    const unsigned ebits[] = {1, 2, 23, 24, 79, 80, 239, 240, 671, 672, 1000, 2048};
    int i = 0;
    for (unsigned bits : {3u, 31u, 193u, 521u, 1023u, 1024u, 1536u, 2047u, 2048u, 3072u, 4096u, 6401u})
      for (int shape = 0; shape < kShapes; ++shape, ++i) {
        Powm p;
        ops.Odd(p.m, bits);
        if (shape == kRandom && bits % 4 == 3) mpz_clrbit(p.m, 0);
        MakeBase(ops, p.x, p.m, shape);
        const unsigned eb = mpz_odd_p(p.m.z) ? ebits[i % 12] : 1 + static_cast<unsigned>(ops.Below(32));
        mpz_urandomb(p.e, ops.state(), eb);
        mpz_setbit(p.e, eb - 1);
        if (shape == kRandom && (bits & 1)) mpz_neg(p.x, p.x);
        p.Make();
        SCOPED_TRACE("bits " + std::to_string(bits) + " shape " + std::to_string(shape) + " exponent bits " +
                     std::to_string(eb));
        CheckAllRoutes(p);
      }
  });
}

// x^e mod m for small values: 0^0 = 0 here; an even modulus takes Barrett
// (a negative base is reduced into [0, m) first); refusals and null handling.
TEST(ModExp, MethodRulesAndStatuses) {
  ASSERT_NE(gFIPS_powerupStatus, 0);  // big numbers are not behind the gate
  const struct {
    const char *x, *e, *m, *want;  // want null: -6004
  } cases[] = {{"0", "0", "7", "0"},   {"3", "0", "7", "1"},  {"3", "5", "8", "3"},   {"-3", "5", "8", "5"},
               {"-3", "1", "a", "7"},  {"-a", "3", "a", "0"}, {"-b", "2", "a", "1"},  {"3", "100000000", "8", nullptr},
               {"3", "5", "0", nullptr}};
  for (const auto &c : cases) {
    V x = FromHex(c.x), e = FromHex(c.e), m = FromHex(c.m), r;
    const int32_t st = VLONG_modexp(x.get(), e.get(), m.get(), r.out(), nullptr);
    EXPECT_EQ(st, c.want ? 0 : -6004) << c.x << "^" << c.e << " mod " << c.m;
    EXPECT_EQ(r.p ? Str(r.get()) : "null", c.want ? c.want : "null") << c.x << "^" << c.e << " mod " << c.m;
  }
  V three = FromHex("3"), five = FromHex("5"), seven = FromHex("7"), eight = FromHex("8"), zero = FromHex("0"), bad;
  EXPECT_EQ(VLONG_modexp(nullptr, five.get(), seven.get(), bad.out(), nullptr), -6001);
  EXPECT_EQ(VLONG_modexp(three.get(), five.get(), seven.get(), nullptr, nullptr), -6001);
  ModExpHelper *h = nullptr;
  EXPECT_EQ(VLONG_newModExpHelper(&h, eight.get(), nullptr), -6004);
  EXPECT_EQ(VLONG_newModExpHelper(&h, zero.get(), nullptr), -6004);
  EXPECT_EQ(bignum::modexp_consttime(three.get(), five.get(), eight.get(), bad.out(), nullptr), -6004);
  EXPECT_TRUE(h == nullptr && bad.p == nullptr);
  EXPECT_EQ(VLONG_deleteModExpHelper(&h, nullptr), 0);
  EXPECT_EQ(VLONG_deleteModExpHelper(nullptr, nullptr), 0);
  {
    ReleaseWatch watch;  // a helper, deleted, leaves nothing behind
    ASSERT_EQ(VLONG_newModExpHelper(&h, seven.get(), nullptr), 0);
    EXPECT_EQ(VLONG_deleteModExpHelper(&h, nullptr), 0);
    EXPECT_TRUE(ReleaseWatch::live.empty());
  }
  EXPECT_EQ(VLONG_makeModExpHelperFromModExpHelper(nullptr, &h, nullptr), -6001);
}

// Products that are multiples of m, and one more: the reduction gives 0 (never
// m), and the other factor.
TEST(ModExp, BarrettExactMultiples) {
  Operands ops(3);
  for (int i = 0; i < 200; ++i) {
    // m = a·c and b = c·k with k < a: a·b = k·m.
    Mpz m, a, b, c, k;
    ops.Next(a, 10, false);
    ops.Next(c, 10, false);
    mpz_add_ui(a, a, 2);
    mpz_add_ui(c, c, 1);
    mpz_mul(m, a, c);
    mpz_urandomm(k, ops.state(), a);
    mpz_add_ui(k, k, 1);
    if (mpz_cmp(k, a) >= 0) mpz_sub_ui(k, k, 1);
    mpz_mul(b, c, k);
    V vm = FromMpz(m), va = FromMpz(a), vb = FromMpz(b), mu, r;
    ASSERT_EQ(VLONG_newBarrettMu(mu.out(), vm.get(), nullptr), 0);
    ASSERT_EQ(VLONG_allocVlong(r.out(), nullptr), 0);
    ASSERT_EQ(VLONG_barrettMultiply(r.get(), va.get(), vb.get(), vm.get(), mu.get(), nullptr), 0);
    EXPECT_EQ(Str(r.get()), "0") << m.Hex();
    mpz_add_ui(b, b, 1);  // a·(b + 1) = k·m + a, and a < m
    V next = FromMpz(b);
    ASSERT_EQ(VLONG_barrettMultiply(r.get(), va.get(), next.get(), vm.get(), mu.get(), nullptr), 0);
    EXPECT_EQ(Str(r.get()), a.Hex()) << m.Hex();
  }
}

void Sample(Powm &p, unsigned mbits, unsigned ebits) {
  Operands ops(mbits + ebits);
  ops.Odd(p.m, mbits);
  mpz_urandomb(p.e, ops.state(), ebits);
  mpz_setbit(p.e, ebits - 1);
  mpz_urandomb(p.x, ops.state(), mbits - 1);
  p.Make();
}

TEST(ModExpMemory, QueueReuseNoLoopAllocationAndWipe) {
  Powm shortE, longE;
  Sample(shortE, 2048, 700);
  Sample(longE, 2048, 2048);
  for (Exponent kind : {Exponent::kPublic, Exponent::kSecret}) {
    ReleaseWatch watch;
    // Same window width, three times the bits: the same allocations.
    uint64_t before = kel::mem::allocation_count();
    V a, b;
    ASSERT_EQ(bignum::mod_exp(shortE.vx.get(), shortE.ve.get(), shortE.vm.get(), kind, a.out(), nullptr), 0);
    const uint64_t forShort = kel::mem::allocation_count() - before;
    before = kel::mem::allocation_count();
    ASSERT_EQ(bignum::mod_exp(longE.vx.get(), longE.ve.get(), longE.vm.get(), kind, b.out(), nullptr), 0);
    EXPECT_EQ(kel::mem::allocation_count() - before, forShort);
    EXPECT_EQ(Str(b.get()), longE.want.Hex());
    // With a queue, the temporaries come back to it: once the queue is warm
    // (results given back too), a run takes everything from it.
    vlong *queue = nullptr;
    V c, d;
    for (int warm = 0; warm < 3; ++warm) {
      ASSERT_EQ(bignum::mod_exp(longE.vx.get(), longE.ve.get(), longE.vm.get(), kind, c.out(), &queue), 0);
      VLONG_freeVlong(c.out(), &queue);
    }
    before = kel::mem::allocation_count();
    ASSERT_EQ(bignum::mod_exp(longE.vx.get(), longE.ve.get(), longE.vm.get(), kind, d.out(), &queue), 0);
    EXPECT_EQ(kel::mem::allocation_count() - before, 0u);
    EXPECT_EQ(Str(d.get()), longE.want.Hex());
    // Emptying the queue and freeing the results wipe every block first.
    VLONG_freeVlongQueue(&queue);
    EXPECT_EQ(queue, nullptr);
    a = V(), b = V(), c = V(), d = V();
    EXPECT_EQ(ReleaseWatch::dirty, 0);
  }
}

// Each allocation failing in turn: -6101, no result and (under ASan) no leak.
TEST(ModExpMemory, EveryAllocationFailure) {
  Powm p, even;
  Sample(p, 1024, 1024);
  Sample(even, 512, 20);
  mpz_clrbit(even.m, 0);
  even.Make();
  for (Powm *s : {&p, &even})
    for (int route = 0; route < 3; ++route)
      FailAllocationsInTurn([&] {
        vlong *queue = nullptr;
        V r;
        const vlong *x = s->vx.get(), *e = s->ve.get(), *m = s->vm.get();
        const int32_t st = route == 1 ? bignum::modexp_consttime(x, e, m, r.out(), nullptr)
                                      : VLONG_modexp(x, e, m, r.out(), route == 0 ? &queue : nullptr);
        VLONG_freeVlongQueue(&queue);
        if (route == 1 && s == &even) {  // refused before the first allocation
          EXPECT_EQ(st, -6004);
          return 0;
        }
        EXPECT_EQ(r.p ? Str(r.get()) : "null", st ? "null" : s->want.Hex()) << "route " << route;
        return st;
      });
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
        ops.Odd(m[v], w[v]);
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
  V m0 = FromHex("fffffffb"), m1 = FromHex("ffffffef"), c = FromHex("12345"), d = FromHex("10001");
  ModExpHelper *h0 = nullptr, *h1 = nullptr;
  ASSERT_EQ(VLONG_newModExpHelper(&h0, m0.get(), nullptr) | VLONG_newModExpHelper(&h1, m1.get(), nullptr), 0);
  FailAllocationsInTurn([&] {
    V r0, r1;
    const int32_t s = bignum::mod_exp_crt(h0, h1, c.get(), d.get(), d.get(), r0.out(), r1.out(), nullptr);
    EXPECT_TRUE((r0.p != nullptr) == (s == 0) && (r1.p != nullptr) == (s == 0));
    return s;
  });
  VLONG_deleteModExpHelper(&h0, nullptr);
  VLONG_deleteModExpHelper(&h1, nullptr);
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

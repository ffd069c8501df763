// Exponentiation against GMP's mpz_powm: the sliding window, the helper, the
// constant-time path and Barrett; the method rules and statuses; and the
// memory contract (queue reuse, no allocation in the main loop, wiping,
// allocation failure at every allocation).
#include <map>
#include <thread>

#include "bignum_test_util.h"
#include "crypto/common/alloc.h"
#include "kel/fips.h"

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

// Every route to x^e mod m that applies to m, checked against GMP.
void CheckAllRoutes(Powm &p) {
  V r;
  ASSERT_EQ(VLONG_modexp(p.vx.get(), p.ve.get(), p.vm.get(), r.out(), nullptr), 0);
  EXPECT_EQ(Str(r.get()), p.want.Hex());
  if (!mpz_odd_p(p.m.z)) return;
  ModExpHelper *h = nullptr;
  ASSERT_EQ(VLONG_newModExpHelper(&h, p.vm.get(), nullptr), 0);
  V r2, r3, r4;
  EXPECT_EQ(VLONG_modExp(h, p.vx.get(), p.ve.get(), r2.out(), nullptr), 0);
  EXPECT_EQ(bignum::mod_exp(h, p.vx.get(), p.ve.get(), Exponent::kSecret, r3.out(), nullptr), 0);
  EXPECT_EQ(bignum::modexp_consttime(p.vx.get(), p.ve.get(), p.vm.get(), r4.out(), nullptr), 0);
  EXPECT_EQ(VLONG_deleteModExpHelper(&h, nullptr), 0);
  EXPECT_EQ(h, nullptr);
  for (V *v : {&r2, &r3, &r4}) EXPECT_EQ(v->p ? Str(v->get()) : "null", p.want.Hex());
}

TEST(ModExp, AgainstGmp) {
  ForEachCpuPath([] {
    Operands ops(11);
    // Exponent lengths on each side of every window-width boundary, and
    // random ones; moduli odd and even, 1 to 64 units and a few long ones.
    const unsigned ebits[] = {1, 2, 23, 24, 79, 80, 239, 240, 671, 672, 1000, 2048};
    for (int i = 0; i < 60; ++i) {
      Powm p;
      ops.Next(p.m, i < 56 ? 64 : 200, false);
      if (mpz_sgn(p.m.z) == 0) mpz_set_ui(p.m, 3);
      if (i % 3 == 0) mpz_setbit(p.m, 0);
      const bool even = !mpz_odd_p(p.m.z);
      const unsigned eb = even ? 1 + static_cast<unsigned>(ops.Below(32)) : ebits[i % 12];
      mpz_urandomb(p.e, ops.state(), eb);
      mpz_setbit(p.e, eb - 1);
      ops.Next(p.x, 64, false);
      if (i % 4 == 0) mpz_mod(p.x, p.x, p.m);
      if (i % 7 == 0) mpz_neg(p.x, p.x);  // reduced into [0, m) first
      p.Make();
      SCOPED_TRACE("modulus " + p.m.Hex() + " exponent bits " + std::to_string(eb));
      CheckAllRoutes(p);
      if (::testing::Test::HasFailure()) return;
    }
  });
}

TEST(ModExp, MethodRulesAndStatuses) {
  ASSERT_NE(gFIPS_powerupStatus, 0);  // big numbers are not behind the gate
  V zero = FromHex("0"), one = FromHex("1"), three = FromHex("3"), five = FromHex("5"), eight = FromHex("8"),
    seven = FromHex("7"), longE = FromHex("100000000"), r;
  EXPECT_EQ(VLONG_modexp(zero.get(), zero.get(), seven.get(), r.out(), nullptr), 0);
  EXPECT_EQ(Str(r.get()), "0");  // 0^0 = 0 here
  V r1;
  EXPECT_EQ(VLONG_modexp(three.get(), zero.get(), seven.get(), r1.out(), nullptr), 0);
  EXPECT_EQ(Str(r1.get()), "1");
  V r2;
  EXPECT_EQ(VLONG_modexp(three.get(), five.get(), eight.get(), r2.out(), nullptr), 0);
  EXPECT_EQ(Str(r2.get()), "3");  // even modulus, short exponent: Barrett
  V bad;
  EXPECT_EQ(VLONG_modexp(three.get(), longE.get(), eight.get(), bad.out(), nullptr), -6004);
  EXPECT_EQ(VLONG_modexp(three.get(), five.get(), zero.get(), bad.out(), nullptr), -6004);
  EXPECT_EQ(VLONG_modexp(nullptr, five.get(), seven.get(), bad.out(), nullptr), -6001);
  EXPECT_EQ(VLONG_modexp(three.get(), five.get(), seven.get(), nullptr, nullptr), -6001);
  EXPECT_EQ(bad.p, nullptr);
  ModExpHelper *h = nullptr;
  EXPECT_EQ(VLONG_newModExpHelper(&h, eight.get(), nullptr), -6004);
  EXPECT_EQ(VLONG_newModExpHelper(&h, zero.get(), nullptr), -6004);
  EXPECT_EQ(bignum::modexp_consttime(three.get(), five.get(), eight.get(), bad.out(), nullptr), -6004);
  EXPECT_EQ(h, nullptr);
  EXPECT_EQ(VLONG_deleteModExpHelper(&h, nullptr), 0);
  EXPECT_EQ(VLONG_deleteModExpHelper(nullptr, nullptr), 0);
  EXPECT_EQ(VLONG_makeModExpHelperFromModExpHelper(nullptr, &h, nullptr), -6001);
}

// The helper's constants, and a deep copy that outlives its source.
TEST(ModExp, HelperFieldsAndCopy) {
  Operands ops(5);
  for (unsigned units : {1u, 3u, 8u, 17u, 64u}) {
    Powm p;
    mpz_urandomb(p.m, ops.state(), 32 * units);
    mpz_setbit(p.m, 32 * units - 1);
    mpz_setbit(p.m, 0);
    mpz_urandomb(p.e, ops.state(), 300);
    mpz_urandomb(p.x, ops.state(), 30 * units);
    p.Make();
    ModExpHelper *h = nullptr, *copy = nullptr;
    ASSERT_EQ(VLONG_newModExpHelper(&h, p.vm.get(), nullptr), 0);
    EXPECT_EQ(h->montRho * p.vm->units[0], 0xffffffffu);  // -m^-1 mod 2^32
    Mpz R, Rinv, check;
    ToMpz(R, h->montR);
    ToMpz(Rinv, h->montRInverse);
    EXPECT_EQ(mpz_sizeinbase(R, 2), 32 * units + 1);
    mpz_mul(check, R, Rinv);
    mpz_mod(check, check, p.m);
    EXPECT_EQ(mpz_cmp_ui(check.z, 1), 0);
    ASSERT_EQ(VLONG_makeModExpHelperFromModExpHelper(h, &copy, nullptr), 0);
    ASSERT_EQ(VLONG_deleteModExpHelper(&h, nullptr), 0);
    V r;
    ASSERT_EQ(VLONG_modExp(copy, p.vx.get(), p.ve.get(), r.out(), nullptr), 0);
    EXPECT_EQ(Str(r.get()), p.want.Hex());
    VLONG_deleteModExpHelper(&copy, nullptr);
  }
}

// Products that are multiples of m: the reduction must give 0, never m.
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
    Mpz want;
    mpz_mul(want, a, b);
    mpz_mod(want, want, m);
    EXPECT_EQ(Str(r.get()), want.Hex());
  }
  V m = FromHex("10"), two = FromHex("2"), eight = FromHex("8"), mu, r;  // 8·2 = 16 = m
  ASSERT_EQ(VLONG_newBarrettMu(mu.out(), m.get(), nullptr), 0);
  ASSERT_EQ(VLONG_allocVlong(r.out(), nullptr), 0);
  ASSERT_EQ(VLONG_barrettMultiply(r.get(), eight.get(), two.get(), m.get(), mu.get(), nullptr), 0);
  EXPECT_EQ(Str(r.get()), "0");
}

// ---- memory contract ----

struct AllocLog {
  static inline std::map<const void *, uint32_t> live;
  static inline int dirtyReleases = 0;
  static void OnAlloc(const void *b, uint32_t size) { live[b] = size; }
  static void OnRelease(const void *b) {
    auto it = live.find(b);
    if (it == live.end()) return;
    const auto *p = static_cast<const uint8_t *>(b);
    for (uint32_t i = 0; i < it->second; ++i)
      if (p[i] != 0) {
        ++dirtyReleases;
        break;
      }
    live.erase(it);
  }
  AllocLog() {
    live.clear();
    dirtyReleases = 0;
    kel::mem::observe(OnAlloc, OnRelease);
  }
  ~AllocLog() { kel::mem::observe(nullptr, nullptr); }
};

void Sample(Powm &p, unsigned mbits, unsigned ebits) {
  gmp_randstate_t s;
  gmp_randinit_default(s);
  gmp_randseed_ui(s, mbits + ebits);
  mpz_urandomb(p.m, s, mbits);
  mpz_setbit(p.m, mbits - 1);
  mpz_setbit(p.m, 0);
  mpz_urandomb(p.e, s, ebits);
  mpz_setbit(p.e, ebits - 1);
  mpz_urandomb(p.x, s, mbits - 1);
  gmp_randclear(s);
  p.Make();
}

TEST(ModExpMemory, QueueReuseNoLoopAllocationAndWipe) {
  Powm shortE, longE;
  Sample(shortE, 2048, 700);
  Sample(longE, 2048, 2048);
  for (Exponent kind : {Exponent::kPublic, Exponent::kSecret}) {
    AllocLog log;
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
    EXPECT_EQ(AllocLog::dirtyReleases, 0);
  }
}

// Fail each allocation of an exponentiation in turn: the status is -6101,
// nothing comes out, and (under ASan) nothing leaks.
TEST(ModExpMemory, EveryAllocationFailure) {
  Powm p, even;
  Sample(p, 1024, 1024);
  Sample(even, 512, 20);
  mpz_clrbit(even.m, 0);
  even.Make();
  for (Powm *s : {&p, &even})
    for (int route = 0; route < 3; ++route) {
      for (int64_t k = 0;; ++k) {
        vlong *queue = nullptr;
        V r;
        kel::mem::fail_after(k);
        int32_t st = route == 0   ? VLONG_modexp(s->vx.get(), s->ve.get(), s->vm.get(), r.out(), &queue)
                     : route == 1 ? bignum::modexp_consttime(s->vx.get(), s->ve.get(), s->vm.get(), r.out(), nullptr)
                                  : VLONG_modexp(s->vx.get(), s->ve.get(), s->vm.get(), r.out(), nullptr);
        kel::mem::fail_after(-1);
        VLONG_freeVlongQueue(&queue);
        if (st == 0) {
          EXPECT_EQ(Str(r.get()), s->want.Hex());
          break;
        }
        if (route == 1 && s == &even) {
          EXPECT_EQ(st, -6004);
          break;
        }
        ASSERT_EQ(st, -6101) << "allocation " << k;
        EXPECT_EQ(r.p, nullptr);
      }
    }
}

// One helper read by several threads, each with its own queue.
TEST(ModExpMemory, SharedHelperAcrossThreads) {
  Powm p;
  Sample(p, 1024, 512);
  ModExpHelper *h = nullptr;
  ASSERT_EQ(VLONG_newModExpHelper(&h, p.vm.get(), nullptr), 0);
  std::vector<std::thread> threads;
  std::vector<std::string> results(4);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      vlong *queue = nullptr;
      for (int i = 0; i < 5; ++i) {
        vlong *r = nullptr;
        if (VLONG_modExp(h, p.vx.get(), p.ve.get(), &r, &queue) != 0) return;
        Mpz z;
        mpz_import(z, r->length, -1, 4, 0, 0, r->units);
        results[t] = z.Hex();
        VLONG_freeVlong(&r, &queue);
      }
      VLONG_freeVlongQueue(&queue);
    });
  for (auto &t : threads) t.join();
  for (const auto &r : results) EXPECT_EQ(r, p.want.Hex());
  VLONG_deleteModExpHelper(&h, nullptr);
}

}  // namespace
}  // namespace kel::test

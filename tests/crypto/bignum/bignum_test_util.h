// Shared by the big-number and public-key tests: GMP as the oracle, vlongs
// that release themselves, random operands and a random-context fixture.
#pragma once

#include <gmp.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bignum/internal.h"
#include "kel/random.h"
#include "kel/vlong.h"
#include "kel/vor.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {

using Units = std::vector<uint32_t>;

// The gate open and a random context; the gate reopened before the context
// goes, for tests that close it.
class RandomTest : public GateOpenTest {
 protected:
  void SetUp() override {
    GateOpenTest::SetUp();
    ASSERT_EQ(RANDOM_acquireContext(&rng_), 0);
  }
  void TearDown() override {
    gFIPS_powerupStatus = 0;
    RANDOM_releaseContext(&rng_);
    GateOpenTest::TearDown();
  }
  RandomContext *rng_ = nullptr;
};

template <class T> void Free(T *p) {
  void *b = p;
  VOR_free(&b);
}

// A vlong released (zeroed) to the heap at the end of the scope.
struct V {
  vlong *p = nullptr;
  V() = default;
  explicit V(vlong *v) : p(v) {}
  V(V &&o) noexcept : p(o.p) { o.p = nullptr; }
  V &operator=(V &&o) noexcept {
    std::swap(p, o.p);
    return *this;
  }
  ~V() {
    if (p) VLONG_freeVlong(&p, nullptr);
  }
  vlong **out() { return &p; }
  vlong *get() const { return p; }
  vlong *operator->() const { return p; }
};

// An mpz_t with value semantics, also from and to little-endian units.
struct Mpz {
  mpz_t z;
  Mpz() { mpz_init(z); }
  explicit Mpz(const char *hex) { mpz_init_set_str(z, hex, 16); }
  explicit Mpz(const Units &u) : Mpz() { mpz_import(z, u.size(), -1, 4, 0, 0, u.data()); }
  Mpz(const Mpz &o) : Mpz() { mpz_set(z, o.z); }
  Mpz &operator=(const Mpz &o) { return mpz_set(z, o.z), *this; }
  ~Mpz() { mpz_clear(z); }
  operator mpz_ptr() { return z; }
  std::string Hex() const {
    const std::unique_ptr<char, void (*)(void *)> s(mpz_get_str(nullptr, 16, z), free);
    return s.get();
  }
  Units units(size_t n) const {  // the low n units
    Mpz t;
    mpz_fdiv_r_2exp(t.z, z, 32 * n);
    Units u(n, 0);
    mpz_export(u.data(), nullptr, -1, 4, 0, 0, t.z);
    return u;
  }
};

// Through the byte-string form, so the conversions are exercised everywhere.
inline V FromMpz(const mpz_t z) {
  size_t n = 0;
  std::vector<uint8_t> b((mpz_sizeinbase(z, 2) + 7) / 8 + 1);
  mpz_export(b.data(), &n, 1, 1, 1, 0, z);
  V v;
  EXPECT_EQ(VLONG_vlongFromByteString(b.data(), static_cast<int32_t>(n), v.out(), nullptr), 0);
  if (v.p) v->isNegative = mpz_sgn(z) < 0;
  return v;
}

inline V FromHex(const char *hex) { return FromMpz(Mpz(hex).z); }

// Through the units, independently of the byte forms; checks the invariants.
inline void ToMpz(mpz_t z, const vlong *v) {
  EXPECT_LE(v->length, v->capacity);
  if (v->length) {
    EXPECT_NE(v->units[v->length - 1], 0u) << "untrimmed";
  }
  mpz_import(z, v->length, -1, 4, 0, 0, v->units);
  if (v->isNegative) mpz_neg(z, z);
}

inline std::string Str(const vlong *v) {
  Mpz m;
  ToMpz(m.z, v);
  return m.Hex();
}

// Runs op with its k-th allocation failing, k = 0, 1, ..., until it succeeds;
// every failed run must say -6101. Returns the number of failed runs.
template <class F>
int64_t FailAllocationsInTurn(F op) {
  for (int64_t k = 0; k < 10000; ++k) {
    mem::fail_after(k);
    const int32_t st = op();
    mem::fail_after(-1);
    if (st == 0) return k;
    EXPECT_EQ(st, -6101) << "allocation " << k;
    if (st != -6101) return -1;
  }
  ADD_FAILURE() << "no run succeeds";
  return -1;
}

// Random operand of 1..maxUnits units with long runs of ones and zeros.
class Operands {
 public:
  explicit Operands(unsigned long seed) {
    gmp_randinit_default(s_);
    gmp_randseed_ui(s_, seed);
  }
  ~Operands() { gmp_randclear(s_); }
  unsigned long Below(unsigned long n) { return gmp_urandomm_ui(s_, n); }
  void Next(mpz_t z, unsigned maxUnits, bool allowNegative = true) {
    const unsigned bits = 1 + static_cast<unsigned>(Below(32ul * maxUnits));
    (Below(2) ? mpz_rrandomb : mpz_urandomb)(z, s_, bits);
    if (allowNegative && Below(2)) mpz_neg(z, z);
  }
  void SameLength(mpz_t z, const mpz_t like, bool allowNegative = true) {
    const size_t bits = mpz_sizeinbase(like, 2);
    mpz_urandomb(z, s_, bits);
    mpz_setbit(z, bits - 1);
    if (allowNegative && Below(2)) mpz_neg(z, z);
  }
  void Odd(mpz_t z, unsigned long bits) {  // exactly `bits` bits
    mpz_urandomb(z, s_, bits);
    mpz_setbit(z, bits - 1);
    mpz_setbit(z, 0);
  }
  gmp_randstate_t &state() { return s_; }

 private:
  gmp_randstate_t s_;
};

}  // namespace kel::test

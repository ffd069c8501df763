// One odd modulus in Montgomery form over 64-bit limbs (R = 2^(64n)), with
// every buffer an exponentiation needs taken from the caller's vlong queue and
// given back to it when the object goes out of scope. All buffers are taken
// before the main loop, which then allocates nothing.
#pragma once

#include <cstdint>

#include "crypto/bignum/internal.h"
#include "crypto/bignum/limbs.h"
#include "kel/vlong.h"

namespace kel::bignum {

// Bits [5k, 5k + 5) of e's units (public positions, secret value).
inline uint64_t window5(const vlong *e, uint32_t k) {
  const uint32_t bit = 5 * k, unit = bit / 32, shift = bit % 32;
  uint64_t lo = unit < e->length ? e->units[unit] : 0;
  uint64_t hi = unit + 1 < e->length ? e->units[unit + 1] : 0;
  return ((hi << 32 | lo) >> shift) & 31;
}

// Sliding-window width for a t-bit exponent.
inline uint32_t window_width(uint32_t t) { return t > 671 ? 6 : t > 239 ? 5 : t > 79 ? 4 : t > 23 ? 3 : 2; }

// The left-to-right sliding-window scan of e's t bits (public exponents: it
// branches on them): sqr() per bit, mul(j) for the odd window value 2j + 1.
template <class Sqr, class Mul>
void sliding_scan(const vlong *e, uint32_t t, uint32_t w, Sqr sqr, Mul mul) {
  int64_t i = static_cast<int64_t>(t) - 1;
  while (i >= 0) {
    if (!VLONG_isVlongBitSet(e, static_cast<uint32_t>(i))) {
      sqr();
      --i;
      continue;
    }
    // The window: bits i .. i-L+1, cut back to end on a set bit.
    uint32_t L = i + 1 >= w ? w : (i == 0 ? 1 : static_cast<uint32_t>(i));
    uint32_t v = 0;
    for (uint32_t k = 0; k < L; ++k) v = v << 1 | VLONG_isVlongBitSet(e, static_cast<uint32_t>(i - k));
    uint32_t s = L;
    while ((v & 1) == 0) {
      v >>= 1;
      --s;
    }
    for (uint32_t k = 0; k < s; ++k) sqr();
    mul((v - 1) / 2);
    i -= s;
  }
}

// Simultaneous g^a·y^b with a joint 2-bit window over a table t[i + 4j] =
// g^i·y^j (i, j < 4; t[1] = g and t[4] = y given). Public exponents only.
// sqr(d, s): t[d] = t[s]²; mul(d, x, y): t[d] = t[x]·t[y]; then acc_sqr()
// and acc_mul(k) for the scan.
template <class Sqr, class Mul>
void joint_table(Sqr sqr, Mul mul) {
  sqr(2, 1);
  mul(3, 2, 1);
  sqr(8, 4);
  mul(12, 8, 4);
  for (int j = 4; j < 16; j += 4)
    for (int i = 1; i < 4; ++i) mul(i + j, i, j);
}

template <class Sqr, class Mul>
void joint_scan(const vlong *a, const vlong *b, Sqr acc_sqr, Mul acc_mul) {
  const uint32_t abits = VLONG_bitLength(a), bbits = VLONG_bitLength(b), bits = abits > bbits ? abits : bbits;
  for (uint32_t w = (bits + 1) / 2; w-- > 0;) {
    const uint32_t i = static_cast<uint32_t>(VLONG_isVlongBitSet(a, 2 * w + 1) << 1 | VLONG_isVlongBitSet(a, 2 * w));
    const uint32_t j = static_cast<uint32_t>(VLONG_isVlongBitSet(b, 2 * w + 1) << 1 | VLONG_isVlongBitSet(b, 2 * w));
    acc_sqr();
    acc_sqr();
    if (i + 4 * j != 0) acc_mul(i + 4 * j);
  }
}

class MontSpace {
 public:
  explicit MontSpace(vlong **queue) : queue_(queue) {}
  ~MontSpace();
  MontSpace(const MontSpace &) = delete;
  MontSpace &operator=(const MontSpace &) = delete;

  // m: odd (not checked here), non-zero. The constant-time form, for secret
  // moduli (RSA's CRT primes), derives its constants by shifts and masked
  // subtractions instead of long division.
  int32_t init(const vlong *m);
  int32_t init_consttime(const vlong *m);
  // The constant-time form's buffers and R² mod m by division: a public
  // modulus with a secret base or exponent.
  int32_t init_public_consttime(const vlong *m);

  size_t n() const { return mt_.n; }
  const Mont &mont() const { return mt_; }
  // R mod m: 1 in Montgomery form.
  const limb_t *one() const { return one_; }

  // An n-limb buffer from the pool (at most 48 per object).
  int32_t take(limb_t **out);
  // x mod m (x may be negative or larger than m) in Montgomery form.
  int32_t to_mont(limb_t *r, const vlong *x);
  // The same without a division: x below 2^(64n)·2^bits(m) by one masked
  // subtraction and a Montgomery reduction, a longer x bit by bit (its
  // length and sign are public), then products with R² mod m. Needs
  // init_consttime or init_public_consttime.
  int32_t to_mont_consttime(limb_t *r, const vlong *x);
  // The same value left plain: x mod m, below m.
  int32_t reduce_consttime(limb_t *r, const vlong *x);
  // x mod m (plain), by division when x is negative or not below m.
  int32_t reduce(limb_t *r, const vlong *x);
  // a (< m, n limbs) into Montgomery form.
  void to_mont_limbs(limb_t *r, const limb_t *a);
  // Public modulus and exponent on the IFMA path: the set-up by one
  // division (no 64-bit Montgomery constants), then r = x^e mod m (plain).
  static bool ifma_width(size_t n);  // n limbs have the kernel here
  int32_t init_ifma_public(const vlong *m);
  int32_t pow_public_ifma(limb_t *r, const vlong *x, const vlong *e);
  // The same for x already below m (n limbs; r may be x): no comparison or
  // division touches x, so x may be secret (the exponent's bits are not).
  void pow_public_ifma_limbs(limb_t *r, const limb_t *x, const vlong *e);
  // r = g^a·y^b mod m (plain) on the same set-up.
  int32_t pow2_public_ifma(limb_t *r, const vlong *g, const vlong *a, const vlong *y, const vlong *b);
  // Leaves Montgomery form.
  void from_mont(limb_t *r, const limb_t *a);

  void mul(limb_t *r, const limb_t *a, const limb_t *b) { mont_mul(mt_, r, a, b, t_); }
  void sqr(limb_t *r, const limb_t *a) { mont_sqr(mt_, r, a, t_); }
  // Variable-time multiply and square (Karatsuba for long public operands).
  void mul_vt(limb_t *r, const limb_t *a, const limb_t *b);
  void sqr_vt(limb_t *r, const limb_t *a);

  // acc = g^e (Montgomery form in and out), sliding window, variable time.
  int32_t pow_window(limb_t *acc, const limb_t *g, const vlong *e);
  // acc = g^e with a fixed 5-bit window over all 32·length(e) exponent bits
  // and a constant-time table select. With AVX-512 IFMA and a constant-time
  // set-up (moduli of 8 to 32 limbs) it runs over 52-bit limbs
  // (mont_ifma.cpp); the value is the same.
  int32_t pow_consttime(limb_t *acc, const limb_t *g, const vlong *e);
  // Both powers of pow_consttime at once over two spaces of the same width
  // (RSA's CRT halves), each set up by init_consttime and ifma_fits(): their
  // products run interleaved, one hiding the other's latency. Here g and
  // acc are plain residues below m (reduce_consttime), not Montgomery form:
  // the 52-bit form is entered and left directly.
  static int32_t pow_consttime_pair(MontSpace &p, limb_t *accp, const limb_t *gp, const vlong *ep, MontSpace &q,
                                    limb_t *accq, const limb_t *gq, const vlong *eq);

  // A new vlong (from the queue) holding a (n limbs, normal form).
  int32_t make_vlong(const limb_t *a, vlong **out);
  // The same into a vlong the caller took.
  int32_t fill_vlong(const limb_t *a, Temp &v, vlong **out);

 private:
  int32_t take_units(uint32_t units, limb_t **out);
  // AVX-512 IFMA (mont_ifma.cpp): whether this modulus' width has the
  // kernel, its set-up (kept for later powers), and both exponentiations.
  static constexpr size_t kIfmaSlots = 5 + 32;
  bool ifma_fits() const { return ifma_width(mt_.n); }
  int32_t ifma_setup(bool by_division);
  void ifma_power(const vlong *e, bool consttime);
  void ifma_leave(limb_t *r);
  int32_t pow_ifma(limb_t *acc, const limb_t *g, const vlong *e, bool consttime);
  int32_t take_buffers(const vlong *m);
  // r = 2r + bit mod m (r < m), by mask.
  void double_mod(limb_t *r, uint64_t bit);
  // The first count table entries (taken once, reused by later powers).
  int32_t table(uint32_t count);

  vlong **queue_;
  vlong *pool_[48] = {};
  size_t used_ = 0;
  Mont mt_{};
  uint32_t mbits_ = 0;     // m's bit length (public, as m's length is)
  limb_t *t_ = nullptr;    // 2n + 2 limbs: products
  limb_t *u_ = nullptr;    // 2n + 2 limbs: dividends
  limb_t *q_ = nullptr;    // n + 2 limbs: quotients
  limb_t *dw_ = nullptr;   // n limbs: the shifted divisor
  limb_t *ws_ = nullptr;   // Karatsuba workspace
  limb_t *one_ = nullptr;  // R mod m
  limb_t *rr_ = nullptr;   // R² mod m (constant-time set-ups only)
  limb_t *table_[32] = {};
  limb_t *spare_ = nullptr;  // g² or the selected entry
  uint64_t *ifma_ = nullptr; // the IFMA block (ifma_setup)
};

}  // namespace kel::bignum

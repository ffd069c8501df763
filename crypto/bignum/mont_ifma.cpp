// The constant-time exponentiation over AVX-512 IFMA: residues in L limbs of
// 52 bits (R' = 2^(52L), L the least with 4m < R'), eight limbs to a ZMM
// register, products by VPMADD52LUQ/HUQ in the "almost Montgomery" form:
// each step adds a·b[i] and y·m into 64-bit lanes without carrying, shifts
// the accumulator down one lane, and the carries are resolved once per
// product. Inputs below 2m give an output below 2m, so no subtraction is
// needed until the end. Every loop runs over L, a public count; nothing
// branches on limb values or indexes memory by them.
//
// GCC 12's AVX-512 intrinsics fill their pass-through operand with
// _mm512_undefined_epi32() and then warn about it; nothing here reads an
// undefined value.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <utility>

#include "crypto/bignum/limbs.h"
#include "crypto/bignum/mont.h"
#include "crypto/bignum/status.h"
#include "crypto/common/cpu.h"

namespace kel::bignum {
namespace {

constexpr uint64_t kMask52 = (uint64_t{1} << 52) - 1;
constexpr size_t kMaxRegs = 5;  // 40 limbs: moduli up to 2048 bits

#define KEL_IFMA __attribute__((target("avx512f,avx512ifma")))

// One product r = a·b·R'^-1 (mod m), below 2m for a, b below 2m; r may be
// a or b. a, b, m, r: 8K limbs (lanes from L on zero).
struct AmmJob {
  uint64_t *r;
  const uint64_t *a, *b, *m;
  uint64_t k0;
};

template <size_t K>
struct Amm {
  __m512i A[K], M[K], acc[K];
  uint64_t a0, m0, k0, s;

  KEL_IFMA __attribute__((always_inline)) inline void load(const AmmJob &j) {
    for (size_t k = 0; k < K; ++k) {
      A[k] = _mm512_loadu_si512(j.a + 8 * k);
      M[k] = _mm512_loadu_si512(j.m + 8 * k);
      acc[k] = _mm512_setzero_si512();
    }
    a0 = j.a[0];
    m0 = j.m[0];
    k0 = j.k0;
    s = 0;
  }

  // Lane 0 is also kept exactly in a scalar, s: y comes from it without a
  // trip through the vector unit, and its carry is added there. The vector
  // lane 0 misses that carry, but it only ever feeds the carry (shifted out).
  KEL_IFMA __attribute__((always_inline)) inline void step(uint64_t bv) {
    const __m512i bi = _mm512_set1_epi64(static_cast<long long>(bv));
    s += (a0 * bv) & kMask52;
    const uint64_t y = (s * k0) & kMask52;
    s += (m0 * y) & kMask52;
    const __m512i yv = _mm512_set1_epi64(static_cast<long long>(y));
    for (size_t k = 0; k < K; ++k) acc[k] = _mm512_madd52lo_epu64(acc[k], A[k], bi);
    for (size_t k = 0; k < K; ++k) acc[k] = _mm512_madd52lo_epu64(acc[k], M[k], yv);
    for (size_t k = 0; k + 1 < K; ++k) acc[k] = _mm512_alignr_epi64(acc[k + 1], acc[k], 1);
    acc[K - 1] = _mm512_alignr_epi64(_mm512_setzero_si512(), acc[K - 1], 1);
    // The high halves belong one lane up, which after the shift is the same
    // lane as their factor.
    for (size_t k = 0; k < K; ++k) acc[k] = _mm512_madd52hi_epu64(acc[k], A[k], bi);
    for (size_t k = 0; k < K; ++k) acc[k] = _mm512_madd52hi_epu64(acc[k], M[k], yv);
    s = static_cast<uint64_t>(_mm_cvtsi128_si64(_mm512_castsi512_si128(acc[0]))) + (s >> 52);
  }

  // The carries resolved once, in the vector unit: every lane's high bits
  // (a few) go one lane up, which leaves at most a one-bit carry out of any
  // lane; those ripple through lanes of all ones by one addition of lane
  // masks (carry-lookahead), then land by masked increments. No branch.
  KEL_IFMA __attribute__((always_inline)) inline void store(uint64_t *r) {
    const __m512i mask = _mm512_set1_epi64(static_cast<long long>(kMask52));
    acc[0] = _mm512_mask_set1_epi64(acc[0], 1, static_cast<long long>(s));
    __m512i hi[K];
    for (size_t k = 0; k < K; ++k) hi[k] = _mm512_srli_epi64(acc[k], 52);
    uint64_t gen = 0, ones = 0;
    for (size_t k = 0; k < K; ++k) {
      const __m512i in = _mm512_alignr_epi64(hi[k], k == 0 ? _mm512_setzero_si512() : hi[k - 1], 7);
      acc[k] = _mm512_add_epi64(_mm512_and_si512(acc[k], mask), in);
      gen |= uint64_t{_mm512_cmpgt_epu64_mask(acc[k], mask)} << (8 * k);
      acc[k] = _mm512_and_si512(acc[k], mask);
      ones |= uint64_t{_mm512_cmpeq_epu64_mask(acc[k], mask)} << (8 * k);
    }
    const uint64_t carry = ((gen << 1) + ones) ^ ones;
    for (size_t k = 0; k < K; ++k) {
      const __m512i v = _mm512_mask_add_epi64(acc[k], static_cast<__mmask8>(carry >> (8 * k)), acc[k],
                                              _mm512_set1_epi64(1));
      _mm512_storeu_si512(r + 8 * k, _mm512_and_si512(v, mask));
    }
  }
};

template <size_t K>
KEL_IFMA void amm52(uint64_t *r, const uint64_t *a, const uint64_t *b, const uint64_t *m, uint64_t k0, size_t L) {
  Amm<K> x;
  x.load(AmmJob{r, a, b, m, k0});
  for (size_t i = 0; i < L; ++i) x.step(b[i]);
  x.store(r);
}

// Two independent products in one loop: each hides the other's latency.
template <size_t K>
KEL_IFMA void amm52x2(const AmmJob &p, const AmmJob &q, size_t L) {
  Amm<K> x, y;
  x.load(p);
  y.load(q);
  for (size_t i = 0; i < L; ++i) {
    x.step(p.b[i]);
    y.step(q.b[i]);
  }
  x.store(p.r);
  y.store(q.r);
}

// r = table[index] over 32 entries of 8K limbs, every entry read.
template <size_t K>
KEL_IFMA void select52(uint64_t *r, const uint64_t *table, uint64_t index) {
  __m512i out[K];
  for (size_t k = 0; k < K; ++k) out[k] = _mm512_setzero_si512();
  const __m512i want = _mm512_set1_epi64(static_cast<long long>(index));
  for (uint64_t j = 0; j < 32; ++j) {
    const __mmask8 hit = _mm512_cmpeq_epi64_mask(_mm512_set1_epi64(static_cast<long long>(j)), want);
    for (size_t k = 0; k < K; ++k)
      out[k] = _mm512_mask_mov_epi64(out[k], hit, _mm512_loadu_si512(table + (j * K + k) * 8));
  }
  for (size_t k = 0; k < K; ++k) _mm512_storeu_si512(r + 8 * k, out[k]);
}

using AmmFn = void (*)(uint64_t *, const uint64_t *, const uint64_t *, const uint64_t *, uint64_t, size_t);
using SelectFn = void (*)(uint64_t *, const uint64_t *, uint64_t);
using Amm2Fn = void (*)(const AmmJob &, const AmmJob &, size_t);
constexpr Amm2Fn kAmm2[kMaxRegs + 1] = {nullptr, amm52x2<1>, amm52x2<2>, amm52x2<3>, amm52x2<4>, amm52x2<5>};
constexpr AmmFn kAmm[kMaxRegs + 1] = {nullptr, amm52<1>, amm52<2>, amm52<3>, amm52<4>, amm52<5>};
constexpr SelectFn kSelect[kMaxRegs + 1] = {nullptr, select52<1>, select52<2>, select52<3>, select52<4>,
                                            select52<5>};

// 64-bit limbs (n) to 52-bit limbs (8K, zero above the value).
void to52(uint64_t *r, const limb_t *a, size_t n, size_t K) {
  for (size_t j = 0; j < 8 * K; ++j) {
    const size_t bit = 52 * j, i = bit / 64, s = bit % 64;
    uint64_t v = i < n ? a[i] >> s : 0;
    if (s > 12 && i + 1 < n) v |= a[i + 1] << (64 - s);
    r[j] = v & kMask52;
  }
}

// 52-bit limbs (L, normalised) to n 64-bit limbs; the value fits.
void from52(limb_t *r, const uint64_t *a, size_t n, size_t L) {
  for (size_t i = 0; i < n; ++i) {
    const size_t bit = 64 * i, j = bit / 52, s = bit % 52;
    uint64_t v = j < L ? a[j] >> s : 0;
    if (j + 1 < L) v |= a[j + 1] << (52 - s);
    if (s > 40 && j + 2 < L) v |= a[j + 2] << (104 - s);
    r[i] = v;
  }
}

// Limbs of 52 bits for a modulus of n 64-bit limbs: 4m < 2^(52L).
size_t limbs52(size_t n) { return (64 * n + 2 + 51) / 52; }

}  // namespace

bool MontSpace::ifma_width(size_t n) {
  return cpu::has(cpu::kIfma | cpu::kAvx512f) && n >= 8 && (limbs52(n) + 7) / 8 <= kMaxRegs;
}

// Once per modulus: m, R'² mod m and 1 in 52-bit limbs, then room for the
// accumulator, the pick and 32 table entries. R'² comes from rr_ by
// doublings (no division: the modulus may be secret; every caller of the
// constant-time form has rr_ by then), or from a division for a public
// modulus without the 64-bit set-up.
int32_t MontSpace::ifma_setup(bool by_division) {
  if (ifma_ != nullptr) return kOk;
  const size_t n = mt_.n, L = limbs52(n), K = (L + 7) / 8, W = 8 * K;
  limb_t *block = nullptr;
  if (int32_t s = take_units(static_cast<uint32_t>(2 * W * kIfmaSlots), &block); s != kOk) return s;
  if (spare_ == nullptr)
    if (int32_t s = take(&spare_); s != kOk) return s;
  uint64_t *m52 = block, *rr52 = block + W, *one52 = block + 2 * W;
  to52(m52, mt_.m, n, K);
  const uint64_t bits = 104 * L;
  limb_t *x = spare_;
  if (by_division) {
    const size_t un = bits / 64 + 1;  // at most 2n + 2
    zero_n(u_, un);
    u_[un - 1] = uint64_t{1} << (bits % 64);
    divrem(q_, u_, un, mt_.m, n, dw_);
    copy_n(x, u_, n);
  } else {
    // R² mod m (2^(128n), already at hand) doubled the rest of the way:
    // 104L - 128n = 2(52L - 64n) < 104 masked doublings, no products.
    copy_n(x, rr_, n);
    for (uint64_t i = 128 * n; i < bits; ++i) double_mod(x, 0);
  }
  to52(rr52, x, n, K);
  for (size_t j = 0; j < W; ++j) one52[j] = j == 0;
  ifma_ = block;
  return kOk;
}

int32_t MontSpace::init_ifma_public(const vlong *m) {
  if (int32_t s = take_buffers(m); s != kOk) return s;
  return ifma_setup(true);
}

// table[1] holds g·R' on entry; the accumulator gets g^e·R'.
void MontSpace::ifma_power(const vlong *e, bool consttime) {
  const size_t L = limbs52(mt_.n), K = (L + 7) / 8, W = 8 * K;
  const AmmFn amm = kAmm[K];
  uint64_t *m52 = ifma_, *rr52 = m52 + W, *one52 = rr52 + W, *a52 = one52 + W, *pick = a52 + W, *table = pick + W;
  const uint64_t k0 = mt_.minv & kMask52;
  auto mul = [&](uint64_t *r, const uint64_t *a, const uint64_t *b) { amm(r, a, b, m52, k0, L); };
  if (consttime) {
    // table[j] = g^j·R', j < 32; a fixed 5-bit window over every unit of e.
    mul(table, rr52, one52);
    for (size_t j = 2; j < 32; ++j) mul(table + j * W, table + (j - 1) * W, table + W);
    const SelectFn select = kSelect[K];
    const uint32_t windows = (32 * e->length + 4) / 5;
    select(a52, table, windows == 0 ? 0 : window5(e, windows - 1));
    for (uint32_t k = windows > 0 ? windows - 1 : 0; k-- > 0;) {
      for (int s = 0; s < 5; ++s) mul(a52, a52, a52);
      select(pick, table, window5(e, k));
      mul(a52, a52, pick);
    }
  } else {
    // Odd powers g^(2j+1) in table[j]; the sliding window of pow_window.
    const uint32_t t = VLONG_bitLength(e), w = window_width(t);
    const size_t used = size_t{1} << (w - 1);
    copy_n(table, table + W, W);
    mul(pick, table, table);  // g²
    for (size_t j = 1; j < used; ++j) mul(table + j * W, table + (j - 1) * W, pick);
    mul(a52, rr52, one52);
    sliding_scan(
        e, t, w, [&] { mul(a52, a52, a52); }, [&](uint32_t j) { mul(a52, a52, table + j * W); });
  }
}

// r = the accumulator out of the 52-bit form (at most m), below m by mask;
// the block's working part is wiped.
void MontSpace::ifma_leave(limb_t *r) {
  const size_t n = mt_.n, L = limbs52(n), K = (L + 7) / 8, W = 8 * K;
  uint64_t *m52 = ifma_, *one52 = m52 + 2 * W, *a52 = one52 + W;
  kAmm[K](a52, a52, one52, m52, mt_.minv & kMask52, L);
  from52(r, a52, n, L);
  const uint64_t borrow = sub_n(dw_, r, mt_.m, n);
  select_n(r, r, dw_, n, 0 - borrow);
  wipe(a52, 8 * W * (kIfmaSlots - 3));
}

int32_t MontSpace::pow_ifma(limb_t *acc, const limb_t *g, const vlong *e, bool consttime) {
  if (rr_ == nullptr) {  // a public modulus set up by init(): one division
    if (int32_t s = take(&rr_); s != kOk) return s;
    to_mont_limbs(rr_, one_);
  }
  if (int32_t s = ifma_setup(false); s != kOk) return s;
  const size_t n = mt_.n, K = (limbs52(n) + 7) / 8, W = 8 * K;
  uint64_t *rr52 = ifma_ + W, *a52 = ifma_ + 3 * W, *table = ifma_ + 5 * W;
  // g leaves the 64-bit form and enters the 52-bit one.
  limb_t *x = spare_;
  from_mont(x, g);
  to52(a52, x, n, K);
  kAmm[K](table + W, a52, rr52, ifma_, mt_.minv & kMask52, limbs52(n));
  ifma_power(e, consttime);
  ifma_leave(x);
  mul(acc, x, rr_);
  wipe(x, 8 * n);
  return kOk;
}

int32_t MontSpace::pow_public_ifma(limb_t *r, const vlong *x, const vlong *e) {
  if (int32_t s = reduce(r, x); s != kOk) return s;
  pow_public_ifma_limbs(r, r, e);
  return kOk;
}

void MontSpace::pow_public_ifma_limbs(limb_t *r, const limb_t *x, const vlong *e) {
  const size_t n = mt_.n, K = (limbs52(n) + 7) / 8, W = 8 * K;
  uint64_t *rr52 = ifma_ + W, *a52 = ifma_ + 3 * W, *table = ifma_ + 5 * W;
  to52(a52, x, n, K);
  kAmm[K](table + W, a52, rr52, ifma_, mt_.minv & kMask52, limbs52(n));
  ifma_power(e, false);
  ifma_leave(r);
}

int32_t MontSpace::pow2_public_ifma(limb_t *r, const vlong *g, const vlong *a, const vlong *y, const vlong *b) {
  const size_t n = mt_.n, L = limbs52(n), K = (L + 7) / 8, W = 8 * K;
  const AmmFn amm = kAmm[K];
  const uint64_t k0 = mt_.minv & kMask52;
  uint64_t *m52 = ifma_, *rr52 = m52 + W, *one52 = rr52 + W, *a52 = one52 + W, *table = a52 + 2 * W;
  auto mul = [&](uint64_t *d, const uint64_t *x, const uint64_t *z) { amm(d, x, z, m52, k0, L); };
  for (auto [v, slot] : {std::pair{g, 1}, std::pair{y, 4}}) {
    if (int32_t s = reduce(r, v); s != kOk) return s;
    to52(a52, r, n, K);
    mul(table + slot * W, a52, rr52);
  }
  joint_table([&](int d, int x) { mul(table + d * W, table + x * W, table + x * W); },
              [&](int d, int x, int z) { mul(table + d * W, table + x * W, table + z * W); });
  mul(a52, rr52, one52);
  joint_scan(
      a, b, [&] { mul(a52, a52, a52); }, [&](uint32_t k) { mul(a52, a52, table + k * W); });
  ifma_leave(r);
  return kOk;
}

int32_t MontSpace::pow_consttime_pair(MontSpace &p, limb_t *accp, const limb_t *gp, const vlong *ep, MontSpace &q,
                                      limb_t *accq, const limb_t *gq, const vlong *eq) {
  const size_t n = p.mt_.n, L = limbs52(n), K = (L + 7) / 8, W = 8 * K;
  MontSpace *sp[2] = {&p, &q};
  const limb_t *g[2] = {gp, gq};
  uint64_t *tab[2], *acc[2], *pick[2];
  for (int v = 0; v < 2; ++v) {
    MontSpace &ms = *sp[v];
    if (int32_t s = ms.ifma_setup(false); s != kOk) return s;
    acc[v] = ms.ifma_ + 3 * W;
    pick[v] = ms.ifma_ + 4 * W;
    tab[v] = ms.ifma_ + 5 * W;
    to52(acc[v], g[v], n, K);
  }
  const Amm2Fn amm2 = kAmm2[K];
  // r_v = x_v·y_v for both spaces in one pass.
  auto both = [&](uint64_t *r0, const uint64_t *x0, const uint64_t *y0, uint64_t *r1, const uint64_t *x1,
                  const uint64_t *y1) {
    amm2(AmmJob{r0, x0, y0, p.ifma_, p.mt_.minv & kMask52}, AmmJob{r1, x1, y1, q.ifma_, q.mt_.minv & kMask52}, L);
  };
  const uint64_t *rr[2] = {p.ifma_ + W, q.ifma_ + W}, *one[2] = {p.ifma_ + 2 * W, q.ifma_ + 2 * W};
  both(tab[0] + W, acc[0], rr[0], tab[1] + W, acc[1], rr[1]);
  both(tab[0], rr[0], one[0], tab[1], rr[1], one[1]);
  for (size_t j = 2; j < 32; ++j)
    both(tab[0] + j * W, tab[0] + (j - 1) * W, tab[0] + W, tab[1] + j * W, tab[1] + (j - 1) * W, tab[1] + W);
  const SelectFn select = kSelect[K];
  const uint32_t units = ep->length > eq->length ? ep->length : eq->length;
  const uint32_t windows = (32 * units + 4) / 5;
  for (int v = 0; v < 2; ++v) select(acc[v], tab[v], windows == 0 ? 0 : window5(v ? eq : ep, windows - 1));
  for (uint32_t k = windows > 0 ? windows - 1 : 0; k-- > 0;) {
    for (int s = 0; s < 5; ++s) both(acc[0], acc[0], acc[0], acc[1], acc[1], acc[1]);
    select(pick[0], tab[0], window5(ep, k));
    select(pick[1], tab[1], window5(eq, k));
    both(acc[0], acc[0], pick[0], acc[1], acc[1], pick[1]);
  }
  p.ifma_leave(accp);
  q.ifma_leave(accq);
  return kOk;
}

}  // namespace kel::bignum

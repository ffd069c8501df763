// Modular exponentiation: the Montgomery setting of one modulus, the sliding
// window (public exponents), the fixed window with constant-time table reads
// (secret exponents), Barrett reduction for even moduli, and the helper
// record that keeps a modulus' Montgomery constants.
#include "crypto/bignum/internal.h"
#include "crypto/bignum/limbs.h"
#include "crypto/bignum/mont.h"
#include "crypto/bignum/status.h"
#include "crypto/common/ct.h"
#include "kel/vor.h"

#include <tuple>
#include <utility>

using namespace kel::bignum;

namespace kel::bignum {

// ---- MontSpace ----

// Released last-taken first, so the next exponentiation over the same queue
// pops each buffer for the same role and size. Every buffer is wiped first:
// a queued vlong keeps its value, and these held powers, products and the
// constants of a modulus that may be secret (R² mod p gives p away).
MontSpace::~MontSpace() {
  for (size_t i = used_; i-- > 0;) release_vlong(&pool_[i], queue_, true);
}

int32_t MontSpace::take_units(uint32_t units, limb_t **out) {
  if (used_ == sizeof pool_ / sizeof pool_[0]) return kSize;
  vlong *v = nullptr;
  if (int32_t s = VLONG_allocVlong(&v, queue_); s != kOk) return s;
  pool_[used_++] = v;
  if (int32_t s = reserve_units(v, units); s != kOk) return s;
  *out = limbs(v);
  return kOk;
}

int32_t MontSpace::take(limb_t **out) { return take_units(static_cast<uint32_t>(2 * mt_.n), out); }

int32_t MontSpace::table(uint32_t count) {
  if (spare_ == nullptr)
    if (int32_t s = take(&spare_); s != kOk) return s;
  for (uint32_t j = 0; j < count; ++j)
    if (table_[j] == nullptr)
      if (int32_t s = take(&table_[j]); s != kOk) return s;
  return kOk;
}

int32_t MontSpace::take_buffers(const vlong *m) {
  size_t n;
  const limb_t *ml = view(m, &n);
  mt_.m = ml;
  mt_.n = n;
  mt_.minv = neg_inverse_64(ml[0]);
  mbits_ = VLONG_bitLength(m);
  // Room for dividends up to 2^(128n + 128) (R'² of the IFMA form).
  const uint32_t wide = static_cast<uint32_t>(4 * n + 8);
  if (int32_t s = take_units(wide, &t_); s != kOk) return s;
  if (int32_t s = take_units(wide, &u_); s != kOk) return s;
  if (int32_t s = take_units(static_cast<uint32_t>(2 * n + 8), &q_); s != kOk) return s;
  if (int32_t s = take(&dw_); s != kOk) return s;
  if (n >= kKaratsubaThreshold) {
    if (int32_t s = take_units(static_cast<uint32_t>(2 * karatsuba_workspace(n)), &ws_); s != kOk) return s;
  }
  return take(&one_);
}

int32_t MontSpace::init(const vlong *m) {
  if (int32_t s = take_buffers(m); s != kOk) return s;
  // R mod m: the dividend 2^(64n).
  const size_t n = mt_.n;
  zero_n(u_, n + 1);
  u_[n] = 1;
  divrem(q_, u_, n + 1, mt_.m, n, dw_);
  copy_n(one_, u_, n);
  return kOk;
}

void MontSpace::double_mod(limb_t *r, uint64_t bit) {
  const size_t n = mt_.n;
  const uint64_t out = lshift(r, r, n, 1);
  r[0] |= bit;
  const uint64_t borrow = sub_n(dw_, r, mt_.m, n);
  // 2r + bit >= m when a bit left the top or the subtraction did not borrow.
  const uint64_t take = 0 - ((out | (borrow ^ 1)) & 1);
  select_n(r, dw_, r, n, take);
}

int32_t MontSpace::init_consttime(const vlong *m) {
  if (int32_t s = take_buffers(m); s != kOk) return s;
  if (int32_t s = take(&rr_); s != kOk) return s;
  // R mod m: 2^(bits-1) < m (bits, m's bit length, is public) doubled up to
  // 2^(64n); m = 1 starts from 0.
  const size_t n = mt_.n;
  const uint32_t bits = mbits_;
  zero_n(one_, n);
  if (bits > 1) one_[(bits - 1) / 64] = uint64_t{1} << ((bits - 1) % 64);
  for (size_t i = bits > 1 ? bits - 1 : 64 * n; i < 64 * n; ++i) double_mod(one_, 0);
  // R² mod m is the Montgomery form of 2^(64n): square-and-double from 1
  // over the public exponent 64n (squaring doubles the power, doubling adds
  // one), a dozen steps instead of 64n doublings.
  copy_n(rr_, one_, n);
  const uint64_t e = 64 * n;
  for (int bit = 63 - __builtin_clzll(e); bit >= 0; --bit) {
    sqr(rr_, rr_);
    if ((e >> bit) & 1) double_mod(rr_, 0);
  }
  return kOk;
}

int32_t MontSpace::init_public_consttime(const vlong *m) {
  if (int32_t s = init(m); s != kOk) return s;
  if (int32_t s = take(&rr_); s != kOk) return s;
  to_mont_limbs(rr_, one_);
  return kOk;
}

int32_t MontSpace::to_mont_consttime(limb_t *r, const vlong *x) {
  if (int32_t s = reduce_consttime(r, x); s != kOk) return s;
  mul(r, r, rr_);
  return kOk;
}

int32_t MontSpace::reduce_consttime(limb_t *r, const vlong *x) {
  const size_t n = mt_.n;
  size_t xn;
  const limb_t *xl = view(x, &xn);
  // Only x's length decides (its bit length would follow its value): x below
  // 2^(64 xn) fits the fast path when 64 xn <= 64 n + mbits.
  if (xn <= n || (xn <= 2 * n && 64 * (xn - n) <= mbits_)) {
    // x = h·R + l with h < 2^mbits < 2m: one masked subtraction takes h
    // below m, then x < m·R and one reduction gives x·R^-1; two products
    // with R² give x mod m, then its Montgomery form.
    copy_n(u_, xl, xn);
    zero_n(u_ + xn, 2 * n - xn);
    const uint64_t borrow = sub_n(dw_, u_ + n, mt_.m, n);
    select_n(u_ + n, u_ + n, dw_, n, 0 - borrow);
    mont_redc(mt_, r, u_);
    mul(r, r, rr_);
  } else {
    zero_n(r, n);
    for (uint32_t i = 32 * x->length; i-- > 0;) double_mod(r, static_cast<uint64_t>(VLONG_isVlongBitSet(x, i)));
  }
  if (x->isNegative) {
    // -|x| ≡ m - (|x| mod m), and 0 stays 0.
    uint64_t any = 0;
    for (size_t i = 0; i < n; ++i) any |= r[i];
    sub_n(dw_, mt_.m, r, n);
    select_n(r, dw_, r, n, 0 - static_cast<uint64_t>(any != 0));
  }
  return kOk;
}

void MontSpace::to_mont_limbs(limb_t *r, const limb_t *a) {
  const size_t n = mt_.n;
  zero_n(u_, n);
  copy_n(u_ + n, a, n);
  divrem(q_, u_, 2 * n, mt_.m, n, dw_);
  copy_n(r, u_, n);
}

int32_t MontSpace::to_mont(limb_t *r, const vlong *x) {
  if (int32_t s = reduce(r, x); s != kOk) return s;
  to_mont_limbs(r, r);
  return kOk;
}

int32_t MontSpace::reduce(limb_t *r, const vlong *x) {
  const size_t n = mt_.n;
  vlong mv{};  // the modulus as a vlong view for the comparison and division
  mv.units = const_cast<uint32_t *>(reinterpret_cast<const uint32_t *>(mt_.m));
  mv.length = static_cast<uint32_t>(2 * n);
  while (mv.length > 0 && mv.units[mv.length - 1] == 0) --mv.length;
  mv.capacity = static_cast<uint32_t>(2 * n);
  if (!x->isNegative && compareMagnitudes(x, &mv) < 0) {
    size_t xn;
    const limb_t *xl = view(x, &xn);
    copy_n(r, xl, xn);
    zero_n(r + xn, n - xn);
  } else {
    Temp rem(queue_);
    if (int32_t s = VLONG_operatorModSignedVlongs(x, &mv, rem.out(), queue_); s != kOk) return s;
    size_t rn;
    const limb_t *rl = view(rem.get(), &rn);
    copy_n(r, rl, rn);
    zero_n(r + rn, n - rn);
    if (x->isNegative && rn != 0) sub_n(r, mt_.m, r, n);  // -|x| ≡ m - (|x| mod m)
  }
  return kOk;
}

void MontSpace::from_mont(limb_t *r, const limb_t *a) {
  const size_t n = mt_.n;
  copy_n(t_, a, n);
  zero_n(t_ + n, n);
  mont_redc(mt_, r, t_);
}

void MontSpace::mul_vt(limb_t *r, const limb_t *a, const limb_t *b) {
  if (ws_ != nullptr)
    mul_n(t_, a, b, mt_.n, ws_);
  else
    mul_basecase(t_, a, mt_.n, b, mt_.n);
  mont_redc(mt_, r, t_);
}

void MontSpace::sqr_vt(limb_t *r, const limb_t *a) {
  if (ws_ != nullptr)
    sqr_n(t_, a, mt_.n, ws_);
  else
    sqr_basecase(t_, a, mt_.n);
  mont_redc(mt_, r, t_);
}

int32_t MontSpace::pow_window(limb_t *acc, const limb_t *g, const vlong *e) {
  const uint32_t t = VLONG_bitLength(e), w = window_width(t);
  // Long exponents (Miller-Rabin) repay the IFMA set-up.
  if (t >= 256 && ifma_fits()) return pow_ifma(acc, g, e, false);
  // Odd powers g, g^3, g^5, ... g^(2^w - 1).
  const uint32_t entries = 1u << (w - 1);
  if (int32_t s = table(entries); s != kOk) return s;
  limb_t **table = table_;
  limb_t *g2 = spare_;
  copy_n(table[0], g, mt_.n);
  sqr_vt(g2, g);
  for (uint32_t j = 1; j < entries; ++j) mul_vt(table[j], table[j - 1], g2);
  copy_n(acc, one_, mt_.n);
  sliding_scan(
      e, t, w, [&] { sqr_vt(acc, acc); }, [&](uint32_t j) { mul_vt(acc, acc, table[j]); });
  return kOk;
}


int32_t MontSpace::pow_consttime(limb_t *acc, const limb_t *g, const vlong *e) {
  if (rr_ != nullptr && ifma_fits()) return pow_ifma(acc, g, e, true);
  const size_t n = mt_.n;
  if (int32_t s = table(32); s != kOk) return s;
  limb_t **table = table_;
  limb_t *pick = spare_;
  copy_n(table[0], one_, n);
  copy_n(table[1], g, n);
  for (uint32_t j = 2; j < 32; ++j) mul(table[j], table[j - 1], g);
  const uint32_t bits = 32 * e->length;
  const uint32_t windows = (bits + 4) / 5;
  // Every entry is read for every window; the mask keeps the wanted one.
  auto select = [&](limb_t *r, uint64_t v) {
    zero_n(r, n);
    for (uint64_t j = 0; j < 32; ++j) {
      const uint64_t mask = ct::mask_eq(j, v);
      for (size_t i = 0; i < n; ++i) r[i] |= table[j][i] & mask;
    }
  };
  if (windows == 0) {
    copy_n(acc, one_, n);
    return kOk;
  }
  select(acc, window5(e, windows - 1));
  for (uint32_t k = windows - 1; k-- > 0;) {
    for (int s = 0; s < 5; ++s) sqr(acc, acc);
    select(pick, window5(e, k));
    mul(acc, acc, pick);
  }
  wipe(pick, n * 8);
  return kOk;
}

int32_t MontSpace::make_vlong(const limb_t *a, vlong **out) {
  Temp v(queue_);
  if (int32_t s = VLONG_allocVlong(v.out(), queue_); s != kOk) return s;
  return fill_vlong(a, v, out);
}

int32_t MontSpace::fill_vlong(const limb_t *a, Temp &v, vlong **out) {
  if (int32_t s = reserve_units(v.get(), static_cast<uint32_t>(2 * mt_.n)); s != kOk) return s;
  copy_n(limbs(v.get()), a, mt_.n);
  set_limb_length(v.get(), mt_.n);
  *out = v.release();
  return kOk;
}

namespace {

enum class Method { kWindow, kConstTime, kConstTimePublicModulus };

// New x^e mod m over an odd m (x and e non-zero were checked by the caller
// where that matters).
int32_t montgomery_exp(const vlong *x, const vlong *e, const vlong *m, Method method, vlong **out,
                       vlong **queue) {
  // The result is taken first: a caller that gives results back to its queue
  // gets every vlong back in the same role next time.
  Temp result(queue);
  if (int32_t s = VLONG_allocVlong(result.out(), queue); s != kOk) return s;
  MontSpace ms(queue);
  if (method == Method::kWindow && MontSpace::ifma_width(limbs_for(m->length))) {
    limb_t *acc = nullptr;
    if (int32_t s = ms.init_ifma_public(m); s != kOk) return s;
    if (int32_t s = ms.take(&acc); s != kOk) return s;
    if (int32_t s = ms.pow_public_ifma(acc, x, e); s != kOk) return s;
    return ms.fill_vlong(acc, result, out);
  }
  const bool ct = method != Method::kWindow;
  if (int32_t s = method == Method::kConstTime               ? ms.init_consttime(m)
                  : method == Method::kConstTimePublicModulus ? ms.init_public_consttime(m)
                                                              : ms.init(m);
      s != kOk)
    return s;
  limb_t *g = nullptr, *acc = nullptr;
  if (int32_t s = ms.take(&g); s != kOk) return s;
  if (int32_t s = ms.take(&acc); s != kOk) return s;
  if (int32_t s = ct ? ms.to_mont_consttime(g, x) : ms.to_mont(g, x); s != kOk) return s;
  int32_t s = method == Method::kWindow ? ms.pow_window(acc, g, e) : ms.pow_consttime(acc, g, e);
  if (s != kOk) return s;
  ms.from_mont(acc, acc);
  return ms.fill_vlong(acc, result, out);
}

bool is_odd(const vlong *v) { return v->length != 0 && (v->units[0] & 1); }

int32_t new_value(uint32_t value, vlong **out, vlong **queue) {
  return VLONG_makeVlongFromUnsignedValue(value, out, queue);
}

// x mod n for the Barrett path: non-negative and below n.
int32_t reduced_base(const vlong *x, const vlong *n, vlong **out, vlong **queue) {
  if (int32_t s = VLONG_operatorModSignedVlongs(x, n, out, queue); s != kOk) return s;
  if ((*out)->isNegative && (*out)->length != 0) {
    (*out)->isNegative = 0;
    vlong *r = *out;
    // n - r
    Temp t(queue);
    if (int32_t s = VLONG_makeVlongFromVlong(n, t.out(), queue); s != kOk) return s;
    t->isNegative = 0;
    if (int32_t s = VLONG_subtractSignedVlongs(t.get(), r, queue); s != kOk) return s;
    if (int32_t s = VLONG_copySignedValue(r, t.get()); s != kOk) return s;
  }
  (*out)->isNegative = 0;
  return kOk;
}

// Right-to-left binary method with Barrett products (even moduli).
int32_t barrett_exp(const vlong *x, const vlong *e, const vlong *n, vlong **out, vlong **queue) {
  Temp mu(queue), result(queue), base(queue), tmp(queue), nm(queue);
  if (int32_t s = VLONG_makeVlongFromVlong(n, nm.out(), queue); s != kOk) return s;
  nm->isNegative = 0;
  if (int32_t s = VLONG_newBarrettMu(mu.out(), nm.get(), queue); s != kOk) return s;
  if (int32_t s = new_value(1, result.out(), queue); s != kOk) return s;
  if (int32_t s = reduced_base(x, nm.get(), base.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(tmp.out(), queue); s != kOk) return s;
  const uint32_t t = VLONG_bitLength(e);
  for (uint32_t i = 0; i < t; ++i) {
    if (VLONG_isVlongBitSet(e, i)) {
      if (int32_t s = VLONG_barrettMultiply(tmp.get(), result.get(), base.get(), nm.get(), mu.get(), queue);
          s != kOk)
        return s;
      std::swap(*tmp.out(), *result.out());
    }
    if (i + 1 < t) {
      if (int32_t s = VLONG_barrettMultiply(tmp.get(), base.get(), base.get(), nm.get(), mu.get(), queue);
          s != kOk)
        return s;
      std::swap(*tmp.out(), *base.out());
    }
  }
  // 1 mod n for n = 1 .. (n is even here, so n >= 2 and 1 < n).
  *out = result.release();
  return kOk;
}

}  // namespace

int32_t barrettReduce(vlong *result, const vlong *x, const vlong *m, const vlong *mu, vlong **queue) {
  if (result == nullptr || x == nullptr || m == nullptr || mu == nullptr) return kNull;
  if (m->length == 0) return kBadModulus;
  const uint32_t k = m->length;
  if (compareMagnitudes(x, m) < 0) {
    if (int32_t s = VLONG_copySignedValue(result, x); s != kOk) return s;
    result->isNegative = 0;
    return kOk;
  }
  // HAC 14.42 with B = 2^32.
  Temp q(queue), r2(queue);
  if (int32_t s = VLONG_makeVlongFromVlong(x, q.out(), queue); s != kOk) return s;
  VLONG_shrXvlong(q.get(), 32 * (k - 1));
  if (int32_t s = VLONG_allocVlong(r2.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_unsignedMultiply(r2.get(), q.get(), mu); s != kOk) return s;
  VLONG_shrXvlong(r2.get(), 32 * (k + 1));  // q3
  if (int32_t s = VLONG_unsignedMultiply(q.get(), r2.get(), m); s != kOk) return s;
  if (q->length > k + 1) q->length = k + 1;  // r2 = q3·m mod B^(k+1)
  while (q->length > 0 && q->units[q->length - 1] == 0) --q->length;
  if (int32_t s = VLONG_copySignedValue(result, x); s != kOk) return s;
  result->isNegative = 0;
  q->isNegative = 0;
  if (result->length > k + 1) result->length = k + 1;  // r1 = x mod B^(k+1)
  while (result->length > 0 && result->units[result->length - 1] == 0) --result->length;
  if (compareMagnitudes(result, q.get()) < 0) {
    if (int32_t s = VLONG_setVlongUnit(result, k + 1, 1); s != kOk) return s;
  }
  if (int32_t s = VLONG_subtractSignedVlongs(result, q.get(), queue); s != kOk) return s;
  while (compareMagnitudes(result, m) >= 0) {
    if (int32_t s = VLONG_subtractSignedVlongs(result, m, queue); s != kOk) return s;
    result->isNegative = 0;
  }
  return kOk;
}

// ---- the one place that picks the exponentiation ----

int32_t mod_exp(const vlong *x, const vlong *e, const vlong *m, Exponent kind, vlong **out, vlong **queue) {
  switch (kind) {
    case Exponent::kSecret:
      return modexp_consttime(x, e, m, out, queue);
    case Exponent::kSecretPublicModulus:
      return modexp_public_modulus(x, e, m, out, queue);
    case Exponent::kPublic:
      break;
  }
  return VLONG_modexp(x, e, m, out, queue);
}

int32_t mod_exp(const ModExpHelper *helper, const vlong *x, const vlong *e, Exponent kind, vlong **out,
                vlong **queue) {
  if (kind == Exponent::kPublic) return VLONG_modExp(helper, x, e, out, queue);
  if (helper == nullptr) {
    if (out != nullptr) *out = nullptr;
    return kNull;
  }
  return mod_exp(x, e, helper->modulus, kind, out, queue);
}

namespace {

int32_t secret_exp(const vlong *x, const vlong *e, const vlong *m, Method method, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (x == nullptr || e == nullptr || m == nullptr) return kNull;
  if (!is_odd(m)) return kBadModulus;
  if (x->length == 0) return new_value(0, out, queue);
  return montgomery_exp(x, e, m, method, out, queue);
}

}  // namespace

// A joint 2-bit window: one squaring per exponent bit and a multiplication
// by g^i·y^j (i, j < 4) from a 16-entry table per two bits, instead of two
// full exponentiations.
int32_t mod_exp2(const vlong *g, const vlong *a, const vlong *y, const vlong *b, const vlong *p, vlong **out,
                 vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (g == nullptr || a == nullptr || y == nullptr || b == nullptr || p == nullptr) return kNull;
  if (!is_odd(p)) return kBadModulus;
  Temp result(queue);
  if (int32_t s = VLONG_allocVlong(result.fresh(), queue); s != kOk) return s;
  MontSpace ms(queue);
  limb_t *acc = nullptr;
  if (MontSpace::ifma_width(limbs_for(p->length))) {
    if (int32_t s = ms.init_ifma_public(p); s != kOk) return s;
    if (int32_t s = ms.take(&acc); s != kOk) return s;
    if (int32_t s = ms.pow2_public_ifma(acc, g, a, y, b); s != kOk) return s;
    return ms.fill_vlong(acc, result, out);
  }
  if (int32_t s = ms.init(p); s != kOk) return s;
  limb_t *t[16] = {};
  for (auto &e : t)
    if (int32_t s = ms.take(&e); s != kOk) return s;
  if (int32_t s = ms.take(&acc); s != kOk) return s;
  if (int32_t s = ms.to_mont(t[1], g); s != kOk) return s;
  if (int32_t s = ms.to_mont(t[4], y); s != kOk) return s;
  joint_table([&](int d, int x) { ms.sqr_vt(t[d], t[x]); }, [&](int d, int x, int z) { ms.mul_vt(t[d], t[x], t[z]); });
  copy_n(acc, ms.one(), ms.n());
  joint_scan(
      a, b, [&] { ms.sqr_vt(acc, acc); }, [&](uint32_t k) { ms.mul_vt(acc, acc, t[k]); });
  ms.from_mont(acc, acc);
  return ms.fill_vlong(acc, result, out);
}

int32_t modexp_consttime(const vlong *x, const vlong *e, const vlong *m, vlong **out, vlong **queue) {
  return secret_exp(x, e, m, Method::kConstTime, out, queue);
}

int32_t mod_exp_crt(const ModExpHelper *hp, const ModExpHelper *hq, const vlong *c, const vlong *dp,
                    const vlong *dq, vlong **m1, vlong **m2, vlong **queue) {
  if (m1 == nullptr || m2 == nullptr) return kNull;
  *m1 = *m2 = nullptr;
  if (hp == nullptr || hq == nullptr || c == nullptr || dp == nullptr || dq == nullptr) return kNull;
  const vlong *p = hp->modulus, *q = hq->modulus;
  const bool pair = p != nullptr && q != nullptr && is_odd(p) && is_odd(q) && c->length != 0 &&
                    limbs_for(p->length) == limbs_for(q->length) && MontSpace::ifma_width(limbs_for(p->length));
  if (!pair) {
    Temp r1(queue, true);
    if (int32_t s = mod_exp(hp, c, dp, Exponent::kSecret, r1.out(), queue); s != kOk) return s;
    if (int32_t s = mod_exp(hq, c, dq, Exponent::kSecret, m2, queue); s != kOk) return s;
    *m1 = r1.release();
    return kOk;
  }
  Temp r1(queue, true), r2(queue, true);
  if (int32_t s = VLONG_allocVlong(r1.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(r2.out(), queue); s != kOk) return s;
  MontSpace sp(queue), sq(queue);
  limb_t *gp = nullptr, *ap = nullptr, *gq = nullptr, *aq = nullptr;
  for (auto [ms, m, g, acc] : {std::tuple{&sp, p, &gp, &ap}, std::tuple{&sq, q, &gq, &aq}}) {
    if (int32_t s = ms->init_consttime(m); s != kOk) return s;
    if (int32_t s = ms->take(g); s != kOk) return s;
    if (int32_t s = ms->take(acc); s != kOk) return s;
    if (int32_t s = ms->reduce_consttime(*g, c); s != kOk) return s;
  }
  if (int32_t s = MontSpace::pow_consttime_pair(sp, ap, gp, dp, sq, aq, gq, dq); s != kOk) return s;
  vlong *out1 = nullptr;
  if (int32_t s = sp.fill_vlong(ap, r1, &out1); s != kOk) return s;
  Temp hold(queue, true);
  *hold.out() = out1;
  if (int32_t s = sq.fill_vlong(aq, r2, m2); s != kOk) return s;
  *m1 = hold.release();
  return kOk;
}

int32_t modexp_public_modulus(const vlong *x, const vlong *e, const vlong *m, vlong **out, vlong **queue) {
  return secret_exp(x, e, m, Method::kConstTimePublicModulus, out, queue);
}

}  // namespace kel::bignum

// ---- exported ----

int32_t VLONG_modexp(const vlong *x, const vlong *e, const vlong *n, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (x == nullptr || e == nullptr || n == nullptr) return kNull;
  if (n->length == 0) return kBadModulus;
  if (x->length == 0) return new_value(0, out, queue);
  if (e->length == 0) return new_value(1, out, queue);
  // Odd moduli go through Montgomery whatever the exponent's length (short
  // exponents give the same value as the binary method); even moduli take
  // Barrett, which serves exponents below 2^32 only.
  if (is_odd(n)) return montgomery_exp(x, e, n, Method::kWindow, out, queue);
  if (e->length > 1) return kBadModulus;
  return barrett_exp(x, e, n, out, queue);
}

int32_t VLONG_modExp(const ModExpHelper *helper, const vlong *x, const vlong *e, vlong **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (helper == nullptr || x == nullptr || e == nullptr || helper->modulus == nullptr) return kNull;
  if (!is_odd(helper->modulus)) return kBadModulus;
  if (x->length == 0) return new_value(0, out, queue);
  if (e->length == 0) return new_value(1, out, queue);
  return montgomery_exp(x, e, helper->modulus, Method::kWindow, out, queue);
}

int32_t VLONG_newBarrettMu(vlong **out, const vlong *m, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (m == nullptr) return kNull;
  if (m->length == 0) return kBadModulus;
  Temp b(queue), q(queue), r(queue);
  if (int32_t s = VLONG_allocVlong(b.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_setVlongUnit(b.get(), 2 * m->length, 1); s != kOk) return s;  // B^(2k)
  if (int32_t s = VLONG_allocVlong(q.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_allocVlong(r.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_unsignedDivide(q.get(), b.get(), m, r.get(), queue); s != kOk) return s;
  q->isNegative = 0;
  *out = q.release();
  return kOk;
}

int32_t VLONG_barrettMultiply(vlong *result, const vlong *a, const vlong *b, const vlong *m, const vlong *mu,
                              vlong **queue) {
  if (result == nullptr || a == nullptr || b == nullptr || m == nullptr || mu == nullptr) return kNull;
  Temp p(queue);
  if (int32_t s = VLONG_allocVlong(p.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_unsignedMultiply(p.get(), a, b); s != kOk) return s;
  return barrettReduce(result, p.get(), m, mu, queue);
}

// ---- the helper ----

namespace {

uint32_t mont_rho32(uint32_t m0) {
  // Newton from an inverse modulo 2^4: three steps give 32 bits.
  uint32_t y = m0 + 2 * ((m0 + 2) & 4);
  for (int i = 0; i < 3; ++i) y *= 2 - m0 * y;
  return 0 - y;
}

void free_helper(ModExpHelper *h, vlong **queue) {
  if (h->montR != nullptr) VLONG_freeVlong(&h->montR, queue);
  if (h->montRInverse != nullptr) VLONG_freeVlong(&h->montRInverse, queue);
  if (h->modulus != nullptr) VLONG_freeVlong(&h->modulus, queue);
  wipe(h, sizeof *h);
  void *block = h;
  VOR_free(&block);
}

int32_t new_helper_record(ModExpHelper **out) {
  void *block = nullptr;
  if (VOR_alloc(sizeof(ModExpHelper), &block) != 0) return kNoMemory;
  auto *h = static_cast<ModExpHelper *>(block);
  h->montRho = 0;
  h->montR = h->montRInverse = h->modulus = nullptr;
  *out = h;
  return kOk;
}

}  // namespace

int32_t VLONG_newModExpHelper(ModExpHelper **out, const vlong *m, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (m == nullptr) return kNull;
  if (!is_odd(m)) return kBadModulus;
  ModExpHelper *h = nullptr;
  if (int32_t s = new_helper_record(&h); s != kOk) return s;
  struct Guard {
    ModExpHelper *&h;
    vlong **queue;
    ~Guard() {
      if (h != nullptr) free_helper(h, queue);
    }
  } guard{h, queue};
  const uint32_t k = m->length;
  h->montRho = mont_rho32(m->units[0]);
  if (int32_t s = VLONG_allocVlong(&h->montR, queue); s != kOk) return s;
  if (int32_t s = VLONG_setVlongUnit(h->montR, k, 1); s != kOk) return s;
  if (int32_t s = VLONG_makeVlongFromVlong(m, &h->modulus, queue); s != kOk) return s;
  h->modulus->isNegative = 0;
  // R^-1 mod m by one Montgomery reduction: with R' = 2^(64n) the reduction
  // of c gives c·R'^-1; R = R' for an even unit count, R'/2^32 for an odd one.
  {
    MontSpace ms(queue);
    if (int32_t s = ms.init(h->modulus); s != kOk) return s;
    limb_t *c = nullptr;
    if (int32_t s = ms.take(&c); s != kOk) return s;
    zero_n(c, ms.n());
    c[0] = (k & 1) ? (uint64_t{1} << 32) : 1;
    ms.from_mont(c, c);
    if (int32_t s = ms.make_vlong(c, &h->montRInverse); s != kOk) return s;
  }
  *out = h;
  h = nullptr;
  return kOk;
}

int32_t VLONG_deleteModExpHelper(ModExpHelper **helper, vlong **queue) {
  if (helper == nullptr || *helper == nullptr) return kOk;
  free_helper(*helper, queue);
  *helper = nullptr;
  return kOk;
}

int32_t VLONG_makeModExpHelperFromModExpHelper(const ModExpHelper *src, ModExpHelper **out, vlong **queue) {
  if (out == nullptr) return kNull;
  *out = nullptr;
  if (src == nullptr || src->montR == nullptr || src->montRInverse == nullptr || src->modulus == nullptr)
    return kNull;
  ModExpHelper *h = nullptr;
  if (int32_t s = new_helper_record(&h); s != kOk) return s;
  h->montRho = src->montRho;
  int32_t s = VLONG_makeVlongFromVlong(src->montR, &h->montR, queue);
  if (s == kOk) s = VLONG_makeVlongFromVlong(src->montRInverse, &h->montRInverse, queue);
  if (s == kOk) s = VLONG_makeVlongFromVlong(src->modulus, &h->modulus, queue);
  if (s != kOk) {
    free_helper(h, queue);
    return s;
  }
  *out = h;
  return kOk;
}

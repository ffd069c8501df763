// The RSA private operation: CRT halves through the constant-time
// exponentiation, recombination and blinding in fixed-width constant-time
// arithmetic, the blinding pair under the key's lock, and the check of every
// result against the public exponent before it leaves.
#include "crypto/bignum/internal.h"
#include "crypto/bignum/limbs.h"
#include "crypto/bignum/mont.h"
#include "crypto/pubkey/rsa_internal.h"
#include "kel/vor.h"

#include <utility>

namespace kel::rsa {

namespace ct {

uint32_t mont_rho(uint32_t m0) {
  uint32_t y = m0;  // an odd m0 is its own inverse modulo 8
  for (int i = 0; i < 4; ++i) y *= 2u - m0 * y;  // 3 -> 6 -> 12 -> 24 -> 48 bits
  return 0u - y;
}

void load(uint32_t *dst, const vlong *v, size_t k) {
  const size_t n = v->length < k ? v->length : k;
  if (n != 0) std::memcpy(dst, v->units, n * 4);
  if (k > n) std::memset(dst + n, 0, (k - n) * 4);
}

namespace {

// r = a - b over k units; returns the borrow (0 or 1). r may alias a or b.
uint32_t sub(uint32_t *r, const uint32_t *a, const uint32_t *b, size_t k) {
  uint32_t borrow = 0;
  for (size_t i = 0; i < k; ++i) {
    const uint64_t d = uint64_t{a[i]} - b[i] - borrow;
    r[i] = static_cast<uint32_t>(d);
    borrow = static_cast<uint32_t>(d >> 63);
  }
  return borrow;
}

// r = a + (b AND mask) over k units; returns the carry.
uint32_t add_masked(uint32_t *r, const uint32_t *a, const uint32_t *b, uint32_t mask, size_t k) {
  uint64_t carry = 0;
  for (size_t i = 0; i < k; ++i) {
    carry += uint64_t{a[i]} + (b[i] & mask);
    r[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return static_cast<uint32_t>(carry);
}

// dst = mask ? a : b, unit by unit.
void select(uint32_t *dst, uint32_t mask, const uint32_t *a, const uint32_t *b, size_t k) {
  for (size_t i = 0; i < k; ++i) dst[i] = (a[i] & mask) | (b[i] & ~mask);
}

// x = 2x mod m for x < m; d: k units of scratch.
void mod_double(uint32_t *x, const uint32_t *m, size_t k, uint32_t *d) {
  uint32_t top = 0;
  for (size_t i = 0; i < k; ++i) {
    const uint32_t next = x[i] >> 31;
    x[i] = x[i] << 1 | top;
    top = next;
  }
  const uint32_t borrow = sub(d, x, m, k);
  // 2x >= m exactly when a bit left the top unit or the subtraction did not borrow.
  select(x, ~ct_lt(top, borrow), d, x, k);
}

}  // namespace

void mont_mul(uint32_t *r, const uint32_t *a, const uint32_t *b, const uint32_t *m, uint32_t rho, size_t k,
              uint32_t *t) {
  // An even unit count is a whole number of 64-bit limbs with the same R:
  // the big-number code's product (MULX/ADX where the CPU has them) serves.
  const auto addr = [](const void *p) { return reinterpret_cast<uintptr_t>(p); };
  if (k % 2 == 0 && ((addr(r) | addr(a) | addr(b) | addr(m) | addr(t)) & 7) == 0) {
    using bignum::limb_t;
    const bignum::Mont mt{reinterpret_cast<const limb_t *>(m), k / 2,
                          bignum::neg_inverse_64(m[0] | uint64_t{m[1]} << 32)};
    bignum::mont_mul(mt, reinterpret_cast<limb_t *>(r), reinterpret_cast<const limb_t *>(a),
                     reinterpret_cast<const limb_t *>(b), reinterpret_cast<limb_t *>(t));
    return;
  }
  // Coarsely integrated operand scanning: one row of a·b, then one reduction
  // step, per unit of b; t stays below 2m throughout.
  std::memset(t, 0, (k + 2) * 4);
  for (size_t i = 0; i < k; ++i) {
    uint64_t c = 0;
    const uint64_t bi = b[i];
    for (size_t j = 0; j < k; ++j) {
      c += t[j] + a[j] * bi;
      t[j] = static_cast<uint32_t>(c);
      c >>= 32;
    }
    c += t[k];
    t[k] = static_cast<uint32_t>(c);
    t[k + 1] = static_cast<uint32_t>(c >> 32);
    const uint64_t u = static_cast<uint32_t>(t[0] * rho);
    c = (t[0] + u * m[0]) >> 32;
    for (size_t j = 1; j < k; ++j) {
      c += t[j] + u * m[j];
      t[j - 1] = static_cast<uint32_t>(c);
      c >>= 32;
    }
    c += t[k];
    t[k - 1] = static_cast<uint32_t>(c);
    t[k] = t[k + 1] + static_cast<uint32_t>(c >> 32);
  }
  // One subtraction of m, kept or dropped by mask.
  const uint32_t borrow = sub(r, t, m, k);
  select(r, ~ct_lt(t[k], borrow), r, t, k);
}

void mont_r2(uint32_t *r, const uint32_t *m, uint32_t mBits, uint32_t rho, size_t k, uint32_t *t) {
  uint32_t *d = t + k + 2;
  // 2^(bits - 1) < m, doubled up to 2^(32k) mod m: R in Montgomery form is 1.
  std::memset(r, 0, k * 4);
  r[(mBits - 1) / 32] = 1u << ((mBits - 1) % 32);
  for (uint32_t i = mBits - 1; i < 32 * k; ++i) mod_double(r, m, k, d);
  // Then the Montgomery form of 2^(32k) by square-and-double over the public
  // exponent 32k: squaring doubles the exponent, doubling adds one.
  const uint32_t e = static_cast<uint32_t>(32 * k);
  for (int bit = 31 - __builtin_clz(e); bit >= 0; --bit) {
    mont_mul(r, r, r, m, rho, k, t);
    if ((e >> bit) & 1) mod_double(r, m, k, d);
  }
}

void mod_mul(uint32_t *r, const uint32_t *a, const uint32_t *b, const uint32_t *m, const uint32_t *r2, uint32_t rho,
             size_t k, uint32_t *t) {
  mont_mul(r, a, b, m, rho, k, t);
  mont_mul(r, r, r2, m, rho, k, t);
}

}  // namespace ct

namespace {

using bignum::Exponent;
using bignum::Temp;

// v = the k units at src, trimmed (the vlong keeps its buffer).
int32_t store(vlong *v, const uint32_t *src, size_t k) {
  if (int32_t s = VLONG_reallocVlong(v, static_cast<uint32_t>(k)); s != kOk) return s;
  std::memcpy(v->units, src, k * 4);
  bignum::set_unit_length(v, static_cast<uint32_t>(k));
  v->isNegative = 0;
  return kOk;
}

// A new vlong from k units.
int32_t make(const uint32_t *src, size_t k, vlong **out, vlong **queue) {
  SecretVlong v(queue);
  if (int32_t s = VLONG_allocVlong(v.out(), queue); s != kOk) return s;
  if (int32_t s = store(v.get(), src, k); s != kOk) return s;
  *out = v.release();
  return kOk;
}

// c^d mod n by the Chinese Remainder Theorem from the exponents' halves
// dp = d mod (p - 1) and dq = d mod (q - 1): PKCS #1 RSADP with the
// quintuple, or, with p - 2 and q - 2, the inverse of c by Fermat.
int32_t crt(const RsaKeyObject *key, const vlong *c, const vlong *dp, const vlong *dq, vlong **out, vlong **queue) {
  if (key->prime1 == nullptr || key->prime2 == nullptr || key->exponent1 == nullptr ||
      key->exponent2 == nullptr || key->coefficient == nullptr || key->prime1Helper == nullptr ||
      key->prime2Helper == nullptr)
    return ERR_RSA_INCOMPLETE_KEY;
  const vlong *p = key->prime1, *q = key->prime2;
  if (p->length == 0 || q->length == 0 || !(p->units[0] & 1)) return ERR_RSA_INCOMPLETE_KEY;
  SecretVlong m1(queue), m2(queue);
  if (int32_t s = bignum::mod_exp_crt(key->prime1Helper, key->prime2Helper, c, dp, dq, m1.out(), m2.out(), queue);
      s != kOk)
    return s;

  // Everything below runs over the public widths kp and kq only.
  const size_t kp = p->length, kq = q->length;
  mem::WipedBlock buf;
  if (!buf.allocate((9 * kp + 2 * kq + 2) * 4)) return kAlloc;
  uint32_t *P = buf.units(), *M1 = P + kp, *M2 = M1 + kp, *QI = M2 + kp, *R2 = QI + kp, *T = R2 + kp;
  uint32_t *Q = T + 3 * kp + 2, *Res = Q + kq;  // Res: kp + kq units
  ct::load(P, p, kp);
  ct::load(M1, m1.get(), kp);
  ct::load(M2, m2.get(), kp);
  ct::load(QI, key->coefficient, kp);
  ct::load(Q, q, kq);
  const uint32_t rho = ct::mont_rho(P[0]);

  // h = (m1 - m2)·qInv mod p, the difference brought into [0, p) by mask:
  // m1 < p and m2 < q <= p, so one addition of p suffices.
  const uint32_t borrow = ct::sub(M1, M1, M2, kp);
  ct::add_masked(M1, M1, P, 0u - borrow, kp);
  ct::mont_r2(R2, P, VLONG_bitLength(p), rho, kp, T);
  ct::mod_mul(M1, M1, QI, P, R2, rho, kp, T);

  // m = m2 + h·q over kp + kq units (below p·q, so no carry leaves).
  std::memset(Res, 0, (kp + kq) * 4);
  for (size_t i = 0; i < kq; ++i) {
    uint64_t c2 = 0;
    for (size_t j = 0; j < kp; ++j) {
      c2 += Res[i + j] + uint64_t{M1[j]} * Q[i];
      Res[i + j] = static_cast<uint32_t>(c2);
      c2 >>= 32;
    }
    Res[i + kp] = static_cast<uint32_t>(c2);
  }
  uint64_t carry = 0;
  for (size_t i = 0; i < kp + kq; ++i) {
    carry += uint64_t{Res[i]} + (i < kp ? M2[i] : 0u);
    Res[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return make(Res, kp + kq, out, queue);
}

// 2^(64k) mod n into k units. n is public, so one division will do (the
// primes take ct::mont_r2 instead).
int32_t public_r2(uint32_t *r2, const vlong *n, size_t k, vlong **queue) {
  Temp power(queue), rem(queue);
  if (int32_t s = VLONG_allocVlong(power.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_setVlongBit(power.get(), static_cast<uint32_t>(64 * k)); s != kOk) return s;
  if (int32_t s = VLONG_operatorModSignedVlongs(power.get(), n, rem.out(), queue); s != kOk) return s;
  ct::load(r2, rem.get(), k);
  return kOk;
}

// Holds the key's blinding lock for one scope.
class BlindingLock {
 public:
  explicit BlindingLock(MutexHandle m) : m_(m) { status_ = LINUX_mutexWait(m_); }
  ~BlindingLock() {
    if (status_ == kOk) LINUX_mutexRelease(m_);
  }
  int32_t status() const { return status_; }

 private:
  MutexHandle m_;
  int32_t status_;
};

// Draws a new blinding pair into the key (lock held): r of length(n) - 1
// units from the generator, so r < n; r^e mod n and r^-1 mod n.
int32_t draw_pair(RsaKeyObject *key, RngFun rng, void *rngArg, vlong **queue) {
  const uint32_t units = key->modulus->length - 1;
  SecretVlong r(queue), bf(queue), uf(queue);
  if (int32_t s = VLONG_allocVlong(r.out(), queue); s != kOk) return s;
  if (int32_t s = VLONG_reallocVlong(r.get(), units); s != kOk) return s;
  if (int32_t s = rng(rngArg, 4 * units, reinterpret_cast<uint8_t *>(r.get()->units)); s != kOk) return s;
  bignum::set_unit_length(r.get(), units);
  // r is secret: its power goes through the constant-time path although e is not.
  if (int32_t s = bignum::mod_exp(r.get(), key->publicExponent, key->modulus, Exponent::kSecretPublicModulus, bf.out(),
                                  queue);
      s != kOk)
    return s;
  // r^-1 mod n as r^(p-2) mod p and r^(q-2) mod q joined by the CRT: fixed
  // width exponentiations where Euclid's steps would follow r. An r that
  // shares a factor with n (odds about 2^-1000) gives a wrong inverse, which
  // the check of every private result against e then refuses.
  SecretVlong pm2(queue), qm2(queue);
  for (auto [prime, out] : {std::pair{key->prime1, pm2.out()}, std::pair{key->prime2, qm2.out()}}) {
    const size_t kp = prime->length;
    mem::WipedBlock buf;
    if (!buf.allocate(2 * kp * 4)) return kAlloc;
    uint32_t *P = buf.units(), *two = P + kp;
    ct::load(P, prime, kp);
    std::memset(two, 0, kp * 4);
    two[0] = 2;
    ct::sub(P, P, two, kp);
    if (int32_t s = make(P, kp, out, queue); s != kOk) return s;
  }
  if (int32_t s = crt(key, r.get(), pm2.get(), qm2.get(), uf.out(), queue); s != kOk) return s;
  wipe_release(&key->blindingFactor, queue);
  wipe_release(&key->unblindingFactor, queue);
  key->blindingFactor = bf.release();
  key->unblindingFactor = uf.release();
  key->blindingUseCount = 0;
  return kOk;
}

// The blinded private operation: c' = bf·c, the pair squared for the next
// use under the lock, m = crt(c')·uf outside it.
int32_t blinded(RsaKeyObject *key, const vlong *c, RngFun rng, void *rngArg, vlong **out, vlong **queue) {
  const vlong *n = key->modulus;
  const size_t k = n->length;
  if (k < 2 || !(n->units[0] & 1)) return ERR_VLONG_MODULUS;
  mem::WipedBlock buf;
  if (!buf.allocate((7 * k + 2) * 4)) return kAlloc;
  uint32_t *N = buf.units(), *R2 = N + k, *C = R2 + k, *U = C + k, *X = U + k, *T = X + k;
  ct::load(N, n, k);
  const uint32_t rho = ct::mont_rho(N[0]);
  if (int32_t s = public_r2(R2, n, k, queue); s != kOk) return s;
  // The input is public; one taken modulo n keeps the result defined for c >= n.
  Temp reduced(queue);
  if (VLONG_compareSignedVlongs(c, n) >= 0) {
    if (int32_t s = VLONG_operatorModSignedVlongs(c, n, reduced.out(), queue); s != kOk) return s;
    c = reduced.get();
  }
  ct::load(C, c, k);
  {
    BlindingLock lock(key->blindingLock);
    if (lock.status() != kOk) return lock.status();
    if (key->blindingUseCount > 31) {
      wipe_release(&key->blindingFactor, queue);
      wipe_release(&key->unblindingFactor, queue);
    }
    if (key->blindingFactor != nullptr && key->unblindingFactor != nullptr) {
      ++key->blindingUseCount;
    } else if (int32_t s = draw_pair(key, rng, rngArg, queue); s != kOk) {
      return s;
    }
    ct::load(X, key->blindingFactor, k);
    ct::load(U, key->unblindingFactor, k);
    ct::mod_mul(C, C, X, N, R2, rho, k, T);
    // Squared in place for the next use: r^2, r^4, ... until the pair is renewed.
    ct::mod_mul(X, X, X, N, R2, rho, k, T);
    if (int32_t s = store(key->blindingFactor, X, k); s != kOk) return s;
    ct::mod_mul(X, U, U, N, R2, rho, k, T);
    if (int32_t s = store(key->unblindingFactor, X, k); s != kOk) return s;
  }
  SecretVlong blindedIn(queue), blindedOut(queue);
  if (int32_t s = make(C, k, blindedIn.out(), queue); s != kOk) return s;
  if (int32_t s = crt(key, blindedIn.get(), key->exponent1, key->exponent2, blindedOut.out(), queue); s != kOk)
    return s;
  ct::load(X, blindedOut.get(), k);
  ct::mod_mul(X, X, U, N, R2, rho, k, T);
  return make(X, k, out, queue);
}

// Whether m^e = c (mod n), c < n. m is secret (a decrypted block): with a
// one-unit e (every key this toolkit makes) the power runs in fixed-width
// Montgomery arithmetic (52-bit limbs where AVX-512 IFMA serves the width)
// over e's public bits and the comparison is a mask;
// a longer e takes the general public operation.
int32_t matches_public(const RsaKeyObject *key, const vlong *m, const vlong *c, bool *equal, vlong **queue) {
  const vlong *n = key->modulus, *e = key->publicExponent;
  const size_t k = n->length;
  if (e->length != 1 || k < 2 || !(n->units[0] & 1)) {
    Temp check(queue);
    if (int32_t s = public_op(key, m, check.out(), queue); s != kOk) return s;
    *equal = VLONG_compareSignedVlongs(check.get(), c) == 0;
    return kOk;
  }
  if (bignum::MontSpace::ifma_width(bignum::limbs_for(static_cast<uint32_t>(k)))) {
    // Over 52-bit limbs: m enters as it is (m < n), so nothing branches on it.
    using bignum::limb_t;
    bignum::MontSpace ms(queue);
    limb_t *x = nullptr;
    if (int32_t s = ms.init_ifma_public(n); s != kOk) return s;
    if (int32_t s = ms.take(&x); s != kOk) return s;
    const size_t nl = ms.n();
    size_t mn, cn;
    const limb_t *ml = bignum::view(m, &mn), *cl = bignum::view(c, &cn);
    bignum::copy_n(x, ml, mn);
    bignum::zero_n(x + mn, nl - mn);
    ms.pow_public_ifma_limbs(x, x, e);
    uint64_t diff = 0;
    for (size_t i = 0; i < nl; ++i) diff |= x[i] ^ (i < cn ? cl[i] : 0);
    *equal = barrier(diff) == 0;
    return kOk;
  }
  mem::WipedBlock buf;
  if (!buf.allocate((7 * k + 2) * 4)) return kAlloc;
  uint32_t *N = buf.units(), *R2 = N + k, *X = R2 + k, *A = X + k, *C = A + k, *T = C + k;
  ct::load(N, n, k);
  ct::load(X, m, k);
  ct::load(C, c, k);
  const uint32_t rho = ct::mont_rho(N[0]);
  if (int32_t s = public_r2(R2, n, k, queue); s != kOk) return s;
  ct::mont_mul(X, X, R2, N, rho, k, T);  // into Montgomery form
  std::memcpy(A, X, k * 4);
  const uint32_t ev = e->units[0];
  for (int bit = 30 - __builtin_clz(ev); bit >= 0; --bit) {
    ct::mont_mul(A, A, A, N, rho, k, T);
    if ((ev >> bit) & 1) ct::mont_mul(A, A, X, N, rho, k, T);
  }
  std::memset(X, 0, k * 4);
  X[0] = 1;
  ct::mont_mul(A, A, X, N, rho, k, T);  // out of Montgomery form
  uint32_t diff = 0;
  for (size_t i = 0; i < k; ++i) diff |= A[i] ^ C[i];
  *equal = barrier(diff) == 0;
  return kOk;
}

}  // namespace

int32_t public_op(const RsaKeyObject *key, const vlong *x, vlong **out, vlong **queue) {
  if (key->publicExponent == nullptr || key->modulus == nullptr) return kNull;
  return VLONG_modexp(x, key->publicExponent, key->modulus, out, queue);
}

int32_t private_op(const RsaKeyObject *key, const vlong *c, RngFun rng, void *rngArg, vlong **out, vlong **queue) {
  if (key->publicExponent == nullptr || key->modulus == nullptr) return kNull;
  SecretVlong m(queue);
  if (rng == nullptr) {
    if (int32_t s = crt(key, c, key->exponent1, key->exponent2, m.out(), queue); s != kOk) return s;
  } else {
    // Only the blinding pair changes, and only under the key's lock.
    auto *shared = const_cast<RsaKeyObject *>(key);
    if (int32_t s = blinded(shared, c, rng, rngArg, m.out(), queue); s != kOk) return s;
  }
  // A fault in either half (or in the blinding) would give a result that
  // reveals a factor of n when released. Check m^e = c (mod n) first.
  Temp reduced(queue);
  if (VLONG_compareSignedVlongs(c, key->modulus) >= 0) {
    if (int32_t s = VLONG_operatorModSignedVlongs(c, key->modulus, reduced.out(), queue); s != kOk) return s;
    c = reduced.get();
  }
  bool consistent = false;
  if (int32_t s = matches_public(key, m.get(), c, &consistent, queue); s != kOk) return s;
  KEL_DECLASSIFY(&consistent, sizeof consistent);  // the verdict is public: a fault is reported
  if (!consistent) return ERR_RSA_FAULT;
  *out = m.release();
  return kOk;
}

}  // namespace kel::rsa

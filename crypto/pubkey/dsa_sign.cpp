// DSA signing and verification (FIPS 186-2 section 5 and 6).
//
// Signing touches two secrets, x and k. Both exponentiations by them go
// through the constant-time exponentiation; every reduction modulo q of a
// value that depends on them is the bit-serial reduction below (no branch,
// no index, no address depends on the value); k's inverse is k^(q-2) mod q
// by the big-number code's constant-time fixed-window exponentiation (Fermat),
// never the extended Euclid, and k never enters a division.
#include <algorithm>
#include <cstring>

#include "crypto/bignum/limbs.h"
#include "crypto/fips/gate.h"
#include "crypto/pubkey/dsa_internal.h"

namespace kel::dsa {

int32_t ct_reduce_words(const uint32_t *words, uint32_t wordCount, const vlong *q, vlong **out, vlong **queue) {
  const uint32_t k = q->length;
  if (k == 0 || k > kMaxQUnits) return -6010;
  const uint32_t *qu = q->units;
  // r < q holds before each step; 2r + 1 < 2q fits in k + 1 units.
  uint32_t r[kMaxQUnits + 1] = {};
  uint32_t t[kMaxQUnits + 1];
  for (uint32_t bit = 32 * wordCount; bit-- > 0;) {
    uint32_t carry = (words[bit / 32] >> (bit % 32)) & 1;
    for (uint32_t j = 0; j <= k; ++j) {
      const uint32_t shifted = (r[j] << 1) | carry;
      carry = r[j] >> 31;
      r[j] = shifted;
    }
    uint32_t borrow = 0;
    for (uint32_t j = 0; j <= k; ++j) {
      const uint64_t d = static_cast<uint64_t>(r[j]) - (j < k ? qu[j] : 0u) - borrow;
      t[j] = static_cast<uint32_t>(d);
      borrow = static_cast<uint32_t>(d >> 63);
    }
    const uint32_t keep = 0u - borrow;  // all ones when r < q: keep r
    for (uint32_t j = 0; j <= k; ++j) r[j] = (r[j] & keep) | (t[j] & ~keep);
  }
  kel::bignum::Temp v(queue, true);
  int32_t s = VLONG_allocVlong(v.fresh(), queue);
  if (s == kOk) s = VLONG_reallocVlong(v.get(), k);
  if (s == kOk) {
    std::memcpy(v.get()->units, r, sizeof(uint32_t) * k);
    kel::bignum::set_unit_length(v.get(), k);
    v.get()->isNegative = 0;
    *out = v.release();
  }
  ffc::secure_zero(r, sizeof r);
  ffc::secure_zero(t, sizeof t);
  return s;
}

int32_t ct_reduce_bytes(const uint8_t *bytes, uint32_t length, const vlong *q, vlong **out, vlong **queue) {
  uint32_t words[kRandomBytes / 4 + 1] = {};
  if (length > kRandomBytes) return -6010;
  for (uint32_t i = 0; i < length; ++i) {
    const uint32_t fromEnd = length - 1 - i;
    words[fromEnd / 4] |= static_cast<uint32_t>(bytes[i]) << (8 * (fromEnd % 4));
  }
  const int32_t s = ct_reduce_words(words, (length + 3) / 4, q, out, queue);
  ffc::secure_zero(words, sizeof words);
  return s;
}

int32_t ct_reduce(const vlong *x, uint32_t units, const vlong *q, vlong **out, vlong **queue) {
  uint32_t words[2 * kMaxQUnits + 2] = {};
  if (units > 2 * kMaxQUnits + 2) return -6010;
  for (uint32_t i = 0; i < units; ++i) words[i] = VLONG_getVlongUnit(x, i);
  const int32_t s = ct_reduce_words(words, units, q, out, queue);
  ffc::secure_zero(words, sizeof words);
  return s;
}

namespace {

// a·b mod q for a secret factor, through the constant-time reduction.
int32_t ct_mul_mod(const vlong *a, const vlong *b, const vlong *q, vlong **out, vlong **queue) {
  kel::bignum::Temp product(queue, true);
  if (int32_t s = VLONG_allocVlong(product.fresh(), queue); s != kOk) return s;
  if (int32_t s = VLONG_unsignedMultiply(product.get(), a, b); s != kOk) return s;
  // Over the factors' unit counts, not the product's: a leading zero unit
  // of the product would otherwise shorten the loop.
  return ct_reduce(product.get(), a->length + b->length, q, out, queue);
}

// k^(q-2) mod q (Fermat; q is prime), constant time in k and never a
// division of k. The buffers are the heap's (wiped when released), not the
// caller's queue: the table holds powers of k.
int32_t ct_inverse(const vlong *k, const vlong *q, vlong **out) {
  kel::bignum::Temp exponent(nullptr, false);
  if (int32_t s = VLONG_makeVlongFromVlong(q, exponent.fresh(), nullptr); s != kOk) return s;
  if (int32_t s = VLONG_decrement(exponent.get(), nullptr); s != kOk) return s;
  if (int32_t s = VLONG_decrement(exponent.get(), nullptr); s != kOk) return s;
  return bignum::mod_exp(k, exponent.get(), q, bignum::Exponent::kSecretPublicModulus, out, nullptr);
}

// (a + b) mod q through the constant-time reduction; the sum is formed in
// fixed-width words, so its carries do not branch.
int32_t ct_add_mod(const vlong *a, const vlong *b, const vlong *q, vlong **out, vlong **queue) {
  const uint32_t units = (a->length > b->length ? a->length : b->length) + 1;
  uint32_t words[2 * kMaxQUnits + 2] = {};
  if (units > 2 * kMaxQUnits + 2) return -6010;
  uint64_t carry = 0;
  for (uint32_t i = 0; i < units; ++i) {
    carry += static_cast<uint64_t>(VLONG_getVlongUnit(a, i)) + VLONG_getVlongUnit(b, i);
    words[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  const int32_t s = ct_reduce_words(words, units, q, out, queue);
  ffc::secure_zero(words, sizeof words);
  return s;
}

// One signature attempt with fresh k.
int32_t sign_once(RngFun rngFun, void *rngFunArg, const DsaKeyObject *key, const vlong *m, kel::bignum::Temp &r, kel::bignum::Temp &s,
                  vlong **queue) {
  const vlong *q = key->q;
  kel::bignum::Temp k(queue, true);
  {
    kel::mem::WipedBlock material(kRandomBytes);
    if (material.data() == nullptr) return ffc::kNoMemory;
    if (int32_t st = rngFun(rngFunArg, kRandomBytes, material.data()); st != kOk) return st;
    if (int32_t st = ct_reduce_bytes(material.data(), kRandomBytes, q, k.fresh(), queue); st != kOk) return st;
  }
  // r = (g^k mod p) mod q
  kel::bignum::Temp gk(queue, true);
  if (int32_t st = ffc::pow_secret_exponent(key->g, k.get(), key->p, gk.fresh(), queue); st != kOk) return st;
  // g^k mod p gives k away no more than a public key gives x: it may be
  // reduced by the general division.
  KEL_DECLASSIFY(gk.get()->units, 4 * gk.get()->length);
  if (int32_t st = VLONG_operatorModSignedVlongs(gk.get(), q, r.fresh(), queue); st != kOk) return st;
  // u = (m + x·r) mod q
  kel::bignum::Temp xr(queue, true), u(queue, true);
  if (int32_t st = ct_mul_mod(key->x, r.get(), q, xr.fresh(), queue); st != kOk) return st;
  if (int32_t st = ct_add_mod(xr.get(), m, q, u.fresh(), queue); st != kOk) return st;
  // s = k^-1·u mod q
  kel::bignum::Temp kInverse(nullptr, true);
  if (int32_t st = ct_inverse(k.get(), q, kInverse.fresh()); st != kOk) return st;
  return ct_mul_mod(kInverse.get(), u.get(), q, s.fresh(), queue);
}

bool has_values(const DsaKeyObject *key, bool needX, bool needY) {
  return key->p != nullptr && key->q != nullptr && key->g != nullptr && (!needX || key->x != nullptr) &&
         (!needY || key->y != nullptr);
}

}  // namespace

int32_t sign(RngFun rngFun, void *rngFunArg, const DsaKeyObject *key, const vlong *m, uint32_t *verified, vlong **r,
             vlong **s, vlong **queue) {
  if (rngFun == nullptr || key == nullptr || m == nullptr || r == nullptr || s == nullptr) return kNull;
  if (!has_values(key, true, false)) return kNull;
  if (verified != nullptr) *verified = 0;
  kel::bignum::Temp rv(queue, false), sv(queue, false);
  // r or s of 0 happens with probability about 2^-159 per attempt; a new k
  // is drawn rather than give out a signature that never verifies.
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (int32_t st = sign_once(rngFun, rngFunArg, key, m, rv, sv, queue); st != kOk) return st;
    if (VLONG_isVlongZero(rv.get()) == 0 && VLONG_isVlongZero(sv.get()) == 0) break;
  }
  if (verified != nullptr && key->y != nullptr) {
    if (int32_t st = DSA_verifySignature(key, m, rv.get(), sv.get(), verified, queue); st != kOk &&
                                                                                      st != ERR_DSA_SIGNATURE_RANGE)
      return st;
  }
  *r = rv.release();
  *s = sv.release();
  return kOk;
}

}  // namespace kel::dsa

namespace {

int32_t context_draw(void *rng, uint32_t length, uint8_t *buffer) {
  return RANDOM_numberGenerator(static_cast<RandomContext *>(rng), buffer, length);
}

// Non-zero, non-negative and below q.
bool in_range(const vlong *v, const vlong *q) {
  return VLONG_isVlongZero(v) == 0 && v->isNegative == 0 && VLONG_compareSignedVlongs(v, q) < 0;
}

}  // namespace

extern "C" int32_t DSA_computeSignature(RandomContext *rng, const DsaKeyObject *key, const vlong *m,
                                        uint32_t *verified, vlong **r, vlong **s, vlong **queue) {
  if (int32_t st = kel::fips::gate(); st != 0) return st;
  if (rng == nullptr) return kel::dsa::kNull;
  return kel::dsa::sign(context_draw, rng, key, m, verified, r, s, queue);
}

extern "C" int32_t DSA_computeSignatureEx(RngFun rngFun, void *rngFunArg, const DsaKeyObject *key, const vlong *m,
                                          uint32_t *verified, vlong **r, vlong **s, vlong **queue) {
  if (int32_t st = kel::fips::gate(); st != 0) return st;
  return kel::dsa::sign(rngFun, rngFunArg, key, m, verified, r, s, queue);
}

// FIPS 186-2 section 6: w = s^-1, u1 = m·w, u2 = r·w (mod q);
// v = (g^u1 · y^u2 mod p) mod q must equal r. Everything here is public.
extern "C" int32_t DSA_verifySignature(const DsaKeyObject *key, const vlong *m, const vlong *r, const vlong *s,
                                       uint32_t *valid, vlong **queue) {
  using kel::bignum::Temp;
  using kel::dsa::kOk;
  if (int32_t st = kel::fips::gate(); st != 0) return st;
  if (key == nullptr || m == nullptr || r == nullptr || s == nullptr || valid == nullptr) return kel::dsa::kNull;
  *valid = 0;
  if (key->p == nullptr || key->q == nullptr || key->g == nullptr || key->y == nullptr) return kel::dsa::kNull;
  const vlong *q = key->q;
  if (!in_range(r, q) || !in_range(s, q)) return ERR_DSA_SIGNATURE_RANGE;

  kel::bignum::Temp w(queue, false), mw(queue, false), rw(queue, false), u1(queue, false), u2(queue, false);
  if (int32_t st = VLONG_modularInverse(s, q, w.fresh(), queue); st != kOk) return st;
  if (int32_t st = kel::bignum::VLONG_operatorMultiplySignedVlongs(m, w.get(), mw.fresh(), queue); st != kOk) return st;
  if (int32_t st = kel::ffc::mod_nonneg(mw.get(), q, u1.fresh(), queue); st != kOk) return st;
  if (int32_t st = kel::bignum::VLONG_operatorMultiplySignedVlongs(r, w.get(), rw.fresh(), queue); st != kOk) return st;
  if (int32_t st = VLONG_operatorModSignedVlongs(rw.get(), q, u2.fresh(), queue); st != kOk) return st;

  kel::bignum::Temp gy(queue, false), v(queue, false);
  if (int32_t st = kel::bignum::mod_exp2(key->g, u1.get(), key->y, u2.get(), key->p, gy.fresh(), queue); st != kOk)
    return st;
  if (int32_t st = VLONG_operatorModSignedVlongs(gy.get(), q, v.fresh(), queue); st != kOk) return st;
  *valid = VLONG_compareSignedVlongs(v.get(), r) == 0 ? 1 : 0;
  return kOk;
}

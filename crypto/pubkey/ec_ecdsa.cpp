// ECDSA (FIPS 186-4 section 6) and ECDH (SP 800-56A, the x coordinate of
// the shared point) over the curve records.
#include "crypto/fips/gate.h"
#include "crypto/pubkey/ec_internal.h"
#include "crypto/pubkey/ec_shared.h"
#include "kel/vor.h"

namespace kel::ec {
namespace {

constexpr int32_t kMaxNonceDraws = 64;

int32_t check_window(int32_t w, const uint32_t *table) {
  if (w == 0) return kOk;
  if (table == nullptr) return ERR_EC_NULL_POINTER;
  return w < 2 ? ERR_EC_BAD_WINDOW : kOk;
}

// The leftmost min(hash, 32n) bits of the hash as an integer modulo the
// order (the orders' top units are full, so no shift is needed).
template <class C> typename C::Fe hash_to_scalar(const uint8_t *hash, int32_t length) {
  uint32_t e[C::kUnits];
  const int32_t used = length > 4 * C::kUnits ? 4 * C::kUnits : (length < 0 ? 0 : length);
  BI_setUnitsToByteString(C::kUnits, e, hash, used);
  return scalar_from_units<C>(e);
}

// r = x mod n for an affine x below p (public: r is the signature's first half).
template <class C> typename C::Fe x_mod_order(const typename C::Fe &x) {
  typename C::Fe r;
  final_subtract<C::N>(r, x.data(), 0, C::n);
  return r;
}

template <class C> bool is_zero(const typename C::Fe &a) { return C::S::is_zero_mask(a) != 0; }

template <class C>
int32_t sign(const PrimeCurve *curve, const uint32_t *d, RngFun rng, void *arg, const uint8_t *hash, int32_t hashLength,
             uint32_t *r, uint32_t *s) {
  using S = typename C::S;
  using Fe = typename C::Fe;
  const Fe e = hash_to_scalar<C>(hash, hashLength);
  Secret<Fe> dm, km, kinv, t;
  Secret<uint32_t[C::kUnits]> k;
  dm.v = S::to_mont(scalar_from_units<C>(d));
  for (int32_t attempt = 0; attempt < kMaxNonceDraws; ++attempt) {
    if (int32_t st = random_scalar(curve, rng, arg, k.v); st != kOk) return st;
    km.v = limbs_of<C::N>(k.v);
    const Affine<C> R = to_affine(mul_base_ct<C>(km.v));
    Fe rr = x_mod_order<C>(C::F::from_mont(R.x));
    KEL_DECLASSIFY(&rr, sizeof rr);  // r and s are the signature
    if (is_zero<C>(rr)) continue;
    // s = k^-1 (e + d r): d r and the sum stay plain, k^-1 comes back as k^-1 R
    S::mul(t.v, dm.v, rr);
    S::add(t.v, t.v, e);
    kinv.v = S::inverse_ct(S::to_mont(km.v));
    Fe ss;
    S::mul(ss, kinv.v, t.v);
    KEL_DECLASSIFY(&ss, sizeof ss);
    if (is_zero<C>(ss)) continue;
    units_of<C::N>(rr, r);
    units_of<C::N>(ss, s);
    return kOk;
  }
  return ERR_EC_INVALID;  // the generator keeps producing unusable nonces
}

template <class C> bool in_range(const uint32_t *v) {
  uint32_t any = 0;
  for (int i = 0; i < C::kUnits; ++i) any |= v[i];
  return any != 0 && BI_cmp(C::kUnits, v, units_of_order<C>()) < 0;
}

template <class C>
int32_t verify(const uint32_t *qx, const uint32_t *qy, const uint8_t *hash, int32_t hashLength, int32_t wG,
               int32_t wQ, const uint32_t *tableQ, const uint32_t *r, const uint32_t *s) {
  (void)wG;  // G always uses the built-in table
  using S = typename C::S;
  using Fe = typename C::Fe;
  if (!in_range<C>(r) || !in_range<C>(s)) return ERR_EC_INVALID;
  const Fe e = hash_to_scalar<C>(hash, hashLength);
  const Fe rl = limbs_of<C::N>(r);
  const Fe w = S::inverse_plain(limbs_of<C::N>(s));  // s^-1 R
  Fe u1, u2;
  S::mul(u1, w, e);
  S::mul(u2, w, rl);
  const Point<C> q = point_from_units<C>(qx, qy);
  Point<C> sum;
  if (wQ != 0) {
    uint32_t u2u[C::kUnits];
    units_of<C::N>(u2, u2u);
    const Point<C> a = mul_comb_ct<C>(u2u, q, tableQ, wQ);
    const Fe zero{};
    sum = mul_double_vt<C>(u1, zero, q);
    add(sum, sum, a);
  } else {
    sum = mul_double_vt<C>(u1, u2, q);
  }
  // x(R) mod n = r, checked without an inversion: X = r Z, or X = (r + n) Z
  // when r + n is below p; x or y zero (or infinity) fails.
  using F = typename C::F;
  if (F::is_zero_mask(sum.x) != 0 || F::is_zero_mask(sum.y) != 0 || F::is_zero_mask(sum.z) != 0) return ERR_EC_INVALID;
  Fe rz;
  F::mul(rz, F::to_mont(rl), sum.z);
  if (F::equal(rz, sum.x)) return kOk;
  Fe rn = rl;
  uint64_t carry = 0;
  for (int i = 0; i < C::N; ++i) {
    const u128 t = u128{rn[i]} + C::n[i] + carry;
    rn[i] = static_cast<uint64_t>(t);
    carry = static_cast<uint64_t>(t >> 64);
  }
  Fe pl = limbs_of<C::N>(C::kPrime.data()), diff;
  uint64_t borrow = 0;
  for (int i = 0; i < C::N; ++i) {
    const u128 t = u128{rn[i]} - pl[i] - borrow;
    diff[i] = static_cast<uint64_t>(t);
    borrow = static_cast<uint64_t>(t >> 64) & 1;
  }
  if (carry != 0 || borrow == 0) return ERR_EC_INVALID;  // r + n >= p
  F::mul(rz, F::to_mont(rn), sum.z);
  return F::equal(rz, sum.x) ? kOk : ERR_EC_INVALID;
}

}  // namespace
}  // namespace kel::ec

using namespace kel::ec;

int32_t ECDSA_signEx(const PrimeCurve *curve, const uint32_t *d, RngFun rngFun, void *rngFunArg, const uint8_t *hash,
                     int32_t hashLength, int32_t w, const uint32_t *table, uint32_t *r, uint32_t *s) {
  if (int32_t st = kel::fips::gate(); st != 0) return st;
  if (curve == nullptr || d == nullptr || rngFun == nullptr || hash == nullptr || r == nullptr || s == nullptr)
    return ERR_EC_NULL_POINTER;
  // The table (for G) is checked but not needed: G has a built-in one.
  if (int32_t st = check_window(w, table); st != kOk) return st;
  return with_curve(curve, [&](auto c) -> int32_t {
    return sign<decltype(c)>(curve, d, rngFun, rngFunArg, hash, hashLength, r, s);
  });
}

int32_t ECDSA_RAC_sign(const PrimeCurve *curve, const uint32_t *d, RngFun rngFun, void *rngFunArg,
                       const uint8_t *hash, int32_t hashLength, uint32_t *r, uint32_t *s) {
  return ECDSA_signEx(curve, d, rngFun, rngFunArg, hash, hashLength, 0, nullptr, r, s);
}

int32_t ECDSA_verifySignatureEx(const PrimeCurve *curve, const uint32_t *qx, const uint32_t *qy, const uint8_t *hash,
                                int32_t hashLength, int32_t wG, const uint32_t *tableG, int32_t wQ,
                                const uint32_t *tableQ, const uint32_t *r, const uint32_t *s) {
  if (int32_t st = kel::fips::gate(); st != 0) return st;
  if (curve == nullptr || qx == nullptr || qy == nullptr || hash == nullptr || r == nullptr || s == nullptr)
    return ERR_EC_NULL_POINTER;
  if (int32_t st = check_window(wG, tableG); st != kOk) return st;
  if (int32_t st = check_window(wQ, tableQ); st != kOk) return st;
  return with_curve(curve, [&](auto c) -> int32_t {
    return verify<decltype(c)>(qx, qy, hash, hashLength, wG, wQ, tableQ, r, s);
  });
}

int32_t ECDSA_verifySignature(const PrimeCurve *curve, const uint32_t *qx, const uint32_t *qy, const uint8_t *hash,
                              int32_t hashLength, const uint32_t *r, const uint32_t *s) {
  return ECDSA_verifySignatureEx(curve, qx, qy, hash, hashLength, 0, nullptr, 0, nullptr, r, s);
}

int32_t ECDH_generateSharedSecretAux(const PrimeCurve *curve, const uint32_t *px, const uint32_t *py,
                                     const uint32_t *scalar, uint8_t **secret, int32_t *secretLength,
                                     int32_t xOnly) {
  if (curve == nullptr || px == nullptr || py == nullptr || scalar == nullptr || secret == nullptr ||
      secretLength == nullptr)
    return ERR_EC_NULL_POINTER;
  return with_curve(curve, [&](auto c) -> int32_t {
    using C = decltype(c);
    Secret<typename C::Fe> k;
    Secret<uint32_t[2 * C::kUnits]> xy;
    k.v = scalar_from_units<C>(scalar);
    point_to_units(mul_ct<C>(k.v, point_from_units<C>(px, py)), xy.v, xy.v + C::kUnits);
    return xOnly ? PRIMEFIELD_getAsByteString(curve->field, xy.v, secret, secretLength)
                 : PRIMEFIELD_getAsByteString2(curve->field, xy.v, xy.v + C::kUnits, secret, secretLength);
  });
}

int32_t ECDH_generateSharedSecret(const PrimeCurve *curve, const uint8_t *point, int32_t pointLength,
                                  const uint32_t *scalar, uint8_t **secret, int32_t *secretLength) {
  if (curve == nullptr || point == nullptr || scalar == nullptr || secret == nullptr || secretLength == nullptr)
    return ERR_EC_NULL_POINTER;
  Secret<uint32_t[12]> x, y;
  if (int32_t st = decode_point(curve, point, pointLength, x.v, y.v); st != kOk) return st;
  return ECDH_generateSharedSecretAux(curve, x.v, y.v, scalar, secret, secretLength, 1);
}

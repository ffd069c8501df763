// Scalar multiplication entries, comb tables, key-pair generation and its
// pairwise-consistency test.
#include "crypto/fips/gate.h"
#include "crypto/pubkey/ec_internal.h"
#include "crypto/pubkey/ec_shared.h"
#include "kel/debug_console.h"
#include "kel/vor.h"

namespace kel::ec {
namespace {

constexpr int32_t kMaxWindow = 16;

// The window rules shared by every entry that takes a table.
int32_t check_window(int32_t w, const uint32_t *table) {
  if (w == 0) return kOk;
  if (table == nullptr) return ERR_EC_NULL_POINTER;
  if (w < 2 || w > kMaxWindow) return ERR_EC_BAD_WINDOW;
  return kOk;
}

template <class C> bool is_base_point(const uint32_t *x, const uint32_t *y) {
  using Params = std::conditional_t<std::is_same_v<C, C256>, P256Params, P384Params>;
  return std::memcmp(x, Params::gx.data(), C::kUnits * 4) == 0 && std::memcmp(y, Params::gy.data(), C::kUnits * 4) == 0;
}

// k P: the built-in table for G, the caller's comb table when given, else
// the signed-window ladder. Constant time in k.
template <class C> Point<C> multiply(const uint32_t *k, const uint32_t *px, const uint32_t *py, int32_t w,
                                     const uint32_t *table) {
  if (is_base_point<C>(px, py)) {
    Secret<typename C::Fe> s;
    s.v = scalar_from_units<C>(k);
    return mul_base_ct<C>(s.v);
  }
  const Point<C> p = point_from_units<C>(px, py);
  if (w != 0) return mul_comb_ct<C>(k, p, table, w);
  Secret<typename C::Fe> s;
  s.v = scalar_from_units<C>(k);
  return mul_ct<C>(s.v, p);
}

}  // namespace

// Draws 1 <= k < order: 4n generator bytes read as a big-endian number,
// redrawn when out of range (zero is refused too: it is never a usable key
// or nonce). The comparison runs without early exit.
int32_t random_scalar(const PrimeCurve *curve, RngFun rng, void *arg, uint32_t *k) {
  const int32_t n = static_cast<int32_t>(curve->field->unitCount);
  Secret<uint8_t[48]> bytes;
  for (int attempt = 0; attempt < 64; ++attempt) {
    if (int32_t s = rng(arg, static_cast<uint32_t>(4 * n), bytes.v); s != kOk) return s;
    BI_setUnitsToByteString(n, k, bytes.v, 4 * n);
    uint64_t borrow = 0;
    uint32_t any = 0;
    for (int32_t i = 0; i < n; ++i) {
      borrow = (uint64_t{k[i]} - curve->order[i] - borrow) >> 63;
      any |= k[i];
    }
    uint64_t accept = borrow & (any != 0);  // a redraw shows only that a draw was out of range
    KEL_DECLASSIFY(&accept, sizeof accept);
    if (accept != 0) return kOk;
  }
  return ERR_EC_INVALID;  // a generator that never yields a value below the order
}

}  // namespace kel::ec

using namespace kel::ec;

int32_t EC_combSize(const PrimeField *field, int32_t w, int32_t *size) {
  if (field == nullptr || size == nullptr) return ERR_EC_NULL_POINTER;
  if (w < 2 || w > kMaxWindow) return ERR_EC_BAD_WINDOW;
  *size = ((1 << w) - 2) * 2 * static_cast<int32_t>(field->unitCount);
  return kOk;
}

int32_t EC_precomputeComb(const PrimeField *field, const uint32_t *px, const uint32_t *py, int32_t w,
                          uint32_t **table) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (field == nullptr || px == nullptr || py == nullptr || table == nullptr) return ERR_EC_NULL_POINTER;
  int32_t units = 0;
  if (int32_t s = EC_combSize(field, w, &units); s != kOk) return s;
  return with_field(field, [&](auto c) -> int32_t {
    using C = decltype(c);
    void *block = nullptr;
    if (VOR_alloc(static_cast<uint32_t>(units) * sizeof(uint32_t), &block) != 0) return ERR_EC_OUT_OF_MEMORY;
    build_comb<C>(point_from_units<C>(px, py), w, static_cast<uint32_t *>(block));
    *table = static_cast<uint32_t *>(block);
    return kOk;
  });
}

int32_t EC_precomputeCombOfCurve(const PrimeCurve *curve, int32_t w, uint32_t **table) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (curve == nullptr) return ERR_EC_NULL_POINTER;
  return EC_precomputeComb(curve->field, curve->baseX, curve->baseY, w, table);
}

int32_t EC_multiplyPointEx(const PrimeField *field, uint32_t *x, uint32_t *y, const uint32_t *k, const uint32_t *px,
                           const uint32_t *py, int32_t w, const uint32_t *table) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (field == nullptr || x == nullptr || y == nullptr || k == nullptr || px == nullptr || py == nullptr)
    return ERR_EC_NULL_POINTER;
  if (int32_t s = check_window(w, table); s != kOk) return s;
  return with_field(field, [&](auto c) -> int32_t {
    using C = decltype(c);
    point_to_units(multiply<C>(k, px, py, w, table), x, y);
    return kOk;
  });
}

int32_t EC_multiplyPoint(const PrimeField *field, uint32_t *x, uint32_t *y, const uint32_t *k, const uint32_t *px,
                         const uint32_t *py) {
  return EC_multiplyPointEx(field, x, y, k, px, py, 0, nullptr);
}

int32_t EC_addMultiplyPointEx(const PrimeField *field, uint32_t *x, uint32_t *y, const uint32_t *ax,
                              const uint32_t *ay, const uint32_t *k, const uint32_t *px, const uint32_t *py, int32_t w,
                              const uint32_t *table) {
  if (field == nullptr || x == nullptr || y == nullptr || k == nullptr || px == nullptr || py == nullptr)
    return ERR_EC_NULL_POINTER;
  if (int32_t s = check_window(w, table); s != kOk) return s;
  return with_field(field, [&](auto c) -> int32_t {
    using C = decltype(c);
    Point<C> sum = multiply<C>(k, px, py, w, table);
    if (ax != nullptr && ay != nullptr) add(sum, sum, point_from_units<C>(ax, ay));  // no A: infinity
    point_to_units(sum, x, y);
    return kOk;
  });
}

int32_t EC_addMultiplyPoint(const PrimeField *field, uint32_t *x, uint32_t *y, const uint32_t *ax, const uint32_t *ay,
                            const uint32_t *k, const uint32_t *px, const uint32_t *py) {
  return EC_addMultiplyPointEx(field, x, y, ax, ay, k, px, py, 0, nullptr);
}

int32_t EC_verifyKeyPairEx(const PrimeCurve *curve, const uint32_t *d, const uint32_t *qx, const uint32_t *qy,
                           int32_t w, const uint32_t *table) {
  if (curve == nullptr || d == nullptr || qx == nullptr || qy == nullptr) return ERR_EC_NULL_POINTER;
  uint32_t x[12], y[12];
  const int32_t n = static_cast<int32_t>(curve->field->unitCount);
  if (int32_t s = EC_multiplyPointEx(curve->field, x, y, d, curve->baseX, curve->baseY, w, table); s != kOk)
    return s;
  return BI_cmp(n, x, qx) == 0 && BI_cmp(n, y, qy) == 0 ? kOk : ERR_EC_INVALID;
}

int32_t EC_verifyKeyPair(const PrimeCurve *curve, const uint32_t *d, const uint32_t *qx, const uint32_t *qy) {
  return EC_verifyKeyPairEx(curve, d, qx, qy, 0, nullptr);
}

int32_t EC_generateKeyPairEx(const PrimeCurve *curve, RngFun rngFun, void *rngFunArg, int32_t w,
                             const uint32_t *table, uint32_t *d, uint32_t *qx, uint32_t *qy) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (curve == nullptr || rngFun == nullptr || d == nullptr || qx == nullptr || qy == nullptr)
    return ERR_EC_NULL_POINTER;
  if (int32_t s = check_window(w, table); s != kOk) return s;
  const size_t bytes = curve->field->unitCount * sizeof(uint32_t);
  Secret<uint32_t[12]> k;
  uint32_t x[12], y[12];
  if (int32_t s = random_scalar(curve, rngFun, rngFunArg, k.v); s != kOk) return s;
  if (int32_t s = EC_multiplyPointEx(curve->field, x, y, k.v, curve->baseX, curve->baseY, w, table); s != kOk)
    return s;
  KEL_DECLASSIFY(x, sizeof x);  // the public key
  KEL_DECLASSIFY(y, sizeof y);
  if (int32_t s = EC_generateKey_FIPS_consistancy_test(curve, rngFun, rngFunArg, k.v, x, y); s != kOk) return s;
  std::memcpy(d, k.v, bytes);
  std::memcpy(qx, x, bytes);
  std::memcpy(qy, y, bytes);
  return kOk;
}

int32_t EC_generateKeyPair(const PrimeCurve *curve, RngFun rngFun, void *rngFunArg, uint32_t *d, uint32_t *qx,
                           uint32_t *qy) {
  return EC_generateKeyPairEx(curve, rngFun, rngFunArg, 0, nullptr, d, qx, qy);
}

// FIPS 140 pairwise-consistency test: sign a fixed text with d, verify with Q.
int32_t EC_generateKey_FIPS_consistancy_test(const PrimeCurve *curve, RngFun rngFun, void *rngFunArg,
                                             const uint32_t *d, const uint32_t *qx, const uint32_t *qy) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  static constexpr uint8_t kText[] = {'C', 'L', 'E', 'A', 'R', '_', 'T', 'E', 'X', 'T', '_', 'L', 'I', 'N', 'E'};
  uint32_t r[12], s[12];
  int32_t status = ECDSA_RAC_sign(curve, d, rngFun, rngFunArg, kText, sizeof kText, r, s);
  if (status == kOk) status = ECDSA_verifySignature(curve, qx, qy, kText, sizeof kText, r, s);
  if (status == ERR_EC_INVALID) {
    kel::fips::enter_error_state(ERR_EC_PAIRWISE_TEST);
    return ERR_EC_PAIRWISE_TEST;
  }
  if (status == kOk) DEBUG_CONSOLE_printNewLine(4, "EC_generateKey_FIPS_consistancy_test: GOOD Signature Verify!");
  return status;
}

// Points, key objects and the SEC 1 uncompressed encoding: curve checks,
// decompression, point addition and inversion, encoding and decoding.
#include "crypto/bignum/field_internal.h"
#include "crypto/fips/gate.h"
#include "crypto/pubkey/ec_internal.h"
#include "crypto/pubkey/ec_shared.h"
#include "kel/vor.h"

namespace kel::ec {
namespace {

constexpr uint32_t kMaxUnits = 12;

inline int32_t units(const PrimeCurve *c) { return static_cast<int32_t>(c->field->unitCount); }
inline int32_t coord_bytes(const PrimeCurve *c) { return static_cast<int32_t>((c->field->bitLength + 7) / 8); }

bool is_zero(const uint32_t *a, int32_t n) {
  uint32_t acc = 0;
  for (int32_t i = 0; i < n; ++i) acc |= a[i];
  return acc == 0;
}

// x^3 - 3x + b in Montgomery form.
template <class C> typename C::Fe curve_rhs(const typename C::Fe &x) {
  typename C::Fe t, x3;
  C::F::sqr(t, x);
  C::F::mul(t, t, x);
  C::F::add(x3, x, x);
  C::F::add(x3, x3, x);
  C::F::sub(t, t, x3);  // x^3 - 3x
  C::F::add(t, t, C::b);
  return t;
}

// Encoding length of (x, y): 1 for a point with a zero coordinate.
int32_t encoded_length(const PrimeCurve *c, const uint32_t *x, const uint32_t *y) {
  return (is_zero(x, units(c)) || is_zero(y, units(c))) ? 1 : 2 * coord_bytes(c) + 1;
}

void encode(const PrimeCurve *c, const uint32_t *x, const uint32_t *y, uint8_t *out) {
  if (encoded_length(c, x, y) == 1) {
    out[0] = 0;
    return;
  }
  const int32_t l = coord_bytes(c);
  out[0] = 4;
  PRIMEFIELD_writeByteString(c->field, x, out + 1, l);
  PRIMEFIELD_writeByteString(c->field, y, out + 1 + l, l);
}

}  // namespace

int32_t verify_point(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y) {
  return with_curve(curve, [&](auto c) -> int32_t {
    using C = decltype(c);
    typename C::Fe yy;
    const typename C::Fe fy = fe_from_units<C>(y);
    C::F::sqr(yy, fy);
    return C::F::equal(yy, curve_rhs<C>(fe_from_units<C>(x))) ? kOk : ERR_EC_INVALID;
  });
}

int32_t decode_point(const PrimeCurve *curve, const uint8_t *bytes, int32_t length, uint32_t *x, uint32_t *y) {
  const int32_t l = coord_bytes(curve);
  if (length == 1 || length != 2 * l + 1) return ERR_EC_BAD_POINT_LENGTH;
  if (bytes[0] != 4 && bytes[0] != 6 && bytes[0] != 7) return ERR_EC_BAD_POINT_FORMAT;  // 06/07: parity unchecked
  if (int32_t s = PRIMEFIELD_setToByteString(curve->field, x, bytes + 1, l); s != kOk) return s;
  if (int32_t s = PRIMEFIELD_setToByteString(curve->field, y, bytes + 1 + l, l); s != kOk) return s;
  return verify_point(curve, x, y);
}

}  // namespace kel::ec

using namespace kel::ec;

int32_t EC_verifyPoint(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y) {
  if (curve == nullptr || x == nullptr || y == nullptr) return ERR_EC_NULL_POINTER;
  return verify_point(curve, x, y);
}

int32_t EC_verifyPublicKey(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y) {
  if (curve == nullptr || x == nullptr || y == nullptr) return ERR_EC_NULL_POINTER;
  const int32_t n = units(curve);
  if (is_zero(x, n) || is_zero(y, n)) return ERR_EC_INVALID;
  if (BI_cmp(n, x, curve->field->prime) >= 0 || BI_cmp(n, y, curve->field->prime) >= 0) return ERR_EC_INVALID;
  return verify_point(curve, x, y);
}

int32_t EC_newPoint(const PrimeCurve *curve, EcPoint **point) {
  if (curve == nullptr || point == nullptr) return ERR_EC_NULL_POINTER;
  const uint32_t size = sizeof(EcPoint) + 2 * curve->field->unitCount * sizeof(uint32_t);
  void *block = nullptr;
  if (VOR_alloc(size, &block) != 0) return ERR_EC_OUT_OF_MEMORY;
  std::memset(block, 0, size);
  EcPoint *p = static_cast<EcPoint *>(block);
  p->x = reinterpret_cast<uint32_t *>(p + 1);
  p->y = p->x + curve->field->unitCount;
  p->curve = curve;
  *point = p;
  return kOk;
}

int32_t EC_pointAdd(EcPoint *result, const EcPoint *p, const EcPoint *q) {
  if (result == nullptr || p == nullptr || q == nullptr || p->curve == nullptr) return ERR_EC_NULL_POINTER;
  return with_curve(p->curve, [&](auto c) -> int32_t {
    using C = decltype(c);
    Point<C> sum;
    add(sum, point_from_units<C>(p->x, p->y), point_from_units<C>(q->x, q->y));
    point_to_units(sum, result->x, result->y);
    return kOk;
  });
}

int32_t EC_pointInverse(EcPoint *result, const EcPoint *p) {
  if (result == nullptr || p == nullptr || p->curve == nullptr) return ERR_EC_NULL_POINTER;
  const int32_t n = units(p->curve);
  uint32_t y[kMaxUnits];
  for (int32_t i = 0; i < n; ++i) y[i] = p->curve->field->prime[i];
  if (!is_zero(p->y, n)) BI_sub(n, y, p->y);  // -0 stays 0
  else std::memset(y, 0, sizeof y);
  if (result->x != p->x) std::memcpy(result->x, p->x, n * sizeof(uint32_t));
  std::memcpy(result->y, y, n * sizeof(uint32_t));
  return kOk;
}

int32_t EC_decompress(const PrimeCurve *curve, EcPoint *point, const uint32_t *x, uint32_t yBit) {
  if (curve == nullptr || point == nullptr || x == nullptr) return ERR_EC_NULL_POINTER;
  return with_curve(curve, [&](auto c) -> int32_t {
    using C = decltype(c);
    const typename C::Fe t = curve_rhs<C>(fe_from_units<C>(x));
    typename C::Fe y = C::F::sqrt(t), yy;
    C::F::sqr(yy, y);
    if (!C::F::equal(yy, t)) return ERR_EC_NOT_A_SQUARE;
    uint32_t yu[kMaxUnits];
    fe_to_units<C>(y, yu);
    if ((yu[0] & 1) != (yBit & 1)) {
      typename C::Fe zero{};
      C::F::sub(y, zero, y);
      fe_to_units<C>(y, yu);
    }
    std::memmove(point->x, x, C::kUnits * sizeof(uint32_t));
    std::memcpy(point->y, yu, C::kUnits * sizeof(uint32_t));
    return kOk;
  });
}

int32_t EC_getPointByteStringLen(const PrimeCurve *curve, int32_t *length) {
  if (curve == nullptr || length == nullptr) return ERR_EC_NULL_POINTER;
  *length = 2 * coord_bytes(curve) + 1;
  return kOk;
}

int32_t EC_pointToByteString(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y, uint8_t **buffer,
                             int32_t *length) {
  if (curve == nullptr || x == nullptr || y == nullptr || buffer == nullptr || length == nullptr)
    return ERR_EC_NULL_POINTER;
  const int32_t len = encoded_length(curve, x, y);
  void *block = nullptr;
  if (VOR_alloc(static_cast<uint32_t>(len), &block) != 0) return ERR_EC_OUT_OF_MEMORY;
  encode(curve, x, y, static_cast<uint8_t *>(block));
  *buffer = static_cast<uint8_t *>(block);
  *length = len;
  return kOk;
}

int32_t EC_writePointToBuffer(const PrimeCurve *curve, const uint32_t *x, const uint32_t *y, uint8_t *buffer,
                              int32_t bufferLength) {
  if (curve == nullptr || x == nullptr || y == nullptr || buffer == nullptr) return ERR_EC_NULL_POINTER;
  if (bufferLength < encoded_length(curve, x, y)) return ERR_EC_BUFFER_TOO_SMALL;
  encode(curve, x, y, buffer);
  return kOk;
}

int32_t EC_byteStringToPoint(const PrimeCurve *curve, const uint8_t *bytes, int32_t length, uint32_t **x,
                             uint32_t **y) {
  if (curve == nullptr || bytes == nullptr || x == nullptr || y == nullptr) return ERR_EC_NULL_POINTER;
  uint32_t *nx = nullptr, *ny = nullptr;
  int32_t status = PRIMEFIELD_newElement(curve->field, &nx);
  if (status == kOk) status = PRIMEFIELD_newElement(curve->field, &ny);
  if (status == kOk) status = decode_point(curve, bytes, length, nx, ny);
  if (status != kOk) {
    if (nx != nullptr) PRIMEFIELD_deleteElement(curve->field, &nx);
    if (ny != nullptr) PRIMEFIELD_deleteElement(curve->field, &ny);
    return status;
  }
  *x = nx;
  *y = ny;
  return kOk;
}

// ---------------------------------------------------------------------------
// Key objects: the header, then publicX, publicY and privateScalar.

namespace {
uint32_t key_size(const PrimeCurve *c) { return sizeof(EcKey) + 3 * c->field->unitCount * sizeof(uint32_t); }

void point_key_arrays(EcKey *k) {
  k->publicX = reinterpret_cast<uint32_t *>(k + 1);
  k->publicY = k->publicX + k->curve->field->unitCount;
  k->privateScalar = k->publicY + k->curve->field->unitCount;
}
}  // namespace

int32_t EC_newKey(const PrimeCurve *curve, EcKey **key) {
  if (curve == nullptr || key == nullptr) return ERR_EC_NULL_POINTER;
  void *block = nullptr;
  if (VOR_alloc(key_size(curve), &block) != 0) return ERR_EC_OUT_OF_MEMORY;
  std::memset(block, 0, key_size(curve));
  EcKey *k = static_cast<EcKey *>(block);
  k->curve = curve;
  point_key_arrays(k);
  *key = k;
  return kOk;
}

int32_t EC_cloneKey(EcKey **copy, const EcKey *source) {
  if (int32_t s = kel::fips::gate(); s != 0) return s;
  if (copy == nullptr || source == nullptr || source->curve == nullptr) return ERR_EC_NULL_POINTER;
  EcKey *k = nullptr;
  if (int32_t s = EC_newKey(source->curve, &k); s != kOk) return s;
  std::memcpy(k, source, key_size(source->curve));
  point_key_arrays(k);
  *copy = k;
  return kOk;
}

int32_t EC_deleteKey(EcKey **key) {
  if (key == nullptr || *key == nullptr) return ERR_EC_NULL_POINTER;
  EcKey *k = *key;
  const uint32_t size = k->curve != nullptr ? key_size(k->curve) : sizeof(EcKey);
  wipe(k, size);
  void *block = k;
  VOR_free(&block);
  *key = nullptr;
  return kOk;
}

int32_t EC_equalKey(const EcKey *a, const EcKey *b, uint8_t *equal) {
  if (a == nullptr || b == nullptr || equal == nullptr) return ERR_EC_NULL_POINTER;
  *equal = 0;
  if (a->curve != b->curve || a->curve == nullptr) return kOk;
  const int32_t n = units(a->curve);
  *equal = BI_cmp(n, a->publicX, b->publicX) == 0 && BI_cmp(n, a->publicY, b->publicY) == 0;
  return kOk;
}

int32_t EC_setKeyParameters(EcKey *key, const uint8_t *point, int32_t pointLength, const uint8_t *scalar,
                            int32_t scalarLength) {
  if (key == nullptr || key->curve == nullptr || point == nullptr) return ERR_EC_NULL_POINTER;
  key->hasPrivateKey = 0;
  if (scalar != nullptr && scalarLength > 0) {
    // checked against the field prime only: the arithmetic reduces it modulo the order
    if (int32_t s = PRIMEFIELD_setToByteString(key->curve->field, key->privateScalar, scalar, scalarLength);
        s != kOk)
      return s;
    key->hasPrivateKey = 1;
  }
  return decode_point(key->curve, point, pointLength, key->publicX, key->publicY);
}

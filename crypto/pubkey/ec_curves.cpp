// The curve records P-256 and P-384 (FIPS 186-4 D.1.2.3 and D.1.2.4) and
// the curve queries.
#include "crypto/bignum/field_internal.h"
#include "crypto/pubkey/ec_internal.h"

namespace kel::ec {
namespace {

// The order as n + 1 units (top unit 0).
template <size_t N> consteval std::array<uint32_t, N + 1> widen(const std::array<uint32_t, N> &a) {
  std::array<uint32_t, N + 1> w{};
  for (size_t i = 0; i < N; ++i) w[i] = a[i];
  return w;
}

// floor(2^(64n) / m) as n + 1 units: binary long division at compile time.
template <size_t N> consteval std::array<uint32_t, N + 1> barrett_mu(const std::array<uint32_t, N> &m) {
  std::array<uint32_t, N + 1> q{}, r{};
  for (int bit = static_cast<int>(64 * N); bit >= 0; --bit) {
    uint32_t carry = bit == static_cast<int>(64 * N) ? 1 : 0;  // the dividend's single 1 bit
    for (size_t i = 0; i <= N; ++i) {
      const uint32_t top = r[i] >> 31;
      r[i] = r[i] << 1 | carry;
      carry = top;
    }
    bool ge = true;
    for (int i = static_cast<int>(N); i >= 0; --i) {
      const uint32_t mi = i < static_cast<int>(N) ? m[i] : 0;
      if (r[i] != mi) {
        ge = r[i] > mi;
        break;
      }
    }
    if (ge) {
      uint64_t borrow = 0;
      for (size_t i = 0; i <= N; ++i) {
        const uint64_t d = uint64_t{r[i]} - (i < N ? m[i] : 0) - borrow;
        r[i] = static_cast<uint32_t>(d);
        borrow = d >> 63;
      }
      if (bit < static_cast<int>(32 * (N + 1))) q[bit / 32] |= 1u << (bit % 32);
    }
  }
  return q;
}

template <class P> struct Records {
  static constexpr auto order = widen(P::n);
  static constexpr auto mu = barrett_mu(P::n);
};
static_assert(Records<P256Params>::mu[8] == 1 && Records<P384Params>::mu[12] == 1);

}  // namespace
}  // namespace kel::ec

using kel::ec::P256Params;
using kel::ec::P384Params;
using kel::ec::Records;

namespace kel::ec {
constinit const PrimeCurve PrimeECP256 = {&kel::pf::PrimeFieldP256,         P256Params::gx.data(),
                                          P256Params::gy.data(),            P256Params::b.data(),
                                          Records<P256Params>::order.data(), Records<P256Params>::mu.data()};
constinit const PrimeCurve PrimeECP384 = {&kel::pf::PrimeFieldP384,         P384Params::gx.data(),
                                          P384Params::gy.data(),            P384Params::b.data(),
                                          Records<P384Params>::order.data(), Records<P384Params>::mu.data()};
}  // namespace kel::ec

extern "C" const PrimeCurve *const EC_P256 = &kel::ec::PrimeECP256;
extern "C" const PrimeCurve *const EC_P384 = &kel::ec::PrimeECP384;

const PrimeField *EC_getUnderlyingField(const PrimeCurve *curve) { return curve->field; }

uint32_t EC_getPrimeBitlen(const PrimeCurve *curve) { return curve->field->bitLength; }

int32_t EC_getPrime(const PrimeCurve *curve, uint32_t *prime) {
  if (curve == nullptr || prime == nullptr) return ERR_EC_NULL_POINTER;
  std::memcpy(prime, curve->field->prime, curve->field->unitCount * sizeof(uint32_t));
  return kel::ec::kOk;
}

int32_t EC_getOrder(const PrimeCurve *curve, uint32_t *order) {
  if (curve == nullptr || order == nullptr) return ERR_EC_NULL_POINTER;
  std::memcpy(order, curve->order, curve->field->unitCount * sizeof(uint32_t));
  return kel::ec::kOk;
}

int32_t EC_modOrder(const PrimeCurve *curve, uint32_t *element) {
  if (curve == nullptr || element == nullptr) return ERR_EC_NULL_POINTER;
  const int32_t n = static_cast<int32_t>(curve->field->unitCount);
  while (BI_cmp(n, element, curve->order) > 0) BI_sub(n, element, curve->order);
  return kel::ec::kOk;
}

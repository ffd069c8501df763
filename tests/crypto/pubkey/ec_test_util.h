// Shared pieces of the curve tests: the open gate, the two curves with their
// OpenSSL twins, unit/byte conversions and scripted generators.
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED 1  // EC_KEY and ECDSA_SIG: the oracle's signing API

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "kel/ec.h"
#include "kel/fips.h"
#include "kel/vor.h"
#include "support/vectors.h"

namespace kel::test {

using Units = std::vector<uint32_t>;

class GateOpenTest : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override { gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN; }
};

struct CurveCase {
  const char *name;
  const PrimeCurve *curve;
  int nid;
  size_t bytes() const { return curve->field->unitCount * 4; }
  int32_t n() const { return static_cast<int32_t>(curve->field->unitCount); }
};
inline std::vector<CurveCase> Curves() {
  return {{"P256", EC_P256, NID_X9_62_prime256v1}, {"P384", EC_P384, NID_secp384r1}};
}

inline Units ToUnits(const CurveCase &c, const Bytes &b) {
  Units u(c.n() + 1, 0);  // one spare unit for order-sized values
  EXPECT_LE(b.size(), c.bytes());
  BI_setUnitsToByteString(c.n(), u.data(), b.data(), static_cast<int32_t>(b.size()));
  return u;
}
inline Bytes ToBytes(const CurveCase &c, const uint32_t *u) {
  Bytes b(c.bytes());
  for (size_t i = 0; i < b.size(); ++i) b[b.size() - 1 - i] = static_cast<uint8_t>(u[i / 4] >> (8 * (i % 4)));
  return b;
}
// Releases a block the toolkit handed out (VOR_alloc).
template <class T> void Free(T *p) {
  void *b = p;
  if (b != nullptr) VOR_free(&b);
}
inline Bytes Random(size_t n) {
  Bytes b(n);
  RAND_bytes(b.data(), static_cast<int>(n));
  return b;
}

// A generator that hands out scripted byte strings, then fails.
struct ScriptedRng {
  std::deque<Bytes> queue;
  int calls = 0;
  static int32_t Fun(void *arg, uint32_t length, uint8_t *out) {
    auto *self = static_cast<ScriptedRng *>(arg);
    ++self->calls;
    if (self->queue.empty()) return -17999;
    Bytes b = self->queue.front();
    self->queue.pop_front();
    EXPECT_EQ(b.size(), length);
    std::memcpy(out, b.data(), std::min<size_t>(b.size(), length));
    return 0;
  }
};
inline int32_t OpenSslRng(void *, uint32_t length, uint8_t *out) { return RAND_bytes(out, int(length)) == 1 ? 0 : -1; }

// OpenSSL's side: k P (P null: G) as x || y bytes, empty for infinity.
struct Oracle {
  EC_GROUP *group;
  BN_CTX *ctx = BN_CTX_new();
  explicit Oracle(int nid) : group(EC_GROUP_new_by_curve_name(nid)) {}
  ~Oracle() {
    EC_GROUP_free(group);
    BN_CTX_free(ctx);
  }
  Bytes Mul(const Bytes &k, const Bytes *point, size_t len) {
    BIGNUM *bk = BN_bin2bn(k.data(), int(k.size()), nullptr);
    EC_POINT *r = EC_POINT_new(group), *p = nullptr;
    if (point != nullptr) {
      p = EC_POINT_new(group);
      EXPECT_EQ(EC_POINT_oct2point(group, p, point->data(), point->size(), ctx), 1);
      EC_POINT_mul(group, r, nullptr, p, bk, ctx);
    } else {
      EC_POINT_mul(group, r, bk, nullptr, nullptr, ctx);
    }
    Bytes out;
    if (!EC_POINT_is_at_infinity(group, r)) {
      BIGNUM *x = BN_new(), *y = BN_new();
      EC_POINT_get_affine_coordinates(group, r, x, y, ctx);
      out.resize(2 * len);
      BN_bn2binpad(x, out.data(), int(len));
      BN_bn2binpad(y, out.data() + len, int(len));
      BN_free(x);
      BN_free(y);
    }
    EC_POINT_free(r);
    EC_POINT_free(p);
    BN_free(bk);
    return out;
  }
};

}  // namespace kel::test

// Shared pieces of the Diffie-Hellman and DSA tests: vlongs held by the test,
// conversions to hex and OpenSSL BIGNUMs, and a fixture with the gate open
// and a random context.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <memory>
#include <string>

#include "kel/fips.h"
#include "kel/random.h"
#include "kel/vlong.h"
#include "support/vectors.h"

namespace kel::test {

struct VlongFree {
  void operator()(vlong *v) const { VLONG_freeVlong(&v, nullptr); }
};
using V = std::unique_ptr<vlong, VlongFree>;

inline V VHex(const std::string &hex) {
  Bytes b = FromHex(hex.size() % 2 ? "0" + hex : hex);
  vlong *v = nullptr;
  EXPECT_EQ(VLONG_vlongFromByteString(b.data(), static_cast<int32_t>(b.size()), &v, nullptr), 0);
  return V(v);
}

inline std::string Hex(const vlong *v) {
  if (v == nullptr) return "(null)";
  int32_t n = 0;
  EXPECT_EQ(VLONG_byteStringFromVlong(v, nullptr, &n), 0);
  Bytes b(static_cast<size_t>(n));
  if (n > 0) {
    EXPECT_EQ(VLONG_byteStringFromVlong(v, b.data(), &n), 0);
  }
  return (v->isNegative && n > 0 ? "-" : "") + ToHex(b);
}

struct BnFree {
  void operator()(BIGNUM *b) const { BN_clear_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

inline Bn ToBn(const vlong *v) {
  BIGNUM *b = nullptr;
  const std::string h = Hex(v);
  BN_hex2bn(&b, h.empty() ? "0" : h.c_str());
  return Bn(b);
}

inline V FromBn(const BIGNUM *b) {
  char *h = BN_bn2hex(b);
  V v = VHex(h[0] == '0' && h[1] == 0 ? "" : h);
  OPENSSL_free(h);
  return v;
}

// The gate open as after a passed self-test, and a CTR-DRBG context.
class FfcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gFIPS_powerupStatus = 0;
    ASSERT_EQ(RANDOM_acquireContext(&rng_), 0);
  }
  void TearDown() override {
    gFIPS_powerupStatus = 0;
    RANDOM_releaseContext(&rng_);
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  }
  RandomContext *rng_ = nullptr;
};

}  // namespace kel::test

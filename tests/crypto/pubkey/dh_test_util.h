// Shared pieces of the Diffie-Hellman and DSA tests: vlongs and keys held by
// the test, conversions to hex and OpenSSL BIGNUMs, message representatives,
// a generator callback that replays given bytes, and a fixture with the gate
// open and a random context.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <string>

#include "crypto/common/alloc.h"
#include "crypto/common/cpu.h"
#include "kel/dsa.h"
#include "kel/fips.h"
#include "kel/random.h"
#include "kel/vlong.h"
#include "support/vectors.h"

namespace kel::test::ffc {

struct VlongFree {
  void operator()(vlong *v) const { VLONG_freeVlong(&v, nullptr); }
};
using V = std::unique_ptr<vlong, VlongFree>;

inline V VHex(const std::string &hex) {
  Bytes b = FromHex(std::string(hex.size() % 2, '0') + hex);
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
  return std::string(v->isNegative && n > 0 ? 1 : 0, '-').append(ToHex(b));
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

// Runs op with its first, second, ... allocation failing until it succeeds:
// each failure must say -6101 (op releases what it got; ASan checks leaks).
// Returns how many allocations op makes.
template <class Op>
int FailEachAllocation(Op op) {
  for (int n = 0; n < 1000; ++n) {
    kel::mem::fail_after(n);
    const int32_t s = op();
    kel::mem::fail_after(-1);
    if (s == 0) return n;
    EXPECT_EQ(s, -6101) << "allocation " << n;
  }
  ADD_FAILURE() << "never succeeded";
  return -1;
}

// The gate open as after a passed self-test, and a CTR-DRBG context.
class FfcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gFIPS_powerupStatus = 0;
    ASSERT_EQ(RANDOM_acquireContext(&rng_), 0);
  }
  void TearDown() override {
    kel::cpu::restrict_to(~0u);
    gFIPS_powerupStatus = 0;
    RANDOM_releaseContext(&rng_);
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  }
  RandomContext *rng_ = nullptr;
};

struct KeyFree {
  void operator()(DsaKeyObject *k) const {
    const int32_t saved = gFIPS_powerupStatus;
    gFIPS_powerupStatus = 0;
    DSA_freeKey(&k, nullptr);
    gFIPS_powerupStatus = saved;
  }
};
using Key = std::unique_ptr<DsaKeyObject, KeyFree>;

// A key from p, q, g and either y (public) or x (private: y is computed).
inline Key MakeKey(const Bytes &p, const Bytes &q, const Bytes &g, const Bytes &v, bool isPrivate) {
  DsaKeyObject *k = nullptr;
  EXPECT_EQ(DSA_createKey(&k), 0);
  auto set = isPrivate ? DSA_setAllKeyParameters : DSA_setPublicKeyParameters;
  EXPECT_EQ(set(k, p.data(), p.size(), q.data(), q.size(), g.data(), g.size(), v.data(), v.size(), nullptr), 0);
  return Key(k);
}
inline Key PublicKey(const Bytes &p, const Bytes &q, const Bytes &g, const Bytes &y) { return MakeKey(p, q, g, y, false); }
inline Key PrivateKey(const Bytes &p, const Bytes &q, const Bytes &g, const Bytes &x) { return MakeKey(p, q, g, x, true); }

// The representative of msg: the leftmost 160 bits of its digest.
inline V Representative(const Bytes &msg, const std::string &hash = "SHA1") {
  unsigned char d[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_Digest(msg.data(), msg.size(), d, &n, EVP_get_digestbyname(hash.c_str()), nullptr);
  return VHex(ToHex(d, n < 20 ? n : 20));
}

// An RngFun handing out the given bytes, then failing.
struct Replay {
  Bytes bytes;
  size_t at = 0;
  static int32_t Fun(void *arg, uint32_t length, uint8_t *out) {
    auto *r = static_cast<Replay *>(arg);
    if (r->at + length > r->bytes.size()) return -6001;
    std::memcpy(out, r->bytes.data() + r->at, length);
    r->at += length;
    return 0;
  }
};

}  // namespace kel::test::ffc

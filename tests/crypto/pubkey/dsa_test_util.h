// DSA test pieces: keys held by the test, message representatives, and a
// generator callback that replays given bytes (to sign with a chosen k).
#pragma once

#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "dh_test_util.h"
#include "kel/dsa.h"

namespace kel::test {

struct KeyFree {
  void operator()(DsaKeyObject *k) const {
    const int32_t saved = gFIPS_powerupStatus;
    gFIPS_powerupStatus = 0;
    DSA_freeKey(&k, nullptr);
    gFIPS_powerupStatus = saved;
  }
};
using Key = std::unique_ptr<DsaKeyObject, KeyFree>;

inline Key PublicKey(const Bytes &p, const Bytes &q, const Bytes &g, const Bytes &y) {
  DsaKeyObject *k = nullptr;
  EXPECT_EQ(DSA_createKey(&k), 0);
  EXPECT_EQ(DSA_setPublicKeyParameters(k, p.data(), p.size(), q.data(), q.size(), g.data(), g.size(), y.data(),
                                       y.size(), nullptr),
            0);
  return Key(k);
}

inline Key PrivateKey(const Bytes &p, const Bytes &q, const Bytes &g, const Bytes &x) {
  DsaKeyObject *k = nullptr;
  EXPECT_EQ(DSA_createKey(&k), 0);
  EXPECT_EQ(DSA_setAllKeyParameters(k, p.data(), p.size(), q.data(), q.size(), g.data(), g.size(), x.data(),
                                    x.size(), nullptr),
            0);
  return Key(k);
}

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

}  // namespace kel::test

// Shared by the public-key tests: OpenSSL's generator and a scripted one, then
// curve, RSA and DH/DSA pieces.
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED 1  // EC_KEY and ECDSA_SIG: the oracle's signing API

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/rand.h>

#include <cstring>
#include <deque>
#include <memory>

#include "crypto/bignum/bignum_test_util.h"
#include "kel/dsa.h"
#include "kel/ec.h"
#include "kel/rsa.h"

namespace kel::test {

inline int32_t OpenSslRng(void *, uint32_t length, uint8_t *out) { return RAND_bytes(out, int(length)) == 1 ? 0 : -1; }

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

inline Bytes Random(size_t n) {
  Bytes b(n);
  RAND_bytes(b.data(), static_cast<int>(n));
  return b;
}
// Hex of any length (CAVP values may have an odd number of digits).
inline Bytes Hex(std::string h) { return FromHex(std::string(h.size() % 2, '0') + h); }

template <class F, class K> Bytes KeyBlob(F write, K *key) {
  uint32_t n = 0;
  EXPECT_EQ(write(key, nullptr, &n), 0);
  Bytes b(n);
  EXPECT_EQ(write(key, b.data(), &n), 0);
  return b;
}

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

// OpenSSL's side: k P (P null: G) as x || y bytes, empty for infinity.
struct Oracle {
  EC_GROUP *group;
  explicit Oracle(int nid) : group(EC_GROUP_new_by_curve_name(nid)) {}
  ~Oracle() { EC_GROUP_free(group); }
  Bytes Mul(const Bytes &k, const Bytes *point, size_t len) {
    BIGNUM *bk = BN_bin2bn(k.data(), int(k.size()), nullptr);
    EC_POINT *r = EC_POINT_new(group), *p = nullptr;
    if (point != nullptr) {
      p = EC_POINT_new(group);
      EXPECT_EQ(EC_POINT_oct2point(group, p, point->data(), point->size(), nullptr), 1);
    }
    EC_POINT_mul(group, r, p ? nullptr : bk, p, p ? bk : nullptr, nullptr);
    Bytes out(2 * len + 1);
    const auto form = POINT_CONVERSION_UNCOMPRESSED;
    if (EC_POINT_point2oct(group, r, form, out.data(), out.size(), nullptr) != out.size())
      out.resize(1);  // infinity
    out.erase(out.begin());
    EC_POINT_free(r), EC_POINT_free(p), BN_free(bk);
    return out;
  }
};

enum Created { kCreated };
struct Key {
  RsaKeyObject *k = nullptr;
  Key() = default;
  explicit Key(Created) { EXPECT_EQ(RSA_createKey(&k), 0); }
  ~Key() { EXPECT_TRUE(k == nullptr || RSA_freeKey(&k, nullptr) == 0); }
  RsaKeyObject *operator->() const { return k; }
  int32_t Bytes() const {
    int32_t n = 0;
    EXPECT_EQ(RSA_getCipherTextLength(k, &n), 0);
    return n;
  }
};

// A key blob: version, private flag, then each field as length + bytes.
inline Bytes Blob(const std::vector<Bytes> &fields, uint8_t version = 2) {
  Bytes b{version, static_cast<uint8_t>(fields.size() == 7)};
  for (const auto &f : fields) {
    size_t skip = 0;
    while (skip < f.size() && f[skip] == 0) ++skip;  // minimal form
    const uint32_t n = static_cast<uint32_t>(f.size() - skip);
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(n >> s));
    b.insert(b.end(), f.begin() + static_cast<long>(skip), f.end());
  }
  return b;
}

inline void LoadBlob(Key &key, const Bytes &blob) {
  ASSERT_EQ(RSA_keyFromByteString(&key.k, blob.data(), static_cast<uint32_t>(blob.size()), nullptr), 0);
}

inline Bytes BnBytes(const EVP_PKEY *pkey, const char *name) {
  BIGNUM *bn = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(pkey, name, &bn), 1) << name;
  Bytes b(static_cast<size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, b.data());
  BN_free(bn);
  return b;
}

inline EVP_PKEY *OpensslKey(int bits) { return EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits)); }

inline void FromOpenssl(Key &key, const EVP_PKEY *pkey) {
  std::vector<Bytes> f;
  for (const char *n : {OSSL_PKEY_PARAM_RSA_E, OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_FACTOR1,
                        OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                        OSSL_PKEY_PARAM_RSA_COEFFICIENT1})
    f.push_back(BnBytes(pkey, n));
  LoadBlob(key, Blob(f));
}

inline Bytes Digest(const std::string &alg, const Bytes &msg) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned n = 0;
  EXPECT_EQ(EVP_Digest(msg.data(), msg.size(), out.data(), &n, EVP_get_digestbyname(alg.c_str()), nullptr), 1) << alg;
  out.resize(n);
  return out;
}

// The hash a CAVP section names ("[P-384,SHA-512]", "[mod = L=2048, N=224, SHA-256]"); SHA-1 when none does.
inline std::string SectionHash(const RspRecord &r) {
  for (const auto &[name, value] : r.section)
    for (const std::string *t : {&name, &value})
      if (const size_t at = t->find("SHA-"); at != std::string::npos)
        return "SHA" + t->substr(at + 4, t->find_first_not_of("0123456789", at + 4) - at - 4);
  return "SHA1";
}

inline Bytes DigestInfo(const std::string &alg, const Bytes &msg) {
  static const std::map<std::string, std::string> kPrefix = {
      {"SHA1", "3021300906052b0e03021a05000414"},
      {"SHA224", "302d300d06096086480165030402040500041c"},
      {"SHA256", "3031300d060960864801650304020105000420"},
      {"SHA384", "3041300d060960864801650304020205000430"},
      {"SHA512", "3051300d060960864801650304020305000440"}};
  Bytes out = FromHex(kPrefix.at(alg)), md = Digest(alg, msg);
  out.insert(out.end(), md.begin(), md.end());
  return out;
}

inline Bytes Recover(const Key &key, const Bytes &sig, int32_t *status) {
  Bytes out(sig.size());
  uint32_t len = 0;
  *status = RSA_verifySignature(key.k, sig.data(), out.data(), &len, nullptr);
  out.resize(*status == 0 ? len : 0);
  return out;
}

namespace ffc {

// A vlong from hex of any length (empty: zero).
inline V VHex(const std::string &hex) { return FromHex(hex.empty() ? "0" : hex.c_str()); }

struct KeyFree {
  void operator()(DsaKeyObject *k) const { EXPECT_EQ(DSA_freeKey(&k, nullptr), 0); }  // needs the gate open
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

// The representative of msg: the leftmost 160 bits of its digest.
inline V Representative(const Bytes &msg, const std::string &hash = "SHA1") {
  const Bytes d = Digest(hash, msg);
  return VHex(ToHex(d.data(), std::min<size_t>(d.size(), 20)));
}

}  // namespace ffc
}  // namespace kel::test

// Shared by the RSA tests: the gate opened per test, keys that free
// themselves, key blobs built by hand, OpenSSL keys carried over, DigestInfo.
#pragma once

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <map>
#include <string>
#include <vector>

#include "crypto/bignum/bignum_test_util.h"
#include "crypto/common/alloc.h"
#include "kel/fips.h"
#include "kel/rsa.h"
#include "support/vectors.h"

namespace kel::test {

class RsaTest : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override {
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
    mem::fail_after(-1);
  }
};

struct Key {
  RsaKeyObject *k = nullptr;
  ~Key() { EXPECT_TRUE(k == nullptr || RSA_freeKey(&k, nullptr) == 0); }
  RsaKeyObject *operator->() const { return k; }
  int32_t Bytes() const {
    int32_t n = 0;
    EXPECT_EQ(RSA_getCipherTextLength(k, &n), 0);
    return n;
  }
};

// Hex of any length (CAVP values may have an odd number of digits).
inline kel::test::Bytes Hex(std::string h) { return kel::test::FromHex(std::string(h.size() % 2, '0') + h); }

inline int32_t OpensslRng(void *, uint32_t length, uint8_t *out) {
  return RAND_bytes(out, static_cast<int>(length)) == 1 ? 0 : -1;
}

// A key blob: version, private flag, then each field as length + bytes.
inline kel::test::Bytes Blob(const std::vector<kel::test::Bytes> &fields, uint8_t version = 2) {
  kel::test::Bytes b{version, static_cast<uint8_t>(fields.size() == 7)};
  for (const auto &f : fields) {
    size_t skip = 0;
    while (skip < f.size() && f[skip] == 0) ++skip;  // minimal form
    const uint32_t n = static_cast<uint32_t>(f.size() - skip);
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(n >> s));
    b.insert(b.end(), f.begin() + static_cast<long>(skip), f.end());
  }
  return b;
}

inline void LoadBlob(Key &key, const kel::test::Bytes &blob) {
  ASSERT_EQ(RSA_keyFromByteString(&key.k, blob.data(), static_cast<uint32_t>(blob.size()), nullptr), 0);
}

inline kel::test::Bytes BnBytes(const EVP_PKEY *pkey, const char *name) {
  BIGNUM *bn = nullptr;
  EXPECT_EQ(EVP_PKEY_get_bn_param(pkey, name, &bn), 1) << name;
  kel::test::Bytes b(static_cast<size_t>(BN_num_bytes(bn)));
  BN_bn2bin(bn, b.data());
  BN_free(bn);
  return b;
}

inline EVP_PKEY *OpensslKey(int bits) {
  return EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(bits));
}

// The OpenSSL key as ours, through its seven blob fields.
inline void FromOpenssl(Key &key, const EVP_PKEY *pkey) {
  std::vector<kel::test::Bytes> f;
  for (const char *n : {OSSL_PKEY_PARAM_RSA_E, OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_FACTOR1,
                        OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
                        OSSL_PKEY_PARAM_RSA_COEFFICIENT1})
    f.push_back(BnBytes(pkey, n));
  LoadBlob(key, Blob(f));
}

// DER DigestInfo of msg under the named hash ("SHA1", "SHA256", ...).
inline kel::test::Bytes DigestInfo(const std::string &alg, const kel::test::Bytes &msg) {
  static const std::map<std::string, std::string> kPrefix = {
      {"SHA1", "3021300906052b0e03021a05000414"},
      {"SHA224", "302d300d06096086480165030402040500041c"},
      {"SHA256", "3031300d060960864801650304020105000420"},
      {"SHA384", "3041300d060960864801650304020205000430"},
      {"SHA512", "3051300d060960864801650304020305000440"}};
  kel::test::Bytes out = kel::test::FromHex(kPrefix.at(alg));
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  const std::string name = alg.substr(0, 3) + "-" + alg.substr(3);
  EXPECT_EQ(EVP_Digest(msg.data(), msg.size(), md, &n, EVP_get_digestbyname(name.c_str()), nullptr), 1);
  out.insert(out.end(), md, md + n);
  return out;
}

// Signs with our key and recovers with it: the recovered bytes.
inline kel::test::Bytes Recover(const Key &key, const kel::test::Bytes &sig, int32_t *status) {
  kel::test::Bytes out(sig.size());
  uint32_t len = 0;
  *status = RSA_verifySignature(key.k, sig.data(), out.data(), &len, nullptr);
  out.resize(*status == 0 ? len : 0);
  return out;
}

}  // namespace kel::test

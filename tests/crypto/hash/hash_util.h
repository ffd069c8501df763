// Shared by the digest and HMAC tests: the table of digests with their
// OpenSSL counterparts, every way of feeding a message, and the open gate.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "crypto/common/alloc.h"
#include "kel/fips.h"
#include "kel/hash.h"
#include "kel/hmac.h"
#include "kel/vor.h"
#include "support/vectors.h"
#include "tests/crypto/crypto_test_util.h"

namespace kel::test {

struct Algo {
  const char *name;
  int32_t id;  // CRYPTO_getRSAHashAlgo number
  uint32_t digestSize;
  uint32_t blockSize;
  int32_t (*oneCall)(const uint8_t *, uint32_t, uint8_t *);
  const EVP_MD *(*evp)();
  const HashSuite *suite() const {
    const HashSuite *s = nullptr;
    EXPECT_EQ(CRYPTO_getRSAHashAlgo(id, &s), 0);
    return s;
  }
};

inline const std::vector<Algo> &Algos() {
  static const std::vector<Algo> all = {
      {"MD5", 4, 16, 64, MD5_completeDigest, EVP_md5},
      {"SHA1", 5, 20, 64, SHA1_completeDigest, EVP_sha1},
      {"SHA224", 14, 28, 64, SHA224_completeDigest, EVP_sha224},
      {"SHA256", 11, 32, 64, SHA256_completeDigest, EVP_sha256},
      {"SHA384", 12, 48, 128, SHA384_completeDigest, EVP_sha384},
      {"SHA512", 13, 64, 128, SHA512_completeDigest, EVP_sha512},
  };
  return all;
}

inline const Algo &AlgoNamed(const std::string &name) {
  for (const auto &a : Algos())
    if (name == a.name) return a;
  ADD_FAILURE() << "no digest " << name;
  return Algos()[0];
}

// OpenSSL's digest of msg, or its HMAC under *key.
inline Bytes Openssl(const Algo &a, const Bytes &msg, const Bytes *key = nullptr) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned len = 0;
  static const uint8_t kNothing = 0;
  const uint8_t *m = msg.empty() ? &kNothing : msg.data();
  if (key == nullptr)
    EVP_Digest(m, msg.size(), out.data(), &len, a.evp(), nullptr);
  else
    HMAC(a.evp(), key->empty() ? &kNothing : key->data(), static_cast<int>(key->size()), m, msg.size(), out.data(),
         &len);
  out.resize(len);
  return out;
}

// Streams msg through the suite in pieces of the given sizes (cycled; 0
// means one update with everything).
inline Bytes SuiteDigest(const HashSuite &s, const Bytes &msg, const std::vector<size_t> &pieces = {0}) {
  void *ctx = nullptr;
  EXPECT_EQ(s.allocFunc(&ctx), 0);
  EXPECT_EQ(s.initFunc(ctx), 0);
  static const uint8_t kNothing = 0;
  const uint8_t *p = msg.empty() ? &kNothing : msg.data();
  size_t off = 0, k = 0;
  do {
    size_t n = pieces[k++ % pieces.size()];
    if (n == 0 || n > msg.size() - off) n = msg.size() - off;
    EXPECT_EQ(s.updateFunc(ctx, p + off, static_cast<uint32_t>(n)), 0);
    off += n;
  } while (off < msg.size());
  Bytes out(s.digestSize);
  EXPECT_EQ(s.finalFunc(ctx, out.data()), 0);
  EXPECT_EQ(s.freeFunc(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
  return out;
}

// Every form a caller may use, each labelled for the failure message: one
// call, one update through the suite, fixed and random pieces.
inline std::vector<std::pair<std::string, Bytes>> AllForms(const Algo &a, const Bytes &msg, uint32_t seed = 1) {
  std::vector<std::pair<std::string, Bytes>> r;
  Bytes one(a.digestSize);
  static const uint8_t kNothing = 0;
  EXPECT_EQ(a.oneCall(msg.empty() ? &kNothing : msg.data(), static_cast<uint32_t>(msg.size()), one.data()), 0);
  r.emplace_back("one-call", one);
  const HashSuite &s = *a.suite();
  r.emplace_back("suite", SuiteDigest(s, msg));
  r.emplace_back("pieces 1,63,64,65", SuiteDigest(s, msg, {1, 63, 64, 65}));
  std::mt19937 rng(seed);
  std::vector<size_t> random;
  for (int i = 0; i < 16; ++i) random.push_back(1 + rng() % (2 * a.blockSize + 7));
  r.emplace_back("random pieces", SuiteDigest(s, msg, random));
  return r;
}

using HashTest = GateOpenTest;

inline Bytes RandomBytes(std::mt19937 &rng, size_t n) {
  Bytes b(n);
  for (auto &x : b) x = static_cast<uint8_t>(rng());
  return b;
}

// Every HMAC form for this digest, labelled: the generic context (one update,
// random pieces, a second message after HmacReset), the one-call forms with
// the message whole and split in two and with a copy of the suite, and for MD5
// and SHA-1 the fixed functions (HMAC_SHA1Ex with the message in three parts).
inline std::vector<std::pair<std::string, Bytes>> AllHmacForms(const Algo &a, const Bytes &key, const Bytes &msg,
                                                               uint32_t seed = 1) {
  static const uint8_t kNothing = 0;
  const uint8_t *k = key.empty() ? &kNothing : key.data();
  const uint8_t *m = msg.empty() ? &kNothing : msg.data();
  const auto kl = static_cast<uint32_t>(key.size());
  const auto ml = static_cast<uint32_t>(msg.size());
  std::mt19937 rng(seed);
  std::vector<std::pair<std::string, Bytes>> r;
  const HashSuite *suite = a.suite();

  HmacContext *ctx = nullptr;
  EXPECT_EQ(HmacCreate(&ctx, suite), 0);
  EXPECT_EQ(HmacKey(ctx, k, kl), 0);
  Bytes out(a.digestSize);
  EXPECT_EQ(HmacUpdate(ctx, m, ml), 0);
  EXPECT_EQ(HmacFinal(ctx, out.data()), 0);
  r.emplace_back("generic", out);
  EXPECT_EQ(HmacReset(ctx), 0);
  for (size_t off = 0; off < msg.size();) {
    const size_t n = std::min<size_t>(msg.size() - off, 1 + rng() % (2 * a.blockSize + 3));
    EXPECT_EQ(HmacUpdate(ctx, m + off, static_cast<uint32_t>(n)), 0);
    off += n;
  }
  EXPECT_EQ(HmacFinal(ctx, out.data()), 0);
  r.emplace_back("generic pieces after reset", out);
  EXPECT_EQ(HmacDelete(&ctx), 0);

  const uint32_t cut = ml ? static_cast<uint32_t>(rng() % (ml + 1)) : 0;
  EXPECT_EQ(HmacQuick(k, kl, m, ml, out.data(), suite), 0);
  r.emplace_back("HmacQuick", out);
  EXPECT_EQ(HmacQuickEx(k, kl, m, cut, m + cut, ml - cut, out.data(), suite), 0);
  r.emplace_back("HmacQuickEx split", out);
  const HashSuite foreign = *suite;  // not one of the toolkit's records: the textbook path
  EXPECT_EQ(HmacQuick(k, kl, m, ml, out.data(), &foreign), 0);
  r.emplace_back("foreign suite", out);

  if (a.id == 4 || a.id == 5) {
    const bool md5 = a.id == 4;
    EXPECT_EQ((md5 ? HMAC_MD5_quick : HMAC_SHA1_quick)(k, kl, m, ml, out.data()), 0);
    r.emplace_back("fixed quick", out);
    EXPECT_EQ((md5 ? HMAC_MD5 : HMAC_SHA1)(k, kl, m, cut, m + cut, ml - cut, out.data()), 0);
    r.emplace_back("fixed two parts", out);
    if (!md5) {
      const uint32_t cut2 = cut + (ml - cut) / 2;
      const uint8_t *parts[3] = {m, m + cut, m + cut2};
      const uint32_t lens[3] = {cut, cut2 - cut, ml - cut2};
      EXPECT_EQ(HMAC_SHA1Ex(k, kl, parts, lens, 3, out.data()), 0);
      r.emplace_back("HMAC_SHA1Ex three parts", out);
    }
  }
  return r;
}

}  // namespace kel::test

// DES, two- and three-key triple DES and RC2 against OpenSSL with random
// keys, ivs and lengths, in ECB and CBC.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <random>

#include "crypto/cipher/des_internal.h"
#include "kel/des.h"
#include "kel/fips.h"
#include "kel/rc2.h"
#include "support/vectors.h"

namespace {

using kel::test::Bytes;
using kel::test::ToHex;

class DesOpenssl : public ::testing::Test {
 protected:
  void SetUp() override { gFIPS_powerupStatus = 0; }
  void TearDown() override { gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN; }
  std::mt19937 rng{0xde5};
  Bytes Random(size_t n) {
    Bytes b(n);
    for (auto &x : b) x = static_cast<uint8_t>(rng());
    return b;
  }
  size_t RandomBlocks() { return 8 * (1 + rng() % 40); }
};

// One EVP pass without padding; an empty result when the cipher is missing.
Bytes Evp(const char *name, const Bytes &key, const Bytes &iv, const Bytes &in, bool encrypt, int rc2Bits = 0,
          OSSL_LIB_CTX *lib = nullptr) {
  EVP_CIPHER *cipher = EVP_CIPHER_fetch(lib, name, nullptr);
  if (cipher == nullptr) return {};
  EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 16);
  int n = 0, m = 0;
  bool ok = EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, encrypt) == 1 &&
            EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(key.size())) == 1 &&
            (rc2Bits == 0 || EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_RC2_KEY_BITS, rc2Bits, nullptr) == 1) &&
            EVP_CipherInit_ex(ctx, nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size())) == 1 &&
            EVP_CipherFinal_ex(ctx, out.data() + n, &m) == 1;
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  EXPECT_TRUE(ok) << name;
  out.resize(ok ? static_cast<size_t>(n + m) : 0);
  return out;
}

TEST_F(DesOpenssl, SingleDes) {
  for (int round = 0; round < 200; ++round) {
    Bytes key = Random(8), iv = Random(8), msg = Random(RandomBlocks());
    const uint32_t len = static_cast<uint32_t>(msg.size());
    DES_key_schedule ks;
    DES_cblock k;
    memcpy(k, key.data(), 8);
    DES_set_key_unchecked(&k, &ks);
    DesContext ctx;
    ASSERT_EQ(DES_initKey(&ctx, key.data(), 8), 0);

    Bytes want(len), got(len);
    for (uint32_t off = 0; off < len; off += 8)
      DES_ecb_encrypt(reinterpret_cast<const_DES_cblock *>(msg.data() + off),
                      reinterpret_cast<DES_cblock *>(want.data() + off), &ks, DES_ENCRYPT);
    ASSERT_EQ(DES_encipher(&ctx, msg.data(), got.data(), len), 0);
    ASSERT_EQ(ToHex(got), ToHex(want)) << "key " << ToHex(key);
    ASSERT_EQ(DES_decipher(&ctx, got.data(), got.data(), len), 0);
    ASSERT_EQ(got, msg);

    DES_cblock ivo;
    memcpy(ivo, iv.data(), 8);
    DES_ncbc_encrypt(msg.data(), want.data(), len, &ks, &ivo, DES_ENCRYPT);
    got = msg;
    Bytes ivk = iv;
    kel::des::cbc_encrypt(got.data(), got.data(), len / 8, ivk.data(), kel::des::Single{ctx.encryptKeys});
    ASSERT_EQ(got, want) << "key " << ToHex(key);
    ASSERT_EQ(0, memcmp(ivk.data(), ivo, 8));
    ivk = iv;
    kel::des::cbc_decrypt(got.data(), got.data(), len / 8, ivk.data(), kel::des::Single{ctx.decryptKeys});
    ASSERT_EQ(got, msg);
  }
}

TEST_F(DesOpenssl, TripleDesEcbAndCbc) {
  struct Form {
    const char *ecb, *cbc;
    uint32_t keyLength;
    const CipherSuite *suite;
  };
  for (Form f : {Form{"DES-EDE3-ECB", "DES-EDE3-CBC", 24, &CRYPTO_TripleDESSuite},
                 Form{"DES-EDE-ECB", "DES-EDE-CBC", 16, &CRYPTO_TwoKeyTripleDESSuite}}) {
    SCOPED_TRACE(f.cbc);
    for (int round = 0; round < 100; ++round) {
      Bytes key = Random(f.keyLength), iv = Random(8), msg = Random(RandomBlocks());
      const uint32_t len = static_cast<uint32_t>(msg.size());
      Bytes full = key;  // k1 || k2 || k3 for the block functions
      if (f.keyLength == 16) full.insert(full.end(), key.begin(), key.begin() + 8);
      TripleDesContext ctx;
      ASSERT_EQ(THREE_DES_initKey(&ctx, full.data(), 24), 0);
      Bytes got(len);
      ASSERT_EQ(THREE_DES_encipher(&ctx, msg.data(), got.data(), len), 0);
      Bytes want = Evp(f.ecb, key, {}, msg, true);
      ASSERT_EQ(ToHex(got), ToHex(want)) << "key " << ToHex(key);
      ASSERT_EQ(THREE_DES_decipher(&ctx, got.data(), got.data(), len), 0);
      ASSERT_EQ(got, msg);

      got = msg;
      Bytes ivk = iv;
      ASSERT_EQ(CRYPTO_Process(f.suite, key.data(), f.keyLength, ivk.data(), got.data(), len, 1), 0);
      want = Evp(f.cbc, key, iv, msg, true);
      ASSERT_EQ(ToHex(got), ToHex(want)) << "key " << ToHex(key) << " iv " << ToHex(iv);
      ASSERT_EQ(Evp(f.cbc, key, iv, want, false), msg);
      ivk = iv;
      ASSERT_EQ(CRYPTO_Process(f.suite, key.data(), f.keyLength, ivk.data(), got.data(), len, 0), 0);
      ASSERT_EQ(got, msg);
    }
  }
}

// RC2 lives in OpenSSL's legacy provider; every key length from 1 to 128
// bytes with random effective bits.
TEST_F(DesOpenssl, Rc2) {
  // A library context of its own, so the process-wide default stays as it was.
  OSSL_LIB_CTX *lib = OSSL_LIB_CTX_new();
  ASSERT_NE(lib, nullptr);
  OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(lib, "legacy");
  if (legacy == nullptr) {
    OSSL_LIB_CTX_free(lib);
    GTEST_SKIP() << "OpenSSL's legacy provider cannot be loaded: no RC2 comparison";
  }
  for (uint32_t keyLength = 1; keyLength <= 128; ++keyLength) {
    const int bits = static_cast<int>(1 + rng() % 1024);
    Bytes key = Random(keyLength), iv = Random(8), msg = Random(RandomBlocks());
    const uint32_t len = static_cast<uint32_t>(msg.size());
    SCOPED_TRACE("key " + ToHex(key) + " bits " + std::to_string(bits));
    Bytes want = Evp("RC2-CBC", key, iv, msg, true, bits, lib);
    ASSERT_FALSE(want.empty());
    Bytes got = msg, ivk = iv;
    ASSERT_EQ(CRYPTO_Process(&CRYPTO_RC2EffectiveBitsSuite, key.data(), keyLength, ivk.data(), got.data(), len, bits),
              0);
    ASSERT_EQ(ToHex(got), ToHex(want));
    void *ctx = CreateRC2Ctx2(key.data(), keyLength, bits);
    ivk = iv;
    ASSERT_EQ(DoRC2(ctx, got.data(), len, 0, ivk.data()), 0);
    ASSERT_EQ(got, msg);
    DeleteRC2Ctx(&ctx);

    // Effective bits = key length x 8 through the plain suite.
    want = Evp("RC2-CBC", key, iv, msg, true, static_cast<int>(std::min(8 * keyLength, 1024u)), lib);
    got = msg;
    ivk = iv;
    ASSERT_EQ(CRYPTO_Process(&CRYPTO_RC2Suite, key.data(), keyLength, ivk.data(), got.data(), len, 1), 0);
    ASSERT_EQ(ToHex(got), ToHex(want));
  }
  OSSL_PROVIDER_unload(legacy);
  OSSL_LIB_CTX_free(lib);
}

}  // namespace

// Random keys, IVs, lengths and piece sizes against OpenSSL for every
// streaming interface: the block modes chained through the iv buffer, counter
// mode, GCM updates, CCM and CMAC. The seed is fixed, so a failure repeats.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <random>
#include <thread>

#include "crypto/common/alloc.h"

#include "kel/gcm.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class Differential : public CipherTest {
 protected:
  std::mt19937 rng_{20261205};
  size_t Uniform(size_t lo, size_t hi) { return std::uniform_int_distribution<size_t>(lo, hi)(rng_); }
  Bytes Random(size_t n) {
    Bytes b(n);
    for (auto &v : b) v = static_cast<uint8_t>(rng_());
    return b;
  }
  size_t KeyLen() { return 16 + 8 * Uniform(0, 2); }
};

// OpenSSL's one-shot transform (no padding).
Bytes Evp(const EVP_CIPHER *cipher, const Bytes &key, const Bytes &iv, const Bytes &in, bool encrypt) {
  EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  int n = 0, m = 0;
  EVP_CipherInit_ex(c, cipher, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt);
  EVP_CIPHER_CTX_set_padding(c, 0);
  EVP_CipherUpdate(c, out.data(), &n, in.data(), static_cast<int>(in.size()));
  EVP_CipherFinal_ex(c, out.data() + n, &m);
  EVP_CIPHER_CTX_free(c);
  out.resize(static_cast<size_t>(n + m));
  return out;
}

const EVP_CIPHER *Pick(const char *mode, size_t keyLen) {
  const std::string name = "AES-" + std::to_string(keyLen * 8) + "-" + mode;
  return EVP_get_cipherbyname(name.c_str());
}

TEST_F(Differential, BlockModesChainedInRandomPieces) {
  struct M {
    const char *evp;
    BulkCtx (*create)(const uint8_t *, uint32_t, int32_t);
  };
  const M modes[] = {{"ECB", CreateAESECBCtx}, {"CBC", CreateAESCtx}, {"CFB", CreateAESCFBCtx},
                     {"OFB", CreateAESOFBCtx}};
  ForEachPath([&] {
    for (int iter = 0; iter < 40; ++iter)
      for (const M &m : modes) {
        const size_t kl = KeyLen(), blocks = Uniform(0, 70);
        const Bytes key = Random(kl), iv = Random(16), pt = Random(16 * blocks);
        const bool ecb = std::string(m.evp) == "ECB";
        for (int encrypt : {1, 0}) {
          const Bytes in = encrypt ? pt : Evp(Pick(m.evp, kl), key, ecb ? Bytes{} : iv, pt, true);
          const Bytes want = Evp(Pick(m.evp, kl), key, ecb ? Bytes{} : iv, in, encrypt);
          BulkCtx ctx = m.create(key.data(), static_cast<uint32_t>(kl), encrypt);
          Bytes data = in, chain = iv;
          for (size_t off = 0; off < data.size();) {
            const size_t n = 16 * std::min(Uniform(1, 12), (data.size() - off) / 16);
            ASSERT_EQ(DoAES(ctx, data.data() + off, static_cast<uint32_t>(n), encrypt, chain.data()), 0);
            off += n;
          }
          ASSERT_EQ(ToHex(data), ToHex(want)) << m.evp << " encrypt " << encrypt << " blocks " << blocks;
          DeleteAESCtx(&ctx);
        }
      }
  });
}

TEST_F(Differential, CounterModeInRandomPieces) {
  ForEachPath([&] {
    for (int iter = 0; iter < 60; ++iter) {
      const size_t kl = KeyLen(), len = Uniform(0, 1500);
      const Bytes key = Random(kl), pt = Random(len);
      Bytes counter = Random(16);
      if (iter % 3 == 0) std::fill(counter.begin() + 8, counter.end(), 0xff);  // carries across words
      counter[15] = static_cast<uint8_t>(counter[15] | (iter % 2 ? 0xf0 : 0));
      const Bytes want = Evp(Pick("CTR", kl), key, counter, pt, true);
      const Bytes material = Concat(key, counter);
      BulkCtx ctx = CreateAESCTRCtx(material.data(), static_cast<uint32_t>(material.size()), 1);
      Bytes data = pt;
      for (size_t off = 0; off < len;) {
        const size_t n = std::min(Uniform(0, 200), len - off);
        ASSERT_EQ(DoAESCTR(ctx, data.data() + off, static_cast<uint32_t>(n), 1, nullptr), 0);
        off += n;
      }
      ASSERT_EQ(ToHex(data), ToHex(want)) << "length " << len;
      DeleteAESCTRCtx(&ctx);
    }
  });
}

TEST_F(Differential, GcmUpdatesInRandomPieces) {
  ForEachPath([&] {
    for (int iter = 0; iter < 60; ++iter) {
      const size_t kl = KeyLen(), len = Uniform(0, 2000);
      const size_t ivLen = iter % 3 ? 12 : Uniform(1, 70);
      const Bytes key = Random(kl), iv = Random(ivLen), aad = Random(Uniform(0, 90)), pt = Random(len);
      // OpenSSL's view.
      EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
      int n = 0;
      Bytes ref(len + 16), refTag(16);
      EVP_EncryptInit_ex(c, Pick("GCM", kl), nullptr, nullptr, nullptr);
      EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_IVLEN, static_cast<int>(ivLen), nullptr);
      EVP_EncryptInit_ex(c, nullptr, nullptr, key.data(), iv.data());
      if (!aad.empty()) EVP_EncryptUpdate(c, nullptr, &n, aad.data(), static_cast<int>(aad.size()));
      EVP_EncryptUpdate(c, ref.data(), &n, pt.data(), static_cast<int>(len));
      EVP_EncryptFinal_ex(c, ref.data() + n, &n);
      EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, 16, refTag.data());
      EVP_CIPHER_CTX_free(c);
      ref.resize(len);
      // Ours, streamed both ways.
      BulkCtx ctx = GCM_createCtx_256b(key.data(), static_cast<uint32_t>(kl), 1);
      for (int encrypt : {1, 0}) {
        Bytes data = encrypt ? pt : ref, tag(16);
        ASSERT_EQ(GCM_init_256b(ctx, iv.data(), static_cast<uint32_t>(ivLen), aad.empty() ? nullptr : aad.data(),
                                static_cast<uint32_t>(aad.size())),
                  0);
        for (size_t off = 0; off < len;) {
          const uint32_t p = static_cast<uint32_t>(std::min(Uniform(0, 300), len - off));
          ASSERT_EQ(encrypt ? GCM_update_encrypt_256b(ctx, data.data() + off, p)
                            : GCM_update_decrypt_256b(ctx, data.data() + off, p),
                    0);
          off += p;
        }
        ASSERT_EQ(GCM_final_256b(ctx, tag.data()), 0);
        ASSERT_EQ(ToHex(data), ToHex(encrypt ? ref : pt)) << "length " << len << " iv " << ivLen;
        ASSERT_EQ(ToHex(tag), ToHex(refTag));
      }
      GCM_deleteCtx_256b(&ctx);
    }
  });
}

TEST_F(Differential, CcmAndCmac) {
  ForEachPath([&] {
    for (int iter = 0; iter < 40; ++iter) {
      const size_t kl = KeyLen(), len = Uniform(0, 600), nonceLen = Uniform(7, 13), M = 2 * Uniform(2, 8);
      const Bytes key = Random(kl), nonce = Random(nonceLen), aad = Random(Uniform(0, 300)), pt = Random(len);
      EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
      int n = 0;
      Bytes ref(len + 16), refTag(16);
      EVP_EncryptInit_ex(c, Pick("CCM", kl), nullptr, nullptr, nullptr);
      EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_IVLEN, static_cast<int>(nonceLen), nullptr);
      EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, static_cast<int>(M), nullptr);
      EVP_EncryptInit_ex(c, nullptr, nullptr, key.data(), nonce.data());
      EVP_EncryptUpdate(c, nullptr, &n, nullptr, static_cast<int>(len));
      if (!aad.empty()) EVP_EncryptUpdate(c, nullptr, &n, aad.data(), static_cast<int>(aad.size()));
      EVP_EncryptUpdate(c, ref.data(), &n, pt.data(), static_cast<int>(len));
      EVP_EncryptFinal_ex(c, ref.data() + n, &n);
      EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, static_cast<int>(M), refTag.data());
      EVP_CIPHER_CTX_free(c);
      ref.resize(len);
      Bytes data = Concat(pt, Bytes(1)), tag(16);
      ASSERT_EQ(AESCCM_encrypt(static_cast<uint8_t>(M), static_cast<uint8_t>(15 - nonceLen), key.data(),
                               static_cast<int32_t>(kl), nonce.data(), data.data(), static_cast<uint32_t>(len),
                               aad.empty() ? nullptr : aad.data(), static_cast<uint32_t>(aad.size()), tag.data()),
                0);
      data.resize(len);
      ASSERT_EQ(ToHex(data), ToHex(ref));
      ASSERT_EQ(ToHex(tag.data(), M), ToHex(refTag.data(), M));

      // CMAC over the same message in random pieces.
      EVP_MAC *mac = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
      EVP_MAC_CTX *mc = EVP_MAC_CTX_new(mac);
      std::string cipherName = "AES-" + std::to_string(kl * 8) + "-CBC";
      OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName.data(), 0),
                             OSSL_PARAM_construct_end()};
      size_t outLen = 0;
      Bytes refMac(16);
      EVP_MAC_init(mc, key.data(), kl, params);
      EVP_MAC_update(mc, pt.data(), len);
      EVP_MAC_final(mc, refMac.data(), &outLen, 16);
      EVP_MAC_CTX_free(mc);
      EVP_MAC_free(mac);
      AesCmacContext cm;
      ASSERT_EQ(AESCMAC_init(key.data(), static_cast<uint32_t>(kl), &cm), 0);
      for (size_t off = 0; off < len;) {
        const size_t p = std::min(Uniform(0, 40), len - off);
        ASSERT_EQ(AESCMAC_update(pt.data() + off, static_cast<uint32_t>(p), &cm), 0);
        off += p;
      }
      ASSERT_EQ(AESCMAC_final(tag.data(), &cm), 0);
      ASSERT_EQ(ToHex(tag), ToHex(refMac)) << "length " << len;
    }
  });
}

}  // namespace
}  // namespace kel::test

namespace kel::test {
namespace {

// Contexts share nothing: threads each with their own contexts get the same
// results as one thread alone.
TEST_F(Differential, ThreadsWithTheirOwnContextsAgree) {
  const Bytes key = Random(32), iv = Random(12), msg = Random(5000);
  auto seal = [&](Bytes *out) {
    BulkCtx g = GCM_createCtx_256b(key.data(), 32, 1);
    BulkCtx x = CreateAESXTSCtx(key.data(), 32, 1);
    for (int round = 0; round < 50; ++round) {
      Bytes data = Concat(msg, Bytes(16));
      GCM_cipher_256b(g, iv.data(), 12, nullptr, 0, data.data(), 5000, 16, 1);
      DoAESXTS(x, data.data(), 4096, 1, data.data() + 4096);
      *out = data;
    }
    GCM_deleteCtx_256b(&g);
    DeleteAESXTSCtx(&x);
  };
  Bytes alone;
  seal(&alone);
  std::vector<Bytes> results(4);
  std::vector<std::thread> threads;
  for (auto &r : results) threads.emplace_back(seal, &r);
  for (auto &t : threads) t.join();
  for (const auto &r : results) EXPECT_EQ(r, alone);
}

// Every create function returns null, and leaks nothing, when the allocator fails.
TEST_F(Differential, CreateFunctionsSurviveAllocationFailure) {
  const Bytes key = Random(64);
  using Create = BulkCtx (*)(const uint8_t *, uint32_t, int32_t);
  const std::pair<Create, uint32_t> creates[] = {
      {CreateAESECBCtx, 32}, {CreateAESCtx, 32},     {CreateAESCFBCtx, 32},  {CreateAESOFBCtx, 32},
      {CreateAESCTRCtx, 32}, {CreateAesCtrCtx, 20}, {AESCCM_createCtx, 32}, {GCM_createCtx_256b, 32}};
  for (auto [c, len] : creates) {
    mem::fail_after(0);
    EXPECT_EQ(c(key.data(), len, 1), nullptr);
    mem::fail_after(-1);
    BulkCtx ok = c(key.data(), len, 1);  // the same arguments work with memory
    EXPECT_NE(ok, nullptr);
    VOR_free(&ok);
  }
  mem::fail_after(0);
  EXPECT_EQ(CreateAESXTSCtx(key.data(), 64, 1), nullptr);
  mem::fail_after(-1);
}

}  // namespace
}  // namespace kel::test

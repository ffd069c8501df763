// Random keys, IVs, lengths and piece sizes against OpenSSL: the block modes
// chained through the iv buffer, counter mode, GCM updates, CCM, XTS, triple
// DES and RC2 (CMAC's pieces: aes_modes_test); contexts used from threads.
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <thread>

#include "kel/des.h"
#include "kel/gcm.h"
#include "kel/rc2.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class Differential : public CipherTest {
 protected:
  size_t KeyLen() { return 16 + 8 * Uniform(0, 2); }
};

std::string AesName(const char *mode, size_t keyLen) { return "AES-" + std::to_string(keyLen * 8) + "-" + mode; }

// OpenSSL's one-shot transform (no padding); RC2 takes its effective bits. Given
// a tag length, GCM or CCM encryption: the ciphertext, then the tag (CCM wants
// the length first, and a pointer even for no data).
Bytes Evp(const std::string &name, const Bytes &key, const Bytes &iv, const Bytes &in, bool encrypt, int rc2Bits = 0,
          OSSL_LIB_CTX *lib = nullptr, const Bytes &aad = {}, int tagLen = 0) {
  const bool ccm = name.find("CCM") != std::string::npos;
  EVP_CIPHER *cipher = EVP_CIPHER_fetch(lib, name.c_str(), nullptr);
  EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
  Bytes out(in.size() + 32);
  const uint8_t *data = in.empty() ? out.data() : in.data();
  int n = 0, m = 0, a = 0;
  const bool ok = cipher != nullptr && EVP_CipherInit_ex(c, cipher, nullptr, nullptr, nullptr, encrypt) == 1 &&
                  EVP_CIPHER_CTX_set_key_length(c, static_cast<int>(key.size())) == 1 &&
                  (rc2Bits == 0 || EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_SET_RC2_KEY_BITS, rc2Bits, nullptr) == 1) &&
                  (tagLen == 0 || EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_IVLEN, Len(iv), nullptr) == 1) &&
                  (!ccm || EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, tagLen, nullptr) == 1) &&
                  EVP_CipherInit_ex(c, nullptr, nullptr, key.data(), iv.empty() ? nullptr : iv.data(), encrypt) == 1 &&
                  EVP_CIPHER_CTX_set_padding(c, 0) == 1 &&
                  (!ccm || EVP_CipherUpdate(c, nullptr, &a, nullptr, Len(in)) == 1) &&
                  (aad.empty() || EVP_CipherUpdate(c, nullptr, &a, aad.data(), Len(aad)) == 1) &&
                  EVP_CipherUpdate(c, out.data(), &n, data, Len(in)) == 1 &&
                  EVP_CipherFinal_ex(c, out.data() + n, &m) == 1 &&
                  (tagLen == 0 || EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, tagLen, out.data() + n + m) == 1);
  EVP_CIPHER_CTX_free(c);
  EVP_CIPHER_free(cipher);
  EXPECT_TRUE(ok) << name;
  out.resize(ok ? static_cast<size_t>(n + m + tagLen) : 0);
  return out;
}

// On every code path: the block modes, counter mode, GCM updates, CCM (its
// first two messages take the two encodings of the additional-data length:
// 65279 bytes still take two bytes, 65280 take six) and XTS (every length
// from 16 to 300 bytes and a few long units, so the eight-block and wide
// paths meet every stealing position).
TEST_F(Differential, AesModesInRandomPieces) {
  const Bytes xtsKey = Random(64);
  Bytes tweak = Random(16);  // XTS: an input only, though not const in the interface
  ForEachCpuPath([&] {
    for (int iter = 0; iter < 40; ++iter)
      for (const ModeInfo &m : kModes) {
        const size_t kl = KeyLen(), blocks = Uniform(0, 90);
        const Bytes key = Random(kl), iv = Random(16), pt = Random(16 * blocks);
        for (int encrypt : {1, 0}) {  // OpenSSL's ECB takes no iv and ignores one
          const Bytes in = encrypt ? pt : Evp(AesName(m.evp, kl), key, iv, pt, true);
          const Bytes want = Evp(AesName(m.evp, kl), key, iv, in, encrypt);
          BulkCtx ctx = m.create(key.data(), static_cast<uint32_t>(kl), encrypt);
          Bytes data = in, chain = iv;
          // Pieces of 16 blocks and more reach the wide decryption loops.
          InPieces(data, [&] { return 16 * (iter % 4 ? Uniform(1, 40) : 90); },
                   [&](uint8_t *p, uint32_t n) { return DoAES(ctx, p, n, encrypt, chain.data()); });
          ASSERT_EQ(ToHex(data), ToHex(want)) << m.evp << " encrypt " << encrypt << " blocks " << blocks;
          DeleteAESCtx(&ctx);
        }
      }
    for (int iter = 0; iter < 60; ++iter) {
      const size_t kl = KeyLen(), len = Uniform(0, 1500);
      const Bytes key = Random(kl), pt = Random(len);
      Bytes counter = Random(16);
      if (iter % 3 == 0) std::fill(counter.begin() + 8, counter.end(), 0xff);  // carries across words
      counter[15] = static_cast<uint8_t>(counter[15] | (iter % 2 ? 0xf0 : 0));
      const Bytes want = Evp(AesName("CTR", kl), key, counter, pt, true);
      const Bytes material = Concat(key, counter);
      BulkCtx ctx = CreateAESCTRCtx(material.data(), Len(material), 1);
      Bytes data = pt;
      InPieces(data, [&] { return Uniform(0, 200); },
               [&](uint8_t *p, uint32_t n) { return DoAESCTR(ctx, p, n, 1, nullptr); });
      ASSERT_EQ(ToHex(data), ToHex(want)) << "length " << len;
      DeleteAESCTRCtx(&ctx);
    }
    for (int iter = 0; iter < 60; ++iter) {
      const size_t kl = KeyLen(), len = iter % 10 ? Uniform(0, 2000) : Uniform(8193, 13000);
      const size_t ivLen = iter % 3 ? 12 : Uniform(1, 70);
      const Bytes key = Random(kl), iv = Random(ivLen), aad = Random(Uniform(0, 90)), pt = Random(len);
      const Bytes sealed = Evp(AesName("GCM", kl), key, iv, pt, true, 0, nullptr, aad, 16);
      const Bytes ref(sealed.begin(), sealed.begin() + len), refTag(sealed.begin() + len, sealed.end());
      BulkCtx ctx = GCM_createCtx_256b(key.data(), static_cast<uint32_t>(kl), 1);
      for (int encrypt : {1, 0}) {
        Bytes data = encrypt ? pt : ref, tag(16);
        ASSERT_EQ(GCM_init_256b(ctx, iv.data(), Len(iv), aad.empty() ? nullptr : aad.data(), Len(aad)), 0);
        // Every fourth message in one piece (long runs for the stitched
        // kernels), every tenth long and whole (several 4 KiB chunks).
        const bool whole = iter % 4 == 1 || iter % 10 == 0;
        InPieces(data, [&] { return whole ? len : Uniform(0, 300); }, [&](uint8_t *p, uint32_t n) {
          return encrypt ? GCM_update_encrypt_256b(ctx, p, n) : GCM_update_decrypt_256b(ctx, p, n);
        });
        ASSERT_EQ(GCM_final_256b(ctx, tag.data()), 0);
        ASSERT_EQ(ToHex(data), ToHex(encrypt ? ref : pt)) << "length " << len << " iv " << ivLen;
        ASSERT_EQ(ToHex(tag), ToHex(refTag));
      }
      GCM_deleteCtx_256b(&ctx);
    }
    for (int iter = 0; iter < 40; ++iter) {
      const size_t kl = KeyLen(), len = Uniform(0, 600), nonceLen = Uniform(7, 13), M = 2 * Uniform(2, 8);
      const Bytes key = Random(kl), nonce = Random(nonceLen), aad = Random(iter < 2 ? 65279 + iter : Uniform(0, 300));
      const Bytes pt = Random(len);
      const int tagLen = static_cast<int>(M);
      const Bytes ref = Evp(AesName("CCM", kl), key, nonce, pt, true, 0, nullptr, aad, tagLen);
      Bytes data = Concat(pt, Bytes(1)), tag(16);
      ASSERT_EQ(AESCCM_encrypt(static_cast<uint8_t>(M), static_cast<uint8_t>(15 - nonceLen), key.data(),
                               static_cast<int32_t>(kl), nonce.data(), data.data(), Len(pt),
                               aad.empty() ? nullptr : aad.data(), Len(aad), tag.data()),
                0);
      data.resize(len);
      ASSERT_EQ(ToHex(Concat(data, Bytes(tag.begin(), tag.begin() + M))), ToHex(ref));
    }
    for (size_t keyLen : {32, 64}) {
      BulkCtx enc = CreateAESXTSCtx(xtsKey.data(), static_cast<int32_t>(keyLen), 1);
      BulkCtx dec = CreateAESXTSCtx(xtsKey.data(), static_cast<int32_t>(keyLen), 0);
      for (size_t len = 16; len <= 65541; len = len < 300 ? len + 1 : len * 2 + 5) {
        const Bytes pt = Random(len), halves(xtsKey.begin(), xtsKey.begin() + keyLen);
        const Bytes ref = Evp(AesName("XTS", keyLen / 2), halves, tweak, pt, true);
        Bytes data = pt;
        ASSERT_EQ(DoAESXTS(enc, data.data(), Len(data), 1, tweak.data()), 0);
        ASSERT_EQ(ToHex(data), ToHex(ref)) << "length " << len;
        ASSERT_EQ(DoAESXTS(dec, data.data(), Len(data), 0, tweak.data()), 0);
        ASSERT_EQ(data, pt) << "length " << len;
      }
      DeleteAESXTSCtx(&enc);
      DeleteAESXTSCtx(&dec);
    }
  });
}

// Contexts share nothing and the kernel table is filled once, whichever
// threads ask for it first: threads each with their own contexts, started
// before anything else here, get the same results as one thread alone.
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
  std::vector<Bytes> results(4);
  std::vector<std::thread> threads;
  for (auto &r : results) threads.emplace_back(seal, &r);
  for (auto &t : threads) t.join();
  Bytes alone;
  seal(&alone);
  for (const auto &r : results) EXPECT_EQ(r, alone);
}

// Two- and three-key triple DES and RC2 (every key length from 1 to 128 bytes,
// random effective bits) through their suites in random whole-block pieces,
// the iv buffer carrying the chain. OpenSSL keeps RC2 in its legacy provider,
// loaded into a library context of its own so the process-wide default stays.
TEST_F(Differential, TripleDesAndRc2InRandomPieces) {
  OSSL_LIB_CTX *lib = OSSL_LIB_CTX_new();
  OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(lib, "legacy");
  struct Form {
    const char *evp;
    const CipherSuite *suite;
    uint32_t keyLen;  // 0: RC2, one more byte each round
  };
  const Form forms[] = {{"DES-EDE3-CBC", &CRYPTO_TripleDESSuite, 24}, {"DES-EDE-CBC", &CRYPTO_TwoKeyTripleDESSuite, 16},
                        {"RC2-CBC", &CRYPTO_RC2Suite, 0}, {"RC2-CBC", &CRYPTO_RC2EffectiveBitsSuite, 0}};
  for (uint32_t round = 0; round < 128; ++round)
    for (const Form &f : forms) {
      if (f.keyLen == 0 && legacy == nullptr) continue;  // no RC2 in this OpenSSL: said below
      const uint32_t keyLen = f.keyLen ? f.keyLen : round + 1;
      const bool effective = f.suite == &CRYPTO_RC2EffectiveBitsSuite;
      const int bits = effective ? static_cast<int>(Uniform(1, 1024)) : static_cast<int>(std::min(8 * keyLen, 1024u));
      const Bytes key = Random(keyLen), iv = Random(8), msg = Random(8 * Uniform(1, 40));
      OSSL_LIB_CTX *where = f.keyLen ? nullptr : lib;
      const Bytes want = Evp(f.evp, key, iv, msg, true, f.keyLen ? 0 : bits, where);
      for (int32_t dir : {1, 0}) {
        void *ctx = f.suite->createFunc(key.data(), keyLen, effective ? bits : dir);
        ASSERT_NE(ctx, nullptr);
        Bytes data = dir ? msg : want, chain = iv;
        InPieces(data, [&] { return 8 * Uniform(1, 5); },
                 [&](uint8_t *p, uint32_t n) { return f.suite->cipherFunc(ctx, p, n, dir, chain.data()); });
        ASSERT_EQ(ToHex(data), ToHex(dir ? want : msg)) << f.evp << " key " << ToHex(key) << " bits " << bits;
        ASSERT_EQ(ToHex(chain), ToHex(want.data() + want.size() - 8, 8));  // the last ciphertext block either way
        EXPECT_EQ(f.suite->deleteFunc(&ctx), 0);
      }
    }
  OSSL_PROVIDER_unload(legacy);
  OSSL_LIB_CTX_free(lib);
  if (legacy == nullptr) GTEST_SKIP() << "OpenSSL's legacy provider cannot be loaded: no RC2 comparison";
}

}  // namespace
}  // namespace kel::test

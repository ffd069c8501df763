// AES-CCM: the CAVP DVPT, VADT, VNT, VPT and VTT files, SP 800-38C and RFC
// 3610 examples and Wycheproof, through the one-call and the keyed forms.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sstream>

#include "kel/aes_modes.h"
#include "tests/crypto/cipher/cipher_test_util.h"
#include "tests/crypto/cipher/wycheproof.h"

namespace kel::test {
namespace {

class AesCcm : public CipherTest {};

// Encrypts (when the case is valid) and decrypts through both forms; a case
// that is not valid must be refused with `refusal`.
void CheckCcm(const Bytes &key, const Bytes &nonce, const Bytes &aad, const Bytes &pt, const Bytes &ct,
              const Bytes &tag, bool valid, int32_t refusal = ERR_AES_CCM_AUTH_FAIL) {
  const uint8_t M = static_cast<uint8_t>(tag.size());
  const uint8_t *a = aad.empty() ? nullptr : aad.data();
  Bytes buf = ct, outTag(16);
  const uint8_t *n = nonce.empty() ? outTag.data() : nonce.data();
  if (nonce.size() > 15) {
    // Beyond what a length field can describe: only the keyed form can be asked.
    BulkCtx ctx = AESCCM_createCtx(key.data(), static_cast<uint32_t>(key.size()), 0);
    Bytes joined = Concat(ct, tag);
    EXPECT_EQ(AESCCM_cipher(ctx, n, static_cast<uint32_t>(nonce.size()), a, static_cast<uint32_t>(aad.size()),
                            joined.data(), static_cast<uint32_t>(ct.size()), M, 0),
              ERR_INVALID_ARG);
    AESCCM_deleteCtx(&ctx);
    return;
  }
  const uint8_t L = static_cast<uint8_t>(15 - nonce.size());
  buf.reserve(ct.size() + 1);
  uint8_t *d = buf.data() != nullptr ? buf.data() : outTag.data();  // a valid pointer for empty data
  const int32_t s = AESCCM_decrypt(M, L, key.data(), static_cast<int32_t>(key.size()), n, d,
                                   static_cast<uint32_t>(ct.size()), a, static_cast<uint32_t>(aad.size()), tag.data());
  EXPECT_EQ(s, valid ? 0 : refusal);
  if (valid) {
    EXPECT_EQ(ToHex(buf), ToHex(pt));
  }
  // The keyed form keeps the tag after the data.
  BulkCtx ctx = AESCCM_createCtx(key.data(), static_cast<uint32_t>(key.size()), 0);
  ASSERT_NE(ctx, nullptr);
  Bytes joined = Concat(ct, tag);
  EXPECT_EQ(AESCCM_cipher(ctx, n, static_cast<uint32_t>(nonce.size()), a,
                          static_cast<uint32_t>(aad.size()), joined.data(), static_cast<uint32_t>(ct.size()), M, 0),
            valid ? 0 : refusal);
  if (valid) {
    buf = pt;
    d = buf.data() != nullptr ? buf.data() : outTag.data();
    ASSERT_EQ(AESCCM_encrypt(M, L, key.data(), static_cast<int32_t>(key.size()), n, d,
                             static_cast<uint32_t>(pt.size()), a, static_cast<uint32_t>(aad.size()), outTag.data()),
              0);
    EXPECT_EQ(ToHex(buf), ToHex(ct));
    EXPECT_EQ(ToHex(outTag.data(), M), ToHex(tag));
    joined = Concat(pt, Bytes(M));
    ASSERT_EQ(AESCCM_cipher(ctx, n, static_cast<uint32_t>(nonce.size()), a,
                            static_cast<uint32_t>(aad.size()), joined.data(), static_cast<uint32_t>(pt.size()), M, 1),
              0);
    EXPECT_EQ(ToHex(joined), ToHex(Concat(ct, tag)));
  }
  EXPECT_EQ(AESCCM_deleteCtx(&ctx), 0);
}

// CAVP CCM files keep Key, Nonce and the lengths in records and sections that
// hold for the records after them.
TEST_F(AesCcm, CavpFiles) {
  int checked = 0;
  ForEachPath([&] {
    for (const char *kind : {"DVPT", "VADT", "VNT", "VPT", "VTT"})
      for (const char *bits : {"128", "192", "256"}) {
        const std::string file = std::string("aes-ccm/") + kind + bits + ".rsp";
        SCOPED_TRACE(file);
        std::map<std::string, std::string> state;
        for (const auto &r : ReadRsp(file)) {
          // "[Alen = 0, Plen = 0, Nlen = 7, Tlen = 4]" arrives as one pair.
          for (const auto &[k, v] : r.section) {
            std::stringstream all(k + " = " + v);
            for (std::string item; std::getline(all, item, ',');) {
              const size_t eq = item.find('=');
              auto trim = [](std::string x) {
                x.erase(0, x.find_first_not_of(' '));
                x.erase(x.find_last_not_of(' ') + 1);
                return x;
              };
              state[trim(item.substr(0, eq))] = trim(item.substr(eq + 1));
            }
          }
          if (!r.Has("Count")) {
            for (const auto &[k, v] : r.fields) state[k] = v;
            continue;
          }
          auto get = [&](const std::string &k) { return r.Has(k) ? r.Get(k) : state[k]; };
          SCOPED_TRACE(r.line);
          const size_t alen = std::stoul(get("Alen")), plen = std::stoul(get("Plen")), tlen = std::stoul(get("Tlen"));
          const Bytes key = FromHex(get("Key")), nonce = FromHex(get("Nonce")), ctTag = FromHex(get("CT"));
          const Bytes aad = alen ? FromHex(get("Adata")) : Bytes{};
          const bool valid = !r.Has("Result") || r.Get("Result") == "Pass";
          const Bytes pt = valid && plen ? FromHex(get("Payload")) : Bytes{};
          ASSERT_EQ(ctTag.size(), plen + tlen);
          CheckCcm(key, nonce, aad, pt, Bytes(ctTag.begin(), ctTag.end() - tlen), Bytes(ctTag.end() - tlen, ctTag.end()),
                   valid);
          ++checked;
        }
      }
  });
  EXPECT_EQ(checked, 3 * 3 * (240 + 330 + 70 + 250 + 70));
}

TEST_F(AesCcm, PublishedExamples) {
  int checked = 0;
  ForEachPath([&] {
    for (const auto &r : ReadRsp("aes-ccm/rfc3610_aes_ccm.txt")) {
      CheckCcm(r.Hex("Key"), r.Hex("Nonce"), r.Hex("AAD"), r.Hex("Plaintext"), r.Hex("Ciphertext"), r.Hex("Tag"),
               r.Get("Result") == "PASS");
      ++checked;
    }
    for (const auto &r : ReadRsp("aes-ccm/sp800-38c_aes_ccm.txt")) {
      const Bytes ctTag = r.Hex("CT");
      const size_t tlen = std::stoul(r.Get("Tlen")) / 8;
      CheckCcm(r.Hex("Key"), r.Hex("Nonce"), r.Hex("Adata"), r.Hex("Payload"),
               Bytes(ctTag.begin(), ctTag.end() - tlen), Bytes(ctTag.end() - tlen, ctTag.end()), true);
      ++checked;
    }
  });
  EXPECT_GT(checked, 3 * 10);
}

TEST_F(AesCcm, Wycheproof) {
  const Json file = ReadJson("aes-ccm/aes_ccm_test.json");
  int valid = 0, refused = 0;
  ForEachWycheproof(file, [&](const Json &g, const Json &t) {
    const Bytes key = t["key"].Hex(), iv = t["iv"].Hex(), tag = t["tag"].Hex();
    const bool ok = t["result"].text == "valid";
    const size_t ivBytes = g["ivSize"].Int() / 8, tagBytes = g["tagSize"].Int() / 8;
    const bool shapeOk = ivBytes >= 7 && ivBytes <= 13 && tagBytes >= 4 && tagBytes % 2 == 0;
    if (ok) {
      ASSERT_TRUE(shapeOk);
    }
    CheckCcm(key, iv, t["aad"].Hex(), t["msg"].Hex(), t["ct"].Hex(), tag, ok,
             shapeOk ? ERR_AES_CCM_AUTH_FAIL : ERR_INVALID_ARG);
    (ok ? valid : refused)++;
  });
  EXPECT_EQ(valid, 405);
  EXPECT_EQ(refused, 147);
}

TEST_F(AesCcm, ParameterLimits) {
  const Bytes key(16, 9), nonce(13, 1);
  Bytes data(70000, 0x33), tag(16);
  auto enc = [&](uint8_t M, uint8_t L, uint32_t len) {
    return AESCCM_encrypt(M, L, key.data(), 16, nonce.data(), data.data(), len, nullptr, 0, tag.data());
  };
  for (uint8_t M : {3, 5, 18, 2, 0}) EXPECT_EQ(enc(M, 2, 16), ERR_INVALID_ARG) << int(M);
  for (uint8_t L : {1, 9, 0}) EXPECT_EQ(enc(8, L, 16), ERR_INVALID_ARG) << int(L);
  EXPECT_EQ(enc(8, 2, 65536), ERR_INVALID_ARG);
  EXPECT_EQ(enc(8, 2, 65535), 0);
  EXPECT_EQ(enc(16, 8, 17), 0);
  EXPECT_EQ(AESCCM_encrypt(8, 2, nullptr, 16, nonce.data(), data.data(), 1, nullptr, 0, tag.data()), ERR_NULL_POINTER);
  EXPECT_EQ(AESCCM_encrypt(8, 2, key.data(), 16, nonce.data(), data.data(), 1, nullptr, 5, tag.data()),
            ERR_NULL_POINTER);
  EXPECT_EQ(AESCCM_encrypt(8, 2, key.data(), 16, nonce.data(), data.data(), 1, nullptr, 0, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(AESCCM_encrypt(8, 2, key.data(), 15, nonce.data(), data.data(), 1, nullptr, 0, tag.data()),
            ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(AESCCM_cipher(nullptr, nonce.data(), 13, nullptr, 0, data.data(), 16, 8, 1), ERR_NULL_POINTER);
  EXPECT_EQ(AESCCM_createCtx(key.data(), 15, 1), nullptr);
}

// The two encodings of the additional-data length: 65279 bytes still take two
// bytes, 65280 take 0xFF 0xFE and four. OpenSSL is the oracle.
TEST_F(AesCcm, LongAdditionalDataEncodings) {
  const Bytes key(16, 0x21), nonce(12, 0x5c);
  for (uint32_t alen : {65279u, 65280u}) {
    Bytes aad(alen);
    for (size_t i = 0; i < aad.size(); ++i) aad[i] = static_cast<uint8_t>(i * 7);
    Bytes data(33, 0x44), tag(16);
    ASSERT_EQ(AESCCM_encrypt(16, 3, key.data(), 16, nonce.data(), data.data(), 33, aad.data(), alen, tag.data()), 0);
    Bytes ref(33, 0x44), refTag(16);
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    int n = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(c, EVP_aes_128_ccm(), nullptr, nullptr, nullptr), 1);
    EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_IVLEN, 12, nullptr);
    EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_SET_TAG, 16, nullptr);
    ASSERT_EQ(EVP_EncryptInit_ex(c, nullptr, nullptr, key.data(), nonce.data()), 1);
    EVP_EncryptUpdate(c, nullptr, &n, nullptr, 33);
    EVP_EncryptUpdate(c, nullptr, &n, aad.data(), static_cast<int>(alen));
    EVP_EncryptUpdate(c, ref.data(), &n, ref.data(), 33);
    EVP_EncryptFinal_ex(c, ref.data() + n, &n);
    EVP_CIPHER_CTX_ctrl(c, EVP_CTRL_AEAD_GET_TAG, 16, refTag.data());
    EVP_CIPHER_CTX_free(c);
    EXPECT_EQ(ToHex(data), ToHex(ref)) << alen;
    EXPECT_EQ(ToHex(tag), ToHex(refTag)) << alen;
  }
}

TEST_F(AesCcm, GateAndWipe) {
  const Bytes key(32, 1);
  {
    ReleaseWatch watch;
    BulkCtx ctx = AESCCM_createCtx(key.data(), 32, 1);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(AESCCM_deleteCtx(&ctx), 0);
    EXPECT_TRUE(ReleaseWatch::AllZeroed());
  }
  gFIPS_powerupStatus = -16501;
  EXPECT_EQ(AESCCM_createCtx(key.data(), 32, 1), nullptr);
  EXPECT_EQ(AESCCM_encrypt(0, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, 0, nullptr), -16501);
  EXPECT_EQ(AESCCM_decrypt(0, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, 0, nullptr), -16501);
  EXPECT_EQ(AESCCM_cipher(nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0), -16501);
  EXPECT_EQ(AESCCM_deleteCtx(nullptr), -16501);
}

}  // namespace
}  // namespace kel::test

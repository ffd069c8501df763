// AES-CCM: the RFC 3610 and SP 800-38C examples and Wycheproof through the
// one-call and the keyed forms on every code path (random shapes against
// OpenSSL: differential_test); the parameter limits.
#include <gtest/gtest.h>

#include <algorithm>

#include "kel/aes_modes.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class AesCcm : public CipherTest {};

// Encrypts (when the case is valid) and decrypts through both forms; a case
// that is not valid must be refused with `refusal`.
void CheckCcm(const Bytes &key, const Bytes &nonce, const Bytes &aad, const Bytes &pt, const Bytes &ct,
              const Bytes &tag, bool valid, int32_t refusal = ERR_AES_CCM_AUTH_FAIL) {
  const uint8_t M = static_cast<uint8_t>(tag.size());
  const uint32_t keyLen = static_cast<uint32_t>(key.size()), nonceLen = static_cast<uint32_t>(nonce.size());
  const uint32_t aadLen = static_cast<uint32_t>(aad.size());
  const uint8_t *a = aad.empty() ? nullptr : aad.data();
  Bytes spare(16), outTag(16), buf = ct;
  auto ptr = [&](Bytes &b) { return b.empty() ? spare.data() : b.data(); };  // a valid pointer for empty data
  const uint8_t *n = nonce.empty() ? spare.data() : nonce.data();
  const uint8_t L = static_cast<uint8_t>(15 - std::min(nonceLen, 15u));
  if (nonceLen <= 15) {  // beyond what a length field can describe only the keyed form can be asked
    EXPECT_EQ(AESCCM_decrypt(M, L, key.data(), static_cast<int32_t>(keyLen), n, ptr(buf),
                             static_cast<uint32_t>(ct.size()), a, aadLen, tag.data()),
              valid ? 0 : refusal);
    if (valid) {
      EXPECT_EQ(ToHex(buf), ToHex(pt));
    }
  }
  // The keyed form keeps the tag after the data.
  BulkCtx ctx = AESCCM_createCtx(key.data(), keyLen, 0);
  ASSERT_NE(ctx, nullptr);
  Bytes joined = Concat(ct, tag);
  EXPECT_EQ(AESCCM_cipher(ctx, n, nonceLen, a, aadLen, joined.data(), static_cast<uint32_t>(ct.size()), M, 0),
            valid ? 0 : refusal);
  if (valid) {
    buf = pt;
    ASSERT_EQ(AESCCM_encrypt(M, L, key.data(), static_cast<int32_t>(keyLen), n, ptr(buf),
                             static_cast<uint32_t>(pt.size()), a, aadLen, outTag.data()),
              0);
    EXPECT_EQ(ToHex(buf), ToHex(ct));
    EXPECT_EQ(ToHex(outTag.data(), M), ToHex(tag));
    joined = Concat(pt, Bytes(M));
    ASSERT_EQ(AESCCM_cipher(ctx, n, nonceLen, a, aadLen, joined.data(), static_cast<uint32_t>(pt.size()), M, 1), 0);
    EXPECT_EQ(ToHex(joined), ToHex(Concat(ct, tag)));
  }
  EXPECT_EQ(AESCCM_deleteCtx(&ctx), 0);
}

// RFC 3610, SP 800-38C and Wycheproof; a Wycheproof case of a shape CCM does
// not allow is refused as an argument, not as a failed tag.
TEST_F(AesCcm, PublishedExamplesAndWycheproof) {
  int checked = 0, refused = 0;
  const int paths = ForEachCpuPath([&] {
    for (const auto &r : ReadRsp("aes-ccm/rfc3610_aes_ccm.txt")) {
      CheckCcm(r.Hex("Key"), r.Hex("Nonce"), r.Hex("AAD"), r.Hex("Plaintext"), r.Hex("Ciphertext"), r.Hex("Tag"),
               r.Get("Result") == "PASS");
      ++checked;
    }
    for (const auto &r : ReadRsp("aes-ccm/sp800-38c_aes_ccm.txt")) {
      const Bytes ctTag = r.Hex("CT");
      const size_t tlen = std::stoul(r.Get("Tlen")) / 8;
      CheckCcm(r.Hex("Key"), r.Hex("Nonce"), r.Hex("Adata"), r.Hex("Payload"), Bytes(ctTag.begin(), ctTag.end() - tlen),
               Bytes(ctTag.end() - tlen, ctTag.end()), true);
      ++checked;
    }
    for (const auto &t : ReadWycheproof("aes-ccm/aes_ccm_test.json")) {
      SCOPED_TRACE("tcId " + t.at("tcId") + " " + t.at("comment"));
      const bool ok = t.at("result") == "valid";
      const size_t ivBytes = std::stoul(t.at("ivSize")) / 8, tagBytes = std::stoul(t.at("tagSize")) / 8;
      const bool shapeOk = ivBytes >= 7 && ivBytes <= 13 && tagBytes >= 4 && tagBytes % 2 == 0;
      ASSERT_TRUE(shapeOk || !ok);
      CheckCcm(FromHex(t.at("key")), FromHex(t.at("iv")), FromHex(t.at("aad")), FromHex(t.at("msg")),
               FromHex(t.at("ct")), FromHex(t.at("tag")), ok, shapeOk ? ERR_AES_CCM_AUTH_FAIL : ERR_INVALID_ARG);
      ++checked;
      refused += !ok;
    }
  });
  EXPECT_EQ(checked, paths * (9 + 15 + 552));
  EXPECT_EQ(refused, paths * 147);
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

}  // namespace
}  // namespace kel::test

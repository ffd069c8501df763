// Published vectors: NIST CAVP TDES KAT and MMT (ECB and CBC), RFC 2268 RC2.
#include <gtest/gtest.h>

#include "kel/des.h"
#include "kel/rc2.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class DesVectors : public CipherTest, public ::testing::WithParamInterface<const char *> {};

// ECB through the block functions (in place), and through single DES when the
// three keys are one; CBC through the context and through the suite, the iv
// left holding the last ciphertext block.
TEST_P(DesVectors, EcbAndCbc) {
  for (const char *mode : {"TECB", "TCBC"}) {
    const std::string file = std::string("tdes/") + mode + GetParam() + ".rsp";
    for (const auto &r : ReadRsp(file)) {
      SCOPED_TRACE(file + ":" + std::to_string(r.line));
      const bool encrypt = r.section.count("ENCRYPT") != 0;
      Bytes key;  // k1 || k2 || k3; keying option 3 gives one key for all three
      for (const char *name : {"KEY1", "KEY2", "KEY3"}) key = Concat(key, r.Hex(r.Has("KEYs") ? "KEYs" : name));
      const Bytes in = r.Hex(encrypt ? "PLAINTEXT" : "CIPHERTEXT"), out = r.Hex(encrypt ? "CIPHERTEXT" : "PLAINTEXT");
      const uint32_t len = static_cast<uint32_t>(in.size());
      Bytes data = in;
      if (std::string(mode) == "TECB") {
        TripleDesContext ctx;
        ASSERT_EQ(THREE_DES_initKey(&ctx, key.data(), 24), 0);
        ASSERT_EQ((encrypt ? THREE_DES_encipher : THREE_DES_decipher)(&ctx, data.data(), data.data(), len), 0);
        EXPECT_EQ(ToHex(data), ToHex(out));
        if (std::equal(key.begin(), key.begin() + 16, key.begin() + 8)) {
          DesContext des;
          ASSERT_EQ(DES_initKey(&des, key.data(), 8), 0);
          ASSERT_EQ((encrypt ? DES_encipher : DES_decipher)(&des, in.data(), data.data(), len), 0);
          EXPECT_EQ(ToHex(data), ToHex(out));
        }
        continue;
      }
      void *ctx = Create3DESCtx(key.data(), 24, encrypt);
      ASSERT_NE(ctx, nullptr);
      Bytes iv = r.Hex("IV");
      ASSERT_EQ(Do3DES(ctx, data.data(), len, encrypt, iv.data()), 0);
      EXPECT_EQ(ToHex(data), ToHex(out));
      EXPECT_EQ(ToHex(iv), ToHex(encrypt ? out : in).substr(2 * (len - 8)));
      ASSERT_EQ(Delete3DESCtx(&ctx), 0);
      EXPECT_EQ(ctx, nullptr);
      data = in;
      iv = r.Hex("IV");
      ASSERT_EQ(CRYPTO_Process(&CRYPTO_TripleDESSuite, key.data(), 24, iv.data(), data.data(), len, encrypt), 0);
      EXPECT_EQ(data, out);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cavp, DesVectors,
                         ::testing::Values("invperm", "permop", "subtab", "varkey", "vartext", "MMT1", "MMT2", "MMT3"));

class Rc2Vectors : public CipherTest {};

TEST_F(Rc2Vectors, Rfc2268) {
  const auto records = ReadRsp("rc2/rfc2268_rc2.rsp");
  ASSERT_EQ(records.size(), 8u);
  for (const auto &r : records) {
    const Bytes key = r.Hex("Key"), pt = r.Hex("Plaintext"), ct = r.Hex("Ciphertext");
    const uint32_t keyLength = static_cast<uint32_t>(key.size());
    const int32_t bits = std::stoi(r.Get("EffectiveBits"));
    SCOPED_TRACE("key " + ToHex(key) + " bits " + std::to_string(bits));
    ASSERT_EQ(std::to_string(keyLength), r.Get("KeyBytes"));
    Rc2Context ctx;
    ASSERT_EQ(rc2_keyschedule(&ctx, key.data(), keyLength, static_cast<uint32_t>(bits)), 0);
    uint8_t block[8];
    ASSERT_EQ(rc2_encrypt(&ctx, pt.data(), block), 0);
    EXPECT_EQ(ToHex(block, 8), ToHex(ct));
    ASSERT_EQ(rc2_decrypt(&ctx, block, block), 0);
    EXPECT_EQ(ToHex(block, 8), ToHex(pt));

    // One block of CBC with a zero iv is ECB: the suite with effective bits,
    // and the plain suite (effective bits = key length x 8) where they agree.
    Bytes data = pt, iv(8, 0);
    ASSERT_EQ(CRYPTO_Process(&CRYPTO_RC2EffectiveBitsSuite, key.data(), keyLength, iv.data(), data.data(), 8, bits), 0);
    EXPECT_EQ(data, ct);
    if (static_cast<uint32_t>(bits) == 8 * keyLength) {
      iv.assign(8, 0);
      ASSERT_EQ(CRYPTO_Process(&CRYPTO_RC2Suite, key.data(), keyLength, iv.data(), data.data(), 8, 0), 0);
      EXPECT_EQ(data, pt);
    }
  }
}

}  // namespace
}  // namespace kel::test

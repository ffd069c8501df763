// DES, triple DES and RC2: the NIST CAVP TDES KAT and MMT files (ECB and
// CBC) and RFC 2268 RC2, then statuses and bad input.
#include "kel/des.h"
#include "kel/rc2.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class DesVectors : public CipherTest, public ::testing::WithParamInterface<const char *> {};

// ECB through the block functions, in place and with the gate closed (they are
// not behind it), and through single DES when the three keys are one; CBC through
// the context, the iv left holding the last ciphertext block. On every round path.
TEST_P(DesVectors, EcbAndCbc) {
  ForEachCpuPath([&] {
    for (const char *mode : {"TECB", "TCBC"}) {
      gFIPS_powerupStatus = std::string(mode) == "TECB" ? ERR_FIPS_SELFTEST_NOT_RUN : 0;
      const std::string file = std::string("tdes/") + mode + GetParam() + ".rsp";
      for (const auto &r : ReadRsp(file)) {
        SCOPED_TRACE(file + ":" + std::to_string(r.line));
        const bool encrypt = r.section.count("ENCRYPT") != 0;
        Bytes key;  // k1 || k2 || k3; keying option 3 gives one key for all three
        for (const char *name : {"KEY1", "KEY2", "KEY3"}) key = Concat(key, r.Hex(r.Has("KEYs") ? "KEYs" : name));
        const Bytes in = r.Hex(encrypt ? "PLAINTEXT" : "CIPHERTEXT"), out = r.Hex(encrypt ? "CIPHERTEXT" : "PLAINTEXT");
        const uint32_t len = Len(in);
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
      }
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Cavp, DesVectors,
                         ::testing::Values("invperm", "permop", "subtab", "varkey", "vartext", "MMT1", "MMT2", "MMT3"));

class Des : public CipherTest {};

TEST_F(Des, Rc2Rfc2268) {
  const auto records = ReadRsp("rc2/rfc2268_rc2.rsp");
  ASSERT_EQ(records.size(), 8u);
  for (const auto &r : records) {
    const Bytes key = r.Hex("Key"), pt = r.Hex("Plaintext"), ct = r.Hex("Ciphertext");
    const uint32_t keyLength = Len(key);
    const int32_t bits = std::stoi(r.Get("EffectiveBits"));
    SCOPED_TRACE("key " + ToHex(key) + " bits " + std::to_string(bits));
    Rc2Context ctx;
    ASSERT_EQ(rc2_keyschedule(&ctx, key.data(), keyLength, static_cast<uint32_t>(bits)), 0);
    uint8_t block[8];
    ASSERT_EQ(rc2_encrypt(&ctx, pt.data(), block), 0);
    EXPECT_EQ(ToHex(block, 8), ToHex(ct));
    ASSERT_EQ(rc2_decrypt(&ctx, block, block), 0);
    EXPECT_EQ(ToHex(block, 8), ToHex(pt));
  }
}

const Bytes kKey24 = FromHex("0123456789abcdef23456789abcdef01456789abcdef0123");

TEST_F(Des, BadLengthsAndNullsLeaveDataAlone) {
  DesContext des;
  TripleDesContext tdes;
  Rc2Context rc2;
  EXPECT_EQ(DES_initKey(&des, kKey24.data(), 7), ERR_DES_BAD_KEY_LENGTH);
  EXPECT_EQ(DES_initKey(nullptr, kKey24.data(), 8), ERR_NULL_POINTER);
  EXPECT_EQ(THREE_DES_initKey(&tdes, kKey24.data(), 16), ERR_3DES_BAD_KEY_LENGTH);
  EXPECT_EQ(THREE_DES_initKey(&tdes, nullptr, 24), ERR_NULL_POINTER);
  ASSERT_EQ(DES_initKey(&des, kKey24.data(), 8), 0);
  ASSERT_EQ(THREE_DES_initKey(&tdes, kKey24.data(), 24), 0);
  ASSERT_EQ(rc2_keyschedule(&rc2, kKey24.data(), 8, 64), 0);

  const Bytes in = Random(16);
  Bytes out(16, 0xee);
  const Bytes untouched = out;
  for (auto fn : {DES_encipher, DES_decipher}) {
    EXPECT_EQ(fn(&des, in.data(), out.data(), 12), ERR_DES_BAD_DATA_LENGTH);
    EXPECT_EQ(fn(&des, in.data(), nullptr, 8), ERR_NULL_POINTER);
    EXPECT_EQ(fn(&des, in.data(), out.data(), 0), 0);
  }
  for (auto fn : {THREE_DES_encipher, THREE_DES_decipher}) {
    EXPECT_EQ(fn(&tdes, in.data(), out.data(), 12), ERR_DES_BAD_DATA_LENGTH);
    EXPECT_EQ(fn(&tdes, nullptr, out.data(), 8), ERR_NULL_POINTER);
  }
  EXPECT_EQ(out, untouched);
  EXPECT_EQ(rc2_encrypt(nullptr, in.data(), out.data()), ERR_NULL_POINTER);
  EXPECT_EQ(rc2_decrypt(&rc2, in.data(), nullptr), ERR_NULL_POINTER);

  // The contexts: a partial block or a null buffer is refused, a null context
  // is nothing to do, and so is releasing one already released.
  uint8_t iv[8] = {};
  Bytes data = in;
  for (auto [suite, keyLen, badLength] : {std::tuple{&CRYPTO_TripleDESSuite, 24u, ERR_3DES_BAD_DATA_LENGTH},
                                          {&CRYPTO_RC2Suite, 8u, ERR_RC2_BAD_DATA_LENGTH}}) {
    void *ctx = suite->createFunc(kKey24.data(), keyLen, 1);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(suite->cipherFunc(ctx, data.data(), 12, 1, iv), badLength);
    EXPECT_EQ(suite->cipherFunc(ctx, data.data(), 8, 1, nullptr), ERR_NULL_POINTER);
    EXPECT_EQ(suite->cipherFunc(ctx, nullptr, 8, 1, iv), ERR_NULL_POINTER);
    EXPECT_EQ(suite->cipherFunc(nullptr, data.data(), 16, 1, iv), 0);
    EXPECT_EQ(suite->deleteFunc(nullptr), ERR_NULL_POINTER);
    EXPECT_EQ(suite->deleteFunc(&ctx), 0);
    EXPECT_EQ(suite->deleteFunc(&ctx), 0);
  }
  EXPECT_EQ(data, in);
}

TEST_F(Des, CreateRefusesBadKeys) {
  const Bytes key = Random(200);
  EXPECT_EQ(Create3DESCtx(nullptr, 24, 1), nullptr);
  for (uint32_t n : {0u, 16u, 23u, 25u}) EXPECT_EQ(Create3DESCtx(key.data(), n, 1), nullptr) << n;
  for (uint32_t n : {0u, 15u, 17u, 24u}) EXPECT_EQ(Create2Key3DESCtx(key.data(), n, 1), nullptr) << n;

  // RC2 keys of 0 or more than 128 bytes, effective bits outside 0..1024.
  Rc2Context rc2;
  for (auto [len, bits] : {std::pair{0u, 64}, {129u, 64}, {129u, 0}, {16u, 1025}}) {
    EXPECT_EQ(rc2_keyschedule(&rc2, key.data(), len, static_cast<uint32_t>(bits)), ERR_RC2_BAD_KEY_LENGTH) << len;
    EXPECT_EQ(CreateRC2Ctx2(key.data(), len, bits), nullptr) << len << " " << bits;
  }
  EXPECT_EQ(rc2_keyschedule(&rc2, nullptr, 16, 64), ERR_NULL_POINTER);
  EXPECT_EQ(CreateRC2Ctx2(key.data(), 16, -1), nullptr);
  EXPECT_EQ(CreateRC2Ctx(key.data(), 0x20000001u, 1), nullptr);  // key length x 8 would wrap

  // 128-byte keys and effective bits 0 (= 1024) are the upper limits.
  void *ctx = CreateRC2Ctx(key.data(), 128, 1);
  void *ctx1024 = CreateRC2Ctx2(key.data(), 128, 0);
  ASSERT_TRUE(ctx && ctx1024);
  EXPECT_EQ(0, memcmp(ctx, ctx1024, sizeof(Rc2Context)));
  DeleteRC2Ctx(&ctx);
  DeleteRC2Ctx(&ctx1024);
}

// A 3DES context keys only the half for its direction: the other is refused;
// any nonzero direction means encryption.
TEST_F(Des, WrongDirectionIsRefused) {
  const Bytes copy = Random(32);
  for (int32_t made : {0, 1, -7}) {
    Bytes data = copy, iv(8), ivCopy = iv;
    void *ctx = Create3DESCtx(kKey24.data(), 24, made);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(Do3DES(ctx, data.data(), 32, !made, iv.data()), ERR_3DES_WRONG_DIRECTION);
    EXPECT_EQ(data, copy);
    EXPECT_EQ(iv, ivCopy);
    EXPECT_EQ(Do3DES(ctx, data.data(), 32, made ? 2 : 0, iv.data()), 0);
    Delete3DESCtx(&ctx);
  }
}

}  // namespace
}  // namespace kel::test

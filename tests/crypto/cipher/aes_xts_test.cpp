// XTS-AES: IEEE 1619 Appendix B and the CAVP XTSGen files (ciphertext
// stealing included), limits, directions and refusals, on every code path.
#include <gtest/gtest.h>

#include "kel/aes_modes.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class AesXts : public CipherTest {};

void CheckXts(const Bytes &key, const Bytes &tweak, const Bytes &pt, const Bytes &ct) {
  for (int encrypt : {1, 0}) {
    BulkCtx ctx = CreateAESXTSCtx(key.data(), static_cast<int32_t>(key.size()), encrypt);
    ASSERT_NE(ctx, nullptr);
    Bytes data = encrypt ? pt : ct, tw = tweak;
    ASSERT_EQ(DoAESXTS(ctx, data.data(), static_cast<uint32_t>(data.size()), encrypt, tw.data()), 0);
    EXPECT_EQ(ToHex(data), ToHex(encrypt ? ct : pt)) << (encrypt ? "encrypt" : "decrypt");
    EXPECT_EQ(tw, tweak);  // the tweak buffer is an input only
    EXPECT_EQ(DeleteAESXTSCtx(&ctx), 0);
  }
}

// The CAVP records in whole bytes only (800 + 600).
TEST_F(AesXts, Ieee1619AndCavpVectors) {
  int checked = 0;
  const int paths = ForEachCpuPath([&] {
    for (const auto &r : ReadRsp("aes-xts/ieee1619_xts_aes.txt")) {
      SCOPED_TRACE("vector " + r.Get("Vector"));
      CheckXts(Concat(r.Hex("Key1"), r.Hex("Key2")), r.Hex("Tweak"), r.Hex("Plaintext"), r.Hex("Ciphertext"));
      ++checked;
    }
    for (const char *file : {"aes-xts/XTSGenAES128.rsp", "aes-xts/XTSGenAES256.rsp"})
      for (const auto &r : ReadRsp(file)) {
        if (std::stoul(r.Get("DataUnitLen")) % 8 != 0) continue;
        SCOPED_TRACE(std::string(file) + ":" + std::to_string(r.line));
        CheckXts(r.Hex("Key"), r.Hex("i"), r.Hex("PT"), r.Hex("CT"));
        ++checked;
      }
  });
  EXPECT_EQ(checked, paths * (19 + 1400));
}

TEST_F(AesXts, LimitsKeysAndDirections) {
  const Bytes key(64, 0x3c), tweak(16, 1);
  EXPECT_EQ(CreateAESXTSCtx(key.data(), 33, 1), nullptr);  // odd: no two halves
  EXPECT_EQ(CreateAESXTSCtx(key.data(), 40, 1), nullptr);  // 20-byte halves
  EXPECT_EQ(CreateAESXTSCtx(key.data(), 0, 1), nullptr);
  EXPECT_EQ(CreateAESXTSCtx(nullptr, 32, 1), nullptr);
  AesXtsContext x;
  EXPECT_EQ(AESXTSInit(&x, key.data(), key.data(), 20, 1), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(AESXTSInit(&x, key.data(), nullptr, 16, 1), ERR_NULL_POINTER);
  BulkCtx enc = CreateAESXTSCtx(key.data(), 48, 1);
  ASSERT_NE(enc, nullptr);
  auto *ctx = static_cast<AesXtsContext *>(enc);
  Bytes big((1u << 24) + 1, 0x77);
  EXPECT_EQ(AESXTSEncrypt(ctx, tweak.data(), big.data(), 15), ERR_INVALID_ARG);
  EXPECT_EQ(AESXTSEncrypt(ctx, tweak.data(), big.data(), (1u << 24) + 1), ERR_INVALID_ARG);
  EXPECT_EQ(big[0], 0x77);
  EXPECT_EQ(AESXTSEncrypt(ctx, tweak.data(), big.data(), 1u << 24), 0);
  EXPECT_EQ(AESXTSDecrypt(ctx, tweak.data(), big.data(), 32), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(AESXTSEncrypt(nullptr, tweak.data(), big.data(), 32), ERR_NULL_POINTER);
  EXPECT_EQ(AESXTSEncrypt(ctx, nullptr, big.data(), 32), ERR_NULL_POINTER);
  EXPECT_EQ(DeleteAESXTSCtx(&enc), 0);
}

}  // namespace
}  // namespace kel::test

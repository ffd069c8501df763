// AES counter mode: SP 800-38A F.5 and RFC 3686 vectors in every split, the
// counter widths, the file-position form and the refusals.
#include <gtest/gtest.h>

#include "kel/aes_modes.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class AesCtr : public CipherTest {};

TEST_F(AesCtr, Sp80038aF5InEverySplitAndRfc3686) {
  int checked = 0;
  const int paths = ForEachCpuPath([&] {
    for (const auto &r : ReadRsp("aes/sp800-38a_aes_modes.txt")) {
      if (r.section.begin()->first.rfind("CTR-", 0) != 0) continue;
      const Bytes material = Concat(r.Hex("Key"), r.Hex("InitialCounterBlock"));
      const Bytes pt = r.Hex("Plaintext"), ct = r.Hex("Ciphertext");
      for (size_t piece : {pt.size(), size_t{1}, size_t{17}}) {
        BulkCtx ctx = CreateAESCTRCtx(material.data(), static_cast<uint32_t>(material.size()), 1);
        ASSERT_NE(ctx, nullptr);
        Bytes data = pt;
        for (size_t off = 0; off < data.size(); off += piece)
          ASSERT_EQ(
              DoAESCTR(ctx, data.data() + off, static_cast<uint32_t>(std::min(piece, data.size() - off)), 1, nullptr),
              0);
        EXPECT_EQ(ToHex(data), ToHex(ct)) << "piece " << piece;
        EXPECT_EQ(DeleteAESCTRCtx(&ctx), 0);
      }
      // Through the suite: decryption is the same operation.
      Bytes data = ct;
      ASSERT_EQ(CRYPTO_Process(&CRYPTO_AESCtrSuite, material.data(), static_cast<uint32_t>(material.size()), nullptr,
                               data.data(), static_cast<uint32_t>(data.size()), 0),
                0);
      EXPECT_EQ(data, pt);
      ++checked;
    }
    // RFC 3686 through the nonce form.
    for (const auto &r : ReadRsp("aes-ctr/rfc3686_aes_ctr.txt")) {
      const Bytes material = Concat(r.Hex("Key"), r.Hex("Nonce"));
      BulkCtx ctx = CreateAesCtrCtx(material.data(), static_cast<uint32_t>(material.size()), 1);
      ASSERT_NE(ctx, nullptr);
      Bytes data = r.Hex("Plaintext");
      ASSERT_EQ(DoAesCtr(ctx, data.data(), static_cast<int32_t>(data.size()), 1, r.Hex("IV").data()), 0);
      EXPECT_EQ(ToHex(data), ToHex(r.Hex("Ciphertext")));
      EXPECT_EQ(DeleteAESCTRCtx(&ctx), 0);
      ++checked;
    }
  });
  EXPECT_EQ(checked, paths * 12);  // 3 of SP 800-38A, 9 of RFC 3686
}

TEST_F(AesCtr, CounterWidthDecidesHowFarTheCarryRuns) {
  const Bytes key(16, 7);
  // Wraps of the low word, of the low 64 bits and of the whole block, each
  // inside a run: the carry must reach exactly as far as the width.
  for (const char *hex :
       {"000102030405060708090a0bffffffff", "0001020304050607fffffffffffffffe", "fffffffffffffffffffffffffffffffd"}) {
    SCOPED_TRACE(hex);
    const Bytes start = FromHex(hex);
    ForEachCpuPath([&] {
      for (int width : {4, 16, 0, 1, 8, 9}) {
        AesCtrContext ctx;
        ASSERT_EQ(AESCTRInit(&ctx, key.data(), 16, start.data()), 0);
        Bytes data(16 * 40, 0);  // long enough for the eight-block paths
        ASSERT_EQ(DoAESCTREx(&ctx, data.data(), static_cast<int32_t>(data.size()), 1, nullptr, width), 0);
        // Expected keystream: block i encrypts the counter advanced i times.
        Bytes counter = start;
        for (int i = 0; i < 40; ++i) {
          uint8_t ks[16];
          aesEncrypt(ctx.aes.roundKeys, ctx.aes.rounds, counter.data(), ks);
          ASSERT_EQ(ToHex(ks, 16), ToHex(data.data() + 16 * i, 16)) << "width " << width << " block " << i;
          aes::increment_counter(counter.data(), width);
        }
        EXPECT_EQ(ToHex(ctx.counterBlock, 16), ToHex(counter));
      }
    });
  }
}

TEST_F(AesCtr, FilePositionsGiveSlicesOfOneKeystream) {
  const Bytes material = Concat(Bytes(32, 0x42), Bytes(16, 0));
  const Bytes nonce = FromHex("a0a1a2a3a4a5a6a7a8a9aaab");
  ForEachCpuPath([&] {
    BulkCtx ctx = CreateAESCTRCtx(material.data(), 48, 1);
    ASSERT_NE(ctx, nullptr);
    Bytes whole(300, 0);
    ASSERT_EQ(DoAESCTRFileIo(ctx, whole.data(), 300, 1, nonce.data(), 0), 0);
    // Position 0 is the counter block nonce || 0.
    const Bytes start = Concat(Bytes(32, 0x42), Concat(nonce, Bytes(4, 0)));
    BulkCtx plain = CreateAESCTRCtx(start.data(), 48, 1);
    Bytes stream(300, 0);
    ASSERT_EQ(DoAESCTR(plain, stream.data(), 300, 1, nullptr), 0);
    EXPECT_EQ(ToHex(whole), ToHex(stream));
    DeleteAESCTRCtx(&plain);
    for (uint32_t pos : {0u, 15u, 16u, 17u, 200u}) {
      Bytes part(50, 0);
      ASSERT_EQ(DoAESCTRFileIo(ctx, part.data(), 50, 1, nonce.data(), pos), 0);
      EXPECT_EQ(ToHex(part), ToHex(whole.data() + pos, 50)) << pos;
    }
    EXPECT_EQ(DeleteAESCTRCtx(&ctx), 0);
  });
}

TEST_F(AesCtr, RefusesBadInput) {
  const Bytes material(48, 3);
  EXPECT_EQ(CreateAESCTRCtx(material.data(), 16, 1), nullptr);  // no key before the counter block
  EXPECT_EQ(CreateAESCTRCtx(material.data(), 33, 1), nullptr);  // 17-byte key
  EXPECT_EQ(CreateAesCtrCtx(material.data(), 4, 1), nullptr);   // nonce only
  EXPECT_EQ(CreateAesCtrCtx(material.data(), 21, 1), nullptr);
  EXPECT_EQ(CreateAESCTRCtx(nullptr, 32, 1), nullptr);
  uint8_t data[4] = {};
  EXPECT_EQ(DoAESCTREx(nullptr, data, 4, 1, nullptr, 16), ERR_NULL_POINTER);
  BulkCtx ctx = CreateAESCTRCtx(material.data(), 32, 1);
  ASSERT_NE(ctx, nullptr);
  EXPECT_EQ(DoAESCTREx(ctx, data, 4, 1, nullptr, 17), ERR_INVALID_ARG);
  EXPECT_EQ(DoAESCTREx(ctx, nullptr, 4, 1, nullptr, 16), ERR_NULL_POINTER);
  EXPECT_EQ(DoAESCTREx(ctx, data, -5, 1, nullptr, 16), 0);
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(DoAesCtr(ctx, data, 4, 1, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(DoAESCTRFileIo(ctx, data, 4, 1, nullptr, 0), ERR_NULL_POINTER);
  AesCtrContext init;
  EXPECT_EQ(AESCTRInit(&init, material.data(), 20, material.data()), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(DeleteAESCTRCtx(&ctx), 0);
}

}  // namespace
}  // namespace kel::test

// AES core and the ECB, CBC, CFB-128 and OFB modes against FIPS 197, SP
// 800-38A and the CAVP KAT and MMT files, on every code path.
#include <gtest/gtest.h>

#include "crypto/common/alloc.h"
#include "kel/aes.h"
#include "kel/debug_console.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

using Create = BulkCtx (*)(const uint8_t *, uint32_t, int32_t);

struct ModeInfo {
  const char *prefix;  // CAVP file prefix and SP 800-38A section prefix
  Create create;
  bool ecb;
};
constexpr ModeInfo kModes[] = {
    {"ECB", CreateAESECBCtx, true},
    {"CBC", CreateAESCtx, false},
    {"CFB128", CreateAESCFBCtx, false},
    {"OFB", CreateAESOFBCtx, false},
};

// Encrypts and decrypts through a heap context, in one call and in calls of
// one block each (the iv buffer carries the chain), in place.
void CheckMode(const ModeInfo &m, const Bytes &key, const Bytes &iv, const Bytes &pt, const Bytes &ct) {
  for (int encrypt : {1, 0}) {
    SCOPED_TRACE(encrypt ? "encrypt" : "decrypt");
    BulkCtx ctx = m.create(key.data(), static_cast<uint32_t>(key.size()), encrypt);
    ASSERT_NE(ctx, nullptr);
    const Bytes &in = encrypt ? pt : ct;
    const Bytes &want = encrypt ? ct : pt;
    for (size_t piece : {in.size(), size_t{16}}) {
      Bytes data = in, chain = iv.empty() ? Bytes(16) : iv;
      for (size_t off = 0; off < data.size(); off += piece)
        ASSERT_EQ(DoAES(ctx, data.data() + off, static_cast<uint32_t>(piece), encrypt, chain.data()), 0);
      EXPECT_EQ(ToHex(data), ToHex(want)) << "piece " << piece;
    }
    EXPECT_EQ(DeleteAESCtx(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
  }
}

class AesVectors : public CipherTest {};

TEST_F(AesVectors, Fips197AppendixCThroughCoreAndEcb) {
  auto records = ReadRsp("aes/fips197_appendix_c.txt");
  ASSERT_EQ(records.size(), 3u);
  ForEachPath([&] {
    for (const auto &r : records) {
      const Bytes key = r.Hex("Key"), pt = r.Hex("Plaintext"), ct = r.Hex("Ciphertext");
      const int bits = static_cast<int>(key.size() * 8);
      uint32_t rk[60], rkd[60];
      ASSERT_EQ(aesKeySetupEnc(rk, key.data(), bits), bits / 32 + 6);
      ASSERT_EQ(aesKeySetupDec(rkd, key.data(), bits), bits / 32 + 6);
      uint8_t out[16];
      aesEncrypt(rk, bits / 32 + 6, pt.data(), out);
      EXPECT_EQ(ToHex(out, 16), ToHex(ct));
      aesDecrypt(rkd, bits / 32 + 6, out, out);  // in place
      EXPECT_EQ(ToHex(out, 16), ToHex(pt));
      CheckMode(kModes[0], key, {}, pt, ct);
    }
  });
}

TEST_F(AesVectors, HardwareAndTableSchedulesAgree) {
  const Bytes key = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  for (int bits : {128, 192, 256}) {
    uint32_t a[60] = {}, b[60] = {};
    cpu::restrict_to(0);
    aesKeySetupDec(a, key.data(), bits);
    cpu::restrict_to(~0u);
    aesKeySetupDec(b, key.data(), bits);
    EXPECT_EQ(0, std::memcmp(a, b, sizeof a)) << bits;
    EXPECT_EQ(aesKeySetupEnc(a, key.data(), 160), 0);
  }
}

TEST_F(AesVectors, Sp80038aExamples) {
  auto records = ReadRsp("aes/sp800-38a_aes_modes.txt");
  int checked = 0;
  ForEachPath([&] {
    for (const auto &r : records) {
      const std::string section = r.section.begin()->first;
      for (const auto &m : kModes) {
        if (section.rfind(std::string(m.prefix) + "-", 0) != 0) continue;
        SCOPED_TRACE(section);
        CheckMode(m, r.Hex("Key"), m.ecb ? Bytes{} : r.Hex("IV"), r.Hex("Plaintext"), r.Hex("Ciphertext"));
        ++checked;
      }
    }
  });
  EXPECT_EQ(checked, 12 * 3);
}

TEST_F(AesVectors, CavpKnownAnswerAndMultiblockFiles) {
  int checked = 0;
  ForEachPath([&] {
    for (const auto &m : kModes) {
      std::vector<std::string> kinds = {"GFSbox", "KeySbox", "MMT"};
      if (m.ecb || std::string(m.prefix) == "CBC") kinds.insert(kinds.end(), {"VarKey", "VarTxt"});
      for (const auto &kind : kinds)
        for (const char *bits : {"128", "192", "256"}) {
          const std::string file = std::string("aes/") + m.prefix + kind + bits + ".rsp";
          SCOPED_TRACE(file);
          for (const auto &r : ReadRsp(file)) {
            SCOPED_TRACE(r.line);
            CheckMode(m, r.Hex("KEY"), m.ecb ? Bytes{} : r.Hex("IV"), r.Hex("PLAINTEXT"), r.Hex("CIPHERTEXT"));
            ++checked;
          }
        }
    }
  });
  EXPECT_GT(checked, 3 * 2000);
}

class AesContexts : public CipherTest {};

TEST_F(AesContexts, LengthsKeySizesAndDirections) {
  const Bytes key(32, 0x11);
  BulkCtx enc = CreateAESCtx(key.data(), 24, 1);
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(static_cast<AesContext *>(enc)->keyBits, 192);
  EXPECT_EQ(static_cast<AesContext *>(enc)->rounds, 12);
  EXPECT_EQ(CreateAESCtx(key.data(), 20, 1), nullptr);
  EXPECT_EQ(CreateAESCtx(nullptr, 16, 1), nullptr);

  Bytes data(17, 0x5a), iv(16);
  const Bytes before = data;
  EXPECT_EQ(DoAES(enc, data.data(), 15, 1, iv.data()), ERR_AES_BAD_LENGTH);
  EXPECT_EQ(DoAES(enc, data.data(), 17, 1, iv.data()), ERR_AES_BAD_LENGTH);
  EXPECT_EQ(data, before);
  EXPECT_EQ(DoAES(enc, data.data(), 0, 1, iv.data()), 0);
  EXPECT_EQ(DoAES(nullptr, data.data(), 16, 1, iv.data()), ERR_NULL_POINTER);
  // A context keeps its direction.
  EXPECT_EQ(DoAES(enc, data.data(), 16, 0, iv.data()), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(DeleteAESCtx(&enc), 0);
  EXPECT_EQ(DeleteAESCtx(&enc), 0);  // already null: nothing to do
  EXPECT_EQ(DeleteAESCtx(nullptr), 0);

  AesContext ctx{};
  EXPECT_EQ(AESALGO_makeAesKey(&ctx, 127, key.data(), 1, MODE_ECB), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(AESALGO_makeAesKey(&ctx, 512, key.data(), 1, MODE_ECB), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(AESALGO_makeAesKey(nullptr, 128, key.data(), 1, MODE_ECB), ERR_NULL_POINTER);
  EXPECT_EQ(AESALGO_makeAesKey(&ctx, 128, nullptr, 1, MODE_ECB), ERR_NULL_POINTER);
  int32_t bits = -1;
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 1, 3), 0);
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, iv.data(), data.data(), 128, data.data(), &bits), ERR_AES_BAD_CIPHER_MODE);
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 0, 3), 0);
  EXPECT_EQ(AESALGO_blockDecrypt(&ctx, iv.data(), data.data(), 128, data.data(), &bits), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(bits, 128);
  // Partial blocks are left alone; a non-positive length writes nothing.
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 1, MODE_ECB), 0);
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, nullptr, data.data(), 130, data.data(), &bits), 0);
  EXPECT_EQ(bits, 128);
  EXPECT_EQ(data[16], 0x5a);
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, nullptr, data.data(), -8, data.data(), &bits), 0);
  EXPECT_EQ(bits, 0);
  // CFB and OFB hold the forward schedule even when created to decrypt.
  AesContext cfb{};
  ASSERT_EQ(AESALGO_makeAesKey(&cfb, 128, key.data(), 0, MODE_CFB128), 0);
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 1, MODE_ECB), 0);
  EXPECT_EQ(0, std::memcmp(cfb.roundKeys, ctx.roundKeys, 44 * 4));
}

TEST_F(AesContexts, SuiteAndOneCallProcess) {
  const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  Bytes data = FromHex("6bc1bee22e409f96e93d7e117393172a");
  EXPECT_EQ(CRYPTO_AESSuite.blockSize, 16);
  ASSERT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), data.data(), 16, 1), 0);
  EXPECT_EQ(ToHex(data), "7649abac8119b246cee98e9b12e9197d");
  EXPECT_EQ(ToHex(iv), "7649abac8119b246cee98e9b12e9197d");  // the chain for the next call
  EXPECT_EQ(CRYPTO_Process(nullptr, key.data(), 16, iv.data(), data.data(), 16, 1), ERR_NULL_POINTER);
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), nullptr, 16, 1), ERR_NULL_POINTER);
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 15, iv.data(), data.data(), 16, 1), ERR_MEM_ALLOC_FAIL);
  {
    ReleaseWatch watch;  // the context is deleted even when the cipher fails
    EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), data.data(), 7, 1), ERR_AES_BAD_LENGTH);
    EXPECT_EQ(ReleaseWatch::seen().size(), 1u);
  }
}

TEST_F(AesContexts, DeletedContextsAreWipedAndAllocationFailureGivesNull) {
  const Bytes key(32, 0xa5);
  {
    ReleaseWatch watch;
    for (Create c : {CreateAESECBCtx, CreateAESCtx, CreateAESCFBCtx, CreateAESOFBCtx}) {
      BulkCtx ctx = c(key.data(), 32, 0);
      ASSERT_NE(ctx, nullptr);
      EXPECT_EQ(DeleteAESECBCtx(&ctx), 0);
    }
    EXPECT_EQ(ReleaseWatch::seen().size(), 4u);
    EXPECT_TRUE(ReleaseWatch::AllZeroed());
  }
  mem::fail_after(0);
  EXPECT_EQ(CreateAESCtx(key.data(), 16, 1), nullptr);
  mem::fail_after(-1);
}

std::string g_console;

TEST_F(AesContexts, FailuresArePrintedOnTheConsole) {
  g_console.clear();
  DEBUG_CONSOLE_setLogVoraneCallback([](const char *text) { g_console += text; });
  const Bytes key(16, 1);
  Bytes data(32), iv(16);
  BulkCtx ctx = CreateAESCtx(key.data(), 16, 1);
  BulkCtx ecb = CreateAESECBCtx(key.data(), 16, 0);
  EXPECT_EQ(DoAES(ctx, data.data(), 32, 0, iv.data()), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(DoAESECB(ecb, data.data(), 32, 1, iv.data()), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(DoAES(ctx, data.data(), 3, 1, iv.data()), ERR_AES_BAD_LENGTH);  // refused before the cipher: silent
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  EXPECT_EQ(g_console,
            "DoAES: cipher failed, error = -7903\r\n"
            "DoAESECB: cipher failed, error = -7903\r\n");
  DeleteAESCtx(&ctx);
  DeleteAESECBCtx(&ecb);
}

TEST(AesGate, ClosedGateRefusesEverything) {
  ASSERT_NE(gFIPS_powerupStatus, 0);
  const int32_t st = gFIPS_powerupStatus;
  const Bytes key(16, 1);
  Bytes data(16, 2), iv(16);
  EXPECT_EQ(CreateAESCtx(key.data(), 16, 1), nullptr);
  EXPECT_EQ(CreateAESECBCtx(key.data(), 16, 1), nullptr);
  EXPECT_EQ(CreateAESCFBCtx(key.data(), 16, 1), nullptr);
  EXPECT_EQ(CreateAESOFBCtx(key.data(), 16, 1), nullptr);
  EXPECT_EQ(DoAES(nullptr, nullptr, 3, 1, nullptr), st);
  EXPECT_EQ(DoAESECB(nullptr, nullptr, 3, 1, nullptr), st);
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), data.data(), 16, 1), ERR_MEM_ALLOC_FAIL);
  // Release is refused too: the context stays allocated.
  gFIPS_powerupStatus = 0;
  BulkCtx ctx = CreateAESCtx(key.data(), 16, 1);
  gFIPS_powerupStatus = st;
  EXPECT_EQ(DeleteAESCtx(&ctx), st);
  EXPECT_NE(ctx, nullptr);
  gFIPS_powerupStatus = 0;
  EXPECT_EQ(DeleteAESCtx(&ctx), 0);
  gFIPS_powerupStatus = st;
  // The core is not gated.
  AesContext a{};
  EXPECT_EQ(AESALGO_makeAesKey(&a, 128, key.data(), 1, MODE_ECB), 0);
}

}  // namespace
}  // namespace kel::test

// AES core and the ECB, CBC, CFB-128 and OFB modes against FIPS 197, SP 800-38A
// and the CAVP KAT and MMT files on every code path; contexts and refusals.
#include <gtest/gtest.h>

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

// Both ways through a heap context, whole and a block a call (the iv buffer
// carries the chain), in place.
void CheckMode(const ModeInfo &m, const Bytes &key, const Bytes &iv, const Bytes &pt, const Bytes &ct) {
  for (int encrypt : {1, 0}) {
    SCOPED_TRACE(encrypt ? "encrypt" : "decrypt");
    BulkCtx ctx = m.create(key.data(), static_cast<uint32_t>(key.size()), encrypt);
    ASSERT_NE(ctx, nullptr);
    const Bytes &in = encrypt ? pt : ct;
    for (size_t piece : {in.size(), size_t{16}}) {
      Bytes data = in, chain = iv.empty() ? Bytes(16) : iv;
      for (size_t off = 0; off < data.size(); off += piece)
        ASSERT_EQ(DoAES(ctx, data.data() + off, static_cast<uint32_t>(piece), encrypt, chain.data()), 0);
      EXPECT_EQ(ToHex(data), ToHex(encrypt ? ct : pt)) << "piece " << piece;
    }
    EXPECT_EQ(DeleteAESCtx(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
  }
}

class AesVectors : public CipherTest {};

TEST_F(AesVectors, Fips197AppendixCThroughCoreAndEcb) {
  auto records = ReadRsp("aes/fips197_appendix_c.txt");
  ASSERT_EQ(records.size(), 3u);
  ForEachCpuPath([&] {
    for (const auto &r : records) {
      const Bytes key = r.Hex("Key"), pt = r.Hex("Plaintext"), ct = r.Hex("Ciphertext");
      const int bits = static_cast<int>(key.size() * 8), rounds = bits / 32 + 6;
      uint32_t rk[60], rkd[60];
      ASSERT_EQ(aesKeySetupEnc(rk, key.data(), bits), rounds);
      ASSERT_EQ(aesKeySetupDec(rkd, key.data(), bits), rounds);
      uint8_t out[16];
      aesEncrypt(rk, rounds, pt.data(), out);
      EXPECT_EQ(ToHex(out, 16), ToHex(ct));
      aesDecrypt(rkd, rounds, out, out);  // in place
      EXPECT_EQ(ToHex(out, 16), ToHex(pt));
      EXPECT_EQ(aesKeySetupEnc(rk, key.data(), 160), 0);
      CheckMode(kModes[0], key, {}, pt, ct);
    }
  });
}

TEST_F(AesVectors, Sp80038aExamplesAndCavpFiles) {
  int checked = 0;
  const int paths = ForEachCpuPath([&] {
    for (const auto &r : ReadRsp("aes/sp800-38a_aes_modes.txt"))
      for (const auto &m : kModes) {
        const std::string section = r.section.begin()->first;
        if (section.rfind(std::string(m.prefix) + "-", 0) != 0) continue;
        SCOPED_TRACE(section);
        CheckMode(m, r.Hex("Key"), m.ecb ? Bytes{} : r.Hex("IV"), r.Hex("Plaintext"), r.Hex("Ciphertext"));
        ++checked;
      }
    for (const auto &m : kModes) {
      std::vector<std::string> kinds = {"GFSbox", "KeySbox", "MMT"};
      if (m.ecb || std::string(m.prefix) == "CBC") kinds.insert(kinds.end(), {"VarKey", "VarTxt"});
      for (const auto &kind : kinds)
        for (const char *bits : {"128", "192", "256"}) {
          const std::string file = std::string("aes/") + m.prefix + kind + bits + ".rsp";
          for (const auto &r : ReadRsp(file)) {
            SCOPED_TRACE(file + ":" + std::to_string(r.line));
            CheckMode(m, r.Hex("KEY"), m.ecb ? Bytes{} : r.Hex("IV"), r.Hex("PLAINTEXT"), r.Hex("CIPHERTEXT"));
            ++checked;
          }
        }
    }
  });
  EXPECT_GT(checked, paths * (12 + 2000));
}

class AesContexts : public CipherTest {};

TEST_F(AesContexts, LengthsKeySizesAndDirections) {
  const Bytes key(32, 0x11);
  BulkCtx enc = CreateAESCtx(key.data(), 24, 1);
  ASSERT_NE(enc, nullptr);
  EXPECT_EQ(static_cast<AesContext *>(enc)->rounds, 12);
  EXPECT_EQ(CreateAESCtx(key.data(), 20, 1), nullptr);
  EXPECT_EQ(CreateAESCtx(nullptr, 16, 1), nullptr);

  Bytes data(17, 0x5a), iv(16);
  const Bytes before = data;
  EXPECT_EQ(DoAES(enc, data.data(), 17, 1, iv.data()), ERR_AES_BAD_LENGTH);
  EXPECT_EQ(data, before);
  EXPECT_EQ(DoAES(enc, data.data(), 0, 1, iv.data()), 0);
  EXPECT_EQ(DoAES(nullptr, data.data(), 16, 1, iv.data()), ERR_NULL_POINTER);
  EXPECT_EQ(DoAES(enc, data.data(), 16, 0, iv.data()), ERR_AES_BAD_KEY_DIR);  // a context keeps its direction
  EXPECT_EQ(DeleteAESCtx(&enc), 0);
  EXPECT_EQ(DeleteAESCtx(&enc), 0);  // already null: nothing to do

  AesContext ctx{};
  EXPECT_EQ(AESALGO_makeAesKey(&ctx, 127, key.data(), 1, MODE_ECB), ERR_AES_BAD_KEY_LENGTH);
  EXPECT_EQ(AESALGO_makeAesKey(&ctx, 128, nullptr, 1, MODE_ECB), ERR_NULL_POINTER);
  int32_t bits = -1;
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 1, 3), 0);
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, iv.data(), data.data(), 128, data.data(), &bits), ERR_AES_BAD_CIPHER_MODE);
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 0, 3), 0);
  EXPECT_EQ(AESALGO_blockDecrypt(&ctx, iv.data(), data.data(), 128, data.data(), &bits), ERR_AES_BAD_KEY_DIR);
  // A partial block is left alone; a non-positive length writes nothing.
  ASSERT_EQ(AESALGO_makeAesKey(&ctx, 128, key.data(), 1, MODE_ECB), 0);
  bits = -1;
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, nullptr, data.data(), 130, data.data(), &bits), 0);
  EXPECT_EQ(bits, 128);
  EXPECT_EQ(data[16], 0x5a);
  EXPECT_EQ(AESALGO_blockEncrypt(&ctx, nullptr, data.data(), -8, data.data(), &bits), 0);
  EXPECT_EQ(bits, 0);
  AesContext dec{};
  ASSERT_EQ(AESALGO_makeAesKey(&dec, 128, key.data(), 0, MODE_ECB), 0);
  EXPECT_EQ(AESALGO_blockDecrypt(&dec, nullptr, data.data(), 130, data.data(), &bits), 0);
  EXPECT_EQ(bits, 128);
}

std::string g_console;

TEST_F(AesContexts, SuiteOneCallProcessAndConsole) {
  const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  Bytes data = FromHex("6bc1bee22e409f96e93d7e117393172a");
  ASSERT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), data.data(), 16, 1), 0);
  EXPECT_EQ(ToHex(data), "7649abac8119b246cee98e9b12e9197d");
  EXPECT_EQ(ToHex(iv), "7649abac8119b246cee98e9b12e9197d");  // the chain for the next call
  EXPECT_EQ(CRYPTO_Process(nullptr, key.data(), 16, iv.data(), data.data(), 16, 1), ERR_NULL_POINTER);
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 15, iv.data(), data.data(), 16, 1), ERR_MEM_ALLOC_FAIL);
  EXPECT_EQ(CRYPTO_Process(&CRYPTO_AESSuite, key.data(), 16, iv.data(), data.data(), 7, 1), ERR_AES_BAD_LENGTH);

  // Failures of the cipher itself are printed on the console; refusals are not.
  g_console.clear();
  DEBUG_CONSOLE_setLogVoraneCallback([](const char *text) { g_console += text; });
  BulkCtx ctx = CreateAESCtx(key.data(), 16, 1);
  BulkCtx ecb = CreateAESECBCtx(key.data(), 16, 0);
  EXPECT_EQ(DoAES(ctx, data.data(), 16, 0, iv.data()), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(DoAESECB(ecb, data.data(), 16, 1, iv.data()), ERR_AES_BAD_KEY_DIR);
  EXPECT_EQ(DoAES(ctx, data.data(), 3, 1, iv.data()), ERR_AES_BAD_LENGTH);
  DEBUG_CONSOLE_setLogVoraneCallback(nullptr);
  EXPECT_EQ(g_console,
            "DoAES: cipher failed, error = -7903\r\n"
            "DoAESECB: cipher failed, error = -7903\r\n");
  DeleteAESCtx(&ctx);
  DeleteAESECBCtx(&ecb);
}

}  // namespace
}  // namespace kel::test

// The power-up gate: with the self-test not passed, every gated entry point
// returns the status before looking at its arguments, constructors return
// null and release is refused (the context stays allocated). And every cipher
// context is refused whole when the allocator fails, and zeroed before release.
#include <tuple>

#include "kel/aes.h"
#include "kel/aes_modes.h"
#include "kel/cipher.h"
#include "kel/des.h"
#include "kel/gcm.h"
#include "kel/rc2.h"
#include "tests/crypto/cipher/cipher_test_util.h"

namespace kel::test {
namespace {

class Gate : public CipherTest {};

TEST_F(Gate, ClosedGateRefusesEveryGatedEntry) {
  const Bytes key(32, 1), key24 = FromHex("0123456789abcdef23456789abcdef01456789abcdef0123");
  BulkCtx aes = CreateAESCtx(key.data(), 16, 1), gcm = GCM_createCtx_256b(key.data(), 16, 1);
  void *tdes = Create3DESCtx(key24.data(), 24, 1);
  ASSERT_TRUE(aes && gcm && tdes);
  for (int32_t st : {ERR_FIPS_SELFTEST_NOT_RUN, -16501}) {
    SCOPED_TRACE(st);
    gFIPS_powerupStatus = st;
    Bytes data(16, 2), iv(16);
    const Bytes copy = data;
    for (auto create : {CreateAESCtx, CreateAESECBCtx, CreateAESCFBCtx, CreateAESOFBCtx, CreateAESCTRCtx,
                        AESCCM_createCtx, GCM_createCtx_256b, Create3DESCtx, Create2Key3DESCtx})
      EXPECT_EQ(create(key24.data(), 24, 1), nullptr);
    EXPECT_EQ(CreateAESXTSCtx(key.data(), 32, 1), nullptr);
    EXPECT_EQ(DoAES(nullptr, nullptr, 3, 1, nullptr), st);
    EXPECT_EQ(DoAESCTREx(nullptr, nullptr, 4, 1, nullptr, 99), st);
    EXPECT_EQ(AESCTRInit(nullptr, nullptr, 0, nullptr), st);
    EXPECT_EQ(AESXTSEncrypt(nullptr, nullptr, nullptr, 0), st);
    EXPECT_EQ(AESXTSDecrypt(nullptr, nullptr, nullptr, 0), st);
    EXPECT_EQ(AESCCM_encrypt(0, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, 0, nullptr), st);
    EXPECT_EQ(AESCCM_cipher(nullptr, nullptr, 0, nullptr, 0, nullptr, 0, 0, 0), st);
    EXPECT_EQ(GCM_init_256b(gcm, data.data(), 12, nullptr, 0), st);
    EXPECT_EQ(GCM_update_encrypt_256b(gcm, data.data(), 16), st);
    EXPECT_EQ(GCM_update_decrypt_256b(gcm, data.data(), 16), st);
    EXPECT_EQ(GCM_final_256b(gcm, data.data()), st);
    EXPECT_EQ(GCM_cipher_256b(gcm, data.data(), 12, nullptr, 0, data.data(), 0, 99, 1), st);
    AesCmacContext cmac;
    EXPECT_EQ(AESCMAC_init(key.data(), 16, &cmac), st);
    EXPECT_EQ(AESCMAC_update(key.data(), 16, &cmac), st);
    EXPECT_EQ(AESCMAC_final(data.data(), &cmac), st);
    EXPECT_EQ(Do3DES(nullptr, nullptr, 3, 1, nullptr), st);
    EXPECT_EQ(data, copy);
    for (const CipherSuite *suite : {&CRYPTO_AESSuite, &CRYPTO_TripleDESSuite})  // no context to be had
      EXPECT_EQ(CRYPTO_Process(suite, key24.data(), 24, iv.data(), data.data(), 16, 1), ERR_MEM_ALLOC_FAIL);
    for (auto release : {DeleteAESCtx, DeleteAESCTRCtx, AESCCM_deleteCtx, GCM_deleteCtx_256b, Delete3DESCtx})
      EXPECT_EQ(release(nullptr), st);
    EXPECT_EQ(DeleteAESCtx(&aes), st);
    EXPECT_EQ(GCM_deleteCtx_256b(&gcm), st);
    EXPECT_EQ(Delete3DESCtx(&tdes), st);
    EXPECT_TRUE(aes && gcm && tdes);  // nothing released

    // What stays open (AESALGO, OMAC and the DES block functions: their own tests).
    EXPECT_EQ(CRYPTO_Process(&CRYPTO_RC2Suite, key24.data(), 16, iv.data(), data.data(), 16, 1), 0);
    EXPECT_NE(data, copy);
    BulkCtx rfc3686 = CreateAesCtrCtx(key.data(), 20, 1);
    EXPECT_NE(rfc3686, nullptr);
    gFIPS_powerupStatus = 0;
    EXPECT_EQ(DeleteAESCTRCtx(&rfc3686), 0);
  }
  EXPECT_EQ(DeleteAESCtx(&aes), 0);
  EXPECT_EQ(GCM_deleteCtx_256b(&gcm), 0);
  EXPECT_EQ(Delete3DESCtx(&tdes), 0);
}

// Each constructor has its first, second, ... allocation fail until it
// succeeds: null each time, and no block left behind (a context made of two
// allocations frees the first).
TEST_F(Gate, ContextsSurviveAllocationFailureAndAreZeroedBeforeRelease) {
  ReleaseWatch watch;
  Bytes key = Random(64), data(64, 9), iv(16, 1);
  const auto failingInTurn = [](auto make) -> BulkCtx {
    for (int64_t k = 0; k < 8; ++k) {
      mem::fail_after(k);
      BulkCtx made = make();
      mem::fail_after(-1);
      if (made != nullptr) {
        EXPECT_GT(k, 0) << "a context made without memory";
        return made;
      }
    }
    ADD_FAILURE() << "no context once the allocator works";
    return nullptr;
  };
  // {suite or its like (no cipher: only created), key length, create argument,
  // direction}.
  const std::tuple<CipherSuite, uint32_t, int32_t, int32_t> kinds[] = {
      {CRYPTO_AESSuite, 16, 1, 1},          {CRYPTO_AESSuite, 32, 0, 0},
      {CRYPTO_AESCtrSuite, 32, 1, 1},       {CRYPTO_TripleDESSuite, 24, 1, 1},
      {CRYPTO_RC2Suite, 16, 1, 1},          {CRYPTO_TwoKeyTripleDESSuite, 16, 1, 1},
      {CRYPTO_RC2EffectiveBitsSuite, 16, 64, 1},
      {{16, CreateAESECBCtx, DeleteAESECBCtx, DoAESECB}, 32, 0, 0},
      {{0, CreateAesCtrCtx, DeleteAESCTRCtx, nullptr}, 20, 0, 0},
      {{0, AESCCM_createCtx, AESCCM_deleteCtx, nullptr}, 32, 0, 0},
      {{0, GCM_createCtx_256b, GCM_deleteCtx_256b, nullptr}, 16, 0, 0}};
  for (auto [suite, length, arg, dir] : kinds) {
    BulkCtx ctx = failingInTurn([&] { return suite.createFunc(key.data(), length, arg); });
    ASSERT_NE(ctx, nullptr);
    if (suite.cipherFunc != nullptr) {
      ASSERT_EQ(suite.cipherFunc(ctx, data.data(), 64, dir, iv.data()), 0);
    }
    ASSERT_EQ(suite.deleteFunc(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
  }
  BulkCtx xts = failingInTurn([&] { return CreateAESXTSCtx(key.data(), 64, 0); });
  ASSERT_EQ(DeleteAESXTSCtx(&xts), 0);
  watch.stop();
  EXPECT_GE(watch.released, std::size(kinds) + 1);  // and XTS
  EXPECT_EQ(watch.dirty, 0) << "a released block still held non-zero bytes";
  EXPECT_TRUE(watch.live.empty()) << "a block was not released";
}

}  // namespace
}  // namespace kel::test

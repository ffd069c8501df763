// Every cipher context that held key material is zeroed before its block goes
// back to the allocator, through the suites and outside them, either way.
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

TEST(Wipe, ContextsAreZeroedBeforeRelease) {
  gFIPS_powerupStatus = 0;
  ReleaseWatch watch;
  Bytes key(64), data(64, 9), iv(16, 1);
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0xa5 ^ i);
  // Suites, used once: {suite, key length, create argument, direction}.
  const std::tuple<const CipherSuite *, uint32_t, int32_t, int32_t> suites[] = {
      {&CRYPTO_AESSuite, 16, 1, 1},
      {&CRYPTO_AESSuite, 32, 0, 0},
      {&CRYPTO_AESCtrSuite, 32, 1, 1},
      {&CRYPTO_TripleDESSuite, 24, 1, 1},
      {&CRYPTO_TwoKeyTripleDESSuite, 16, 1, 1},
      {&CRYPTO_RC2Suite, 16, 1, 1},
      {&CRYPTO_RC2EffectiveBitsSuite, 16, 64, 1}};
  for (auto [suite, length, arg, dir] : suites) {
    BulkCtx ctx = suite->createFunc(key.data(), length, arg);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(suite->cipherFunc(ctx, data.data(), 64, dir, iv.data()), 0);
    ASSERT_EQ(suite->deleteFunc(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
  }
  // The contexts outside the suites, created to decrypt.
  const std::tuple<BulkCtx (*)(const uint8_t *, uint32_t, int32_t), int32_t (*)(BulkCtx *), uint32_t> kinds[] = {
      {CreateAESECBCtx, DeleteAESECBCtx, 32},   {CreateAESCFBCtx, DeleteAESCtx, 24},
      {CreateAESOFBCtx, DeleteAESCtx, 16},      {CreateAesCtrCtx, DeleteAESCTRCtx, 20},
      {AESCCM_createCtx, AESCCM_deleteCtx, 32}, {GCM_createCtx_256b, GCM_deleteCtx_256b, 16}};
  for (auto [create, release, length] : kinds) {
    BulkCtx ctx = create(key.data(), length, 0);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(release(&ctx), 0);
  }
  BulkCtx xts = CreateAESXTSCtx(key.data(), 64, 0);
  ASSERT_EQ(DeleteAESXTSCtx(&xts), 0);
  watch.stop();
  gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
  EXPECT_GE(watch.released, 7 + 7);
  EXPECT_EQ(watch.dirty, 0) << "a released block still held non-zero bytes";
  EXPECT_TRUE(watch.live.empty()) << "a block was not released";
}

}  // namespace
}  // namespace kel::test

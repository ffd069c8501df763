// Every cipher context that held key material is zeroed before its block goes
// back to the allocator.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "crypto/common/alloc.h"
#include "kel/aes.h"
#include "kel/aes_modes.h"
#include "kel/cipher.h"
#include "kel/des.h"
#include "kel/fips.h"
#include "kel/gcm.h"
#include "kel/rc2.h"

namespace {

std::map<const void *, uint32_t> g_live;  // blocks handed out, with their sizes
int g_released = 0;
int g_dirty = 0;

void OnAlloc(const void *block, uint32_t size) { g_live[block] = size; }

void OnRelease(const void *block) {
  auto it = g_live.find(block);
  if (it == g_live.end()) return;
  ++g_released;
  const auto *b = static_cast<const uint8_t *>(block);
  for (uint32_t i = 0; i < it->second; ++i) {
    if (b[i] != 0) {
      ++g_dirty;
      break;
    }
  }
  g_live.erase(it);
}

struct SuiteCase {
  const char *name;
  const CipherSuite *suite;
  uint32_t keyLength;
  int32_t createArg;  // direction, or effective bits for the RC2 bits suite
  int32_t encrypt = 1;
};

void PrintTo(const SuiteCase &c, std::ostream *os) { *os << c.name; }

class Wipe : public ::testing::TestWithParam<SuiteCase> {
 protected:
  void SetUp() override {
    gFIPS_powerupStatus = 0;
    g_live.clear();
    g_released = g_dirty = 0;
    kel::mem::observe(OnAlloc, OnRelease);
  }
  void TearDown() override { kel::mem::observe(nullptr, nullptr); }
};

TEST_P(Wipe, DeleteZeroesTheContextBeforeRelease) {
  const SuiteCase &c = GetParam();
  std::vector<uint8_t> key(c.keyLength);
  for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(0xa5 ^ i);
  BulkCtx ctx = c.suite->createFunc(key.data(), c.keyLength, c.createArg);
  ASSERT_NE(ctx, nullptr);
  ASSERT_FALSE(g_live.empty()) << "the context did not come from the toolkit allocator";
  uint8_t iv[16] = {1, 2, 3};
  uint8_t data[64] = {9};
  ASSERT_EQ(c.suite->cipherFunc(ctx, data, sizeof data, c.encrypt, iv), 0);
  ASSERT_EQ(c.suite->deleteFunc(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_GE(g_released, 1);
  EXPECT_EQ(g_dirty, 0) << "a released block still held non-zero bytes";
  EXPECT_TRUE(g_live.empty()) << "a block was not released";
}

// The contexts outside the suites, created to decrypt: their schedules too.
TEST_F(Wipe, ContextsOutsideTheSuites) {
  const std::vector<uint8_t> key(64, 0xa5);
  const std::tuple<BulkCtx (*)(const uint8_t *, uint32_t, int32_t), int32_t (*)(BulkCtx *), uint32_t> kinds[] = {
      {CreateAESECBCtx, DeleteAESECBCtx, 32}, {CreateAESCFBCtx, DeleteAESCtx, 24},
      {CreateAESOFBCtx, DeleteAESCtx, 16},    {CreateAesCtrCtx, DeleteAESCTRCtx, 20},
      {AESCCM_createCtx, AESCCM_deleteCtx, 32}, {GCM_createCtx_256b, GCM_deleteCtx_256b, 16}};
  for (auto [create, release, length] : kinds) {
    BulkCtx ctx = create(key.data(), length, 0);
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(release(&ctx), 0);
  }
  BulkCtx xts = CreateAESXTSCtx(key.data(), 64, 0);
  ASSERT_NE(xts, nullptr);
  ASSERT_EQ(DeleteAESXTSCtx(&xts), 0);
  EXPECT_GE(g_released, 7);
  EXPECT_EQ(g_dirty, 0) << "a released block still held non-zero bytes";
  EXPECT_TRUE(g_live.empty()) << "a block was not released";
}

INSTANTIATE_TEST_SUITE_P(Suites, Wipe,
                         ::testing::Values(SuiteCase{"Aes128", &CRYPTO_AESSuite, 16, 1},
                                           SuiteCase{"Aes256Decrypt", &CRYPTO_AESSuite, 32, 0, 0},
                                           SuiteCase{"Aes128Ctr", &CRYPTO_AESCtrSuite, 32, 1},
                                           SuiteCase{"TripleDes", &CRYPTO_TripleDESSuite, 24, 1},
                                           SuiteCase{"TwoKeyTripleDes", &CRYPTO_TwoKeyTripleDESSuite, 16, 1},
                                           SuiteCase{"Rc2", &CRYPTO_RC2Suite, 16, 1},
                                           SuiteCase{"Rc2Bits", &CRYPTO_RC2EffectiveBitsSuite, 16, 64}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace

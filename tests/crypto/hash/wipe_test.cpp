// Digest contexts are zeroed before their blocks go back to the allocator,
// whatever the suite: HMAC releases its digest context (which holds the key's
// inner chaining state) through the suite's own free function.
#include <gtest/gtest.h>

#include <map>

#include "crypto/common/alloc.h"
#include "kel/fips.h"
#include "kel/hash.h"
#include "kel/hmac.h"

namespace {

std::map<const void *, uint32_t> g_live;
int g_dirty = 0, g_released = 0;

void OnAlloc(const void *block, uint32_t size) { g_live[block] = size; }
void OnRelease(const void *block) {
  auto it = g_live.find(block);
  if (it == g_live.end()) return;
  ++g_released;
  const auto *b = static_cast<const uint8_t *>(block);
  for (uint32_t i = 0; i < it->second; ++i)
    if (b[i] != 0) {
      ++g_dirty;
      break;
    }
  g_live.erase(it);
}

class DigestWipe : public ::testing::TestWithParam<int32_t> {
 protected:
  void SetUp() override {
    gFIPS_powerupStatus = 0;
    ASSERT_EQ(CRYPTO_getRSAHashAlgo(GetParam(), &suite_), 0);
    g_live.clear();
    g_dirty = g_released = 0;
    kel::mem::observe(OnAlloc, OnRelease);
  }
  void TearDown() override { kel::mem::observe(nullptr, nullptr); }
  const HashSuite *suite_ = nullptr;
};

TEST_P(DigestWipe, HmacReleasesOnlyZeroedBlocks) {
  HmacContext *h = nullptr;
  ASSERT_EQ(HmacCreate(&h, suite_), 0);
  const uint8_t key[20] = {0x0b, 0x0b, 0x0b};
  uint8_t out[64];
  ASSERT_EQ(HmacKey(h, key, sizeof key), 0);
  ASSERT_EQ(HmacUpdate(h, key, 5), 0);
  ASSERT_EQ(HmacFinal(h, out), 0);
  ASSERT_EQ(HmacKey(h, key, 7), 0);
  ASSERT_EQ(HmacDelete(&h), 0);
  EXPECT_EQ(g_released, 2);  // the digest context and the HMAC context
  EXPECT_EQ(g_dirty, 0);
  EXPECT_TRUE(g_live.empty());
}

// MD5, SHA-1, SHA-256, SHA-384, SHA-512, SHA-224.
INSTANTIATE_TEST_SUITE_P(AllSuites, DigestWipe, ::testing::Values(4, 5, 11, 12, 13, 14));

}  // namespace

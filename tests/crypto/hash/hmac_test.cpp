// HMAC contexts beyond the vectors (which also take a suite from outside the
// toolkit: hash_util.h): reuse without allocation, release rules and zeroing,
// a failing suite, allocation failure, bad input.
#include <map>

#include "hash_util.h"

namespace kel::test {
namespace {

class Hmac : public HashTest {};

const uint8_t kKey[] = "key";

TEST_F(Hmac, ResetReusesTheContextWithoutAllocating) {
  const Bytes key(20, 0x0b), msg(64, 0x42);
  for (const auto &a : Algos()) {
    HmacContext *ctx = nullptr;
    ASSERT_EQ(HmacCreate(&ctx, a.suite()), 0);
    ASSERT_EQ(HmacKey(ctx, key.data(), 20), 0);
    Bytes out(a.digestSize);
    const uint64_t before = kel::mem::allocation_count();
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
      ASSERT_EQ(HmacFinal(ctx, out.data()), 0);
      EXPECT_EQ(out, Openssl(a, msg, &key)) << a.name;
      ASSERT_EQ(HmacReset(ctx), 0);
    }
    EXPECT_EQ(kel::mem::allocation_count(), before) << a.name;
    // A new key replaces the precomputed pads.
    const Bytes key2(msg.begin(), msg.begin() + 7);
    ASSERT_EQ(HmacKey(ctx, key2.data(), 7), 0);
    ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
    ASSERT_EQ(HmacFinal(ctx, out.data()), 0);
    EXPECT_EQ(out, Openssl(a, msg, &key2)) << a.name;
    ASSERT_EQ(HmacDelete(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(HmacDelete(&ctx), 0);
  }
  // The fixed functions allocate nothing at all, even for a long key.
  const uint64_t before = kel::mem::allocation_count();
  uint8_t out[20];
  const uint8_t *parts[2] = {msg.data(), key.data()};
  const uint32_t lens[2] = {64, 20};
  ASSERT_EQ(HMAC_MD5(key.data(), 20, msg.data(), 64, key.data(), 20, out), 0);
  const Bytes longKey(65, 0x11);  // hashed first
  ASSERT_EQ(HMAC_SHA1Ex(longKey.data(), 65, parts, lens, 2, out), 0);
  EXPECT_EQ(kel::mem::allocation_count(), before);
}

int32_t FailingFree(void **) { return -6104; }

// Whatever the suite, HMAC releases its digest context (the key's inner
// chaining state) and itself zeroed; never keyed, it releases itself alone;
// a digest context that cannot be freed keeps the HMAC context alive.
TEST_F(Hmac, DeleteRulesAndZeroing) {
  ReleaseWatch watch;
  HmacContext *ctx = nullptr;
  uint8_t out[64];
  for (const auto &a : Algos()) {
    ASSERT_EQ(HmacCreate(&ctx, a.suite()), 0);
    ASSERT_EQ(HmacKey(ctx, kKey, 3) | HmacUpdate(ctx, kKey, 3) | HmacFinal(ctx, out) | HmacKey(ctx, kKey, 2), 0);
    ASSERT_EQ(HmacDelete(&ctx), 0);
  }
  EXPECT_EQ(watch.released, 2 * 6);
  ASSERT_EQ(HmacCreate(&ctx, AlgoNamed("MD5").suite()), 0);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  watch.stop();
  EXPECT_EQ(watch.released, 2 * 6 + 1);
  EXPECT_EQ(watch.dirty, 0);
  EXPECT_TRUE(watch.live.empty());
  EXPECT_EQ(HmacDelete(nullptr), ERR_NULL_POINTER);
  HashSuite stubborn = *AlgoNamed("SHA256").suite();
  stubborn.freeFunc = FailingFree;
  ASSERT_EQ(HmacCreate(&ctx, &stubborn), 0);
  ASSERT_EQ(HmacKey(ctx, kKey, 3), 0);
  EXPECT_EQ(HmacDelete(&ctx), -6104);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(SHA256_freeDigest(&ctx->hashCtx), 0);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

// A foreign suite whose n-th call fails: HMAC hands that status back from
// whichever step made the call. A suite too wide for the context is refused.
int gCallsLeft = -1;
bool FailNow() { return --gCallsLeft == 0; }
HashSuite gReal;

TEST_F(Hmac, EveryFailingCallOfAForeignSuiteIsReported) {
  gReal = *AlgoNamed("SHA256").suite();
  HashSuite flaky = gReal;
  flaky.allocFunc = [](void **c) { return FailNow() ? -6104 : gReal.allocFunc(c); };
  flaky.initFunc = [](void *c) { return FailNow() ? -6104 : gReal.initFunc(c); };
  flaky.updateFunc = [](void *c, const uint8_t *d, uint32_t n) {
    return FailNow() ? -6104 : gReal.updateFunc(c, d, n);
  };
  flaky.finalFunc = [](void *c, uint8_t *o) { return FailNow() ? -6104 : gReal.finalFunc(c, o); };
  const Bytes key(100, 0x0b), msg(10, 1);  // a key longer than the block is hashed first
  uint8_t out[32];
  int failures = 0;
  for (;; ++failures) {
    gCallsLeft = failures + 1;
    const int32_t st = HmacQuick(key.data(), 100, msg.data(), 10, out, &flaky);
    if (st == 0) break;
    EXPECT_EQ(st, -6104) << "call " << failures + 1;
    ASSERT_LT(failures, 20);
  }
  gCallsLeft = -1;
  EXPECT_EQ(failures, 12);  // key digest 4, inner pad 2, text 1, final 5
  EXPECT_EQ(Bytes(out, out + 32), Openssl(AlgoNamed("SHA256"), msg, &key));
  HmacContext *ctx = nullptr;
  HashSuite wide = gReal, deep = gReal;
  wide.blockSize = deep.digestSize = HMAC_MAX_BLOCK_SIZE + 1;
  EXPECT_EQ(HmacCreate(&ctx, &wide), -6010);
  EXPECT_EQ(HmacCreate(&ctx, &deep), -6010);
  EXPECT_EQ(ctx, nullptr);
}

// Bad input, and allocation failure that leaves nothing behind.
TEST_F(Hmac, NullPointersAndAllocationFailure) {
  const HashSuite *suite = AlgoNamed("SHA1").suite();
  uint8_t out[20];
  HmacContext *ctx = reinterpret_cast<HmacContext *>(0x1);
  kel::mem::fail_after(0);
  EXPECT_EQ(HmacCreate(&ctx, suite), ERR_MEM_ALLOC_FAIL);
  EXPECT_EQ(ctx, reinterpret_cast<HmacContext *>(0x1));
  ctx = nullptr;
  ASSERT_EQ(HmacCreate(&ctx, suite), 0);
  kel::mem::fail_after(0);  // the digest context, allocated on first need
  EXPECT_EQ(HmacKey(ctx, kKey, 3), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(-1);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  for (int64_t n : {0, 1}) {
    kel::mem::fail_after(n);
    EXPECT_EQ(HmacQuick(kKey, 3, kKey, 3, out, suite), ERR_MEM_ALLOC_FAIL);
  }
  kel::mem::fail_after(-1);
  EXPECT_EQ(HmacCreate(nullptr, suite), ERR_NULL_POINTER);
  EXPECT_EQ(HmacCreate(&ctx, nullptr), ERR_NULL_POINTER);
  ASSERT_EQ(HmacCreate(&ctx, suite), 0);
  EXPECT_EQ(HmacUpdate(ctx, kKey, 3), ERR_NULL_POINTER);  // not keyed: no digest context yet
  EXPECT_EQ(HmacKey(ctx, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(HmacKey(nullptr, kKey, 3), ERR_NULL_POINTER);
  ASSERT_EQ(HmacKey(ctx, kKey, 3), 0);
  EXPECT_EQ(HmacUpdate(ctx, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(HmacFinal(ctx, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HmacReset(nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  EXPECT_EQ(HmacQuick(kKey, 3, nullptr, 0, out, suite), ERR_NULL_POINTER);
  EXPECT_EQ(HmacQuick(kKey, 3, kKey, 3, out, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_MD5(nullptr, 3, kKey, 3, nullptr, 0, out), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_MD5_quick(kKey, 3, kKey, 3, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_SHA1(kKey, 3, kKey, 3, kKey, 3, nullptr), ERR_NULL_POINTER);
  const uint8_t *parts[2] = {kKey, nullptr};
  const uint32_t lens[2] = {3, 0};
  EXPECT_EQ(HMAC_SHA1Ex(kKey, 3, parts, lens, 2, out), ERR_NULL_POINTER);
  // No texts at all: the MAC of the empty message; a null second text is
  // skipped whatever its length.
  const Bytes key(kKey, kKey + 3);
  ASSERT_EQ(HMAC_SHA1Ex(kKey, 3, nullptr, nullptr, 0, out), 0);
  EXPECT_EQ(Bytes(out, out + 20), Openssl(AlgoNamed("SHA1"), {}, &key));
  ASSERT_EQ(HMAC_SHA1(kKey, 3, kKey, 3, nullptr, 99, out), 0);
  EXPECT_EQ(Bytes(out, out + 20), Openssl(AlgoNamed("SHA1"), key, &key));
}

}  // namespace
}  // namespace kel::test

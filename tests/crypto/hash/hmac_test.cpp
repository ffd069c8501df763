// HMAC contexts beyond the vectors: reuse without allocation, a suite from
// outside the toolkit, release rules, allocation failure, bad input and
// several threads at once.
#include <thread>

#include "crypto/common/alloc.h"
#include "hash_util.h"
#include "kel/vor.h"

namespace kel::test {
namespace {

class Hmac : public PathTest {};
INSTANTIATE_TEST_SUITE_P(Paths, Hmac, ::testing::Values(~0u, 0u), PathName);

const uint8_t kKey[] = "key";

TEST_P(Hmac, ResetReusesTheContextWithoutAllocating) {
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
      EXPECT_EQ(out, OpensslHmac(a, key, msg)) << a.name;
      ASSERT_EQ(HmacReset(ctx), 0);
    }
    EXPECT_EQ(kel::mem::allocation_count(), before) << a.name;
    // A new key replaces the precomputed pads.
    ASSERT_EQ(HmacKey(ctx, msg.data(), 7), 0);
    ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
    ASSERT_EQ(HmacFinal(ctx, out.data()), 0);
    EXPECT_EQ(out, OpensslHmac(a, Bytes(msg.begin(), msg.begin() + 7), msg)) << a.name;
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

// A suite record from outside the toolkit takes the textbook path on every
// message; the results must not differ.
TEST_P(Hmac, ForeignSuiteGivesTheSameMacs) {
  std::mt19937 rng(9);
  for (const auto &a : Algos()) {
    const HashSuite copy = *a.suite();
    for (uint32_t len : {1u, 5u, a.blockSize + 9}) {
      const Bytes key = RandomBytes(rng, len), msg = RandomBytes(rng, 3 * len + 1);
      uint8_t out[64];
      ASSERT_EQ(HmacQuick(key.data(), len, msg.data(), static_cast<uint32_t>(msg.size()), out, &copy), 0);
      EXPECT_EQ(Bytes(out, out + a.digestSize), OpensslHmac(a, key, msg)) << a.name;
    }
  }
}

int32_t FailingFree(void **) { return -6104; }

TEST_P(Hmac, DeleteRules) {
  const HashSuite *sha256 = AlgoNamed("SHA256").suite();
  // Never keyed: no digest context to free, released all the same (the leak
  // checker of the sanitizer build would see it otherwise).
  HmacContext *ctx = nullptr;
  ASSERT_EQ(HmacCreate(&ctx, sha256), 0);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  EXPECT_EQ(HmacDelete(nullptr), ERR_NULL_POINTER);
  // A digest context that cannot be freed keeps the HMAC context alive.
  HashSuite stubborn = *sha256;
  stubborn.freeFunc = FailingFree;
  ASSERT_EQ(HmacCreate(&ctx, &stubborn), 0);
  ASSERT_EQ(HmacKey(ctx, kKey, 3), 0);
  EXPECT_EQ(HmacDelete(&ctx), -6104);
  ASSERT_NE(ctx, nullptr);
  ASSERT_EQ(SHA256_freeDigest(&ctx->hashCtx), 0);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
}

TEST_P(Hmac, AllocationFailureLeavesNothingBehind) {
  const HashSuite *suite = AlgoNamed("SHA512").suite();
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
  uint8_t out[64] = {};
  for (int64_t n : {0, 1}) {
    kel::mem::fail_after(n);
    EXPECT_EQ(HmacQuick(kKey, 3, out, 10, out, suite), ERR_MEM_ALLOC_FAIL);
  }
  kel::mem::fail_after(-1);
}

TEST_P(Hmac, NullPointers) {
  const HashSuite *suite = AlgoNamed("SHA1").suite();
  uint8_t out[20];
  HmacContext *ctx = nullptr;
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
  EXPECT_EQ(Bytes(out, out + 20), OpensslHmac(AlgoNamed("SHA1"), key, {}));
  ASSERT_EQ(HMAC_SHA1(kKey, 3, kKey, 3, nullptr, 99, out), 0);
  EXPECT_EQ(Bytes(out, out + 20), OpensslHmac(AlgoNamed("SHA1"), key, key));
}

TEST_P(Hmac, ThreadsWithTheirOwnContextsAgree) {
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &mismatches] {
      std::mt19937 rng(100 + t);
      const Algo &a = Algos()[1 + t];
      const Bytes key = RandomBytes(rng, 32);
      HmacContext *ctx = nullptr;
      mismatches[t] += HmacCreate(&ctx, a.suite()) != 0 || HmacKey(ctx, key.data(), 32) != 0;
      for (int i = 0; i < 200; ++i) {
        const Bytes msg = RandomBytes(rng, rng() % 300 + 1);
        Bytes out(a.digestSize);
        HmacReset(ctx);
        HmacUpdate(ctx, msg.data(), static_cast<uint32_t>(msg.size()));
        HmacFinal(ctx, out.data());
        mismatches[t] += out != OpensslHmac(a, key, msg);
      }
      HmacDelete(&ctx);
    });
  for (auto &th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace kel::test

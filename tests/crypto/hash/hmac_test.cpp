// HMAC contexts beyond the vectors: key lengths at the block boundary, reuse
// without allocation, a suite from outside the toolkit, release rules,
// allocation failure, bad input and several threads at once.
#include <thread>

#include "crypto/common/alloc.h"
#include "hash_util.h"
#include "kel/vor.h"

namespace kel::test {
namespace {

class Hmac : public PathTest {};
INSTANTIATE_TEST_SUITE_P(Paths, Hmac, ::testing::Bool(), PathName);

TEST_P(Hmac, KeysUpToTheBlockAreUsedAsIsLongerOnesHashed) {
  std::mt19937 rng(3);
  const Bytes msg = RandomBytes(rng, 100);
  for (const auto &a : Algos()) {
    for (uint32_t len : {0u, 1u, a.digestSize, a.blockSize - 1, a.blockSize, a.blockSize + 1, 3 * a.blockSize}) {
      const Bytes key = RandomBytes(rng, len);
      HmacContext *ctx = nullptr;
      ASSERT_EQ(HmacCreate(&ctx, a.suite()), 0);
      ASSERT_EQ(HmacKey(ctx, key.empty() ? msg.data() : key.data(), len), 0);
      EXPECT_EQ(ctx->keyLength, len <= a.blockSize ? len : a.digestSize) << a.name << " key " << len;
      Bytes out(a.digestSize);
      ASSERT_EQ(HmacUpdate(ctx, msg.data(), 100), 0);
      ASSERT_EQ(HmacFinal(ctx, out.data()), 0);
      EXPECT_EQ(out, OpensslHmac(a, key, msg)) << a.name << " key " << len;
      for (const auto &[form, mac] : AllHmacForms(a, key, msg))
        EXPECT_EQ(mac, OpensslHmac(a, key, msg)) << a.name << " key " << len << " " << form;
      ASSERT_EQ(HmacDelete(&ctx), 0);
    }
  }
}

TEST_P(Hmac, ResetReusesTheContextWithoutAllocating) {
  const Bytes key(20, 0x0b), msg(64, 0x42);
  for (const auto &a : Algos()) {
    HmacContext *ctx = nullptr;
    ASSERT_EQ(HmacCreate(&ctx, a.suite()), 0);
    ASSERT_EQ(HmacKey(ctx, key.data(), 20), 0);
    Bytes first(a.digestSize), again(a.digestSize);
    ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
    ASSERT_EQ(HmacFinal(ctx, first.data()), 0);
    const uint64_t before = kel::mem::allocation_count();
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(HmacReset(ctx), 0);
      ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
      ASSERT_EQ(HmacFinal(ctx, again.data()), 0);
      EXPECT_EQ(again, first) << a.name;
    }
    EXPECT_EQ(kel::mem::allocation_count(), before) << a.name;
    // A new key replaces the precomputed pads.
    ASSERT_EQ(HmacKey(ctx, msg.data(), 7), 0);
    ASSERT_EQ(HmacUpdate(ctx, msg.data(), 64), 0);
    ASSERT_EQ(HmacFinal(ctx, again.data()), 0);
    EXPECT_EQ(again, OpensslHmac(a, Bytes(msg.begin(), msg.begin() + 7), msg)) << a.name;
    ASSERT_EQ(HmacDelete(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(HmacDelete(&ctx), 0);
  }
  // The fixed functions allocate nothing at all.
  const uint64_t before = kel::mem::allocation_count();
  uint8_t out[20];
  const uint8_t *parts[2] = {msg.data(), key.data()};
  const uint32_t lens[2] = {64, 20};
  ASSERT_EQ(HMAC_MD5(key.data(), 20, msg.data(), 64, key.data(), 20, out), 0);
  ASSERT_EQ(HMAC_SHA1(msg.data(), 64, msg.data(), 64, nullptr, 5, out), 0);
  const Bytes longKey(65, 0x11);  // hashed first: still nothing allocated
  ASSERT_EQ(HMAC_SHA1Ex(longKey.data(), 65, parts, lens, 2, out), 0);
  EXPECT_EQ(kel::mem::allocation_count(), before);
}

// A suite record from outside the toolkit takes the textbook path on every
// message; the results must not differ.
TEST_P(Hmac, ForeignSuiteGivesTheSameMacs) {
  std::mt19937 rng(9);
  for (const auto &a : Algos()) {
    const HashSuite copy = *a.suite();
    for (uint32_t len : {0u, 5u, a.blockSize + 9}) {
      const Bytes key = RandomBytes(rng, len), msg = RandomBytes(rng, 3 * len + 1);
      HmacContext *ctx = nullptr;
      ASSERT_EQ(HmacCreate(&ctx, &copy), 0);
      ASSERT_EQ(HmacKey(ctx, key.empty() ? msg.data() : key.data(), len), 0);
      Bytes out(a.digestSize);
      for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(HmacUpdate(ctx, msg.data(), static_cast<uint32_t>(msg.size())), 0);
        ASSERT_EQ(HmacFinal(ctx, out.data()), 0);
        EXPECT_EQ(out, OpensslHmac(a, key, msg)) << a.name << " round " << round;
        ASSERT_EQ(HmacReset(ctx), 0);
      }
      ASSERT_EQ(HmacDelete(&ctx), 0);
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
  EXPECT_EQ(ctx->hashCtx, nullptr);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  EXPECT_EQ(ctx, nullptr);
  EXPECT_EQ(HmacDelete(nullptr), ERR_NULL_POINTER);
  // A digest context that cannot be freed keeps the HMAC context alive.
  HashSuite stubborn = *sha256;
  stubborn.freeFunc = FailingFree;
  ASSERT_EQ(HmacCreate(&ctx, &stubborn), 0);
  ASSERT_EQ(HmacKey(ctx, reinterpret_cast<const uint8_t *>("k"), 1), 0);
  EXPECT_EQ(HmacDelete(&ctx), -6104);
  ASSERT_NE(ctx, nullptr);
  EXPECT_NE(ctx->hashCtx, nullptr);
  EXPECT_EQ(ctx->suite, &stubborn);
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
  EXPECT_EQ(HmacKey(ctx, reinterpret_cast<const uint8_t *>("key"), 3), ERR_MEM_ALLOC_FAIL);
  kel::mem::fail_after(-1);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  uint8_t out[64] = {};
  for (int64_t n : {0, 1}) {
    kel::mem::fail_after(n);
    EXPECT_EQ(HmacQuick(reinterpret_cast<const uint8_t *>("key"), 3, out, 10, out, suite), ERR_MEM_ALLOC_FAIL);
  }
  kel::mem::fail_after(-1);
}

TEST_P(Hmac, NullPointers) {
  const HashSuite *suite = AlgoNamed("SHA1").suite();
  const uint8_t k[4] = {1, 2, 3, 4};
  uint8_t out[20];
  HmacContext *ctx = nullptr;
  EXPECT_EQ(HmacCreate(nullptr, suite), ERR_NULL_POINTER);
  EXPECT_EQ(HmacCreate(&ctx, nullptr), ERR_NULL_POINTER);
  ASSERT_EQ(HmacCreate(&ctx, suite), 0);
  EXPECT_EQ(HmacUpdate(ctx, k, 4), ERR_NULL_POINTER);  // not keyed: no digest context yet
  EXPECT_EQ(HmacKey(ctx, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(HmacKey(nullptr, k, 4), ERR_NULL_POINTER);
  ASSERT_EQ(HmacKey(ctx, k, 4), 0);
  EXPECT_EQ(HmacUpdate(ctx, nullptr, 0), ERR_NULL_POINTER);
  EXPECT_EQ(HmacFinal(ctx, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HmacReset(nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HmacFinal(nullptr, out), ERR_NULL_POINTER);
  EXPECT_EQ(HmacDelete(&ctx), 0);
  EXPECT_EQ(HmacQuick(k, 4, nullptr, 0, out, suite), ERR_NULL_POINTER);
  EXPECT_EQ(HmacQuick(k, 4, k, 4, out, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_MD5(nullptr, 4, k, 4, nullptr, 0, out), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_MD5(k, 4, nullptr, 4, nullptr, 0, out), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_MD5_quick(k, 4, k, 4, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_SHA1(k, 4, k, 4, k, 4, nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(HMAC_SHA1Ex(k, 4, nullptr, nullptr, 2, out), ERR_NULL_POINTER);
  const uint8_t *parts[2] = {k, nullptr};
  const uint32_t lens[2] = {4, 0};
  EXPECT_EQ(HMAC_SHA1Ex(k, 4, parts, lens, 2, out), ERR_NULL_POINTER);
  // No texts at all: the MAC of the empty message.
  ASSERT_EQ(HMAC_SHA1Ex(k, 4, nullptr, nullptr, 0, out), 0);
  EXPECT_EQ(Bytes(out, out + 20), OpensslHmac(AlgoNamed("SHA1"), Bytes(k, k + 4), {}));
  // A null second text is skipped whatever its length.
  uint8_t two[20];
  ASSERT_EQ(HMAC_SHA1(k, 4, k, 4, nullptr, 99, two), 0);
  EXPECT_EQ(Bytes(two, two + 20), OpensslHmac(AlgoNamed("SHA1"), Bytes(k, k + 4), Bytes(k, k + 4)));
}

TEST_P(Hmac, ThreadsWithTheirOwnContextsAgree) {
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t, &mismatches] {
      std::mt19937 rng(100 + t);
      const Algo &a = Algos()[1 + t];
      HmacContext *ctx = nullptr;
      if (HmacCreate(&ctx, a.suite()) != 0) return void(++mismatches[t]);
      const Bytes key = RandomBytes(rng, 32);
      HmacKey(ctx, key.data(), 32);
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

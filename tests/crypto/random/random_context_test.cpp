// The random context: the kinds it dispatches to, refusals, the two seeded
// constructors (also with a failing or repeating seed source, inside the
// sandbox), and the process-wide context used by several threads.
#include <sys/mount.h>

#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "crypto/random/internal.h"
#include "random_test_util.h"
#include "support/sandbox.h"

namespace {

using kel::test::Bytes;
using kel::test::ToHex;

class RandomContextTest : public kel::test::GateOpenTest {};

TEST_F(RandomContextTest, KindsAndRefusals) {
  RandomContext *ctx = nullptr;
  EXPECT_EQ(RANDOM_acquireContextEx(nullptr, 3), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 2), ERR_RANDOM_UNSUPPORTED);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 4), ERR_RANDOM_UNSUPPORTED);
  EXPECT_EQ(ctx, nullptr);
  // Oversized requests are refused, not wrapped; zero bytes are served.
  const struct {
    uint8_t kind;
    uint32_t expect, tooLong;
    int32_t tooLongStatus;
  } cases[] = {{0, RANDOM_KIND_CTRDRBG, 65536, ERR_DRBG_REQUEST_TOO_LARGE},
               {3, RANDOM_KIND_CTRDRBG, 0xFFFFFFFFu, ERR_DRBG_REQUEST_TOO_LARGE},
               {1, RANDOM_KIND_FIPS186, 0x80000000u, ERR_RANDOM_BAD_LENGTH}};
  for (const auto &c : cases) {
    ASSERT_EQ(RANDOM_acquireContextEx(&ctx, c.kind), 0);
    EXPECT_EQ(ctx->kind, c.expect);
    Bytes a(100), b(100);
    EXPECT_EQ(RANDOM_numberGenerator(ctx, a.data(), 100), 0);
    EXPECT_EQ(RANDOM_rngFun(ctx, 100, b.data()), 0);  // length before buffer
    EXPECT_NE(ToHex(a), ToHex(b));
    EXPECT_EQ(RANDOM_numberGenerator(ctx, nullptr, 1), ERR_NULL_POINTER);
    EXPECT_EQ(RANDOM_numberGenerator(ctx, a.data(), c.tooLong), c.tooLongStatus);
    EXPECT_EQ(RANDOM_numberGenerator(ctx, a.data(), 0), 0);
    EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);
    EXPECT_EQ(ctx, nullptr);
  }
  EXPECT_EQ(RANDOM_acquireContext(&ctx), 0);
  EXPECT_EQ(ctx->kind, RANDOM_KIND_CTRDRBG);
  EXPECT_EQ(kel::random::as_ctr(ctx)->state.keyLength, 32u);
  EXPECT_EQ(RANDOM_releaseContext(&ctx), 0);

  // An EC-DRBG context is not served by the generic functions.
  RandomContext ec{RANDOM_KIND_ECDRBG, 0}, *ecp = &ec;
  uint8_t out[4];
  EXPECT_EQ(RANDOM_numberGenerator(&ec, out, 4), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_releaseContext(&ecp), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_addEntropyBit(&ec, 1), ERR_NULL_POINTER);
  EXPECT_EQ(ecp, &ec);
  EXPECT_EQ(RANDOM_releaseContext(nullptr), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_numberGenerator(nullptr, out, 4), ERR_NULL_POINTER);
  EXPECT_EQ(RANDOM_addEntropyBit(nullptr, 1), ERR_NULL_POINTER);
}

TEST_F(RandomContextTest, ReleaseIsRefusedInTheErrorState) {
  RandomContext *ctr = nullptr, *f186 = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctr), 0);
  ASSERT_EQ(RANDOM_acquireContextEx(&f186, 1), 0);
  gFIPS_powerupStatus = -16525;
  uint8_t out[8];
  EXPECT_EQ(RANDOM_releaseContext(&ctr), -16525);
  EXPECT_EQ(RANDOM_releaseContext(&f186), -16525);
  EXPECT_NE(ctr, nullptr);
  EXPECT_NE(f186, nullptr);
  EXPECT_EQ(RANDOM_rngFun(ctr, 8, out), -16525);
  RandomContext *fresh = nullptr;
  EXPECT_EQ(RANDOM_acquireContextEx(&fresh, 1), -16525);
  EXPECT_EQ(fresh, nullptr);
  gFIPS_powerupStatus = 0;  // a new self-test passed
  EXPECT_EQ(RANDOM_numberGenerator(ctr, out, 8), 0);
  EXPECT_EQ(RANDOM_releaseContext(&ctr), 0);
  EXPECT_EQ(RANDOM_releaseContext(&f186), 0);
}

TEST_F(RandomContextTest, CtrDrbgEntropyGoesToTheDepotWithoutReseedingBefore384Bits) {
  RandomContext *ctx = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&ctx), 0);
  auto *c = kel::random::as_ctr(ctx);
  const Bytes key(c->key(), c->key() + 32);
  uint8_t depot[64], pool[48];
  uint32_t index = 0, position = 0;
  for (int i = 0; i < 383; ++i) ASSERT_EQ(RANDOM_addEntropyBit(ctx, static_cast<uint8_t>(i & 1)), 0);
  EXPECT_EQ(ctx->entropyBitCount, 383u);
  EXPECT_EQ(ToHex(c->key(), 32), ToHex(key));
  kel::depot::snapshot(depot, pool, &index, &position);
  EXPECT_EQ(position, 383u);
  EXPECT_EQ(index, 48u);  // nothing extracted
  RANDOM_releaseContext(&ctx);
}

TEST_F(RandomContextTest, ProcessWideContextServesThreadsUnderACallersLock) {
  RandomContext *shared = nullptr;
  ASSERT_EQ(RANDOM_acquireContext(&shared), 0);
  std::mutex lock;
  std::set<std::string> blocks;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        uint8_t out[32];
        std::lock_guard<std::mutex> hold(lock);
        ASSERT_EQ(RANDOM_numberGenerator(shared, out, sizeof out), 0);
        blocks.insert(ToHex(out, 16));
        blocks.insert(ToHex(out + 16, 16));
      }
    });
  for (auto &t : threads) t.join();
  EXPECT_EQ(blocks.size(), 1600u);  // no block handed out twice
  EXPECT_EQ(RANDOM_releaseContext(&shared), 0);
}

class SeedSourceTest : public SandboxTest {
 protected:
  void SetUp() override {
    SandboxTest::SetUp();
    if (IsSkipped()) return;
    gFIPS_powerupStatus = 0;
    ASSERT_TRUE(kel::test::MountTmpfs("/mnt/seed"));
  }
  void TearDown() override {
    gFIPS_powerupStatus = ERR_FIPS_SELFTEST_NOT_RUN;
    umount2("/dev/urandom", MNT_DETACH);
    umount2("/mnt/seed", MNT_DETACH);
  }
  void Seed(const std::string &content) {
    ASSERT_TRUE(kel::test::WriteFile("/mnt/seed/urandom", content));
    ASSERT_EQ(mount("/mnt/seed/urandom", "/dev/urandom", nullptr, MS_BIND, nullptr), 0);
  }
};

TEST_F(SeedSourceTest, RepeatedFourBytesOrAMissingDeviceFailTheCtrDrbgAcquisition) {
  // Each read reopens the device, so a file of one repeated word repeats.
  Seed(std::string(64, 'A'));
  RandomContext *ctx = nullptr;
  EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
  EXPECT_EQ(ctx, nullptr);
  // The FIPS 186 acquisition then sees XKEY equal to XSEED.
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), ERR_FIPS186_XKEY_EQUALS_XSEED);
  umount2("/dev/urandom", MNT_DETACH);
  ASSERT_TRUE(kel::test::MountTmpfs("/dev"));  // no seed device at all
  EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
  EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), LINUX_ERR_SEED_OPEN);
  EXPECT_EQ(ctx, nullptr);
  umount2("/dev", MNT_DETACH);
}

// An empty or short seed device is no seed: every acquisition fails closed
// instead of building a generator on whatever the buffer held.
TEST_F(SeedSourceTest, AnEmptyOrShortDeviceFailsClosed) {
  uint8_t buf[64];
  for (const char *content : {"", "0123456789abcdefghijklmnopqrstuvwxyzABCD"}) {
    SCOPED_TRACE(std::string("device of ") + std::to_string(std::strlen(content)) + " bytes");
    Seed(content);
    EXPECT_EQ(LINUX_getSeed(buf, sizeof buf), 0);
    RandomContext *ctx = nullptr;
    EXPECT_EQ(RANDOM_acquireContextEx(&ctx, 1), ERR_RANDOM_SEED_SOURCE);
    EXPECT_EQ(ctx, nullptr);
    if (*content == 0) EXPECT_EQ(RANDOM_acquireContext(&ctx), ERR_RANDOM_SEED_SOURCE);
    EXPECT_EQ(ctx, nullptr);
    umount2("/dev/urandom", MNT_DETACH);
  }
  // A read the device can satisfy is a seed.
  Seed("0123456789");
  EXPECT_EQ(LINUX_getSeed(buf, 10), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(buf), 10), "0123456789");
}

}  // namespace
